#include "EncoderProgressText.h"

#include <cmath>
#include <cstdio>

namespace qx {
namespace {

float Clamp01(float f) {
    if (!(f > 0.0f)) // also NaN
        return 0.0f;
    return f > 1.0f ? 1.0f : f;
}

} // namespace

std::string FormatClock(uint32_t s) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", s / 3600, s % 3600 / 60, s % 60);
    return text;
}

EncoderProgressLine FormatConvertProgress(uint32_t elapsedMs, float fraction) {
    const float f = Clamp01(fraction);
    const uint32_t elapsed = elapsedMs / 1000;
    uint32_t total = 0;
    if (f > 0.0f) {
        double t = elapsedMs / static_cast<double>(f) / 1000.0;
        total = t < 4294967295.0 ? static_cast<uint32_t>(t) : 4294967295u;
    }
    char text[256];
    std::snprintf(text, sizeof text, "Total time:%s; Elapsed Time:%s;Finished %.2f%%;", FormatClock(total).c_str(),
                  FormatClock(elapsed).c_str(), f * 100.0);
    return {static_cast<int>(f * 100.0f), text};
}

EncoderProgressLine FormatSeekProgress(float fraction) {
    char text[256];
    std::snprintf(text, sizeof text, "Seeking complete %.2f%%;", Clamp01(fraction) * 100.0);
    return {0, text};
}

} // namespace qx
