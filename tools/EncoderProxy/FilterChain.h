// Filter graphs of a conversion: the movie's pictures to full DVD frames, its sound to 48 kHz stereo.
#pragma once

#include <string>

#include "EncoderTypes.h"
#include "FfmpegUtil.h"

namespace qx::enc {

// A filter graph from one buffer source to one buffer sink.
struct Chain {
    GraphPtr graph;
    AVFilterContext* src = nullptr;
    AVFilterContext* sink = nullptr;
    bool ended = false;
};

// `threads`: 0 = one per core.
bool BuildChain(Chain* chain, const char* srcName, const std::string& srcArgs, const char* sinkName,
                const std::string& filters, std::string* error, int threads = 0);

// Pictures of stream `video` to the DVD frame rate, scaled to the requested active picture and
// centred on black in a 720-wide frame. `fromStart`: the first picture shows from time 0 (a
// movie whose picture starts late begins with its first picture held); else the chain follows
// the pictures from wherever they start (a look at the middle of the movie), on one thread (the
// look runs its samples side by side).
bool BuildPictureChain(Chain* chain, AVFormatContext* fmt, int video, const ConvertRequest& req, bool fromStart,
                       std::string* error);

} // namespace qx::enc
