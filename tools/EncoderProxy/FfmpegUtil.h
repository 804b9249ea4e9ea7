// Small owners for FFmpeg objects, so every early return frees what was opened.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
}

namespace qx::enc {

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameCloser {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketCloser {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct GraphCloser {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
struct FifoCloser {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
using FramePtr = std::unique_ptr<AVFrame, FrameCloser>;
using PacketPtr = std::unique_ptr<AVPacket, PacketCloser>;
using GraphPtr = std::unique_ptr<AVFilterGraph, GraphCloser>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoCloser>;

std::string AvError(int code);

// How long a decoded picture is shown, in its stream's time base (0 when not known).
inline int64_t FrameDuration(const AVFrame* frame) {
#if LIBAVUTIL_VERSION_MAJOR >= 58
    return frame->duration;
#else
    return frame->pkt_duration;
#endif
}

// Opens a movie and reads its stream information; on failure returns null and sets *error.
InputPtr OpenMovie(const std::string& path, std::string* error);

// Opens a decoder for stream `index`; null (and *error) when FFmpeg has none or it fails to open.
CodecPtr OpenDecoder(AVFormatContext* fmt, int index, std::string* error);

// Keeps FFmpeg's own console chatter to real errors.
void QuietFfmpegLog();

} // namespace qx::enc
