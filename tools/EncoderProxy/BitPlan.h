// Spreads a movie's picture bits over its GOPs by their difficulty, as a second pass would: the
// look at the movie gives each place's complexity, every GOP is then quantised so that the bits
// follow that complexity, and the plan is redone after each GOP from what was really spent.
//
// Why not the encoder's own one-pass rate control: it must keep to the average as it goes, so the
// bits a calm scene cannot use are padded away (the size promise) instead of being saved for the
// busy scene that follows, and a busy scene never learns that a calm one is still to come.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace qx::enc {

// What the look found at one place of the movie.
struct PlaceDifficulty {
    double seconds = 0;    // where the looked-at pictures start
    double complexity = 0; // bits one full GOP takes at quantiser step 1 (bits x step at the look's step)
    double length = 0;     // seconds of pictures looked at
    double other = 0;      // bits x step of one of its P pictures (0: its share of `complexity`)
    double finest = 0;     // bits x step of one full GOP at the finest step (0: as `complexity`)
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
    // `cut`: the picture shows another scene than the one before it (SceneCuts).
    GopChoice StartGop(int64_t picture, bool cut = false);
    // The step for the `index`-th picture (1 and on: the P pictures) of the current GOP: a GOP
    // that runs well past or below its target is steered back within itself, and one whose
    // pictures show another scene than planned gets the step of that scene, so a scene the look
    // misjudged or missed costs no more than a few pictures.
    // A cut within a GOP the look placed a scene change in moves the rest of it to the scene after
    // the change, so the pictures before the change keep their own scene's step.
    // `repeat`: the picture repeats the one before (SceneCuts::Repeated); it is left out when judging
    // the scene.
    double PictureStep(int index, bool cut = false, bool repeat = false);
    // The minimum rate for the current picture: the GOP's, unless its pictures showed otherwise.
    double MinimumBitrate() const { return minimumBitrate_; }
    // The bits of each picture as the encoder hands it out, in order (it may hand a picture out
    // only when given the next one), stuffing included, and the part of them that is stuffing.
    void PictureCoded(double bits, double stuffingBits);

    double Spent() const { return spent_; }

    // How the budget left is shared out (internal; public for the helpers that compute it).
    struct Sharing {
        double perRoot = 0;    // bits per square root of the look's complexity
        double leastScale = 1; // below 1 when the budget cannot even give every part its least
        double over = 0;       // what is left when every part has its most
    };

private:
    // Shares the budget left out over the GOPs from the current one on, the rest of the current
    // place taken to be `scene` times as complex as the look found it.
    void ShareOut(double scene);
    // The bits the plan gives a GOP of `complexity` (bits x step) now.
    double TargetFor(double complexity) const;
    // The step that makes a GOP of `complexity` (bits x step) take `target` bits.
    double StepFor(double complexity, double target) const;
    // The bits a GOP of the current place and `complexity` takes at the finest step.
    double FinestBits(double complexity) const;
    // Bits x step at the finest step against the look's complexity at `place`.
    double FinestShare(size_t place) const;
    // The minimum rate for a GOP of `complexity` given `target`: padding when nothing can use the bits.
    double Padding(double target, double complexity) const;
    // What the GOP before taught: how far the look's figure for its place is from the encoder's.
    void Learn();
    // A cut seen in the current GOP, one of those between two places that differ much: this GOP
    // from now on and the rest of those GOPs take the place after the change.
    bool TakeCut();
    // Plans the current GOP (or the rest of it) as `place` at `ratio` and `scene`: sets the step,
    // target and padding.
    void PlanCurrent(size_t place, double ratio, double scene);
    void Prefixes();
    // A P picture of `otherComplexity` (bits x step) at the current step costs next to nothing.
    bool Negligible(double otherComplexity) const;
    // P pictures that cost `coded` (bits x step) where `planned` was expected show another scene.
    bool Surprised(double coded, double planned) const;
    // The current GOP's complexity from its I picture and its P pictures so far.
    double ObservedComplexity() const;
    // Bits x step of the current GOP's last `recent` P pictures, on average.
    double RecentOther(size_t recent) const;

    BitPlanSettings s_;
    std::vector<double> gopComplexity_;
    std::vector<double> rootPrefix_; // sum of sqrt(complexity) of the GOPs before each
    std::vector<double> sumPrefix_;  // sum of complexity of the GOPs before each
    std::vector<int> placeEnd_;      // one past the last GOP that takes each place's complexity
    std::vector<double> placeComplexity_;
    // Bits x step at the finest step against `complexity`, for each place: what it can use at most.
    std::vector<double> placeFinest_;
    std::vector<double> placeFinestRatio_; // bits x step a GOP coded at the finest step took there (0: none yet)
    // For a GOP that may hold a scene change the look found between two places: the place before
    // the change (the GOP's own until a cut is seen), else -1.
    std::vector<int> gopChange_;
    std::vector<double> gopPart_; // the share of a whole GOP the movie fills (its last may be short)
    bool pastEnd_ = false;
    int cutAt_ = -1; // the picture of the current GOP where a cut moved it to another place
    double spent_ = 0;
    std::vector<int> gopPlace_;      // the look's place each GOP takes its complexity from
    std::vector<double> placeRatio_; // bits the encoder really makes there against the look's estimate
    std::vector<char> placeLearned_;
    std::vector<double> placeOther_; // bits x step of a P picture at each place
    int current_ = -1;
    double currentStep_ = 0;
    double currentTarget_ = 0;
    double currentRatio_ = 1;
    double expected_ = 0; // the current GOP's complexity as planned (bits x step)
    double currentScene_ = 1;
    Sharing sharing_;
    double peakBits_ = 0, averageGop_ = 0;
    double left_ = 0, leftSeconds_ = 0; // the budget and the time from the current GOP on
    size_t currentPlace_ = 0;
    double minimumBitrate_ = 0;
    // A scene the look did not see, found in the last GOP: how much busier than its place it is.
    double sceneFactor_ = 1;
    int scenePlace_ = -1;
    // What the current GOP's pictures took so far, and the pictures the encoder has not handed out.
    struct Coded {
        double bits, step;
        bool repeat;
    };
    double keyBits_ = 0;
    std::vector<Coded> others_;
    struct Pending {
        int gop;
        bool key;
        bool repeat;
        double step;
    };
    std::deque<Pending> pending_;
};

} // namespace qx::enc
