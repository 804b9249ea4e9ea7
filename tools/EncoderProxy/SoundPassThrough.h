// AC-3 sound the disc can carry as it is (48 kHz, at most 448 kbit/s, up to 5.1 channels) goes
// onto it frame by frame instead of being decoded, mixed down to stereo and encoded again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FfmpegUtil.h"

namespace qx::enc {

// The most a DVD's AC-3 track may take.
constexpr int64_t kMostDiscAc3Bitrate = 448000;

// The sound track of the converted stream: AC-3 48 kHz encoded here from the movie's decoded
// sound, or the movie's own AC-3 frames passed through, in their channels and rate.
struct DvdSound {
    bool passThrough = false;
    uint64_t channelMask = AV_CH_LAYOUT_STEREO;
    int64_t bitrate = 192000;
};

// The sound of a passed-through stream `st`; passThrough is false when it must be encoded again
// (not AC-3, another rate, too many bits, or a layout our encoder cannot make silence in).
DvdSound SoundForTheDisc(const AVStream* st);

// The facts of an AC-3 frame header at `p` (`left` bytes readable); false when there is none.
struct Ac3Header {
    int bytes = 0; // the whole frame
    int kbps = 0;
    bool fitsTheDisc = false; // 48 kHz, plain AC-3, at most kMostDiscAc3Bitrate
};
bool ReadAc3Header(const uint8_t* p, size_t left, Ac3Header* header);

// Cuts the movie's AC-3 packets into frames and times them on the disc's sound clock (48 kHz
// samples from the movie's start): each frame follows the one before; where the movie's times
// jump ahead by a frame or more the gap becomes silent frames. Frames the disc cannot take
// (another rate, too many bits) become a silent frame each; bytes that are no AC-3 frame are skipped.
class Ac3Frames {
public:
    using FrameFn = std::function<bool(const AVPacket* frame, std::string* error)>;
    using SilenceFn = std::function<bool(int frames, std::string* error)>;

    Ac3Frames(const AVStream* st, int64_t startUs, FrameFn frame, SilenceFn silence);
    Ac3Frames(const Ac3Frames&) = delete;
    Ac3Frames& operator=(const Ac3Frames&) = delete;

    // One packet of the stream; null ends the stream (an incomplete frame left over is dropped).
    bool Take(const AVPacket* pkt, std::string* error);
    // Silent frames until the sound reaches `samples`.
    bool FillTo(int64_t samples, std::string* error);
    // Samples handed on so far.
    int64_t Samples() const { return samples_; }

private:
    bool Frame(const uint8_t* data, const Ac3Header& header, int64_t pts, std::string* error);

    AVRational timeBase_;
    int64_t offset_; // the movie's start in the stream's time base
    FrameFn frame_;
    SilenceFn silence_;
    std::vector<uint8_t> pending_; // bytes of a frame whose rest is still to come
    PacketPtr out_{av_packet_alloc()};
    int64_t samples_ = 0;
};

} // namespace qx::enc
