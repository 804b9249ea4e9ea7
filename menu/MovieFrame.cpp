#include "MovieFrame.h"
#include "MenuFfmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// Pictures decoded at most after the seek (or from the start when the stream cannot seek), so that
// an odd stream never keeps the menu waiting long.
constexpr int kMaxPictures = 750;

using namespace menu_ffmpeg;

// The frame drawn into a black `width` x `height` picture, its display aspect kept.
QImage toImage(const AVFrame* frame, AVRational sampleAspect, int width, int height, std::string* error) {
    double aspect = static_cast<double>(frame->width) / frame->height;
    if (sampleAspect.num > 0 && sampleAspect.den > 0)
        aspect *= av_q2d(sampleAspect);
    int w = width;
    int h = static_cast<int>(std::lround(width / aspect));
    if (h > height) {
        h = height;
        w = static_cast<int>(std::lround(height * aspect));
    }
    w = std::max(2, w & ~1);
    h = std::max(2, h & ~1);
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::black);
    SwsContext* sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), w, h,
                                     AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!sws) {
        *error = "cannot convert the decoded picture";
        return {};
    }
    uint8_t* dst[1] = {image.bits() + ((height - h) / 2) * image.bytesPerLine() + ((width - w) / 2) * 4};
    const int stride[1] = {static_cast<int>(image.bytesPerLine())};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
    sws_freeContext(sws);
    return image;
}

} // namespace

QImage DecodeMovieFrame(const std::string& path, double seconds, int width, int height, std::string* error) {
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        *error = "cannot open " + path + ": " + avError(rc);
        return {};
    }
    std::unique_ptr<AVFormatContext, InputClose> input(raw);
    rc = avformat_find_stream_info(input.get(), nullptr);
    if (rc < 0) {
        *error = "cannot read " + path + ": " + avError(rc);
        return {};
    }
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index < 0 || !codec) {
        *error = path + " has no picture to decode";
        return {};
    }
    AVStream* st = input->streams[index];
    std::unique_ptr<AVCodecContext, CodecFree> decoder(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), st->codecpar);
    decoder->thread_count = 1;
    rc = avcodec_open2(decoder.get(), codec, nullptr);
    if (rc < 0) {
        *error = "cannot decode " + path + ": " + avError(rc);
        return {};
    }

    const int64_t start = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
    const int64_t target = start + av_rescale_q(static_cast<int64_t>(std::max(0.0, seconds) * AV_TIME_BASE),
                                                AV_TIME_BASE_Q, st->time_base);
    if (target > start && av_seek_frame(input.get(), index, target, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(input.get(), index, start, AVSEEK_FLAG_BACKWARD);

    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    std::unique_ptr<AVFrame, FrameFree> kept(av_frame_alloc());
    bool have = false;
    bool draining = false;
    for (int pictures = 0; pictures < kMaxPictures;) {
        if (!draining) {
            rc = av_read_frame(input.get(), packet.get());
            if (rc < 0) {
                draining = true;
                avcodec_send_packet(decoder.get(), nullptr);
            } else {
                if (packet->stream_index == index)
                    avcodec_send_packet(decoder.get(), packet.get());
                av_packet_unref(packet.get());
            }
        }
        bool ended = false;
        while ((rc = avcodec_receive_frame(decoder.get(), frame.get())) >= 0) {
            ++pictures;
            av_frame_unref(kept.get());
            av_frame_move_ref(kept.get(), frame.get());
            have = true;
            if (kept->best_effort_timestamp != AV_NOPTS_VALUE && kept->best_effort_timestamp >= target) {
                ended = true;
                break;
            }
        }
        if (ended || (draining && rc == AVERROR_EOF))
            break;
    }
    if (!have) {
        *error = "no picture of " + path + " could be decoded";
        return {};
    }
    AVRational sar = kept->sample_aspect_ratio.num ? kept->sample_aspect_ratio : st->sample_aspect_ratio;
    return toImage(kept.get(), sar, width, height, error);
}
