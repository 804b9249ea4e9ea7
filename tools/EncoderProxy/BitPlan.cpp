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
// Bits of an I picture against a P picture's at the same step, to judge a GOP part way through.
constexpr double kKeyPictureWeight = 4.0;

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
    size_t k = 0;
    for (size_t g = 0; g < gopComplexity_.size(); ++g) {
        // Each GOP takes the nearest looked-at place: a scene change is placed halfway between
        // two looks rather than smeared over both.
        const double middle = (static_cast<double>(g) + 0.5) * s_.gopPictures / s_.frameRate;
        while (k + 1 < places.size() &&
               std::abs(places[k + 1].seconds - middle) <= std::abs(places[k].seconds - middle))
            ++k;
        const double part = std::min(1.0, (pictures - static_cast<double>(g) * s_.gopPictures) / s_.gopPictures);
        gopComplexity_[g] = std::max(1.0, places[k].complexity) * std::max(part, 1.0 / s_.gopPictures);
        gopPlace_[g] = static_cast<int>(k);
    }
    rootSuffix_.assign(gopComplexity_.size() + 1, 0.0);
    sumSuffix_.assign(gopComplexity_.size() + 1, 0.0);
    for (size_t g = gopComplexity_.size(); g-- > 0;) {
        rootSuffix_[g] = rootSuffix_[g + 1] + std::sqrt(gopComplexity_[g]);
        sumSuffix_[g] = sumSuffix_[g + 1] + gopComplexity_[g];
    }
}

BitPlan::GopChoice BitPlan::StartGop(int64_t picture) {
    GopChoice c;
    const double gopSeconds = s_.gopPictures / s_.frameRate;
    const int last = Gops() - 1;
    current_ = static_cast<int>(std::clamp<int64_t>(picture / s_.gopPictures, 0, last));
    const double complexity = gopComplexity_[static_cast<size_t>(current_)];
    // A place not encoded yet counts as the look found it: a ratio learned on one scene says
    // little about another.
    const double ratio = placeRatio_[static_cast<size_t>(gopPlace_[static_cast<size_t>(current_)])];
    const double left = s_.averageBitrate * s_.seconds - spent_;
    const double leftSeconds = std::max(gopSeconds, s_.seconds - static_cast<double>(picture) / s_.frameRate);
    if (picture / s_.gopPictures > last) {
        // Longer than the movie was said to be: the average, with what is left of the budget.
        c.targetBits = std::max(0.0, s_.averageBitrate * gopSeconds + std::min(0.0, left));
    } else {
        // Bits follow the square root of the complexity: a busy GOP gets more bits than a calm
        // one but a coarser step, as a two-pass encoder spreads them.
        c.targetBits = std::max(0.0, left) * std::sqrt(complexity) / rootSuffix_[static_cast<size_t>(current_)];
    }
    c.targetBits = std::min(c.targetBits, kPeakShare * s_.peakBitrate * gopSeconds);
    c.step = c.targetBits > 0 ? ratio * complexity / c.targetBits : s_.coarsestStep;
    c.step = std::clamp(c.step, s_.finestStep, s_.coarsestStep);
    // What the rest of the movie takes at the finest step; a budget beyond that cannot buy any
    // picture and is padded evenly over the rest, where it harms nothing.
    const double finestRest =
        (picture / s_.gopPictures > last ? ratio * complexity : sumSuffix_[static_cast<size_t>(current_)]) /
        s_.finestStep;
    if (left > finestRest) {
        const double natural = ratio * complexity / c.step / gopSeconds;
        c.minimumBitrate = std::min(kPeakShare * s_.peakBitrate, natural + (left - finestRest) / leftSeconds);
    }
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
    const double seen = std::clamp(pictureBits / estimate, 0.05, 20.0);
    double& ratio = placeRatio_[static_cast<size_t>(gopPlace_[static_cast<size_t>(current_)])];
    ratio = std::exp(kRatioLearning * std::log(seen) + (1 - kRatioLearning) * std::log(ratio));
}

} // namespace qx::enc
