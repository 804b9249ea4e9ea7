#include "FfmpegUtil.h"

extern "C" {
#include <libavutil/log.h>
}

namespace qx::enc {

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return text;
}

InputPtr OpenMovie(const std::string& path, std::string* error) {
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        *error = "cannot open " + path + ": " + AvError(rc);
        return nullptr;
    }
    InputPtr fmt(raw);
    rc = avformat_find_stream_info(fmt.get(), nullptr);
    if (rc < 0) {
        *error = "cannot read the streams of " + path + ": " + AvError(rc);
        return nullptr;
    }
    return fmt;
}

CodecPtr OpenDecoder(AVFormatContext* fmt, int index, std::string* error) {
    if (index < 0 || index >= static_cast<int>(fmt->nb_streams)) {
        *error = "no such stream";
        return nullptr;
    }
    const AVCodecParameters* par = fmt->streams[index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) {
        *error = std::string("no decoder for ") + avcodec_get_name(par->codec_id);
        return nullptr;
    }
    CodecPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) {
        *error = "out of memory";
        return nullptr;
    }
    int rc = avcodec_parameters_to_context(ctx.get(), par);
    if (rc >= 0) {
        ctx->pkt_timebase = fmt->streams[index]->time_base;
        ctx->thread_count = 0;
        rc = avcodec_open2(ctx.get(), codec, nullptr);
    }
    if (rc < 0) {
        *error = std::string("cannot open the ") + codec->name + " decoder: " + AvError(rc);
        return nullptr;
    }
    return ctx;
}

void QuietFfmpegLog() {
    av_log_set_level(AV_LOG_ERROR);
}

} // namespace qx::enc
