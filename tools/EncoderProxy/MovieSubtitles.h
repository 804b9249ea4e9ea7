// A movie's subtitles made ready for the program stream before its conversion starts: each chosen
// subtitle read, drawn into subpictures and coded with FFmpeg's DVD subtitle encoder, as packets of
// its subpicture stream in time order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "EncoderTypes.h"
#include "FfmpegUtil.h"
#include "SubpictureRender.h"

namespace qx::enc {

// One coded subpicture: shown from `pts` (90 kHz) for `durationTicks`.
struct SubpicturePacket {
    int stream = 0; // 0..31: substream 0x20 + stream
    int64_t pts = 0;
    int64_t durationTicks = 0;
    std::vector<uint8_t> data;
};

struct MovieSubpictures {
    int streams = 0;                       // substreams 0x20 .. 0x20 + streams - 1 are in the program stream
    std::vector<SubpicturePacket> packets; // by pts, then stream
};

// Codes subpictures with FFmpeg's DVD subtitle encoder in the disc's four colours.
class SubpictureEncoder {
public:
    bool Open(TvStandard tv, std::string* error);
    // False when the subpicture cannot be coded (too large for one subpicture unit).
    bool Encode(const Subpicture& subpicture, std::vector<uint8_t>* data, std::string* error);

private:
    CodecPtr ctx_;
};

// Puts a movie's subpictures into the program stream: one subtitle stream per substream, each
// packet handed to the muxer a second before the picture it is shown with, so that the muxer
// (which orders by time) places it ahead of its display time.
class SubpictureMux {
public:
    explicit SubpictureMux(std::shared_ptr<const MovieSubpictures> subpictures)
        : subpictures_(std::move(subpictures)) {}
    // Adds the subtitle streams (after the picture and the sound).
    bool AddStreams(AVFormatContext* oc, std::string* error);
    // Writes the packets shown up to `ticks` (90 kHz) + `leadTicks`; an FFmpeg error code or 0.
    int WriteUntil(AVFormatContext* oc, int64_t ticks, int64_t leadTicks);
    static constexpr int64_t kLeadTicks = 90000;

private:
    std::shared_ptr<const MovieSubpictures> subpictures_;
    std::vector<AVStream*> streams_;
    std::vector<int64_t> lastPts_ = std::vector<int64_t>(32, -1);
    size_t next_ = 0;
};

// The subtitles `req.subtitleStreams` chooses (per subtitle of ListSubtitles: its substream id
// 0x20..0x3F, or 0), drawn for the request's frame. A subtitle that cannot be read is left out
// with a note; never fails the movie.
MovieSubpictures PrepareSubpictures(const ConvertRequest& req, AVFormatContext* movie, int videoWidth, int videoHeight,
                                    double movieSeconds, std::vector<std::string>* notes);

} // namespace qx::enc
