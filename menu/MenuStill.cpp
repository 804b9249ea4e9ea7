#include "MenuStill.h"
#include "MenuFfmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <memory>

namespace {

constexpr int kMuxRate = 10080000; // bits per second, the DVD's mux rate
constexpr int kPreloadUs = 500000;
constexpr int kVideoBitrate = 7000000; // the picture is coded once: spend on it
constexpr int kPeakBitrate = 9800000;
constexpr int kVbvBufferBits = 1835008;
constexpr int kAudioBitrate = 192000;

using namespace menu_ffmpeg;

// Every packet an encoder gives for `frame` (null: the rest), in the stream's time base.
bool drain(AVCodecContext* enc, const AVFrame* frame, AVStream* st, std::vector<Packet>& out, std::string* error) {
    int rc = avcodec_send_frame(enc, frame);
    if (rc < 0) {
        *error = std::string("the ") + enc->codec->name + " encoder failed: " + avError(rc);
        return false;
    }
    for (;;) {
        Packet pkt(av_packet_alloc());
        rc = avcodec_receive_packet(enc, pkt.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0) {
            *error = std::string("the ") + enc->codec->name + " encoder failed: " + avError(rc);
            return false;
        }
        av_packet_rescale_ts(pkt.get(), enc->time_base, st->time_base);
        pkt->stream_index = st->index;
        out.push_back(std::move(pkt));
    }
}

Codec openPictureEncoder(const MenuStill& still, int lines, std::string* error) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
    if (!codec) {
        *error = "FFmpeg lacks the MPEG-2 encoder";
        return nullptr;
    }
    Codec v(avcodec_alloc_context3(codec));
    v->width = 720;
    v->height = lines;
    v->pix_fmt = AV_PIX_FMT_YUV420P;
    v->framerate = still.tv == TvStandard::Pal ? AVRational{25, 1} : AVRational{30000, 1001};
    v->time_base = av_inv_q(v->framerate);
    const AVRational dar = still.aspect == DisplayAspect::Wide16x9 ? AVRational{16, 9} : AVRational{4, 3};
    av_reduce(&v->sample_aspect_ratio.num, &v->sample_aspect_ratio.den, static_cast<int64_t>(dar.num) * lines,
              static_cast<int64_t>(dar.den) * 720, 1 << 16);
    // One closed GOP: one intra picture, the others repeat it at almost no cost.
    v->gop_size = MenuStillPictures(still.tv) + 1;
    v->max_b_frames = 0;
    v->flags |= AV_CODEC_FLAG_CLOSED_GOP;
    av_opt_set_int(v->priv_data, "sc_threshold", 1000000000, 0); // closed GOPs take no scene cuts
    v->bit_rate = kVideoBitrate;
    v->rc_max_rate = kPeakBitrate;
    v->rc_buffer_size = kVbvBufferBits;
    v->rc_initial_buffer_occupancy = kVbvBufferBits * 3 / 4;
    v->thread_count = 1;
    v->color_primaries = still.tv == TvStandard::Pal ? AVCOL_PRI_BT470BG : AVCOL_PRI_SMPTE170M;
    v->color_trc = still.tv == TvStandard::Pal ? AVCOL_TRC_GAMMA28 : AVCOL_TRC_SMPTE170M;
    v->colorspace = still.tv == TvStandard::Pal ? AVCOL_SPC_BT470BG : AVCOL_SPC_SMPTE170M;
    int rc = avcodec_open2(v.get(), codec, nullptr);
    if (rc < 0) {
        *error = "cannot open the MPEG-2 encoder: " + avError(rc);
        return nullptr;
    }
    return v;
}

Codec openSoundEncoder(std::string* error) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AC3);
    if (!codec) {
        *error = "FFmpeg lacks the AC-3 encoder";
        return nullptr;
    }
    Codec a(avcodec_alloc_context3(codec));
    a->sample_rate = 48000;
    a->sample_fmt = AV_SAMPLE_FMT_FLTP;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&a->ch_layout, &stereo);
    a->bit_rate = kAudioBitrate;
    a->time_base = AVRational{1, 48000};
    int rc = avcodec_open2(a.get(), codec, nullptr);
    if (rc < 0) {
        *error = "cannot open the AC-3 encoder: " + avError(rc);
        return nullptr;
    }
    return a;
}

// The stored picture as the encoder's YUV 4:2:0 frame.
Frame pictureFrame(const QImage& picture, int lines, std::string* error) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    if (rgb.width() != 720 || rgb.height() != lines) {
        *error = "the menu picture is " + std::to_string(rgb.width()) + "x" + std::to_string(rgb.height()) +
                 ", not 720x" + std::to_string(lines);
        return nullptr;
    }
    Frame f(av_frame_alloc());
    f->format = AV_PIX_FMT_YUV420P;
    f->width = 720;
    f->height = lines;
    if (av_frame_get_buffer(f.get(), 0) < 0) {
        *error = "out of memory";
        return nullptr;
    }
    SwsContext* sws = sws_getContext(720, lines, AV_PIX_FMT_BGRA, 720, lines, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                     nullptr, nullptr);
    if (!sws) {
        *error = "cannot convert the menu picture";
        return nullptr;
    }
    const uint8_t* src[1] = {rgb.constBits()};
    const int stride[1] = {static_cast<int>(rgb.bytesPerLine())};
    sws_scale(sws, src, stride, 0, lines, f->data, f->linesize);
    sws_freeContext(sws);
    return f;
}

} // namespace

int MenuStillPictures(TvStandard tv) {
    return tv == TvStandard::Pal ? 12 : 15;
}

bool WriteMenuStill(const MenuStill& still, const std::string& path, std::string* error) {
    const int lines = still.tv == TvStandard::Pal ? 576 : 480;
    Frame picture = pictureFrame(still.picture, lines, error);
    if (!picture)
        return false;
    Codec v = openPictureEncoder(still, lines, error);
    Codec a = v ? openSoundEncoder(error) : nullptr;
    if (!a)
        return false;

    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "dvd", nullptr) < 0 || !raw) {
        *error = "FFmpeg lacks the DVD program stream muxer";
        return false;
    }
    std::unique_ptr<AVFormatContext, OutputFree> oc(raw);
    oc->packet_size = 2048;
    av_opt_set_int(oc->priv_data, "muxrate", kMuxRate, 0);
    av_opt_set_int(oc->priv_data, "preload", kPreloadUs, 0);
    AVStream* vst = avformat_new_stream(oc.get(), nullptr);
    AVStream* ast = avformat_new_stream(oc.get(), nullptr);
    if (!vst || !ast) {
        *error = "out of memory";
        return false;
    }
    avcodec_parameters_from_context(vst->codecpar, v.get());
    vst->time_base = v->time_base;
    vst->sample_aspect_ratio = v->sample_aspect_ratio;
    // The DVD's decoder buffer, for the muxer's timing.
    size_t propsSize = 0;
    AVCPBProperties* props = av_cpb_properties_alloc(&propsSize);
    if (!props) {
        *error = "out of memory";
        return false;
    }
    props->buffer_size = kVbvBufferBits;
    props->max_bitrate = kPeakBitrate;
    if (av_stream_add_side_data(vst, AV_PKT_DATA_CPB_PROPERTIES, reinterpret_cast<uint8_t*>(props), propsSize) < 0) {
        av_free(props);
        *error = "out of memory";
        return false;
    }
    avcodec_parameters_from_context(ast->codecpar, a.get());
    ast->time_base = a->time_base;
    std::vector<AVStream*> subpictures;
    for (size_t i = 0; i < still.subpictures.size(); ++i) {
        AVStream* st = avformat_new_stream(oc.get(), nullptr);
        if (!st) {
            *error = "out of memory";
            return false;
        }
        st->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
        st->codecpar->codec_id = AV_CODEC_ID_DVD_SUBTITLE;
        st->time_base = AVRational{1, 90000};
        subpictures.push_back(st);
    }
    int rc = avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        *error = "cannot write " + path + ": " + avError(rc);
        return false;
    }
    rc = avformat_write_header(oc.get(), nullptr);
    if (rc < 0) {
        *error = "cannot start the menu stream " + path + ": " + avError(rc);
        return false;
    }

    // The pictures, then the sound to the same length.
    std::vector<Packet> packets;
    const int pictures = MenuStillPictures(still.tv);
    for (int i = 0; i < pictures; ++i) {
        picture->pts = i;
        if (av_frame_make_writable(picture.get()) < 0 || !drain(v.get(), picture.get(), vst, packets, error))
            return false;
    }
    if (!drain(v.get(), nullptr, vst, packets, error))
        return false;
    if (packets.empty()) {
        *error = "the MPEG-2 encoder gave no picture";
        return false;
    }
    // A sequence end code after the last picture: the player shows it at once and holds it.
    AVPacket* last = packets.back().get();
    const int size = last->size;
    if (av_grow_packet(last, 4) < 0) {
        *error = "out of memory";
        return false;
    }
    const uint8_t end[4] = {0x00, 0x00, 0x01, 0xB7};
    std::copy(end, end + 4, last->data + size);

    Frame silence(av_frame_alloc());
    silence->format = AV_SAMPLE_FMT_FLTP;
    silence->nb_samples = a->frame_size;
    av_channel_layout_copy(&silence->ch_layout, &a->ch_layout);
    if (av_frame_get_buffer(silence.get(), 0) < 0) {
        *error = "out of memory";
        return false;
    }
    const int64_t samples = av_rescale_q(pictures, v->time_base, AVRational{1, 48000});
    for (int64_t at = 0; at < samples; at += a->frame_size) {
        if (av_frame_make_writable(silence.get()) < 0)
            return false;
        av_samples_set_silence(silence->extended_data, 0, silence->nb_samples, 2, AV_SAMPLE_FMT_FLTP);
        silence->pts = at;
        if (!drain(a.get(), silence.get(), ast, packets, error))
            return false;
    }
    if (!drain(a.get(), nullptr, ast, packets, error))
        return false;

    // The subpictures start with the first picture.
    for (size_t i = 0; i < subpictures.size(); ++i) {
        Packet pkt(av_packet_alloc());
        if (av_new_packet(pkt.get(), static_cast<int>(still.subpictures[i].size())) < 0) {
            *error = "out of memory";
            return false;
        }
        std::copy(still.subpictures[i].begin(), still.subpictures[i].end(), pkt->data);
        pkt->pts = pkt->dts = 0;
        pkt->stream_index = subpictures[i]->index;
        packets.insert(packets.begin() + static_cast<long>(i), std::move(pkt));
    }
    for (Packet& pkt : packets) {
        rc = av_interleaved_write_frame(oc.get(), pkt.get());
        if (rc < 0) {
            *error = "cannot write the menu stream " + path + ": " + avError(rc);
            return false;
        }
    }
    rc = av_write_trailer(oc.get());
    if (rc >= 0 && oc->pb->error < 0)
        rc = oc->pb->error;
    if (rc >= 0)
        rc = avio_closep(&oc->pb);
    if (rc < 0) {
        *error = "cannot write the menu stream " + path + ": " + avError(rc);
        return false;
    }
    return true;
}
