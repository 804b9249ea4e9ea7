// How a movie's pictures are made into DVD pictures before scaling: a phone movie stood upright,
// interlaced pictures deinterlaced unless the disc keeps their fields, any depth and chroma
// (10-bit, 4:2:2, full range, HD colours) brought to 8-bit 4:2:0 with SD colours.
#pragma once

#include <string>

#include "EncoderTypes.h"
#include "FfmpegUtil.h"

namespace qx::enc {

// The counter-clockwise turn (0, 90, 180 or 270 degrees) the stream's display matrix asks for;
// 0 without one, or when it is not a quarter turn.
int DisplayTurn(const AVStream* st);

struct PictureShape {
    int turn = 0;              // DisplayTurn
    int width = 0, height = 0; // the movie's picture as shown: turned upright
    int activeWidth = 0,
        activeHeight = 0;    // the request's active picture (its own size brought inside the frame for 0 x 0)
    bool interlaced = false; // the stream says its pictures are interlaced
    bool keepFields = false; // ...and the disc keeps them: same picture rate and lines, no turn, no scaling in height
    bool topFieldFirst = true;
};

// The shape of stream `video` for `req`.
PictureShape ShapePicture(AVFormatContext* fmt, int video, const ConvertRequest& req);

// Filters from the decoded picture to an upright, progressive (unless the fields are kept) one,
// each followed by ","; "" when there is nothing to do.
std::string UprightFilters(const PictureShape& shape);

// The scale filter's options beyond the size: 8-bit SD colours in the TV range, and
// field-aware chroma when the fields are kept.
std::string ScaleColourOptions(const PictureShape& shape);

} // namespace qx::enc
