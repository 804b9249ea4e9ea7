// The texts the progress window shows for the encoder's progress records.
#pragma once

#include <cstdint>
#include <string>

namespace qx {

struct EncoderProgressLine {
    int percent = 0; // the bar
    std::string text;
};

// Conversion progress: "Total time:%s; Elapsed Time:%s;Finished %.2f%%;" with times "%02d:%02d:%02d".
// The estimated total is elapsed / fraction, truncated to whole seconds; with nothing done yet
// (fraction 0) it is not known and shown as 00:00:00. Fractions outside 0..1 are brought inside.
EncoderProgressLine FormatConvertProgress(uint32_t elapsedMs, float fraction);

// Seek progress: "Seeking complete %.2f%%;" with the bar at 0.
EncoderProgressLine FormatSeekProgress(float fraction);

// "%02d:%02d:%02d" of whole seconds.
std::string FormatClock(uint32_t seconds);

} // namespace qx
