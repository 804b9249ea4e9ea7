// What the encoder program knows about a movie, and what it is asked to make of it.
#pragma once

#include <cstdint>
#include <string>

#include "EncoderRecord.h"

namespace qx::enc {

enum class TvStandard { Pal, Ntsc };

// The probe answer. The two opaque values travel back to us with every conversion request:
//  - probeA packs the chosen streams: bits 0..15 the video stream index + 1, bits 16..31 the
//    audio stream index + 1 (0 = the movie has no sound we use). 0 as a whole means "not known":
//    the conversion then chooses the streams itself.
//  - probeB is the movie's duration in seconds; the conversion uses it for its progress fraction
//    and as the length of the silent track when the movie has no sound.
struct ProbeAnswer : qx::EncoderProbeAnswer {
    std::string reason; // why the movie is not supported; empty when it is
    std::string sound;  // which sound track is taken and why (for the log)
};

inline int32_t PackProbeA(int videoIndex, int audioIndex) {
    return static_cast<int32_t>((static_cast<uint32_t>(audioIndex + 1) << 16) |
                                (static_cast<uint32_t>(videoIndex + 1) & 0xFFFF));
}
inline int ProbeAVideoIndex(int32_t a) {
    return static_cast<int>(static_cast<uint32_t>(a) & 0xFFFF) - 1;
}
inline int ProbeAAudioIndex(int32_t a) {
    return static_cast<int>(static_cast<uint32_t>(a) >> 16) - 1;
}

// Default part-file threshold: a file is continued in the next part before it reaches 4 GiB.
// A multiple of 2048 so that every split falls between two packs.
constexpr uint64_t kDefaultPartLimit = 4294967296ull - 1048576ull;

struct ConvertRequest {
    std::string input;
    std::string output;
    TvStandard tv = TvStandard::Pal;
    bool wide = false;    // sequence aspect 16:9 (else 4:3)
    int pictureWidth = 0; // active picture; 0 x 0 = the movie's own size
    int pictureHeight = 0;
    int32_t probeA = 0;     // 0: choose the streams again
    float probeB = 0;       // 0: take the duration from the file
    bool partFiles = false; // may continue in "<output>.part1" and "<output>.part2"
    uint64_t partLimit = kDefaultPartLimit;
};

struct ConvertResult {
    bool ok = false;
    bool stopped = false; // ended early by a stop request; the output is a valid, shorter stream
    std::string error;
    double seconds = 0; // length of the written stream
    uint64_t bytes = 0; // bytes written over all part files
};

inline int FrameLines(TvStandard tv) {
    return tv == TvStandard::Pal ? 576 : 480;
}
inline int MaxGop(TvStandard tv) {
    return tv == TvStandard::Pal ? 15 : 18;
}

} // namespace qx::enc
