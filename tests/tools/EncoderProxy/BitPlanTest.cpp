// The bit plan against a model encoder whose pictures take truth x complexity / step bits, padded up
// to the minimum rate the plan asks for: where the bits go, and that the total holds. And the scene
// cuts it is told of, found in generated pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "BitPlan.h"
#include "SceneCuts.h"

using namespace qx::enc;

namespace {

constexpr double kShare = 3.0e6; // bits per second
constexpr double kGopSeconds = 0.6;

BitPlanSettings Settings(double seconds) {
    BitPlanSettings s;
    s.seconds = seconds;
    s.frameRate = 25;
    s.gopPictures = 15;
    s.averageBitrate = kShare;
    s.finestStep = 4;
    s.coarsestStep = 62;
    return s;
}

struct Encoded {
    std::vector<double> gopBits;
    std::vector<double> floors;
    std::vector<double> steps; // the GOP's planned step
    std::vector<double> pictureSteps;
    double total = 0;
};

// `truth(seconds)` is how far the encoder's real bits stand from the look's estimate there. Each
// picture takes its share of the GOP's bits at its step (the I picture four P pictures' worth)
// and is handed out when the next one goes in, as the encoder does.
// `extra`: places looked at besides the regular ones; `cut`: the picture a scene cut is seen at.
// `still(t)`: the bits of a GOP there whatever its step (a still scene: the look finds them at the
// finest step), 0 where the pictures follow their step. `repeat(n)`: picture n repeats the one
// before (it costs 0.4 of a picture at the same step).
Encoded Encode(
    double seconds, const std::function<double(double)>& complexity, const std::function<double(double)>& truth,
    double placeSeconds = 4, const std::vector<double>& extra = {}, int cut = -1,
    const std::function<double(double)>& still = [](double) { return 0.0; },
    const std::function<bool(int)>& repeat = [](int) { return false; }) {
    std::vector<PlaceDifficulty> places;
    for (double t = 0; t < seconds; t += placeSeconds)
        places.push_back({t, complexity(t), 0.24, 0, still(t) * 4});
    for (double t : extra)
        places.push_back({t, complexity(t), 0.24, 0, still(t) * 4});
    BitPlan plan(Settings(seconds), places);
    EXPECT_TRUE(plan.Usable());
    Encoded run;
    double waiting = -1, waitingStuffing = 0; // the picture the encoder still holds
    auto code = [&](double bits, double stuffing) {
        if (waiting >= 0)
            plan.PictureCoded(waiting, waitingStuffing);
        waiting = bits;
        waitingStuffing = stuffing;
    };
    for (int g = 0; g < plan.Gops(); ++g) {
        BitPlan::GopChoice c = plan.StartGop(g * 15, g * 15 == cut);
        EXPECT_GE(c.step, 4.0);
        EXPECT_LE(c.step, 62.0);
        double gopBits = 0;
        for (int i = 0; i < 15; ++i) {
            const double t = (g * 15 + i + 0.5) / 25.0;
            const int n = g * 15 + i;
            const double step = i == 0 ? c.step : plan.PictureStep(i, n == cut, repeat(n));
            run.pictureSteps.push_back(step);
            const double gop = still(t) > 0 ? still(t) : complexity(t) / step;
            const double picture = truth(t) * gop * (i == 0 ? 4.0 : repeat(n) ? 0.4 : 1.0) / 18;
            const double bits = std::max(picture, c.minimumBitrate / 25);
            code(bits, bits - picture);
            gopBits += bits;
        }
        run.gopBits.push_back(gopBits);
        run.floors.push_back(c.minimumBitrate);
        run.steps.push_back(c.step);
        run.total += gopBits;
    }
    code(0, 0);
    return run;
}

double Mean(const std::vector<double>& v, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += v[i];
    return sum / static_cast<double>(to - from);
}

} // namespace

TEST(BitPlan, CalmScenesSaveTheirBitsForTheBusyOnesAndTheTotalHolds) {
    const double seconds = 40;
    auto calmThenBusy = [](double t) { return t < 20 ? 1.0e6 : 3.0e7; };
    auto busyThenCalm = [](double t) { return t < 20 ? 3.0e7 : 1.0e6; };
    auto exact = [](double) { return 1.0; };
    for (bool calmFirst : {true, false}) {
        SCOPED_TRACE(calmFirst ? "calm then busy" : "busy then calm");
        Encoded run = calmFirst ? Encode(seconds, calmThenBusy, exact) : Encode(seconds, busyThenCalm, exact);
        const size_t half = run.gopBits.size() / 2;
        const double busy =
            calmFirst ? Mean(run.gopBits, half + 1, run.gopBits.size()) : Mean(run.gopBits, 0, half - 1);
        // The busy half gets what the calm half could not use, far beyond the average share.
        EXPECT_GT(busy / kGopSeconds, 1.6 * kShare);
        EXPECT_NEAR(run.total / (kShare * seconds), 1.0, 0.03);
        // Nothing is padded away while the busy half can still use it.
        const size_t busyEnd = calmFirst ? run.floors.size() - 2 : half - 1;
        EXPECT_EQ(*std::max_element(run.floors.begin(), run.floors.begin() + busyEnd), 0.0);
        for (size_t g = 0; g < run.floors.size(); ++g)
            if (run.floors[g] > 0)
                ADD_FAILURE() << "GOP " << g << " of " << run.floors.size() << " padded at " << run.floors[g];
    }
}

TEST(BitPlan, ASceneOnePassCodesFinelyKeepsHalfWhatOnePassWouldGiveIt) {
    // The calm half would take more than the average at the finest step: it keeps at least half
    // the average (the one-pass share), where the square root alone gave it a third of it. A
    // calm half that cannot use the average (above) still leaves the rest to the busy one. The
    // look has found the scene change (places 0.5 s apart).
    for (bool calmFirst : {true, false}) {
        SCOPED_TRACE(calmFirst ? "calm then busy" : "busy then calm");
        auto movie = [calmFirst](double t) { return (t < 20) == calmFirst ? 1.0e7 : 9.0e7; };
        Encoded run = Encode(
            40, movie, [](double) { return 1.0; }, 0.5);
        const size_t half = run.gopBits.size() / 2;
        const size_t calmFrom = calmFirst ? 0 : half + 1, calmTo = calmFirst ? half - 1 : run.gopBits.size();
        const double calm = Mean(run.gopBits, calmFrom, calmTo) / kGopSeconds;
        EXPECT_GE(calm, 0.485 * kShare);
        EXPECT_LT(calm, 0.75 * kShare) << "the busy half gets the bits the square root gives it";
        EXPECT_NEAR(run.total / (kShare * 40), 1.0, 0.03);
    }
    // Scenes one pass codes coarsely trade by the square root: the less busy gives to the busier.
    Encoded busy = Encode(
        40, [](double t) { return t < 20 ? 3.2e7 : 1.28e8; }, [](double) { return 1.0; }, 0.5);
    const size_t half = busy.gopBits.size() / 2;
    EXPECT_LT(Mean(busy.gopBits, 0, half - 1) / kGopSeconds, 0.8 * kShare);
    EXPECT_NEAR(busy.total / (kShare * 40), 1.0, 0.03);
}

TEST(BitPlan, AStillSceneKeepsWhatItTakesAtTheFinestStepAndTheRestGoesToTheBusyOne) {
    // Busy, then still: the look finds the still GOPs at 60 kbit at the finest step (a third of what
    // its bits x step at its own step says); they cost 1.4 times that at any step.
    auto complexity = [](double t) { return t < 20 ? 4.0e7 : 6.0e5; };
    auto still = [](double t) { return t < 20 ? 0.0 : 6.0e4; };
    Encoded run = Encode(
        40, complexity, [](double t) { return t < 20 ? 1.0 : 1.4; }, 4, {18, 19, 19.6}, -1, still);
    EXPECT_NEAR(run.total / (kShare * 40), 1.0, 0.03);
    const size_t half = run.steps.size() / 2 + 1;
    // The still GOPs at the finest step to the end, the padding waiting for it...
    for (size_t g = half; g < run.steps.size(); ++g)
        EXPECT_EQ(run.steps[g], 4.0) << g;
    EXPECT_EQ(run.floors[half], 0.0);
    // ...and the busy half has all the rest: the still one's 1.4 x 60 kbit a GOP aside.
    const double stillBits = 1.4 * 6.0e4 * static_cast<double>(run.steps.size() - half);
    EXPECT_GT(Mean(run.gopBits, 0, 30) * 33, 0.97 * (kShare * 40 - stillBits));
}

TEST(BitPlan, AStillMovieIsPaddedToItsShareAtTheFinestStep) {
    Encoded run = Encode(
        60, [](double) { return 2.0e5; }, [](double) { return 0.5; });
    EXPECT_NEAR(run.total / (kShare * 60), 1.0, 0.03);
    for (double step : run.steps)
        EXPECT_EQ(step, 4.0);
    // Its P pictures far calmer than the look's figure at its own step: still the finest step.
    Encoded calmer = Encode(
        20, [](double) { return 4.0e6; }, [](double) { return 0.2; }, 4, {}, -1, [](double) { return 2.0e5; });
    for (double step : calmer.pictureSteps)
        EXPECT_EQ(step, 4.0);
}

TEST(BitPlan, AScenetheLookMisjudgedIsLearnedWithinAFewGops) {
    // The encoder makes three times the bits the look expected in the second half.
    Encoded run = Encode(
        40, [](double) { return 1.0e7; }, [](double t) { return t < 20 ? 1.0 : 3.0; });
    const size_t half = run.gopBits.size() / 2;
    EXPECT_NEAR(run.total / (kShare * 40), 1.0, 0.03);
    // Within 1.6 times the share: the calm half keeps only half its one-pass share, so the busy
    // half has more than the share to spend.
    for (size_t g = half + 4; g < run.gopBits.size(); ++g)
        EXPECT_LT(run.gopBits[g] / kGopSeconds, 1.6 * kShare) << g;
}

TEST(BitPlan, AShortSceneBetweenTwoLooksGetsItsOwnStep) {
    // The look (every 4 s) sees calm pictures only; 2.4 s of busy ones come between two looks.
    auto movie = [](double t) { return t >= 5.4 && t < 7.8 ? 1.2e8 : 1.0e7; };
    Encoded run = Encode(40, movie, [](double) { return 1.0; });
    const double calmStep = run.steps[8];
    // The first busy GOP shows the scene; the ones after it start at a busy step...
    for (size_t g = 10; g <= 12; ++g)
        EXPECT_GT(run.steps[g], 3 * calmStep) << g;
    // ...and the calm scene after them is back at its step after one GOP.
    EXPECT_LT(run.steps[14], 1.5 * calmStep);
    EXPECT_NEAR(run.total / (kShare * 40), 1.0, 0.03);
}

TEST(BitPlan, ACutWhereTheLookPlacedASceneChangeSplitsItsGop) {
    // Calm, then busy; the look found the change between 19.64 s (its pictures at 19.4 s) and 20.04 s.
    for (double change : {20.0, 19.72}) {
        SCOPED_TRACE(change);
        const int cut = static_cast<int>(change * 25 + 0.5);
        auto movie = [change](double t) { return t < change ? 1.0e6 : 1.2e8; };
        Encoded run = Encode(
            40, movie, [](double) { return 1.0; }, 4, {19.4, 20.04}, cut);
        const double calmStep = run.pictureSteps[static_cast<size_t>(cut - 20)];
        // The calm pictures before the cut keep the calm step, those from it on get a busy one...
        for (int p = cut - 15; p < cut; ++p) {
            if (p % 15 != 0) { // the I picture's step is the GOP's
                EXPECT_EQ(run.pictureSteps[static_cast<size_t>(p)], calmStep) << p;
            }
        }
        for (int p = cut; p < cut + 15; ++p) {
            if (p % 15 != 0) {
                EXPECT_GT(run.pictureSteps[static_cast<size_t>(p)], 4 * calmStep) << p;
            }
        }
        // ...and the GOP after it starts as busy.
        EXPECT_GT(run.steps[static_cast<size_t>(cut / 15 + 1)], 4 * calmStep);
        EXPECT_NEAR(run.total / (kShare * 40), 1.0, 0.03);
    }
}

TEST(BitPlan, ARepeatedPictureTellsNothingOfTheScene) {
    // Every sixth picture repeats the one before, the first of them right after an I picture.
    auto repeat = [](int n) { return n % 6 == 1; };
    Encoded run = Encode(
        40, [](double) { return 2.0e7; }, [](double) { return 1.0; }, 4, {}, -1, [](double) { return 0.0; }, repeat);
    EXPECT_NEAR(run.total / (kShare * 40), 1.0, 0.03);
    for (size_t g = 4; g + 1 < run.steps.size(); ++g) // the last GOP runs past the end
        for (size_t i = 1; i < 15; ++i) {
            const int n = static_cast<int>(g * 15 + i);
            // A cheap repeat is not taken for a calmer scene: the pictures after it keep the GOP's step.
            EXPECT_NEAR(run.pictureSteps[static_cast<size_t>(n)], run.steps[g], 1e-9) << n;
        }
}

TEST(BitPlan, AStillPictureOfFineDetailKeepsToItsShare) {
    // A GOP of the picture takes 3e7 / step bits as the look found; the encoder codes the I picture
    // at its step, and a P picture costs next to nothing at the step of the picture it refines or
    // coarser but as much as the I picture at a finer one (the whole picture's detail again).
    constexpr double kComplexity = 3e7;
    std::vector<PlaceDifficulty> places;
    for (double t = 0; t < 40; t += 4)
        places.push_back({t, kComplexity, 0.24});
    BitPlan plan(Settings(40), places);
    double total = 0, waiting = -1;
    auto code = [&](double bits) {
        if (waiting >= 0)
            plan.PictureCoded(waiting, 0);
        waiting = bits;
        total += bits;
    };
    for (int g = 0; g < plan.Gops(); ++g) {
        const BitPlan::GopChoice c = plan.StartGop(g * 15);
        double refined = c.step;
        code(kComplexity / c.step * 4 / 18);
        for (int i = 1; i < 15; ++i) {
            const double step = plan.PictureStep(i);
            code(step < refined ? kComplexity / step * 4 / 18 : 1e3);
            refined = std::min(refined, step);
        }
    }
    code(0);
    EXPECT_NEAR(total / (kShare * 40), 1.0, 0.03);
}

TEST(BitPlan, NoPlanWithoutALookOrALength) {
    EXPECT_FALSE(BitPlan(Settings(40), {}).Usable());
    EXPECT_FALSE(BitPlan(Settings(0), {{0, 1e6}}).Usable());
    BitPlan one(Settings(1), {{0, 1e6}});
    ASSERT_TRUE(one.Usable());
    EXPECT_EQ(one.Gops(), 2);
    // A movie longer than it was said to be still gets steps within bounds.
    BitPlan::GopChoice late = one.StartGop(15 * 10);
    EXPECT_GE(late.step, 4.0);
    EXPECT_LE(late.step, 62.0);
}

TEST(SceneCuts, HardCutsAreFoundOnceAndNoiseOrMotionIsNot) {
    constexpr int kWidth = 64, kHeight = 48;
    uint32_t seed = 1;
    auto random = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 24; };
    // Scenes of ten pictures: grey with a little grain, noise, grey again, a lighter grey, a pan.
    auto picture = [&](int n) {
        std::vector<uint8_t> p(kWidth * kHeight);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const int grain = static_cast<int>(random() % 3) - 1;
                uint8_t& v = p[static_cast<size_t>(y * kWidth + x)];
                if (n < 10 || (n >= 20 && n < 30))
                    v = static_cast<uint8_t>(100 + grain);
                else if (n < 20)
                    v = static_cast<uint8_t>(random());
                else if (n < 40)
                    v = static_cast<uint8_t>(160 + grain);
                else
                    v = static_cast<uint8_t>((x + n) * 2);
            }
        return p;
    };
    SceneCuts cuts;
    std::vector<int> found;
    for (int n = 0; n < 50; ++n) {
        const std::vector<uint8_t> p = picture(n);
        if (cuts.Next(p.data(), kWidth, kWidth, kHeight))
            found.push_back(n);
    }
    // Into the noise at once, out of it one picture late, the grey-to-grey cut once, the pan's start.
    EXPECT_EQ(found, (std::vector<int>{10, 21, 30, 40}));

    // The same scenes at a lower frame rate brought to the disc's: every fifth picture shown twice
    // (25 to 29.97). The repeats are no cuts but repeats; the scenes' cuts are found as before, on
    // the same pictures.
    SceneCuts again;
    std::vector<int> foundAgain;
    for (int n = 0; n < 50; ++n) {
        const std::vector<uint8_t> p = picture(n);
        for (int shown = 0; shown < (n % 5 == 4 ? 2 : 1); ++shown) {
            if (again.Next(p.data(), kWidth, kWidth, kHeight))
                foundAgain.push_back(n);
            EXPECT_EQ(again.Repeated(), shown == 1) << n;
        }
    }
    EXPECT_EQ(foundAgain, found);
    // A noise picture held still after moving noise is found once it has stood three times more.
    SceneCuts still;
    std::vector<int> foundStill;
    const std::vector<uint8_t> held = picture(15);
    for (int n = 10; n < 30; ++n) {
        const std::vector<uint8_t> p = n < 15 ? picture(n) : held;
        if (still.Next(p.data(), kWidth, kWidth, kHeight))
            foundStill.push_back(n);
    }
    EXPECT_EQ(foundStill, (std::vector<int>{18}));
}
