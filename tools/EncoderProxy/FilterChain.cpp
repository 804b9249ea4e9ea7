#include "FilterChain.h"

#include <algorithm>
#include <cstdio>

#include "DvdWriter.h"
#include "PictureShape.h"

extern "C" {
#include <libavutil/mathematics.h>
}

namespace qx::enc {

bool BuildChain(Chain* chain, const char* srcName, const std::string& srcArgs, const char* sinkName,
                const std::string& filters, std::string* error, int threads) {
    chain->graph.reset(avfilter_graph_alloc());
    AVFilterGraph* g = chain->graph.get();
    g->nb_threads = threads;
    int rc =
        avfilter_graph_create_filter(&chain->src, avfilter_get_by_name(srcName), "in", srcArgs.c_str(), nullptr, g);
    if (rc >= 0)
        rc = avfilter_graph_create_filter(&chain->sink, avfilter_get_by_name(sinkName), "out", nullptr, nullptr, g);
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (rc >= 0) {
        outputs->name = av_strdup("in");
        outputs->filter_ctx = chain->src;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = chain->sink;
        rc = avfilter_graph_parse_ptr(g, filters.c_str(), &inputs, &outputs, nullptr);
    }
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (rc >= 0)
        rc = avfilter_graph_config(g, nullptr);
    if (rc < 0) {
        *error = "cannot set up the filters \"" + filters + "\": " + AvError(rc);
        return false;
    }
    return true;
}

bool BuildPictureChain(Chain* chain, AVFormatContext* fmt, int video, const ConvertRequest& req, bool fromStart,
                       std::string* error) {
    const int lines = FrameLines(req.tv);
    const AVCodecParameters* par = fmt->streams[video]->codecpar;
    const PictureShape shape = ShapePicture(fmt, video, req);
    const int w = shape.activeWidth, h = shape.activeHeight;
    if (w < 1 || h < 1) {
        *error = "the movie's picture has no size";
        return false;
    }
    AVRational tb = fmt->streams[video]->time_base;
    AVRational sar = par->sample_aspect_ratio.num > 0 ? par->sample_aspect_ratio : AVRational{1, 1};
    char args[256];
    std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", par->width,
                  par->height, par->format < 0 ? AV_PIX_FMT_YUV420P : par->format, tb.num, tb.den, sar.num, sar.den);
    AVRational rate = DvdFrameRate(req.tv);
    AVRational outSar;
    av_reduce(&outSar.num, &outSar.den, static_cast<int64_t>(req.wide ? 16 : 4) * lines,
              static_cast<int64_t>(req.wide ? 9 : 3) * 720, 1 << 16);
    char filters[768];
    std::snprintf(filters, sizeof filters,
                  "%sfps=fps=%d/%d%s,scale=w=%d:h=%d:flags=bicubic%s,format=yuv420p,"
                  "pad=w=720:h=%d:x=%d:y=%d:color=black,setsar=%d/%d",
                  UprightFilters(shape).c_str(), rate.num, rate.den, fromStart ? ":start_time=0" : "", w, h,
                  ScaleColourOptions(shape).c_str(), lines, (720 - w) / 2, (lines - h) / 2, outSar.num, outSar.den);
    return BuildChain(chain, "buffer", args, "buffersink", filters, error, fromStart ? 0 : 1);
}

} // namespace qx::enc
