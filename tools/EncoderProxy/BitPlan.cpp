#include "BitPlan.h"

#include <algorithm>
#include <cmath>

namespace qx::enc {
namespace {

// A GOP may take at most this share of what the peak rate brings in meanwhile: the rest keeps
// the decoder buffer from running dry on the next GOP's I picture.
constexpr double kPeakShare = 0.8;
// How much one GOP moves the learned ratio (in logarithms): enough to follow a place the look
// judged somewhat wrong within two or three GOPs, little enough not to swing on one picture.
constexpr double kRatioLearning = 0.6;
// A GOP this many times busier or calmer than its place's estimate holds a scene the look did not
// see (one between two looked-at places, or the other side of a scene change): its P pictures get
// the step the plan gives such a GOP, and the GOP after it is taken to go on with that scene.
constexpr double kSceneSurprise = 2.0;
// ... unless both its P pictures and those planned take less than this share of an average
// picture's bits: a still scene's P pictures cost next to nothing at any step, and taking one
// for a scene sixteen times calmer than planned starved the GOPs after it.
constexpr double kNegligiblePicture = 0.2;
constexpr double kMostSceneFactor = 16.0;
constexpr double kLeastPadding = 0.01;
constexpr double kLatePadding = 0.5;
constexpr size_t kSceneEndPictures = 3;
// Bounds on what the finest step is taken to cost against the look's step (bits x step).
constexpr double kLeastFinest = 0.05;
constexpr double kMostFinest = 4.0;
// A scene the look did not see is taken to last this many GOPs for sharing the budget out. (Taking
// it to last as long again as it had lasted starved the busy half of a calm-then-busy movie whose
// calm half the look had judged too calm: 0.4 dB SSIM.)
constexpr size_t kSceneGops = 2;
// Two places this many times apart in complexity see different scenes; when they are at most
// this many GOPs apart, the look has found where the scene changes.
constexpr double kSceneChange = 2.0;
constexpr double kChangeWithinGops = 2.5;
// Bits of an I picture against a P picture's at the same step, to judge a GOP part way through.
constexpr double kKeyPictureWeight = 4.0;
// The share of its one-pass bits a GOP is sure of, by the step one pass would code it at (its
// complexity over the average GOP's bits): a scene one pass codes finely (at most step 10) keeps
// half its one-pass bits whatever comes after it; scenes one pass codes coarsely (step 16 and
// beyond) trade bits among themselves by the square root, as a second pass shares them out.
// Measured at equal size (40 s, 20 s calm testsrc2, then 20 s of it under heavy noise): keeping the
// whole one-pass share held the calm half at the one-pass command line's 21.9 dB SSIM but left the
// whole 0.44 dB below the two-pass command line's (the busy half 0.55 dB below); keeping half of it
// gives the calm half 19.8 dB (the two-pass command line 20.0) and the whole and the busy half
// 0.1 dB above the two-pass figures. The whole movie's SSIM counts every picture alike, and a
// picture of the noisy half has ten times the distortion to lose.
constexpr double kProtectedStep = 10;
constexpr double kTradedStep = 16;
constexpr double kProtectedShare = 0.5;
double OnePassShare(double onePassStep) {
    return kProtectedShare * std::clamp((kTradedStep - onePassStep) / (kTradedStep - kProtectedStep), 0.0, 1.0);
}

// Each part of the movie gets clamp(perRoot x root, least, most).
struct Share {
    double root, least, most;
};
using Sharing = BitPlan::Sharing;

Sharing SolveShares(const std::vector<Share>& parts, double budget) {
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
    gopChange_.assign(gopComplexity_.size(), -1);
    gopPart_.assign(gopComplexity_.size(), 1.0);
    placeRatio_.assign(places.size(), 1.0);
    placeLearned_.assign(places.size(), 0);
    placeFinestRatio_.assign(places.size(), 0.0);
    for (const PlaceDifficulty& p : places)
        placeOther_.push_back(p.other > 0 ? p.other
                                          : std::max(1.0, p.complexity) / (s_.gopPictures - 1 + kKeyPictureWeight));
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
        // A GOP between two close places that differ much may hold the scene change itself: it is
        // planned as the scene before the change until SceneCuts finds the cut (TakeCut), so the
        // pictures before the change keep their step and those after it get theirs.
        const double from = static_cast<double>(g) * gopSeconds, to = from + gopSeconds;
        int change = -1;
        for (size_t a = k > 1 ? k - 2 : 0; a + 1 < places.size() && a <= k + 1 && change < 0; ++a) {
            // The scene change lies after the pictures looked at in a and before those of b.
            const PlaceDifficulty &pa = places[a], &pb = places[a + 1];
            const double changeFrom = pa.seconds + pa.length, changeTo = pb.seconds;
            if (changeTo - pa.seconds > kChangeWithinGops * gopSeconds || changeTo <= from || changeFrom >= to)
                continue;
            const double ca = std::max(1.0, pa.complexity), cb = std::max(1.0, pb.complexity);
            if (std::max(ca, cb) > kSceneChange * std::min(ca, cb))
                change = static_cast<int>(a);
        }
        if (change >= 0 && (g == 0 || change >= gopPlace_[g - 1]))
            chosen = static_cast<size_t>(change);
        else
            change = -1;
        if (g > 0) // the places follow the movie's order (placeEnd_)
            chosen = std::max(chosen, static_cast<size_t>(gopPlace_[g - 1]));
        const double part = std::min(1.0, (pictures - static_cast<double>(g) * s_.gopPictures) / s_.gopPictures);
        gopPart_[g] = std::max(part, 1.0 / s_.gopPictures);
        gopComplexity_[g] = std::max(1.0, places[chosen].complexity) * gopPart_[g];
        gopPlace_[g] = static_cast<int>(chosen);
        gopChange_[g] = change;
    }
    for (const PlaceDifficulty& p : places) {
        placeComplexity_.push_back(std::max(1.0, p.complexity));
        placeFinest_.push_back(p.finest > 0 ? std::clamp(p.finest / placeComplexity_.back(), kLeastFinest, kMostFinest)
                                            : 1.0);
    }
    Prefixes();
}

void BitPlan::Prefixes() {
    rootPrefix_.assign(gopComplexity_.size() + 1, 0.0);
    sumPrefix_.assign(gopComplexity_.size() + 1, 0.0);
    for (size_t g = 0; g < gopComplexity_.size(); ++g) {
        rootPrefix_[g + 1] = rootPrefix_[g] + std::sqrt(gopComplexity_[g]);
        sumPrefix_[g + 1] = sumPrefix_[g] + gopComplexity_[g];
    }
    placeEnd_.assign(placeRatio_.size(), 0);
    for (size_t g = 0; g < gopComplexity_.size(); ++g)
        placeEnd_[static_cast<size_t>(gopPlace_[g])] = static_cast<int>(g) + 1;
}

BitPlan::GopChoice BitPlan::StartGop(int64_t picture, bool cut) {
    GopChoice c;
    Learn(); // from the GOP before, as far as the encoder has handed it out
    const double gopSeconds = s_.gopPictures / s_.frameRate;
    const int last = Gops() - 1;
    const int previous = current_;
    current_ = static_cast<int>(std::clamp<int64_t>(picture / s_.gopPictures, 0, last));
    cutAt_ = -1;
    if (cut)
        TakeCut(); // the GOP starts in the scene after the change
    const double lookComplexity = gopComplexity_[static_cast<size_t>(current_)];
    const size_t place = static_cast<size_t>(gopPlace_[static_cast<size_t>(current_)]);
    if (previous >= 0 && static_cast<int>(place) != gopPlace_[static_cast<size_t>(previous)]) {
        // A place not encoded yet takes what was learned on the one before when the look found
        // them alike (the same scene, most likely); else it counts as the look found it, since
        // what was learned on one kind of picture says little about another.
        const size_t before = static_cast<size_t>(gopPlace_[static_cast<size_t>(previous)]);
        const double alike = lookComplexity / gopComplexity_[static_cast<size_t>(previous)];
        const bool same = alike > 0.5 && alike < 2.0;
        if (!placeLearned_[place] && placeLearned_[before] && same)
            placeRatio_[place] = placeRatio_[before];
        scenePlace_ = same && scenePlace_ == static_cast<int>(before) ? static_cast<int>(place) : -1;
    }
    // The pictures the encoder has not handed out yet count as the GOP before's P pictures did.
    double pendingBits = 0;
    if (!others_.empty()) {
        double sum = 0;
        for (const Coded& o : others_)
            sum += o.bits;
        pendingBits = sum / static_cast<double>(others_.size()) * static_cast<double>(pending_.size());
    }
    left_ = s_.averageBitrate * s_.seconds - spent_ - pendingBits;
    leftSeconds_ = std::max(gopSeconds, s_.seconds - static_cast<double>(picture) / s_.frameRate);
    peakBits_ = kPeakShare * s_.peakBitrate * gopSeconds;
    averageGop_ = s_.averageBitrate * gopSeconds;
    pastEnd_ = picture / s_.gopPictures > last;
    PlanCurrent(place, placeRatio_[place], scenePlace_ == static_cast<int>(place) ? sceneFactor_ : 1.0);
    c.targetBits = currentTarget_;
    c.step = currentStep_;
    c.minimumBitrate = minimumBitrate_;
    keyBits_ = 0;
    others_.clear();
    pending_.push_back({current_, true, false, c.step});
    return c;
}

void BitPlan::PlanCurrent(size_t place, double ratio, double scene) {
    currentRatio_ = ratio;
    currentPlace_ = place;
    currentScene_ = scene;
    expected_ = ratio * scene * gopComplexity_[static_cast<size_t>(current_)];
    double target;
    if (pastEnd_) {
        // Longer than the movie was said to be: the average, with what is left of the budget.
        sharing_ = Sharing{};
        target = std::max(0.0, averageGop_ + std::min(0.0, left_));
    } else {
        ShareOut(scene);
        target = TargetFor(expected_);
    }
    currentTarget_ = std::min(target, peakBits_);
    currentStep_ = StepFor(expected_, currentTarget_);
    minimumBitrate_ = Padding(currentTarget_, expected_);
}

bool BitPlan::TakeCut() {
    const int before = gopChange_[static_cast<size_t>(current_)];
    if (before < 0)
        return false;
    const size_t after = static_cast<size_t>(before) + 1;
    for (size_t g = static_cast<size_t>(current_); g < gopChange_.size() && gopChange_[g] == before; ++g) {
        gopChange_[g] = -1;
        gopPlace_[g] = static_cast<int>(after);
        gopComplexity_[g] = placeComplexity_[after] * gopPart_[g];
    }
    Prefixes();
    return true;
}

void BitPlan::ShareOut(double scene) {
    // A GOP one pass codes finely is sure of part of what one pass would give it: of its share of
    // the average, or of what it takes at the finest step when that is less (OnePassShare). Above that,
    // bits follow the square root of the complexity (a busy GOP gets more bits than a calm one
    // but a coarser step, as a two-pass encoder spreads them), no GOP getting more than it takes
    // at the finest step or than the peak rate brings. So what calm GOPs cannot use goes to the
    // busy ones. Solved over the looked-at places still to come, from the current GOP on.
    std::vector<Share> parts;
    auto add = [&](size_t from, size_t to, double r, double factor, size_t place) {
        if (to <= from)
            return;
        const double gops = static_cast<double>(to - from);
        const double root = (rootPrefix_[to] - rootPrefix_[from]) * std::sqrt(factor);
        const double sum = r * (sumPrefix_[to] - sumPrefix_[from]) * factor;
        const double most = std::min(sum / r * FinestShare(place) / s_.finestStep, peakBits_ * gops);
        parts.push_back({root, std::min(most, OnePassShare(sum / gops / averageGop_) * averageGop_ * gops), most});
    };
    const size_t sceneEnd = static_cast<size_t>(current_) + kSceneGops;
    for (size_t p = currentPlace_, from = static_cast<size_t>(current_); p < placeRatio_.size(); ++p) {
        const size_t to = static_cast<size_t>(placeEnd_[p]);
        if (to <= from)
            continue;
        // Never less than the look's own figure: a GOP judged by the place
        // beside a scene change can teach a ratio far too low, and padding on that would
        // throw away bits the rest can use.
        const double r = std::max(1.0, placeRatio_[p]);
        // The next GOPs as the scene they are taken to be, the rest as looked at.
        const size_t split = std::clamp(sceneEnd, from, to);
        add(from, split, r, scene, p);
        add(split, to, r, 1, p);
        from = to;
    }
    sharing_ = SolveShares(parts, std::max(0.0, left_));
}

double BitPlan::Padding(double target, double complexity) const {
    const double gopSeconds = s_.gopPictures / s_.frameRate;
    const double most = std::min(peakBits_, FinestBits(complexity));
    // A little over is what any plan ends with; padding starts when a part worth having is left.
    if (sharing_.over <= kLeastPadding * left_ || target < most)
        return 0;
    // Even the finest step everywhere leaves bits over: they buy no picture, so they are padded,
    // as late as they can be: a GOP pads only what the rest of the movie could not pad at half the
    // rate left above the average. Padding them evenly from the start spent them on a still scene
    // whose GOPs then cost more than the look found, and left the movie's end without bits.
    const double later =
        std::max(0.0, leftSeconds_ - gopSeconds) * kLatePadding * (kPeakShare * s_.peakBitrate - s_.averageBitrate);
    const double now = sharing_.over - later;
    if (now <= 0)
        return 0;
    // The encoder pads each picture up to the minimum rate on its own, so the I picture, far over
    // it, pads nothing: the floor is the P pictures' share (one of the GOP's bits over all its
    // pictures padded half as fast again on a still scene).
    const double key = keyBits_ > 0 ? keyBits_ : most * kKeyPictureWeight / (kKeyPictureWeight + s_.gopPictures - 1);
    const double others = std::max(0.0, most + now - key);
    return std::min(kPeakShare * s_.peakBitrate, others / std::max(1, s_.gopPictures - 1) * s_.frameRate);
}

double BitPlan::TargetFor(double complexity) const {
    const double look = complexity / currentRatio_; // the plan shares out by the look's figures
    const double most = std::min(peakBits_, FinestBits(complexity));
    const double least = std::min(most, OnePassShare(complexity / averageGop_) * averageGop_) * sharing_.leastScale;
    if (sharing_.perRoot <= 0 && sharing_.leastScale >= 1) // no sharing: past the movie's end
        return std::min(most, averageGop_);
    return std::clamp(sharing_.perRoot * std::sqrt(look), least, std::max(least, most));
}

double BitPlan::StepFor(double complexity, double target) const {
    // A GOP given all it can use gets the finest step: bits x step grows well short of constant
    // towards it, and the bits-over-step guess would leave it coarser than its target pays for
    // (a calm scene found calmer than planned went from step 4 to 7.5 that way).
    const double step = target <= 0                        ? s_.coarsestStep
                        : target >= FinestBits(complexity) ? s_.finestStep
                                                           : complexity / target;
    return std::clamp(step, s_.finestStep, s_.coarsestStep);
}

double BitPlan::FinestBits(double complexity) const {
    // The place's own figure at the finest step; what was learned at the plan's steps counts only
    // where the encoder makes more than the look found (ShareOut takes the same).
    return complexity / currentRatio_ * FinestShare(currentPlace_) / s_.finestStep;
}

double BitPlan::FinestShare(size_t place) const {
    // What a GOP coded at the finest step taught is the finest step's own cost.
    return std::max(placeFinest_[place] * std::max(1.0, placeRatio_[place]), placeFinestRatio_[place]);
}

bool BitPlan::Negligible(double otherComplexity) const {
    return otherComplexity / currentStep_ < kNegligiblePicture * averageGop_ / s_.gopPictures;
}

bool BitPlan::Surprised(double coded, double planned) const {
    // Pictures that cost next to nothing tell of no calmer scene: a still picture's P pictures cost
    // nothing at its I picture's step or coarser, and as much as an I picture at a finer one. (A
    // still picture of fine detail, taken for ever calmer scenes, was given the finest step every
    // few pictures and overran its share fivefold.)
    const bool busier = coded > kSceneSurprise * planned && !Negligible(std::max(coded, planned));
    const bool calmer = coded * kSceneSurprise < planned && !Negligible(coded);
    return busier || calmer;
}

double BitPlan::ObservedComplexity() const {
    // In the look's terms: bits x step of a whole GOP with the I picture at its usual share of the
    // P pictures' step.
    double sum = 0;
    for (const Coded& o : others_)
        sum += o.bits * o.step;
    const double perOther = others_.empty() ? 0 : sum / static_cast<double>(others_.size());
    return currentStep_ * keyBits_ + perOther * (s_.gopPictures - 1);
}

double BitPlan::RecentOther(size_t recent) const {
    // Repeated pictures are left out: they cost a fraction of the others and tell nothing of the
    // scene. (A repeat right after an I picture, which costs least of all, was taken for a calmer
    // scene: on NTSC discs of 25 fps movies, where one picture in six is a repeat, leaving them out
    // gave 0.03-0.3 dB SSIM at the same size on noisy and zooming movies.)
    double sum = 0;
    size_t counted = 0;
    for (size_t i = others_.size(); i-- > 0 && counted < recent;) {
        if (others_[i].repeat)
            continue;
        sum += others_[i].bits * others_[i].step;
        ++counted;
    }
    return counted > 0 ? sum / static_cast<double>(counted) : 0;
}

double BitPlan::PictureStep(int index, bool cut, bool repeat) {
    if (cut && index > 0 && TakeCut()) {
        // The rest of the GOP shows the scene after the change, as the look found it there.
        cutAt_ = index;
        scenePlace_ = -1;
        const size_t place = static_cast<size_t>(gopPlace_[static_cast<size_t>(current_)]);
        PlanCurrent(place, placeRatio_[place], 1.0);
    }
    double step = currentStep_;
    // After a cut the plan waits for pictures of the new scene only (the first of them is coded
    // much as an I picture is, and the encoder hands each out one picture late).
    const bool settled = cutAt_ < 0 || index > cutAt_ + static_cast<int>(kSceneEndPictures);
    // The latest P pictures against those of the place the GOP was planned for (the I picture may
    // still show the scene before).
    const double recent = index > 0 ? RecentOther(2) : 0;
    if (currentTarget_ > 0 && recent > 0 && settled) {
        const double planned = currentRatio_ * currentScene_ * placeOther_[currentPlace_];
        const double now = recent / planned;
        if (Surprised(recent, planned)) {
            // Another scene than the one planned for: the step such a GOP gets, the rest of its
            // place taken to be that scene too.
            ShareOut(std::clamp(currentScene_ * now, 1 / kMostSceneFactor, kMostSceneFactor));
            const double observed = expected_ * now;
            const double target = TargetFor(observed);
            step = StepFor(observed, target);
            minimumBitrate_ = Padding(target, observed);
        } else if (cutAt_ < 0) {
            double bits = keyBits_;
            for (const Coded& c : others_)
                bits += c.bits;
            const double done = kKeyPictureWeight + static_cast<double>(others_.size());
            const double whole = kKeyPictureWeight + s_.gopPictures - 1;
            const double expected = currentTarget_ * done / whole;
            const double factor = std::clamp(std::sqrt(bits / expected), 0.75, 2.0);
            // A GOP over its own target but within the average rate costs the rest of the movie
            // little (the plan shares out what is left at the next GOP): its step holds.
            const bool withinAverage = bits <= averageGop_ * done / whole;
            if (factor <= 0.85 || (factor >= 1.15 && !withinAverage))
                step = currentStep_ * factor;
        }
    }
    step = std::clamp(step, s_.finestStep, s_.coarsestStep);
    if (index > 0)
        pending_.push_back({current_, false, repeat, step});
    return step;
}

void BitPlan::PictureCoded(double bits, double stuffingBits) {
    spent_ += bits;
    if (pending_.empty())
        return;
    const Pending p = pending_.front();
    pending_.pop_front();
    if (p.gop != current_) // the last picture of the GOP before, handed out after this one began
        return;
    const double picture = std::max(0.0, bits - stuffingBits);
    if (p.key)
        keyBits_ = std::max(picture, 1.0);
    else
        others_.push_back({picture, p.step, p.repeat});
}

void BitPlan::Learn() {
    // A GOP a cut divided teaches nothing about either scene.
    if (current_ < 0 || keyBits_ <= 0 || others_.empty() || cutAt_ >= 0)
        return;
    const size_t place = static_cast<size_t>(gopPlace_[static_cast<size_t>(current_)]);
    placeLearned_[place] = 1;
    double& ratio = placeRatio_[place];
    // How the GOP ended: a scene the look did not see (one between two looked-at places) is
    // taken to go on in the next GOP, while the place keeps what it taught before.
    const double end = RecentOther(kSceneEndPictures) / placeOther_[place];
    scenePlace_ = -1;
    if (Surprised(end * placeOther_[place], ratio * placeOther_[place])) {
        sceneFactor_ = std::clamp(end / ratio, 1 / kMostSceneFactor, kMostSceneFactor);
        scenePlace_ = static_cast<int>(place);
        return;
    }
    // A GOP that held two scenes (the other in its first pictures) teaches nothing about either.
    const double seen = ObservedComplexity() / gopComplexity_[static_cast<size_t>(current_)];
    if (seen > kSceneSurprise * ratio || seen * kSceneSurprise < ratio)
        return;
    ratio = std::exp(kRatioLearning * std::log(seen) + (1 - kRatioLearning) * std::log(ratio));
    if (currentStep_ <= s_.finestStep)
        placeFinestRatio_[place] = placeFinestRatio_[place] > 0 ? ratio : seen;
}

} // namespace qx::enc
