#include "BitPlan.h"

#include <algorithm>
#include <cmath>

namespace qx::enc {
namespace {

// A GOP may take at most this share of what the peak rate brings in meanwhile: the rest keeps
// the decoder buffer from running dry on the next GOP's I picture.
constexpr double kPeakShare = 0.8;
// How much one GOP's surprise moves the learned ratio (in logarithms): enough to follow a scene
// that the look judged wrong within two or three GOPs, little enough not to swing on one picture.
constexpr double kRatioLearning = 0.6;
constexpr double kMostSurprise = 2.0;
// Two places this many times apart in complexity see different scenes; when they are at most
// this many GOPs apart, the look has found where the scene changes.
constexpr double kSceneChange = 2.0;
constexpr double kChangeWithinGops = 2.5;
constexpr double kBusyShare = 1.0 / 3;
// Bits of an I picture against a P picture's at the same step, to judge a GOP part way through.
constexpr double kKeyPictureWeight = 4.0;
// The share of its one-pass bits every GOP is sure of (1: a calm scene keeps the one-pass picture;
// 0: the square root alone, which took 2.2 dB from a half as complex as the busy half that
// followed it for 0.8 dB more there).
// The share of its one-pass bits a GOP is sure of, by the step one pass would code it at (its
// complexity over the average GOP's bits): a scene one pass codes finely (at most step 10) keeps
// its one-pass picture, which any loss would show; scenes one pass codes coarsely (step 16 and
// beyond) trade bits among themselves by the square root. Measured: with the square root alone,
// a calm half half as complex as the busy half after it lost 2.2 dB to one pass for 0.8 dB more
// in the busy half; protecting every GOP instead cost 0.2-0.3 dB of the whole on a movie whose
// complexity grows threefold.
constexpr double kProtectedStep = 10;
constexpr double kTradedStep = 16;
double OnePassShare(double onePassStep) {
    return std::clamp((kTradedStep - onePassStep) / (kTradedStep - kProtectedStep), 0.0, 1.0);
}

// Each part of the movie gets clamp(perRoot x root, least, most).
struct Share {
    double root, least, most;
};
struct Sharing {
    double perRoot = 0;
    double leastScale = 1; // below 1 when the budget cannot even give every part its least
    double over = 0;       // what is left when every part has its most
};

Sharing ShareOut(const std::vector<Share>& parts, double budget) {
    Sharing s;
    double least = 0, most = 0;
    for (const Share& p : parts) {
        least += p.least;
        most += p.most;
    }
    if (budget >= most) {
        s.perRoot = 1e30;
        s.over = budget - most;
        return s;
    }
    if (budget <= least) {
        s.leastScale = least > 0 ? budget / least : 0;
        return s;
    }
    auto takes = [&](double k) {
        double sum = 0;
        for (const Share& p : parts)
            sum += std::clamp(k * p.root, p.least, p.most);
        return sum;
    };
    double low = 0, high = 1;
    for (int i = 0; i < 200 && takes(high) < budget; ++i)
        high *= 2;
    for (int i = 0; i < 50; ++i) {
        const double mid = (low + high) / 2;
        (takes(mid) < budget ? low : high) = mid;
    }
    s.perRoot = (low + high) / 2;
    return s;
}

} // namespace

BitPlan::BitPlan(const BitPlanSettings& settings, std::vector<PlaceDifficulty> places) : s_(settings) {
    if (s_.seconds <= 0 || s_.frameRate <= 0 || s_.gopPictures <= 0 || s_.averageBitrate <= 0 || places.empty())
        return;
    std::stable_sort(places.begin(), places.end(),
                     [](const PlaceDifficulty& a, const PlaceDifficulty& b) { return a.seconds < b.seconds; });
    const double pictures = s_.seconds * s_.frameRate;
    const int gops = static_cast<int>(std::ceil(pictures / s_.gopPictures - 1e-9));
    gopComplexity_.resize(static_cast<size_t>(std::max(gops, 1)));
    gopPlace_.resize(gopComplexity_.size());
    placeRatio_.assign(places.size(), 1.0);
    placeLearned_.assign(places.size(), 0);
    const double gopSeconds = s_.gopPictures / s_.frameRate;
    size_t k = 0;
    for (size_t g = 0; g < gopComplexity_.size(); ++g) {
        // Each GOP takes the nearest looked-at place: a scene change is placed halfway between
        // two looks rather than smeared over both.
        const double middle = (static_cast<double>(g) + 0.5) * gopSeconds;
        while (k + 1 < places.size() &&
               std::abs(places[k + 1].seconds - middle) <= std::abs(places[k].seconds - middle))
            ++k;
        size_t chosen = k;
        // A GOP between two close places that differ much may hold the scene change itself: it
        // takes the busier when that scene may fill a third of it or more. A calm picture coded
        // as busy loses a little; busy pictures coded as calm take the bits of the GOPs after them.
        const size_t a = places[k].seconds <= middle || k == 0 ? k : k - 1;
        if (a + 1 < places.size() && places[a].seconds <= middle &&
            places[a + 1].seconds - places[a].seconds <= kChangeWithinGops * gopSeconds) {
            const double ca = std::max(1.0, places[a].complexity), cb = std::max(1.0, places[a + 1].complexity);
            const double from = static_cast<double>(g) * gopSeconds, to = from + gopSeconds;
            // The scene change lies after the pictures looked at in a and before those of b.
            const double busySide = ca > cb ? std::min(to, places[a + 1].seconds) - from
                                            : to - std::max(from, places[a].seconds + places[a].length);
            if (std::max(ca, cb) > kSceneChange * std::min(ca, cb) && busySide > gopSeconds * kBusyShare)
                chosen = ca > cb ? a : a + 1;
        }
        const double part = std::min(1.0, (pictures - static_cast<double>(g) * s_.gopPictures) / s_.gopPictures);
        gopComplexity_[g] = std::max(1.0, places[chosen].complexity) * std::max(part, 1.0 / s_.gopPictures);
        gopPlace_[g] = static_cast<int>(chosen);
    }
    rootPrefix_.assign(gopComplexity_.size() + 1, 0.0);
    sumPrefix_.assign(gopComplexity_.size() + 1, 0.0);
    for (size_t g = 0; g < gopComplexity_.size(); ++g) {
        rootPrefix_[g + 1] = rootPrefix_[g] + std::sqrt(gopComplexity_[g]);
        sumPrefix_[g + 1] = sumPrefix_[g] + gopComplexity_[g];
    }
    placeEnd_.assign(places.size(), 0);
    for (size_t g = 0; g < gopComplexity_.size(); ++g)
        placeEnd_[static_cast<size_t>(gopPlace_[g])] = static_cast<int>(g) + 1;
}

BitPlan::GopChoice BitPlan::StartGop(int64_t picture) {
    GopChoice c;
    const double gopSeconds = s_.gopPictures / s_.frameRate;
    const int last = Gops() - 1;
    const int previous = current_;
    current_ = static_cast<int>(std::clamp<int64_t>(picture / s_.gopPictures, 0, last));
    const double complexity = gopComplexity_[static_cast<size_t>(current_)];
    const size_t place = static_cast<size_t>(gopPlace_[static_cast<size_t>(current_)]);
    if (previous >= 0 && !placeLearned_[place]) {
        // A place not encoded yet takes what was learned on the one before when the look found
        // them alike (the same scene, most likely); else it counts as the look found it, since a
        // ratio learned on one kind of picture says little about another.
        const size_t before = static_cast<size_t>(gopPlace_[static_cast<size_t>(previous)]);
        const double alike = complexity / gopComplexity_[static_cast<size_t>(previous)];
        if (before != place && placeLearned_[before] && alike > 0.5 && alike < 2.0)
            placeRatio_[place] = placeRatio_[before];
    }
    const double ratio = placeRatio_[place];
    const double left = s_.averageBitrate * s_.seconds - spent_;
    const double leftSeconds = std::max(gopSeconds, s_.seconds - static_cast<double>(picture) / s_.frameRate);
    const double peakBits = kPeakShare * s_.peakBitrate * gopSeconds;
    const double averageGop = s_.averageBitrate * gopSeconds;
    double most = peakBits; // what this GOP can take at most
    if (picture / s_.gopPictures > last) {
        // Longer than the movie was said to be: the average, with what is left of the budget.
        c.targetBits = std::max(0.0, s_.averageBitrate * gopSeconds + std::min(0.0, left));
        most = std::min(peakBits, ratio * complexity / s_.finestStep);
    } else {
        // A GOP one pass codes finely is sure of what one pass would give it: its share of the
        // average, or what it takes at the finest step when that is less (OnePassShare). Above
        // that, bits follow the square root of the complexity (a busy GOP gets more bits than a
        // calm one but a coarser step, as a two-pass encoder spreads them), no GOP getting more
        // than it takes at the finest step or than the peak rate brings. So what calm GOPs cannot
        // use goes to the busy ones. Solved over the looked-at places still to come.
        std::vector<Share> parts;
        for (size_t p = place, from = static_cast<size_t>(current_); p < placeRatio_.size(); ++p) {
            const size_t to = static_cast<size_t>(placeEnd_[p]);
            if (to <= from)
                continue;
            // Never less than the look's own figure: a GOP judged by the place
            // beside a scene change can teach a ratio far too low, and padding on that would
            // throw away bits the rest can use.
            const double r = std::max(1.0, placeRatio_[p]);
            const double gops = static_cast<double>(to - from);
            const double sum = r * (sumPrefix_[to] - sumPrefix_[from]);
            const double partMost = std::min(sum / s_.finestStep, peakBits * gops);
            const double partLeast = OnePassShare(sum / gops / averageGop) * std::min(partMost, averageGop * gops);
            parts.push_back({rootPrefix_[to] - rootPrefix_[from], partLeast, partMost});
            from = to;
        }
        const double share = std::max(0.0, left);
        const Sharing sharing = ShareOut(parts, share);
        most = std::min(peakBits, ratio * complexity / s_.finestStep);
        const double least =
            OnePassShare(ratio * complexity / averageGop) * std::min(most, averageGop) * sharing.leastScale;
        c.targetBits = std::clamp(sharing.perRoot * std::sqrt(complexity), least, std::max(least, most));
        if (sharing.over > 0 && c.targetBits >= most) {
            // Even the finest step everywhere leaves bits over: they buy no picture, so they are
            // padded evenly over the rest of the movie, where they harm nothing.
            c.minimumBitrate =
                std::min(kPeakShare * s_.peakBitrate, (most + sharing.over * gopSeconds / leftSeconds) / gopSeconds);
        }
    }
    c.targetBits = std::min(c.targetBits, peakBits);
    c.step = c.targetBits > 0 ? ratio * complexity / c.targetBits : s_.coarsestStep;
    c.step = std::clamp(c.step, s_.finestStep, s_.coarsestStep);
    currentStep_ = c.step;
    currentTarget_ = c.targetBits;
    return c;
}

double BitPlan::PictureStep(int index, double bits) const {
    if (index <= 1 || currentTarget_ <= 0)
        return currentStep_;
    const double done = kKeyPictureWeight + (index - 1);
    const double expected = currentTarget_ * done / (kKeyPictureWeight + s_.gopPictures - 1);
    const double factor = std::clamp(std::sqrt(bits / expected), 0.75, 2.0);
    if (factor > 0.85 && factor < 1.15)
        return currentStep_;
    return std::clamp(currentStep_ * factor, s_.finestStep, s_.coarsestStep);
}

void BitPlan::EndGop(double bits, double pictureBits) {
    spent_ += bits;
    if (current_ < 0 || pictureBits <= 0)
        return;
    const double estimate = gopComplexity_[static_cast<size_t>(current_)] / currentStep_;
    const size_t place = static_cast<size_t>(gopPlace_[static_cast<size_t>(current_)]);
    placeLearned_[place] = 1;
    double& ratio = placeRatio_[place];
    // One GOP moves the ratio by a bounded step: the GOP that straddles a scene change is judged
    // by the scene on one side of it, and what it teaches would mislead the GOPs after it.
    const double seen =
        std::clamp(pictureBits / estimate, std::max(0.2, ratio / kMostSurprise), std::min(5.0, ratio * kMostSurprise));
    ratio = std::exp(kRatioLearning * std::log(seen) + (1 - kRatioLearning) * std::log(ratio));
}

} // namespace qx::enc
