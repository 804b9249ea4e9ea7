#include "DvdWriter.h"
#include "TestHooks.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "SceneCuts.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

namespace qx::enc {
namespace {

static_assert(DvdSound{}.bitrate == kAudioBitrate, "the stereo track encoded here");

constexpr int kMuxRate = 10080000; // bits per second, the DVD's mux rate
constexpr int kPreloadUs = 500000;
constexpr int kMaxDelayUs = 700000;
constexpr int kAvioBufferSize = 64 * 1024;

// Share of the stream taken by pack and PES headers, padding and nav packs, measured on our own
// output: the picture gets what is left of the target once sound and this are paid for.
constexpr double kMuxOverhead = 0.035;
// How fast the picture stream makes up a shortfall against its share.
constexpr double kPaceProportionalSeconds = 0.5;
constexpr double kPaceIntegralSeconds = 2.0;

struct AvioCloser {
    void operator()(AVIOContext* pb) const {
        if (pb) {
            av_freep(&pb->buffer);
            avio_context_free(&pb);
        }
    }
};
struct OutputCloser {
    void operator()(AVFormatContext* oc) const { avformat_free_context(oc); }
};

int WritePackets(void* opaque, uint8_t* buf, int size);

} // namespace

int EncoderThreads() {
    unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 8u));
}

void SetPictureEncoder(AVCodecContext* v, TvStandard tv, bool wide, Quantiser quantiser) {
    const int lines = FrameLines(tv);
    v->width = 720;
    v->height = lines;
    v->pix_fmt = AV_PIX_FMT_YUV420P;
    v->framerate = DvdFrameRate(tv);
    v->time_base = av_inv_q(v->framerate);
    // Sample aspect that makes the 720-wide frame show at 4:3 or 16:9.
    AVRational dar = wide ? AVRational{16, 9} : AVRational{4, 3};
    av_reduce(&v->sample_aspect_ratio.num, &v->sample_aspect_ratio.den, static_cast<int64_t>(dar.num) * lines,
              static_cast<int64_t>(dar.den) * 720, 1 << 16);
    v->gop_size = MaxGop(tv);
    // P pictures only: on RealMedia-sized movies B pictures in closed GOPs lost 0.1-0.3 dB SSIM at
    // the same size (they won only on cellular noise), for a fifth more processor time.
    v->max_b_frames = 0;
    v->flags |= AV_CODEC_FLAG_CLOSED_GOP;
    // Closed GOPs rule out scene-change I pictures in FFmpeg's encoder; every GOP still starts a VOBU.
    av_opt_set_int(v->priv_data, "sc_threshold", 1000000000, 0);
    if (quantiser == Quantiser::NonLinear) {
        // Reaches coarser steps, so busy movies still fit their share; finer pictures elsewhere
        // come from the linear one.
        av_opt_set_int(v->priv_data, "non_linear_quant", 1, 0);
        v->qmax = 28; // the highest FFmpeg takes with the non-linear quantiser
    } else {
        v->qmax = 31;
        // The I pictures of scenes coded at the finest step go one finer (0.6 of it): a still or
        // calm scene has the bits, its P pictures refine little on what the I picture left, and
        // held at FFmpeg's finest the calm halves of calm-then-busy movies came out 2-3 dB SSIM
        // below what they reach (the busy halves lose up to 0.05 dB, the whole gains up to 0.14).
        v->qmin = 1;
        // I pictures quantised at 0.6 of the P pictures' step rather than FFmpeg's 0.8: every P
        // picture of the closed GOP is predicted from them, and the finer start gave 0.01-0.23 dB
        // more SSIM at the same size on every kind of picture measured (most on smooth motion and
        // scrolling detail). Not for the busy movies the non-linear quantiser is for: their larger
        // I pictures would push them past their share.
        v->i_quant_factor = static_cast<float>(-kLinearKeyFactor);
    }
    // Intra pictures keep the first AC table: FFmpeg's encoder gave 0.02-0.09 dB more SSIM at the same
    // size with it on busy movies than with the alternative intra table.
    // One slice context per core and one more, as FFmpeg takes by itself: every core encodes each
    // picture, and still scenes with source noise came out 0.07-0.14 dB SSIM finer than with one
    // per core at the same step and size (busy ones alike). The stream depends on the count
    // (motion search starts afresh at each context's first row), not on how the threads run, so
    // a machine writes the same bytes for the same movie every time.
    v->thread_type = FF_THREAD_SLICE;
    v->thread_count = EncoderThreads() > 1 ? EncoderThreads() + 1 : 1;
    if (tv == TvStandard::Pal) {
        v->color_primaries = AVCOL_PRI_BT470BG;
        v->color_trc = AVCOL_TRC_GAMMA28;
        v->colorspace = AVCOL_SPC_BT470BG;
    } else {
        v->color_primaries = AVCOL_PRI_SMPTE170M;
        v->color_trc = AVCOL_TRC_SMPTE170M;
        v->colorspace = AVCOL_SPC_SMPTE170M;
    }
}

double QuantiserStep(Quantiser quantiser, double code) {
    // The non-linear quantiser's steps for codes 1 to 31; the linear one's step is twice its code.
    static const double kNonLinear[] = {1,  2,  3,  4,  5,  6,  7,  8,  10, 12, 14, 16, 18, 20,  22, 24,
                                        28, 32, 36, 40, 44, 48, 52, 56, 64, 72, 80, 88, 96, 104, 112};
    if (quantiser == Quantiser::Linear)
        return 2.0 * code;
    code = std::clamp(code, 1.0, 31.0);
    const int below = std::min(static_cast<int>(code), 30);
    return kNonLinear[below - 1] + (kNonLinear[below] - kNonLinear[below - 1]) * (code - below);
}

double QuantiserCode(Quantiser quantiser, double step) {
    if (quantiser == Quantiser::Linear)
        return step / 2.0;
    double low = 1, high = 31;
    for (int i = 0; i < 40; ++i) {
        double mid = (low + high) / 2;
        (QuantiserStep(quantiser, mid) < step ? low : high) = mid;
    }
    return (low + high) / 2;
}

int64_t ChooseVideoBitrate() {
    double total = kTargetBytesPerSecond * 8.0 * (1.0 - kMuxOverhead);
    return static_cast<int64_t>(total - kAudioBitrate);
}

struct DvdWriter::Impl {
    std::unique_ptr<PartFileOutput> out;
    std::unique_ptr<AVIOContext, AvioCloser> pb;
    std::unique_ptr<AVFormatContext, OutputCloser> oc;
    CodecPtr venc, aenc;
    AVStream* vst = nullptr;
    AVStream* ast = nullptr;
    FifoPtr fifo;
    FramePtr audioFrame;
    PacketPtr pkt;
    PacketPtr soundPkt;   // sound encoded on the decoding side (EncodeSound)
    int64_t audioPts = 0; // samples handed to the sound encoder
    // Pictures handed to the picture encoder (end of the last one); atomic because the decoding
    // side may ask how far the encoder is while it encodes on its own thread.
    std::atomic<int64_t> pictures{0};
    int64_t videoBytes = 0; // picture stream bytes out of the encoder
    int64_t audioBytes = 0;
    int64_t videoPacketEnd = 0;    // end of the last picture out of the encoder, in frames
    double paceIntegral = 0;       // bits per second of padding this movie has needed so far
    std::unique_ptr<BitPlan> plan; // null: one-pass rate control
    int64_t planned = 0;           // pictures handed to the encoder under the plan
    SceneCuts cuts;
    std::string ioError;
    bool headerWritten = false;
};

namespace {
int WritePackets(void* opaque, uint8_t* buf, int size) {
    auto* impl = static_cast<DvdWriter::Impl*>(opaque);
    if (!impl->ioError.empty())
        return AVERROR(EIO);
    if (!impl->out->Write(buf, static_cast<size_t>(size), &impl->ioError))
        return AVERROR(EIO);
    return size;
}
} // namespace

DvdWriter::DvdWriter() : impl_(std::make_unique<Impl>()) {}
DvdWriter::~DvdWriter() = default;

AVRational DvdFrameRate(TvStandard tv) {
    return tv == TvStandard::Pal ? AVRational{25, 1} : AVRational{30000, 1001};
}

AVRational DvdWriter::FrameRate() const {
    return DvdFrameRate(settings_.tv);
}

double DvdWriter::PictureSeconds() const {
    return static_cast<double>(impl_->pictures.load()) / av_q2d(FrameRate());
}

uint64_t DvdWriter::BytesWritten() const {
    return impl_->out ? impl_->out->TotalBytes() : 0;
}

bool DvdWriter::Open(const DvdWriterSettings& settings, std::string* error) {
    settings_ = settings;
    Impl& m = *impl_;
    m.pkt.reset(av_packet_alloc());
    m.soundPkt.reset(av_packet_alloc());
    m.audioFrame.reset(av_frame_alloc());

    // Picture encoder.
    const AVCodec* vcodec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
    const AVCodec* acodec = avcodec_find_encoder(AV_CODEC_ID_AC3);
    if (!vcodec || !acodec) {
        *error = "FFmpeg lacks the MPEG-2 or AC-3 encoder";
        return false;
    }
    m.venc.reset(avcodec_alloc_context3(vcodec));
    AVCodecContext* v = m.venc.get();
    SetPictureEncoder(v, settings.tv, settings.wide, settings.quantiser);
    if (settings.interlaced)
        v->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    // A passed-through sound richer than ours takes its extra bits from the picture.
    const int64_t richerSound = std::max<int64_t>(0, settings.sound.bitrate - kAudioBitrate);
    const int64_t bufferFillBitrate = kBufferFillBitrate - richerSound;
    v->bit_rate = ChooseVideoBitrate() - richerSound;
    v->rc_max_rate = bufferFillBitrate;
    v->rc_min_rate = 0; // steered per picture by KeepPace()
    v->rc_buffer_size = kVbvBufferBits;
    v->rc_initial_buffer_occupancy = kVbvBufferBits * 3 / 4;
    BitPlanSettings plan;
    plan.seconds = settings.seconds;
    plan.frameRate = av_q2d(DvdFrameRate(settings.tv));
    plan.gopPictures = MaxGop(settings.tv);
    plan.averageBitrate = static_cast<double>(v->bit_rate);
    plan.peakBitrate = static_cast<double>(bufferFillBitrate);
    plan.finestStep = QuantiserStep(settings.quantiser, 2);
    plan.coarsestStep = QuantiserStep(settings.quantiser, v->qmax);
    m.plan = std::make_unique<BitPlan>(plan, settings.places);
    if (!m.plan->Usable()) {
        m.plan.reset();
    } else {
        // Each picture's step comes from the plan; the encoder still keeps the decoder buffer
        // (it codes a picture again, coarser, when it would not arrive in time) and pads up to
        // the minimum rate.
        v->flags |= AV_CODEC_FLAG_QSCALE;
        v->global_quality = FF_QP2LAMBDA * 4;
    }
    int rc = avcodec_open2(v, vcodec, nullptr);
    if (rc < 0) {
        *error = "cannot open the MPEG-2 encoder: " + AvError(rc);
        return false;
    }

    // Sound encoder.
    m.aenc.reset(avcodec_alloc_context3(acodec));
    AVCodecContext* a = m.aenc.get();
    a->sample_rate = 48000;
    a->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_from_mask(&a->ch_layout, settings.sound.channelMask);
    a->bit_rate = settings.sound.bitrate;
    a->time_base = AVRational{1, 48000};
    rc = avcodec_open2(a, acodec, nullptr);
    if (rc < 0) {
        *error = "cannot open the AC-3 encoder: " + AvError(rc);
        return false;
    }
    m.fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, a->ch_layout.nb_channels, kAudioFrameSamples * 4));

    // Program stream muxer with nav packs, writing through our part-file output.
    AVFormatContext* raw = nullptr;
    rc = avformat_alloc_output_context2(&raw, nullptr, "dvd", nullptr);
    if (rc < 0 || !raw) {
        *error = "FFmpeg lacks the DVD program stream muxer";
        return false;
    }
    m.oc.reset(raw);
    AVFormatContext* oc = m.oc.get();
    oc->packet_size = 2048;
    oc->max_delay = kMaxDelayUs;
    av_opt_set_int(oc->priv_data, "muxrate", kMuxRate, 0);
    av_opt_set_int(oc->priv_data, "preload", kPreloadUs, 0);
    m.vst = avformat_new_stream(oc, nullptr);
    m.ast = avformat_new_stream(oc, nullptr);
    if (!m.vst || !m.ast) {
        *error = "out of memory";
        return false;
    }
    avcodec_parameters_from_context(m.vst->codecpar, v);
    m.vst->time_base = v->time_base;
    m.vst->sample_aspect_ratio = v->sample_aspect_ratio;
    m.vst->avg_frame_rate = v->framerate;
    avcodec_parameters_from_context(m.ast->codecpar, a);
    m.ast->time_base = a->time_base;
    subpictureMux_ = std::make_unique<SubpictureMux>(settings.subpictures);
    if (!subpictureMux_->AddStreams(oc, error))
        return false;

    m.out = std::make_unique<PartFileOutput>(settings.output, settings.partFiles, settings.partLimit, settings.opener);
    if (!m.out->Open(error))
        return false;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kAvioBufferSize));
    m.pb.reset(avio_alloc_context(buffer, kAvioBufferSize, 1, &m, nullptr, WritePackets, nullptr));
    if (!m.pb) {
        av_free(buffer);
        *error = "out of memory";
        return false;
    }
    m.pb->seekable = 0;
    oc->pb = m.pb.get();
    oc->flags |= AVFMT_FLAG_CUSTOM_IO;
    rc = avformat_write_header(oc, nullptr);
    if (rc < 0) {
        *error = m.ioError.empty() ? "cannot start the program stream: " + AvError(rc) : m.ioError;
        return false;
    }
    m.headerWritten = true;
    return true;
}

bool DvdWriter::EncodeAndMux(AVCodecContext* enc, AVStream* st, const AVFrame* frame, std::string* error) {
    Impl& m = *impl_;
    return Encode(enc, frame, m.pkt.get(), error,
                  [&](AVPacket* pkt, std::string* e) { return Mux(st, pkt, frame, e); });
}

bool DvdWriter::Encode(AVCodecContext* enc, const AVFrame* frame, AVPacket* pkt, std::string* error,
                       const std::function<bool(AVPacket*, std::string*)>& take) {
    int rc = avcodec_send_frame(enc, frame);
    if (rc < 0 && !(frame == nullptr && rc == AVERROR_EOF)) {
        *error = std::string("the ") + enc->codec->name + " encoder failed: " + AvError(rc);
        return false;
    }
    while (true) {
        rc = avcodec_receive_packet(enc, pkt);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0) {
            *error = std::string("the ") + enc->codec->name + " encoder failed: " + AvError(rc);
            return false;
        }
        const bool ok = take(pkt, error);
        av_packet_unref(pkt);
        if (!ok)
            return false;
    }
}

// Writes an encoded packet of the picture or the sound stream (`frame`: what it was encoded from).
bool DvdWriter::Mux(AVStream* st, AVPacket* pkt, const AVFrame* frame, std::string* error) {
    Impl& m = *impl_;
    AVCodecContext* enc = st == m.vst ? m.venc.get() : m.aenc.get();
    if (st == m.vst) {
        m.videoBytes += pkt->size;
        if (m.plan) {
            // A picture ends with its last slice's bits; zero bytes after them are stuffing.
            int zeros = 0;
            while (zeros < pkt->size && pkt->data[pkt->size - 1 - zeros] == 0)
                ++zeros;
            m.plan->PictureCoded(8.0 * pkt->size, 8.0 * std::max(0, zeros - 1));
        }
        m.videoPacketEnd = std::max(m.videoPacketEnd, pkt->pts + std::max<int64_t>(1, pkt->duration));
    } else {
        m.audioBytes += pkt->size;
        // Among the movie's own frames a silent one goes exactly where it was put; the encoder
        // would set it back by its start-up delay, and the times would run backwards.
        if (settings_.sound.passThrough && frame)
            pkt->pts = pkt->dts = frame->pts;
    }
    av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
    pkt->stream_index = st->index;
    const int rc = av_interleaved_write_frame(m.oc.get(), pkt);
    if (rc < 0) {
        *error = !m.ioError.empty() ? m.ioError : "cannot write the program stream: " + AvError(rc);
        return false;
    }
    return true;
}

bool DvdWriter::WritePicture(AVFrame* picture, std::string* error, const CutSeen* seen) {
    Impl& m = *impl_;
    if (picture->width != 720 || picture->height != Lines() || picture->format != AV_PIX_FMT_YUV420P) {
        *error = "internal error: picture is not a full DVD frame";
        return false;
    }
    picture->pict_type = AV_PICTURE_TYPE_NONE;
    picture->sample_aspect_ratio = m.venc->sample_aspect_ratio;
    if (m.plan)
        FollowPlan(picture, seen);
    const int64_t ticks = av_rescale_q(picture->pts, av_inv_q(FrameRate()), AVRational{1, 90000});
    if (int rc = subpictureMux_->WriteUntil(m.oc.get(), ticks, SubpictureMux::kLeadTicks); rc < 0) {
        *error = !m.ioError.empty() ? m.ioError : "cannot write the program stream: " + AvError(rc);
        return false;
    }
    if (!EncodeAndMux(m.venc.get(), m.vst, picture, error))
        return false;
    m.pictures = std::max(m.pictures.load(), picture->pts + 1);
    if (!m.plan)
        KeepPace();
    return true;
}

// Sets the picture's step from the plan, which is asked again at the start of every GOP (the
// encoder starts one every MaxGop pictures). The encoder hands each picture out when it is given
// the next one; the plan follows what it has handed out so far.
void DvdWriter::FollowPlan(AVFrame* picture, const CutSeen* seen) {
    Impl& m = *impl_;
    const int gop = MaxGop(settings_.tv);
    const int index = static_cast<int>(m.planned % gop);
    const CutSeen found =
        seen ? *seen : m.cuts.See(picture->data[0], picture->linesize[0], picture->width, picture->height);
    const bool cut = found.cut;
    double code;
    if (index == 0) {
        BitPlan::GopChoice c = m.plan->StartGop(m.planned, cut);
        m.venc->rc_min_rate = static_cast<int64_t>(c.minimumBitrate);
        if (qx::hooks::IsSet("QX_ENCODER_DEBUG_PLAN"))
            std::fprintf(stderr, "gop %lld: spent %.0f target %.0f step %.2f floor %.0f\n",
                         static_cast<long long>(m.planned / gop), m.plan->Spent(), c.targetBits, c.step,
                         c.minimumBitrate);
        code = QuantiserCode(settings_.quantiser, c.step) *
               (settings_.quantiser == Quantiser::Linear ? kLinearKeyFactor : kNonLinearKeyFactor);
    } else {
        const double step = m.plan->PictureStep(index, cut, found.repeated);
        m.venc->rc_min_rate = static_cast<int64_t>(m.plan->MinimumBitrate());
        if (qx::hooks::IsSet("QX_ENCODER_DEBUG_PLAN"))
            std::fprintf(stderr, "  picture %d: step %.2f\n", index, step);
        code = QuantiserCode(settings_.quantiser, step);
    }
    picture->quality = static_cast<int>(std::lround(FF_QP2LAMBDA * std::max(1.0, code)));
    ++m.planned;
}

// FFmpeg's rate control spends less than asked on simple pictures (it cannot go below its finest
// quantiser), and the disc budget counts every movie at the same rate. So the encoder's minimum
// rate is steered: when the picture stream falls behind its share, the floor rises above the
// average and the encoder pads pictures up to it; when it is ahead, the floor drops to 0.
void DvdWriter::KeepPace() {
    Impl& m = *impl_;
    const double fps = av_q2d(FrameRate());
    // Measured at the encoder's output: pictures still inside it (B-picture delay) are not yet paid for.
    const double seconds = m.videoPacketEnd / fps;
    const double deficitBits =
        static_cast<double>(m.venc->bit_rate) * seconds - 8.0 * static_cast<double>(m.videoBytes);
    // A proportional part for quick corrections and an integral part that learns how much padding
    // this movie needs (none for a movie that fills its share by itself).
    m.paceIntegral =
        std::clamp(m.paceIntegral + deficitBits / fps / kPaceIntegralSeconds, 0.0, kPeakVideoBitrate * 0.8);
    double floor = std::clamp(deficitBits / kPaceProportionalSeconds + m.paceIntegral, 0.0, kPeakVideoBitrate * 0.8);
    m.venc->rc_min_rate = static_cast<int64_t>(floor);
}

bool DvdWriter::EncodeSound(const AVFrame* samples, std::vector<PacketPtr>* packets, std::string* error) {
    Impl& m = *impl_;
    if (samples->format != AV_SAMPLE_FMT_FLTP || samples->ch_layout.nb_channels != m.aenc->ch_layout.nb_channels ||
        samples->sample_rate != 48000) {
        *error = "internal error: sound is not 48 kHz in the track's channels";
        return false;
    }
    if (av_audio_fifo_write(m.fifo.get(), reinterpret_cast<void**>(const_cast<uint8_t**>(samples->extended_data)),
                            samples->nb_samples) < samples->nb_samples) {
        *error = "out of memory";
        return false;
    }
    return DrainSound(error, [&](AVPacket* pkt, std::string* e) {
        PacketPtr copy(av_packet_alloc());
        if (!copy) {
            *e = "out of memory";
            return false;
        }
        av_packet_move_ref(copy.get(), pkt);
        packets->push_back(std::move(copy));
        return true;
    });
}

bool DvdWriter::WriteSoundPackets(std::vector<PacketPtr>* packets, std::string* error) {
    for (PacketPtr& pkt : *packets)
        if (!Mux(impl_->ast, pkt.get(), nullptr, error))
            return false;
    packets->clear();
    return true;
}

bool DvdWriter::DrainSound(std::string* error, const std::function<bool(AVPacket*, std::string*)>& take) {
    Impl& m = *impl_;
    while (av_audio_fifo_size(m.fifo.get()) >= kAudioFrameSamples) {
        AVFrame* f = m.audioFrame.get();
        av_frame_unref(f);
        f->nb_samples = kAudioFrameSamples;
        f->format = AV_SAMPLE_FMT_FLTP;
        f->sample_rate = 48000;
        av_channel_layout_copy(&f->ch_layout, &m.aenc->ch_layout);
        if (av_frame_get_buffer(f, 0) < 0) {
            *error = "out of memory";
            return false;
        }
        av_audio_fifo_read(m.fifo.get(), reinterpret_cast<void**>(f->extended_data), kAudioFrameSamples);
        f->pts = m.audioPts;
        m.audioPts += kAudioFrameSamples;
        const bool ok =
            take ? Encode(m.aenc.get(), f, m.soundPkt.get(), error, take) : EncodeAndMux(m.aenc.get(), m.ast, f, error);
        if (!ok)
            return false;
    }
    return true;
}

bool DvdWriter::PadSound(double seconds, std::string* error) {
    return PadSoundTo(static_cast<int64_t>(std::ceil(seconds * 48000.0)), error);
}

bool DvdWriter::PadSoundTo(int64_t want, std::string* error) {
    Impl& m = *impl_;
    if (settings_.sound.passThrough) // whole frames, so the movie's next frame starts on one
        want = (want + kAudioFrameSamples - 1) / kAudioFrameSamples * kAudioFrameSamples;
    int64_t have = m.audioPts + av_audio_fifo_size(m.fifo.get());
    if (want <= have)
        return true;
    int64_t missing = want - have;
    std::vector<float> zeros(static_cast<size_t>(std::min<int64_t>(missing, 48000)), 0.0f);
    while (missing > 0) {
        int n = static_cast<int>(std::min<int64_t>(missing, static_cast<int64_t>(zeros.size())));
        std::vector<void*> planes(static_cast<size_t>(m.aenc->ch_layout.nb_channels), zeros.data());
        if (av_audio_fifo_write(m.fifo.get(), planes.data(), n) < n) {
            *error = "out of memory";
            return false;
        }
        missing -= n;
        if (!DrainSound(error))
            return false;
    }
    return true;
}

bool DvdWriter::WriteSilentFrames(int frames, std::string* error) {
    const int64_t have = impl_->audioPts + av_audio_fifo_size(impl_->fifo.get());
    return PadSoundTo(have + static_cast<int64_t>(frames) * kAudioFrameSamples, error);
}

bool DvdWriter::WriteSoundFrame(const AVPacket* frame, std::string* error) {
    Impl& m = *impl_;
    if (!settings_.sound.passThrough || av_audio_fifo_size(m.fifo.get()) != 0) {
        *error = "internal error: an AC-3 frame for a track that is not passed through";
        return false;
    }
    PacketPtr pkt(av_packet_clone(frame));
    if (!pkt) {
        *error = "out of memory";
        return false;
    }
    pkt->pts = pkt->dts = m.audioPts;
    pkt->duration = kAudioFrameSamples;
    m.audioPts += kAudioFrameSamples;
    m.audioBytes += pkt->size;
    av_packet_rescale_ts(pkt.get(), m.aenc->time_base, m.ast->time_base);
    pkt->stream_index = m.ast->index;
    const int rc = av_interleaved_write_frame(m.oc.get(), pkt.get());
    if (rc < 0) {
        *error = !m.ioError.empty() ? m.ioError : "cannot write the program stream: " + AvError(rc);
        return false;
    }
    return true;
}

bool DvdWriter::Finish(std::string* error) {
    Impl& m = *impl_;
    if (!EncodeAndMux(m.venc.get(), m.vst, nullptr, error))
        return false;
    if (!PadSound(PictureSeconds(), error))
        return false;
    // The encoder takes whole AC-3 frames only: round the tail up with silence.
    int rest = av_audio_fifo_size(m.fifo.get());
    if (rest > 0 && !PadSound((m.audioPts + kAudioFrameSamples) / 48000.0, error))
        return false;
    if (!EncodeAndMux(m.aenc.get(), m.ast, nullptr, error))
        return false;
    // Subpictures still to come start before the last picture ends; later ones stay out.
    const int64_t endTicks = static_cast<int64_t>(PictureSeconds() * 90000.0);
    if (int rc = subpictureMux_->WriteUntil(m.oc.get(), endTicks - 1, 0); rc < 0) {
        *error = !m.ioError.empty() ? m.ioError : "cannot write the program stream: " + AvError(rc);
        return false;
    }
    int rc = av_write_trailer(m.oc.get());
    if (rc < 0) {
        *error = !m.ioError.empty() ? m.ioError : "cannot end the program stream: " + AvError(rc);
        return false;
    }
    avio_flush(m.pb.get());
    if (!m.ioError.empty()) {
        *error = m.ioError;
        return false;
    }
    // Diagnostic for tuning the rate: what the encoders produced against what was written.
    if (qx::hooks::IsSet("QX_ENCODER_DEBUG_RATE"))
        std::fprintf(stderr, "rate: video %lld audio %lld file %llu seconds %.3f\n", (long long)m.videoBytes,
                     (long long)m.audioBytes, (unsigned long long)m.out->TotalBytes(), PictureSeconds());
    return m.out->Close(error);
}

void DvdWriter::Discard() {
    if (impl_->out)
        impl_->out->Discard();
}

} // namespace qx::enc
