// A movie offered to the list: probed by the encoder program and judged. The window's add-files
// thread and the console front-end both add movies this way.
#pragma once

#include "JobParts.h"
#include "SourceInfo.h"

#include <functional>
#include <string>

struct ProbedMovie {
    bool accepted = false;
    CSourceInfo info;      // the movie's record when accepted (its converted stream not yet named)
    int logLevel = 0;      // the log line that tells what became of it
    std::string logLine;   // "Add File:<path> Successful\n" or why it failed
    std::string soundLine; // "Sound of <path>: <the track taken>\n" when the encoder said which
};

// Probes `path`: `send` puts the probe request to the encoder (on the encoder's thread), then this
// waits for the answer. A path too long for the request, an encoder crash, a movie the encoder
// cannot read and one without picture size or duration are refused.
ProbedMovie ProbeMovie(EncoderLink& encoder, const std::string& path, const std::function<void()>& send);
