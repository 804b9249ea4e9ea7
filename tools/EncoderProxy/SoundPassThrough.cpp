#include "SoundPassThrough.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace qx::enc {
namespace {

constexpr int kFrameSamples = 1536; // every AC-3 frame
constexpr int kDiscRate = 48000;

bool NativeLayout(const AVCodecParameters* par, AVChannelLayout* layout) {
    if (par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
        return av_channel_layout_copy(layout, &par->ch_layout) == 0;
    av_channel_layout_default(layout, par->ch_layout.nb_channels);
    return layout->order == AV_CHANNEL_ORDER_NATIVE;
}

// Silence is made by our own encoder in the movie's layout and rate, so the track stays one kind.
bool EncoderMakes(const AVChannelLayout& layout, int64_t bitrate) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AC3);
    CodecPtr enc(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!enc)
        return false;
    enc->sample_rate = kDiscRate;
    enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
    enc->bit_rate = bitrate;
    enc->time_base = AVRational{1, kDiscRate};
    if (av_channel_layout_copy(&enc->ch_layout, &layout) < 0)
        return false;
    return avcodec_open2(enc.get(), codec, nullptr) >= 0;
}

} // namespace

DvdSound SoundForTheDisc(const AVStream* st) {
    DvdSound sound;
    const AVCodecParameters* par = st->codecpar;
    if (par->codec_id != AV_CODEC_ID_AC3 || par->sample_rate != kDiscRate || par->bit_rate <= 0 ||
        par->bit_rate > kMostDiscAc3Bitrate || par->ch_layout.nb_channels < 1 || par->ch_layout.nb_channels > 6)
        return sound;
    AVChannelLayout layout{};
    if (!NativeLayout(par, &layout) || !EncoderMakes(layout, par->bit_rate)) {
        av_channel_layout_uninit(&layout);
        return sound;
    }
    sound.passThrough = true;
    sound.channelMask = layout.u.mask;
    sound.bitrate = par->bit_rate;
    av_channel_layout_uninit(&layout);
    return sound;
}

struct Ac3Frames::Parser {
    AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_AC3);
    CodecPtr context{avcodec_alloc_context3(nullptr)};
    ~Parser() { av_parser_close(parser); }
};

Ac3Frames::Ac3Frames(const AVStream* st, int64_t startUs, FrameFn frame, SilenceFn silence)
    : timeBase_(st->time_base), offset_(av_rescale_q(startUs, AV_TIME_BASE_Q, st->time_base)), frame_(std::move(frame)),
      silence_(std::move(silence)), parser_(std::make_unique<Parser>()) {
    if (parser_->context)
        parser_->context->codec_id = AV_CODEC_ID_AC3;
}

Ac3Frames::~Ac3Frames() = default;

bool Ac3Frames::Take(const AVPacket* pkt, std::string* error) {
    if (!parser_->parser || !parser_->context) {
        *error = "FFmpeg lacks the AC-3 parser";
        return false;
    }
    const uint8_t* data = pkt ? pkt->data : nullptr;
    int left = pkt ? pkt->size : 0;
    const int64_t pts = pkt ? pkt->pts : AV_NOPTS_VALUE;
    const int64_t dts = pkt ? pkt->dts : AV_NOPTS_VALUE;
    do {
        uint8_t* out = nullptr;
        int outSize = 0;
        const int used = av_parser_parse2(parser_->parser, parser_->context.get(), &out, &outSize, data, left, pts, dts,
                                          pkt ? pkt->pos : -1);
        if (used < 0)
            return true; // a damaged packet costs its sound, not the movie
        data += used;
        left -= used;
        if (outSize > 0 && !Frame(out, outSize, parser_->parser->pts, error))
            return false;
        if (outSize == 0 && (!pkt || used == 0))
            break; // flushed, or a parser that takes nothing more

    } while (left > 0 || !pkt);
    return true;
}

bool Ac3Frames::Frame(const uint8_t* data, int size, int64_t pts, std::string* error) {
    if (pts != AV_NOPTS_VALUE) {
        // Times that do not advance are ignored: the frame follows the one before.
        const int64_t at = av_rescale_q(pts - offset_, timeBase_, AVRational{1, kDiscRate});
        if (at >= samples_ + kFrameSamples && !FillTo(at, error))
            return false;
    }
    const AVCodecContext* c = parser_->context.get();
    const bool fits = c->codec_id == AV_CODEC_ID_AC3 && c->sample_rate == kDiscRate && c->bit_rate > 0 &&
                      c->bit_rate <= kMostDiscAc3Bitrate && parser_->parser->duration == kFrameSamples;
    samples_ += kFrameSamples;
    if (!fits)
        return silence_(1, error);
    out_->data = const_cast<uint8_t*>(data);
    out_->size = size;
    return frame_(out_.get(), error);
}

bool Ac3Frames::FillTo(int64_t samples, std::string* error) {
    // Whole frames, rounded to the nearest, so the sound never runs ahead of the time asked for by
    // more than half a frame.
    const int64_t missing = samples - samples_ + kFrameSamples / 2;
    if (missing < kFrameSamples)
        return true;
    const int frames = static_cast<int>(missing / kFrameSamples);
    samples_ += static_cast<int64_t>(frames) * kFrameSamples;
    return silence_(frames, error);
}

} // namespace qx::enc
