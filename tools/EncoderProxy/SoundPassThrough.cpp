#include "SoundPassThrough.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace qx::enc {
namespace {

constexpr int kFrameSamples = 1536; // every AC-3 frame
constexpr int kDiscRate = 48000;
// A time further ahead than this is taken for a broken one, not a pause: a real pause in the sound
// is filled as the picture passes it (never more than a few seconds behind), so what is left of it
// when the sound comes back is short.
constexpr int64_t kMostGapSamples = 30 * kDiscRate;

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

bool ReadAc3Header(const uint8_t* p, size_t left, Ac3Header* header) {
    // Sync word, CRC, then fscod (2 bits) and frmsizecod (6), then bsid (5) and bsmod (3).
    static const int kKbps[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                  192, 224, 256, 320, 384, 448, 512, 576, 640};
    if (left < 6 || p[0] != 0x0B || p[1] != 0x77)
        return false;
    const int rateCode = p[4] >> 6, sizeCode = p[4] & 0x3F, bsid = p[5] >> 3;
    if (rateCode == 3 || sizeCode >= 38 || bsid > 10)
        return false;
    const int kbps = kKbps[sizeCode >> 1];
    const int words = rateCode == 0   ? kbps * 2
                      : rateCode == 2 ? kbps * 3
                                      : kbps * 320 / 147 + (sizeCode & 1); // 44.1 kHz: 1536 samples' worth
    header->bytes = 2 * words;
    header->kbps = kbps;
    header->fitsTheDisc = rateCode == 0 && bsid <= 8 && kbps * 1000 <= kMostDiscAc3Bitrate;
    return true;
}

Ac3Frames::Ac3Frames(const AVStream* st, int64_t startUs, FrameFn frame, SilenceFn silence)
    : timeBase_(st->time_base), offset_(av_rescale_q(startUs, AV_TIME_BASE_Q, st->time_base)), frame_(std::move(frame)),
      silence_(std::move(silence)) {}

bool Ac3Frames::Take(const AVPacket* pkt, std::string* error) {
    if (!pkt) {
        pending_.clear(); // a frame cut off by the end of the movie is lost
        return true;
    }
    // A packet normally holds whole frames; one cut between packets waits here for its rest.
    size_t newStart = pending_.size();
    int64_t newPts = pkt->pts;
    pending_.insert(pending_.end(), pkt->data, pkt->data + pkt->size);
    const uint8_t* b = pending_.data();
    const size_t size = pending_.size();
    size_t at = 0;
    while (true) {
        while (at + 1 < size && !(b[at] == 0x0B && b[at + 1] == 0x77))
            ++at; // damage: on to the next sync word
        Ac3Header header;
        if (at + 6 > size)
            break;
        if (!ReadAc3Header(b + at, size - at, &header)) {
            ++at;
            continue;
        }
        if (static_cast<size_t>(header.bytes) > size - at)
            break;
        // The packet's time belongs to the first frame that starts in it.
        int64_t pts = AV_NOPTS_VALUE;
        if (at >= newStart) {
            pts = newPts;
            newPts = AV_NOPTS_VALUE;
        }
        if (!Frame(b + at, header, pts, error))
            return false;
        at += static_cast<size_t>(header.bytes);
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(std::min(at, size)));
    return true;
}

bool Ac3Frames::Frame(const uint8_t* data, const Ac3Header& header, int64_t pts, std::string* error) {
    if (pts != AV_NOPTS_VALUE) {
        // Times that do not advance, or leap too far, are ignored: the frame follows the one before.
        const int64_t at = av_rescale_q(pts - offset_, timeBase_, AVRational{1, kDiscRate});
        if (at >= samples_ + kFrameSamples && at - samples_ <= kMostGapSamples && !FillTo(at, error))
            return false;
    }
    samples_ += kFrameSamples;
    if (!header.fitsTheDisc)
        return silence_(1, error);
    out_->data = const_cast<uint8_t*>(data);
    out_->size = header.bytes;
    return frame_(out_.get(), error);
}

bool Ac3Frames::FillTo(int64_t samples, std::string* error) {
    // Whole frames, rounded to the nearest, so the sound never runs ahead of the time asked for by
    // more than half a frame.
    const int64_t missing = samples - samples_ + kFrameSamples / 2;
    if (missing < kFrameSamples)
        return true;
    for (int64_t frames = missing / kFrameSamples; frames > 0;) {
        const int now = static_cast<int>(std::min<int64_t>(frames, kDiscRate));
        samples_ += static_cast<int64_t>(now) * kFrameSamples;
        frames -= now;
        if (!silence_(now, error))
            return false;
    }
    return true;
}

} // namespace qx::enc
