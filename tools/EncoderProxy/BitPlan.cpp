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
    placeLearned_.assign(places.size(), 0);
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
    double most = peakBits; // what this GOP can take at most
    if (picture / s_.gopPictures > last) {
        // Longer than the movie was said to be: the average, with what is left of the budget.
        c.targetBits = std::max(0.0, s_.averageBitrate * gopSeconds + std::min(0.0, left));
        most = std::min(peakBits, ratio * complexity / s_.finestStep);
    } else {
        // Bits follow the square root of the complexity (a busy GOP gets more bits than a calm one
        // but a coarser step, as a two-pass encoder spreads them), except that no GOP gets more
        // than it takes at the finest step or than the peak rate brings: what those cannot use
        // goes to the others. Solved over the looked-at places still to come.
        struct Part {
            double root, most;
        };
        std::vector<Part> parts;
        for (size_t p = place, from = static_cast<size_t>(current_); p < placeRatio_.size(); ++p) {
            const size_t to = static_cast<size_t>(placeEnd_[p]);
            if (to <= from)
                continue;
            // Never less than the look's own figure: a GOP judged by the place
            // beside a scene change can teach a ratio far too low, and padding on that would
            // throw away bits the rest can use.
            const double r = std::max(1.0, placeRatio_[p]);
            parts.push_back(
                {rootPrefix_[to] - rootPrefix_[from], std::min(r * (sumPrefix_[to] - sumPrefix_[from]) / s_.finestStep,
                                                               peakBits * static_cast<double>(to - from))});
            from = to;
        }
        double room = 0;
        for (const Part& part : parts)
            room += part.most;
        const double share = std::max(0.0, left);
        double perRoot = 0;
        if (share >= room) {
            perRoot = 1e30;
        } else {
            double low = 0, high = 1;
            auto takes = [&](double k) {
                double sum = 0;
                for (const Part& part : parts)
                    sum += std::min(k * part.root, part.most);
                return sum;
            };
            for (int i = 0; i < 200 && takes(high) < share; ++i)
                high *= 2;
            for (int i = 0; i < 50; ++i) {
                const double mid = (low + high) / 2;
                (takes(mid) < share ? low : high) = mid;
            }
            perRoot = (low + high) / 2;
        }
        most = std::min(peakBits, ratio * complexity / s_.finestStep);
        c.targetBits = std::min(perRoot * std::sqrt(complexity), most);
        if (share > room && c.targetBits >= most) {
            // Even the finest step everywhere leaves bits over: they buy no picture, so they are
            // padded evenly over the rest of the movie, where they harm nothing.
            c.minimumBitrate =
                std::min(kPeakShare * s_.peakBitrate, (most + (share - room) * gopSeconds / leftSeconds) / gopSeconds);
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
    const double seen = std::clamp(pictureBits / estimate, 0.2, 5.0);
    const size_t place = static_cast<size_t>(gopPlace_[static_cast<size_t>(current_)]);
    placeLearned_[place] = 1;
    double& ratio = placeRatio_[place];
    ratio = std::exp(kRatioLearning * std::log(seen) + (1 - kRatioLearning) * std::log(ratio));
}

} // namespace qx::enc
