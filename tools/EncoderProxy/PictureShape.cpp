#include "PictureShape.h"

#include <algorithm>
#include <cmath>

#include "DvdWriter.h"

extern "C" {
#include <libavutil/display.h>
}

namespace qx::enc {
namespace {

const int32_t* DisplayMatrix(const AVStream* st) {
#if LIBAVFORMAT_VERSION_MAJOR >= 61
    const AVPacketSideData* sd = av_packet_side_data_get(st->codecpar->coded_side_data,
                                                         st->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    return sd && sd->size >= 9 * sizeof(int32_t) ? reinterpret_cast<const int32_t*>(sd->data) : nullptr;
#else
    size_t size = 0;
    const uint8_t* data = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    return data && size >= 9 * sizeof(int32_t) ? reinterpret_cast<const int32_t*>(data) : nullptr;
#endif
}

bool SameRate(AVRational a, AVRational b) {
    return a.num > 0 && a.den > 0 && std::fabs(av_q2d(a) / av_q2d(b) - 1.0) < 0.001;
}

} // namespace

int DisplayTurn(const AVStream* st) {
    const int32_t* matrix = DisplayMatrix(st);
    if (!matrix)
        return 0;
    const double angle = av_display_rotation_get(matrix);
    if (std::isnan(angle))
        return 0;
    const double turn = angle - 360.0 * std::floor(angle / 360.0);
    for (int quarter : {0, 90, 180, 270, 360})
        if (std::fabs(turn - quarter) < 1.0)
            return quarter % 360;
    return 0;
}

PictureShape ShapePicture(AVFormatContext* fmt, int video, const ConvertRequest& req) {
    PictureShape s;
    const AVStream* st = fmt->streams[video];
    const AVCodecParameters* par = st->codecpar;
    s.turn = DisplayTurn(st);
    const bool across = s.turn == 90 || s.turn == 270;
    s.width = across ? par->height : par->width;
    s.height = across ? par->width : par->height;
    const int lines = FrameLines(req.tv);
    s.activeWidth = req.pictureWidth;
    s.activeHeight = req.pictureHeight;
    if (s.activeWidth == 0 && s.activeHeight == 0) {
        // The movie's own size, centred; one larger than the frame is brought inside it.
        s.activeWidth = std::min(s.width, 720);
        s.activeHeight = std::min(s.height, lines);
    }
    switch (par->field_order) {
    case AV_FIELD_TT:
    case AV_FIELD_BT: // bottom coded first, top shown first
        s.interlaced = true;
        s.topFieldFirst = true;
        break;
    case AV_FIELD_BB:
    case AV_FIELD_TB:
        s.interlaced = true;
        s.topFieldFirst = false;
        break;
    default:
        break;
    }
    // Fields survive only when every line stays where it is, at the disc's own picture rate.
    const AVRational disc = DvdFrameRate(req.tv);
    s.keepFields = s.interlaced && s.turn == 0 && par->height == lines && s.activeHeight == lines &&
                   (SameRate(st->r_frame_rate, disc) || SameRate(st->avg_frame_rate, disc));
    return s;
}

std::string UprightFilters(const PictureShape& shape) {
    std::string filters;
    // Fields are woven into pictures before anything moves lines; only pictures the decoder marks
    // interlaced are touched, so the progressive parts of a mixed movie stay as they are.
    if (shape.interlaced && !shape.keepFields)
        filters += "bwdif=mode=send_frame:parity=auto:deint=interlaced,";
    if (shape.turn == 90)
        filters += "transpose=cclock,";
    else if (shape.turn == 270)
        filters += "transpose=clock,";
    else if (shape.turn == 180)
        filters += "hflip,vflip,";
    return filters;
}

std::string ScaleColourOptions(const PictureShape& shape) {
    // HD movies carry BT.709 colours, the DVD BT.601; full-range pictures (phones, JPEG-based
    // codecs) come down to the TV range.
    std::string options = ":out_color_matrix=bt601:out_range=tv";
    if (shape.keepFields)
        options += ":interl=1";
    return options;
}

} // namespace qx::enc
