#include "QuantiserLook.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "FilterChain.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace qx::enc {
namespace {

// The quantiser look: one place per this many seconds of movie, within these bounds, at the
// coarsest step (with the difficulty look, at its places nearest to these).
constexpr double kSecondsPerLook = 20.0;
constexpr int kFewestLooks = 2;
constexpr int kMostLooks = 8;
constexpr int kCoarsestLinearCode = 31;
// The difficulty look: a few pictures (the I picture and the first P pictures of a GOP) per this
// many seconds, at most this many places (a two-hour movie is looked at every 18 s), at a step
// near the ones a DVD's rate leads to; scene changes between them are found by looking between
// places that differ (below). The first P pictures stand for the rest of the GOP well enough for
// sharing bits out (a whole GOP cost the look 2.5 times as much), and the plan learns the
// encoder's real figures as it goes. Every 4 s rather than 8 s: a zooming fractal changes its
// difficulty faster than 8 s of places followed, and the busy half of a calm-then-busy movie came
// out 0.09 dB SSIM better at the same size (no movie measured worse); the look of a 40 s movie takes
// 0.15-0.4 s with the finest step.
constexpr double kSecondsPerPlace = 4.0;
constexpr int kFewestPlaces = 5;
constexpr int kMostPlaces = 400;
constexpr int kPlacePictures = 6;
constexpr double kPlaceLinearCode = 6;
// The same pictures are also encoded at the finest step, which tells what a place can use at most:
// bits x step is far from constant down there (a still picture's P pictures cost next to nothing at
// any step), and a plan that took it to be reserved three times what a still scene could use and
// padded it away at the end.
constexpr double kFinestLinearCode = 2;
// A place whose GOP takes a good part of the peak rate at the look's step takes at least this share
// of bits x step at the finest (0.77-1.3 measured on busy pictures; calm ones take less, but they are
// far from the peak). Where even that share is more than the peak rate brings, the plan's ceiling
// is the peak rate whatever the finest step takes, and the look saves encoding there.
constexpr double kLeastBusyFinest = 0.75;
// The places run from just after the start to just before the end, the first this far past the
// start, off the whole seconds where sources often have their key pictures: the pictures right
// after a source's key picture often change more than the rest (its encoder refines the key
// picture), and a sample of a few pictures there takes the place for busier than it is.
constexpr double kPlaceOffset = 0.32;
// Where two neighbouring places differ by more than this factor, the place between them is looked
// at too, down to about a GOP apart: the plan then finds a scene change within a GOP or so rather
// than halfway between two places, and a calm GOP is not taken for a busy one.
constexpr double kSceneChangeFactor = 2.0;
constexpr double kFinestSpacing = 0.7;
constexpr int kMostRefinements = 5;
// At most as many places are added as the look has, and at least this many (a short movie).
constexpr int kFewestRefined = 16;
// A sample that starts further than this from where it was asked for (a movie that cannot be
// sought) is not trusted; pictures decoded from the key picture before a place up to it are
// skipped, at most this many seconds of them.
constexpr double kMostMiss = 2.0;
constexpr double kMostSkippedSeconds = 12.0;

// What one encoder of a sample made: the bytes of its I picture and of each P picture after it.
struct Coded {
    int64_t keyBytes = 0;
    std::vector<int64_t> otherBytes;
};

// The start of a GOP at one place, encoded at the difficulty look's step and, at a few places, at
// the coarsest linear step for the quantiser choice (the same decoded pictures feed both).
struct Sample {
    double seconds = 0; // where it should start, from the movie's start
    bool seek = true;   // false: from wherever a newly opened movie starts
    int pictures = 0;   // pictures to encode
    bool difficulty = true;
    bool demand = false;
    bool ok = false;
    double start = 0; // where its first picture shows, from the movie's start
    int taken = 0;
    Coded atLookStep, atCoarsestStep, atFinestStep;
};

// The encoders of a sample: a fixed step, the I picture at `keyFactor` of it, one thread.
struct SampleEncoder {
    CodecPtr enc;
    double keyFactor = 1;
    Coded* coded = nullptr;
    int packets = 0;

    bool Open(const ConvertRequest& req, double code, double factor, Coded* into) {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
        enc.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!enc)
            return false;
        SetPictureEncoder(enc.get(), req.tv, req.wide, Quantiser::Linear);
        enc->thread_count = 1;
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = static_cast<int>(FF_QP2LAMBDA * code);
        keyFactor = factor;
        coded = into;
        return avcodec_open2(enc.get(), codec, nullptr) >= 0;
    }
    bool Send(AVFrame* picture, int index, AVPacket* pkt) {
        picture->quality = static_cast<int>(enc->global_quality * (index == 0 ? keyFactor : 1.0));
        return avcodec_send_frame(enc.get(), picture) >= 0 && Drain(pkt);
    }
    bool Drain(AVPacket* pkt) {
        while (avcodec_receive_packet(enc.get(), pkt) == 0) {
            // No B pictures: packets leave in picture order, the first is the I picture.
            if (packets++ == 0)
                coded->keyBytes = pkt->size;
            else
                coded->otherBytes.push_back(pkt->size);
            av_packet_unref(pkt);
        }
        return true;
    }
    void Finish(AVPacket* pkt) {
        avcodec_send_frame(enc.get(), nullptr);
        Drain(pkt);
    }
};

// One thread's own demuxer and decoder of the movie, so that samples run side by side. Each
// sample seeks, decodes from the key picture before its place and encodes with encoders of its
// own on one thread: what it finds does not depend on which reader took it or when.
class MovieReader {
public:
    MovieReader(const ConvertRequest& req, int video) : req_(req), video_(video) {
        std::string error;
        fmt_ = OpenMovie(req.input, &error);
        if (!fmt_ || video < 0 || video >= static_cast<int>(fmt_->nb_streams) ||
            fmt_->streams[video]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
            fmt_.reset();
            return;
        }
        // The sound's packets are not even read.
        for (unsigned i = 0; i < fmt_->nb_streams; ++i)
            if (static_cast<int>(i) != video)
                fmt_->streams[i]->discard = AVDISCARD_ALL;
        dec_ = OpenDecoder(fmt_.get(), video, &error);
        startUs_ = fmt_->start_time != AV_NOPTS_VALUE ? fmt_->start_time : 0;
    }

    void Take(Sample* s) {
        if (!dec_)
            return;
        AVStream* st = fmt_->streams[video_];
        const int64_t target =
            av_rescale_q(startUs_ + static_cast<int64_t>(s->seconds * 1e6), AV_TIME_BASE_Q, st->time_base);
        if (s->seek) {
            if (avformat_seek_file(fmt_.get(), video_, INT64_MIN, target, target, 0) < 0)
                return;
            avcodec_flush_buffers(dec_.get());
        }
        AVRational rate = av_guess_frame_rate(fmt_.get(), st, nullptr);
        const int64_t halfPicture = rate.num > 0 ? av_rescale_q(1, av_inv_q(rate), st->time_base) / 2 : 0;
        const int64_t skipUntil = s->seek ? target - halfPicture : INT64_MIN;
        const int64_t mostSkipped =
            av_rescale_q(static_cast<int64_t>(kMostSkippedSeconds * 1e6), AV_TIME_BASE_Q, st->time_base);
        std::string error;
        Chain chain;
        if (!BuildPictureChain(&chain, fmt_.get(), video_, req_, false, &error))
            return;
        std::vector<SampleEncoder> encoders(3);
        if (s->difficulty && (!encoders[0].Open(req_, kPlaceLinearCode, kLinearKeyFactor, &s->atLookStep) ||
                              !encoders[2].Open(req_, kFinestLinearCode, kLinearKeyFactor, &s->atFinestStep)))
            return;
        if (s->demand && !encoders[1].Open(req_, kCoarsestLinearCode, 1.0, &s->atCoarsestStep))
            return;
        const AVRational sinkBase = av_buffersink_get_time_base(chain.sink);
        bool eof = false;
        int64_t firstDecoded = AV_NOPTS_VALUE;
        while (s->taken < s->pictures && !eof) {
            if (av_read_frame(fmt_.get(), pkt_.get()) < 0) {
                eof = true;
                avcodec_send_packet(dec_.get(), nullptr);
            } else if (pkt_->stream_index == video_) {
                avcodec_send_packet(dec_.get(), pkt_.get());
            }
            av_packet_unref(pkt_.get());
            while (s->taken < s->pictures && avcodec_receive_frame(dec_.get(), frame_.get()) == 0) {
                const int64_t pts = frame_->best_effort_timestamp;
                if (pts != AV_NOPTS_VALUE && firstDecoded == AV_NOPTS_VALUE)
                    firstDecoded = pts;
                // Pictures before the place only lead up to it (a sample of a far-off key picture
                // would see another scene).
                const bool before = pts != AV_NOPTS_VALUE && pts < skipUntil && pts - firstDecoded < mostSkipped;
                if (pts == AV_NOPTS_VALUE || before) {
                    av_frame_unref(frame_.get());
                    continue;
                }
                frame_->pts = pts;
                const bool pushed = av_buffersrc_add_frame_flags(chain.src, frame_.get(), 0) >= 0;
                av_frame_unref(frame_.get());
                if (!pushed)
                    return;
                while (s->taken < s->pictures && av_buffersink_get_frame(chain.sink, picture_.get()) >= 0) {
                    if (s->taken == 0 && picture_->pts != AV_NOPTS_VALUE)
                        s->start =
                            static_cast<double>(picture_->pts) * av_q2d(sinkBase) - static_cast<double>(startUs_) / 1e6;
                    picture_->pts = s->taken;
                    picture_->pict_type = AV_PICTURE_TYPE_NONE;
                    bool sent = true;
                    for (SampleEncoder& e : encoders)
                        sent = sent && (!e.enc || e.Send(picture_.get(), s->taken, pkt_.get()));
                    // A place whose GOP would take more than the peak rate brings at the finest
                    // step can use no more than that whatever it takes there: not worth encoding.
                    if (encoders[2].enc && FinestPastPeak(s->atLookStep)) {
                        encoders[2].enc.reset();
                        s->atFinestStep = Coded{};
                    }
                    ++s->taken;
                    av_frame_unref(picture_.get());
                    if (!sent)
                        return;
                }
            }
        }
        for (SampleEncoder& e : encoders)
            if (e.enc)
                e.Finish(pkt_.get());
        s->ok = s->taken > 0 && (!s->seek || std::abs(s->start - s->seconds) <= kMostMiss);
    }

private:
    // Judged from the look's step by bits x step, at the least share of it a busy place was
    // measured to take at the finest step.
    bool FinestPastPeak(const Coded& c) const {
        if (c.otherBytes.empty())
            return false;
        double other = 0;
        for (int64_t b : c.otherBytes)
            other += static_cast<double>(b);
        const int gop = MaxGop(req_.tv);
        const double bits = 8.0 * (static_cast<double>(c.keyBytes) + other / c.otherBytes.size() * (gop - 1));
        const double finest = bits * kLeastBusyFinest * QuantiserStep(Quantiser::Linear, kPlaceLinearCode) /
                              QuantiserStep(Quantiser::Linear, kFinestLinearCode);
        return finest > static_cast<double>(kBufferFillBitrate) * gop / av_q2d(DvdFrameRate(req_.tv));
    }

    const ConvertRequest& req_;
    int video_;
    InputPtr fmt_;
    CodecPtr dec_;
    int64_t startUs_ = 0;
    PacketPtr pkt_{av_packet_alloc()};
    FramePtr frame_{av_frame_alloc()}, picture_{av_frame_alloc()};
};

// Runs the samples on the machine's cores, one reader per thread (opened on first use and kept
// for the following rounds).
class SampleRunner {
public:
    SampleRunner(const ConvertRequest& req, int video) : req_(req), video_(video), readers_(EncoderThreads()) {}

    void Run(std::vector<Sample>* samples) {
        std::atomic<size_t> next{0};
        auto work = [&](size_t t) {
            for (size_t i = next++; i < samples->size(); i = next++) {
                if (!readers_[t])
                    readers_[t] = std::make_unique<MovieReader>(req_, video_);
                readers_[t]->Take(&(*samples)[i]);
            }
        };
        const size_t threads = std::min(readers_.size(), samples->size());
        std::vector<std::thread> workers;
        for (size_t t = 1; t < threads; ++t)
            workers.emplace_back(work, t);
        work(0);
        for (std::thread& w : workers)
            w.join();
    }

private:
    const ConvertRequest& req_;
    int video_;
    std::vector<std::unique_ptr<MovieReader>> readers_;
};

Sample PlaceSample(double seconds) {
    Sample s;
    s.seconds = seconds;
    s.pictures = kPlacePictures;
    return s;
}

// Bits one full GOP takes: the sample's P pictures stand for the GOP's, by their median. The
// middle one, not the mean: a source's key picture among them (its first P pictures after it
// often change much more than the rest) or the first pictures of a scene change would otherwise
// make the whole GOP look that busy.
double GopBits(const Coded& c, int gop) {
    std::vector<int64_t> other = c.otherBytes;
    if (other.empty())
        return 8.0 * static_cast<double>(c.keyBytes) * gop;
    std::nth_element(other.begin(), other.begin() + static_cast<ptrdiff_t>(other.size() / 2), other.end());
    return 8.0 * (static_cast<double>(c.keyBytes) + static_cast<double>(other[other.size() / 2]) * (gop - 1));
}

// Bits one full GOP takes at quantiser step 1, as judged at the look's step and at the finest.
double Complexity(const Sample& s, int gop) {
    return GopBits(s.atLookStep, gop) * QuantiserStep(Quantiser::Linear, kPlaceLinearCode);
}
double FinestComplexity(const Sample& s, int gop) {
    if (s.atFinestStep.keyBytes == 0) // not encoded there (a place past the peak rate)
        return 0;
    return GopBits(s.atFinestStep, gop) * QuantiserStep(Quantiser::Linear, kFinestLinearCode);
}

// Adds samples between neighbouring places that differ much, round after round; false when a
// place could not be read.
bool RefineAtSceneChanges(SampleRunner* runner, std::vector<Sample>* places, int gop, double gopBits, int mostAdded) {
    for (int round = 0; round < kMostRefinements && mostAdded > 0; ++round) {
        std::sort(places->begin(), places->end(), [](const Sample& a, const Sample& b) { return a.start < b.start; });
        std::vector<std::pair<double, double>> between;
        for (size_t i = 0; i + 1 < places->size(); ++i) {
            const Sample& a = (*places)[i];
            const Sample& b = (*places)[i + 1];
            const double ca = std::max(1.0, Complexity(a, gop)), cb = std::max(1.0, Complexity(b, gop));
            // Two places that both fit the average share at the finest step get it either way.
            const double finest = QuantiserStep(Quantiser::Linear, 1);
            if (b.start - a.start > kFinestSpacing && std::max(ca, cb) > kSceneChangeFactor * std::min(ca, cb) &&
                std::max(ca, cb) / finest > gopBits)
                between.push_back({a.start, b.start});
        }
        // Fewer changes than readers: each is cut into more parts at once, so that the readers
        // look side by side rather than one of them round after round (a movie with one scene
        // change kept one core idle for three rounds of its look).
        if (between.empty())
            break;
        const size_t readers = static_cast<size_t>(std::max(1, EncoderThreads()));
        const size_t parts = std::max<size_t>(2, (readers + between.size() - 1) / between.size() + 1);
        std::vector<Sample> added;
        for (const auto& [from, to] : between)
            for (size_t k = 1; k < parts && static_cast<int>(added.size()) < mostAdded; ++k)
                added.push_back(PlaceSample(from + (to - from) * static_cast<double>(k) / static_cast<double>(parts)));
        runner->Run(&added);
        for (const Sample& s : added) {
            if (!s.ok)
                return false;
            // Key pictures far apart can bring a sample back onto a place already seen.
            const bool known = std::any_of(places->begin(), places->end(),
                                           [&](const Sample& p) { return std::abs(p.start - s.start) < 1e-3; });
            if (!known)
                places->push_back(s);
        }
        mostAdded -= static_cast<int>(added.size());
    }
    std::sort(places->begin(), places->end(), [](const Sample& a, const Sample& b) { return a.start < b.start; });
    return true;
}

} // namespace

Quantiser ChooseQuantiser(double linearDemand) {
    return linearDemand > kLinearDemandLimit * static_cast<double>(ChooseVideoBitrate()) ? Quantiser::NonLinear
                                                                                         : Quantiser::Linear;
}

QuantiserLook LookAtMovie(const ConvertRequest& req, int video, double seconds, bool difficulty,
                          std::optional<Quantiser> forced) {
    QuantiserLook look;
    const int gop = MaxGop(req.tv);
    const bool plan = difficulty && seconds > 0;
    std::vector<Sample> samples;
    if (plan) {
        const int places = std::clamp(static_cast<int>(seconds / kSecondsPerPlace), kFewestPlaces, kMostPlaces);
        const double first = std::min(kPlaceOffset, seconds / 4);
        const double last = std::max(first, seconds - kPlacePictures / av_q2d(DvdFrameRate(req.tv)));
        for (int k = 0; k < places; ++k)
            samples.push_back(PlaceSample(first + (last - first) * k / (places - 1)));
    }
    if (!forced) {
        const int looks =
            seconds > 0 ? std::clamp(static_cast<int>(seconds / kSecondsPerLook), kFewestLooks, kMostLooks) : 1;
        for (int k = 0; k < looks; ++k) {
            const double at = seconds > 0 ? seconds * (k + 0.5) / looks : 0;
            // The difficulty look's nearest place serves the quantiser too.
            auto nearest = std::min_element(samples.begin(), samples.end(), [&](const Sample& a, const Sample& b) {
                return std::abs(a.seconds - at) < std::abs(b.seconds - at);
            });
            if (nearest != samples.end() && !nearest->demand) {
                nearest->demand = true;
                continue;
            }
            Sample s = PlaceSample(at);
            s.seek = seconds > 0;
            s.difficulty = false;
            s.demand = true;
            samples.push_back(s);
        }
    }
    SampleRunner runner(req, video);
    runner.Run(&samples);

    double bits = 0;
    for (const Sample& s : samples) {
        if (!s.demand || !s.ok)
            continue;
        bits += GopBits(s.atCoarsestStep, gop) * s.taken / gop;
        look.pictures += s.taken;
    }
    if (forced) {
        look.quantiser = *forced;
    } else if (look.pictures >= kPlacePictures) {
        look.linearDemand = bits * av_q2d(DvdFrameRate(req.tv)) / look.pictures;
        look.quantiser = ChooseQuantiser(look.linearDemand);
    } // else too little seen to trust: the quantiser that always holds the size

    if (!plan)
        return look;
    std::vector<Sample> found;
    std::copy_if(samples.begin(), samples.end(), std::back_inserter(found),
                 [](const Sample& s) { return s.difficulty; });
    // A movie that cannot be sought (the look would see its start only, and take a busy movie
    // for a calm one) gets no plan: the one-pass rate control keeps to the average.
    if (!std::all_of(found.begin(), found.end(), [](const Sample& s) { return s.ok; }))
        return look;
    const double gopBits = static_cast<double>(ChooseVideoBitrate()) * gop / av_q2d(DvdFrameRate(req.tv));
    if (!RefineAtSceneChanges(&runner, &found, gop, gopBits, std::max(static_cast<int>(found.size()), kFewestRefined)))
        return look;
    for (const Sample& s : found)
        look.places.push_back(
            {s.start, Complexity(s, gop), s.taken / av_q2d(DvdFrameRate(req.tv)), 0, FinestComplexity(s, gop)});
    return look;
}

} // namespace qx::enc
