#include "QuantiserLook.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "FilterChain.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace qx::enc {
namespace {

// One look per this many seconds of movie, within these bounds: a few pictures of a two-hour
// movie cost a second or two; a short clip still gets two.
constexpr double kSecondsPerLook = 20.0;
constexpr int kFewestLooks = 2;
constexpr int kMostLooks = 8;
constexpr int kCoarsestLinearStep = 31;
// The difficulty look: one GOP per this many seconds, at most this many in all (a two-hour movie
// is looked at every 18 s), at a step near the ones a DVD's rate leads to.
constexpr double kSecondsPerPlace = 4.0;
constexpr int kMostPlaces = 400;
constexpr double kLookLinearCode = 6;
constexpr double kLookNonLinearCode = 10;

// Encodes `pictures` pictures of the movie from where it stands; the bytes the encoder made.
class GopSample {
public:
    GopSample(AVFormatContext* fmt, AVCodecContext* dec, int video) : fmt_(fmt), dec_(dec), video_(video) {}

    // Encodes at quantiser code `code` of `quantiser`, the I picture at `keyFactor` of it, on
    // `threads` slice threads. False when the encoder or the filters cannot be set up; *pictures
    // tells how many went in, *startSeconds where the first of them shows (when not null).
    bool Take(const ConvertRequest& req, int wanted, int64_t* bytes, int* pictures,
              Quantiser quantiser = Quantiser::Linear, double code = kCoarsestLinearStep, double keyFactor = 1.0,
              int threads = 0, double* startSeconds = nullptr) {
        std::string error;
        Chain chain;
        if (!BuildPictureChain(&chain, fmt_, video_, req, false, &error))
            return false;
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
        CodecPtr enc(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!enc)
            return false;
        SetPictureEncoder(enc.get(), req.tv, req.wide, quantiser);
        if (threads > 0)
            enc->thread_count = threads;
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = static_cast<int>(FF_QP2LAMBDA * code);
        if (avcodec_open2(enc.get(), codec, nullptr) < 0)
            return false;
        const AVRational sinkBase = av_buffersink_get_time_base(chain.sink);
        int in = 0;
        bool eof = false;
        while (in < wanted && !eof) {
            int rc = av_read_frame(fmt_, pkt_.get());
            if (rc < 0) {
                eof = true;
                avcodec_send_packet(dec_, nullptr);
            } else if (pkt_->stream_index == video_) {
                avcodec_send_packet(dec_, pkt_.get());
            }
            av_packet_unref(pkt_.get());
            while (in < wanted && avcodec_receive_frame(dec_, frame_.get()) == 0) {
                frame_->pts = frame_->best_effort_timestamp;
                bool timed = frame_->pts != AV_NOPTS_VALUE;
                if (timed && av_buffersrc_add_frame_flags(chain.src, frame_.get(), 0) < 0)
                    return false;
                av_frame_unref(frame_.get());
                while (in < wanted && av_buffersink_get_frame(chain.sink, picture_.get()) >= 0) {
                    if (in == 0 && startSeconds && picture_->pts != AV_NOPTS_VALUE)
                        *startSeconds = static_cast<double>(picture_->pts) * av_q2d(sinkBase);
                    // A fixed step takes it from each picture; the GOP's first is the I picture.
                    picture_->quality = static_cast<int>(enc->global_quality * (in == 0 ? keyFactor : 1.0));
                    picture_->pts = in++;
                    picture_->pict_type = AV_PICTURE_TYPE_NONE;
                    bool sent = avcodec_send_frame(enc.get(), picture_.get()) >= 0;
                    av_frame_unref(picture_.get());
                    if (!sent)
                        return false;
                    Drain(enc.get(), bytes);
                }
            }
        }
        avcodec_send_frame(enc.get(), nullptr);
        Drain(enc.get(), bytes);
        *pictures += in;
        return true;
    }

private:
    void Drain(AVCodecContext* enc, int64_t* bytes) {
        while (avcodec_receive_packet(enc, pkt_.get()) == 0) {
            *bytes += pkt_->size;
            av_packet_unref(pkt_.get());
        }
    }

    AVFormatContext* fmt_;
    AVCodecContext* dec_;
    int video_;
    PacketPtr pkt_{av_packet_alloc()};
    FramePtr frame_{av_frame_alloc()}, picture_{av_frame_alloc()};
};

} // namespace

Quantiser ChooseQuantiser(double linearDemand) {
    return linearDemand > kLinearDemandLimit * static_cast<double>(ChooseVideoBitrate()) ? Quantiser::NonLinear
                                                                                         : Quantiser::Linear;
}

QuantiserLook LookAtMovie(const ConvertRequest& req, int video, double seconds) {
    QuantiserLook look;
    std::string error;
    InputPtr fmt = OpenMovie(req.input, &error);
    if (!fmt || video < 0 || video >= static_cast<int>(fmt->nb_streams))
        return look;
    CodecPtr dec = OpenDecoder(fmt.get(), video, &error);
    if (!dec)
        return look;
    const int gop = MaxGop(req.tv);
    const int looks =
        seconds > 0 ? std::clamp(static_cast<int>(seconds / kSecondsPerLook), kFewestLooks, kMostLooks) : 1;
    AVStream* st = fmt->streams[video];
    const int64_t startUs = fmt->start_time != AV_NOPTS_VALUE ? fmt->start_time : 0;
    GopSample sample(fmt.get(), dec.get(), video);
    int64_t bytes = 0;
    for (int k = 0; k < looks; ++k) {
        if (seconds > 0) {
            // The key picture at or before the place, so the sample decodes cleanly.
            int64_t at = startUs + static_cast<int64_t>(seconds * 1e6 * (k + 0.5) / looks);
            int64_t ts = av_rescale_q(at, AV_TIME_BASE_Q, st->time_base);
            if (avformat_seek_file(fmt.get(), video, INT64_MIN, ts, ts, 0) < 0)
                break;
            avcodec_flush_buffers(dec.get());
        }
        if (!sample.Take(req, gop, &bytes, &look.pictures))
            break;
    }
    if (look.pictures < gop)
        return look; // too little seen to trust: the quantiser that always holds the size
    look.linearDemand = 8.0 * static_cast<double>(bytes) * av_q2d(DvdFrameRate(req.tv)) / look.pictures;
    look.quantiser = ChooseQuantiser(look.linearDemand);
    return look;
}

std::vector<PlaceDifficulty> LookAtDifficulty(const ConvertRequest& req, int video, double seconds,
                                              Quantiser quantiser) {
    std::vector<PlaceDifficulty> places;
    if (seconds <= 0)
        return places;
    const int count = std::clamp(static_cast<int>(seconds / kSecondsPerPlace), 1, kMostPlaces);
    const int gop = MaxGop(req.tv);
    const double code = quantiser == Quantiser::Linear ? kLookLinearCode : kLookNonLinearCode;
    const double keyFactor = quantiser == Quantiser::Linear ? kLinearKeyFactor : kNonLinearKeyFactor;
    const double step = QuantiserStep(quantiser, code);
    // Each thread looks at every n-th place with its own reader, decoder and a one-thread
    // encoder, so the figures do not depend on how the threads run.
    const int threads = std::min(EncoderThreads(), count);
    std::vector<PlaceDifficulty> found(static_cast<size_t>(count));
    std::vector<char> ok(static_cast<size_t>(count), 0);
    auto look = [&](int first) {
        std::string error;
        InputPtr fmt = OpenMovie(req.input, &error);
        if (!fmt || video < 0 || video >= static_cast<int>(fmt->nb_streams))
            return;
        CodecPtr dec = OpenDecoder(fmt.get(), video, &error);
        if (!dec)
            return;
        AVStream* st = fmt->streams[video];
        const int64_t startUs = fmt->start_time != AV_NOPTS_VALUE ? fmt->start_time : 0;
        GopSample sample(fmt.get(), dec.get(), video);
        for (int k = first; k < count; k += threads) {
            int64_t at = startUs + static_cast<int64_t>(seconds * 1e6 * k / count);
            int64_t ts = av_rescale_q(at, AV_TIME_BASE_Q, st->time_base);
            if (avformat_seek_file(fmt.get(), video, INT64_MIN, ts, ts, 0) < 0)
                return;
            avcodec_flush_buffers(dec.get());
            int64_t bytes = 0;
            int pictures = 0;
            double start = seconds * k / count;
            if (!sample.Take(req, gop, &bytes, &pictures, quantiser, code, keyFactor, 1, &start) || pictures == 0)
                continue;
            // A short sample (the movie's end) stands for a whole GOP.
            found[static_cast<size_t>(k)] = {start - static_cast<double>(startUs) / 1e6,
                                             8.0 * static_cast<double>(bytes) * step * gop / pictures};
            ok[static_cast<size_t>(k)] = 1;
        }
    };
    std::vector<std::thread> workers;
    for (int t = 1; t < threads; ++t)
        workers.emplace_back(look, t);
    look(0);
    for (std::thread& w : workers)
        w.join();
    // A movie that cannot be sought (the look would see its start only, and take a busy movie
    // for a calm one) gets no plan: the one-pass rate control keeps to the average.
    if (std::count(ok.begin(), ok.end(), 1) < count)
        return places;
    return found;
}

} // namespace qx::enc
