// Playing time of an MPEG program stream, read cheaply from its first and last megabytes only:
// the span of the video presentation times (plus one frame), or of the pack clock when there is no video.
#pragma once

#include <string>

struct StreamDuration {
    bool ok = false;
    double seconds = 0;
    std::string error; // why it could not be determined
};

// `tailPath` is the file that holds the end of the stream (the last part file when a stream continues
// in part files); empty means the stream itself.
StreamDuration MeasureStreamDuration(const std::string& path, const std::string& tailPath = {});

// The same on bytes in memory (head and tail may be the same buffer); for tests.
StreamDuration MeasureStreamDurationOf(const unsigned char* head, size_t headSize, const unsigned char* tail,
                                       size_t tailSize);
