// Finds where one scene gives way to another in the pictures going to the encoder, from how much
// each picture differs from the one before: the look only knows that a scene changes somewhere
// between two of its places, the bit plan needs the picture.
#pragma once

#include <cstdint>
#include <vector>

namespace qx::enc {

// What SceneCuts found on one picture.
struct CutSeen {
    bool cut = false;
    bool repeated = false;
};

class SceneCuts {
public:
    // Takes the next picture's luma plane; true when it shows another scene than the picture before
    // (a hard cut), or when the picture before did and this one shows that a busy scene has given
    // way to a still one (a cut into stillness differs from its busy predecessor no more than busy
    // pictures differ among themselves, so it is seen one picture late).
    bool Next(const uint8_t* luma, int stride, int width, int height);
    // The picture last given repeats the moving picture before it (a lower frame rate brought to
    // the disc's shows some pictures twice).
    bool Repeated() const { return repeated_; }
    CutSeen See(const uint8_t* luma, int stride, int width, int height) {
        const bool cut = Next(luma, stride, width, height);
        return {cut, repeated_};
    }

private:
    std::vector<uint8_t> last_;
    double lastDifference_ = -1;
    bool lastCut_ = false;
    bool repeated_ = false;
    int repeats_ = 0; // pictures in a row that repeated the one before a moving scene's last
};

} // namespace qx::enc
