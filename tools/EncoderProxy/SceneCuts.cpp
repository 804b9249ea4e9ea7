#include "SceneCuts.h"

#include <cstdlib>
#include <utility>

namespace qx::enc {
namespace {

// Every fourth pixel of every fourth line: enough to tell scenes apart, a thousandth of an encode.
constexpr int kGrid = 4;
// A cut: the difference to the picture before this many times that picture's own difference to its
// predecessor, plus a floor (in luma levels) that film grain and source noise stay below.
constexpr double kCutFactor = 3.0;
constexpr double kCutFloor = 3.0;
// A picture within this of the one before (in luma levels) repeats it, as a lower frame rate brought
// to the disc's shows each picture once or twice more; only this many repeats in a row make a
// still scene. (Taking each repeat for a cut into stillness, and the picture after it for a cut out
// of it, found two cuts every six pictures of an NTSC disc made from a 25 fps movie.)
constexpr double kRepeat = 0.25;
constexpr int kStillRepeats = 3;

} // namespace

bool SceneCuts::Next(const uint8_t* luma, int stride, int width, int height) {
    const size_t samples = static_cast<size_t>((width + kGrid - 1) / kGrid) * ((height + kGrid - 1) / kGrid);
    std::vector<uint8_t> now;
    now.reserve(samples);
    for (int y = 0; y < height; y += kGrid)
        for (int x = 0; x < width; x += kGrid)
            now.push_back(luma[static_cast<size_t>(y) * static_cast<size_t>(stride) + static_cast<size_t>(x)]);
    double difference = -1;
    if (last_.size() == now.size() && !now.empty()) {
        int64_t sum = 0;
        for (size_t i = 0; i < now.size(); ++i)
            sum += std::abs(static_cast<int>(now[i]) - static_cast<int>(last_[i]));
        difference = static_cast<double>(sum) / static_cast<double>(now.size());
    }
    repeated_ = false;
    if (difference >= 0 && difference < kRepeat && lastDifference_ >= kRepeat) {
        // Perhaps the frame rate's repeat of a moving scene's picture: judged when the run ends.
        if (++repeats_ < kStillRepeats) {
            repeated_ = true;
            return false;
        }
    }
    repeats_ = 0;
    bool cut = false;
    if (difference >= 0 && lastDifference_ >= 0) {
        const bool into = difference > kCutFactor * lastDifference_ + kCutFloor;
        const bool stilled = lastDifference_ > kCutFactor * difference + kCutFloor;
        cut = into || (stilled && !lastCut_); // a cut between two still scenes is seen once
    }
    last_ = std::move(now);
    lastDifference_ = difference;
    lastCut_ = cut;
    return cut;
}

} // namespace qx::enc
