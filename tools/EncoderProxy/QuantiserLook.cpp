#include "QuantiserLook.h"

#include <algorithm>

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

// Encodes `pictures` pictures of the movie from where it stands; the bytes the encoder made.
class GopSample {
public:
    GopSample(AVFormatContext* fmt, AVCodecContext* dec, int video) : fmt_(fmt), dec_(dec), video_(video) {}

    // False when the encoder or the filters cannot be set up; *pictures tells how many went in.
    bool Take(const ConvertRequest& req, int wanted, int64_t* bytes, int* pictures) {
        std::string error;
        Chain chain;
        if (!BuildPictureChain(&chain, fmt_, video_, req, false, &error))
            return false;
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
        CodecPtr enc(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!enc)
            return false;
        SetPictureEncoder(enc.get(), req.tv, req.wide, Quantiser::Linear);
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = FF_QP2LAMBDA * kCoarsestLinearStep;
        if (avcodec_open2(enc.get(), codec, nullptr) < 0)
            return false;
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
                    picture_->pts = in++;
                    picture_->pict_type = AV_PICTURE_TYPE_NONE;
                    picture_->quality = enc->global_quality; // a fixed step takes it from each picture
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

} // namespace qx::enc
