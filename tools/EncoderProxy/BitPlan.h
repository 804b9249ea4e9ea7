// Spreads a movie's picture bits over its GOPs by their difficulty, as a second pass would: the
// look at the movie gives each place's complexity, every GOP is then quantised so that the bits
// follow that complexity, and the plan is redone after each GOP from what was really spent.
//
// Why not the encoder's own one-pass rate control: it must keep to the average as it goes, so the
// bits a calm scene cannot use are padded away (the size promise) instead of being saved for the
// busy scene that follows, and a busy scene never learns that a calm one is still to come.
#pragma once

#include <cstdint>
#include <vector>

namespace qx::enc {

// What the look found at one place of the movie.
struct PlaceDifficulty {
    double seconds = 0;    // where the looked-at pictures start
    double complexity = 0; // bits one full GOP takes at quantiser step 1 (bits x step at the look's step)
    double length = 0;     // seconds of pictures looked at
};

struct BitPlanSettings {
    double seconds = 0;         // the movie's length
    double frameRate = 25;      // pictures per second
    int gopPictures = 15;       // pictures per GOP
    double averageBitrate = 0;  // the picture stream's share, bits per second
    double peakBitrate = 9.8e6; // the decoder buffer's fill rate
    double finestStep = 2;      // the quantiser's bounds
    double coarsestStep = 31;
    double keyPictureFactor = 0.6; // the I picture's step against the P pictures'
};

class BitPlan {
public:
    // `places` in the order of the movie; an empty list or an unknown length gives no plan.
    BitPlan(const BitPlanSettings& settings, std::vector<PlaceDifficulty> places);

    bool Usable() const { return !gopComplexity_.empty(); }
    int Gops() const { return static_cast<int>(gopComplexity_.size()); }

    // The quantiser step of the P pictures of the GOP that starts with picture `picture` (a
    // multiple of the GOP length), and the minimum rate (bits per second) that pads it when the
    // rest of the movie cannot use its share even at the finest step.
    struct GopChoice {
        double step = 0;
        double minimumBitrate = 0;
        double targetBits = 0;
    };
    GopChoice StartGop(int64_t picture);
    // The step for the `index`-th picture of the current GOP (0 is its I picture) when the GOP has
    // taken `bits` so far: a GOP that runs well past or below its target is steered back within
    // itself, so a scene the look misjudged costs no more than a few pictures.
    double PictureStep(int index, double bits) const;
    // The bits a GOP took, stuffing included, and the part of them that is picture.
    void EndGop(double bits, double pictureBits);

    double Spent() const { return spent_; }

private:
    BitPlanSettings s_;
    std::vector<double> gopComplexity_;
    std::vector<double> rootPrefix_; // sum of sqrt(complexity) of the GOPs before each
    std::vector<double> sumPrefix_;  // sum of complexity of the GOPs before each
    std::vector<int> placeEnd_;      // one past the last GOP that takes each place's complexity
    double spent_ = 0;
    std::vector<int> gopPlace_;      // the look's place each GOP takes its complexity from
    std::vector<double> placeRatio_; // bits the encoder really makes there against the look's estimate
    std::vector<char> placeLearned_;
    int current_ = -1;
    double currentStep_ = 0;
    double currentTarget_ = 0;
};

} // namespace qx::enc
