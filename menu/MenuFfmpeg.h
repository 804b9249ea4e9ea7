// Owning handles of FFmpeg's objects and its error texts, for the menu's encoder and frame reader.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <memory>
#include <string>

namespace menu_ffmpeg {

inline std::string avError(int rc) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof text);
    return text;
}

struct InputClose {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct OutputFree {
    void operator()(AVFormatContext* oc) const {
        if (oc->pb)
            avio_closep(&oc->pb);
        avformat_free_context(oc);
    }
};
struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

using Codec = std::unique_ptr<AVCodecContext, CodecFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;

} // namespace menu_ffmpeg
