// The active picture size sent with a conversion request: the movie's picture scaled into the
// DVD frame so that its shape survives the disc's display aspect.
#pragma once

#include <cstdint>

namespace qx {

struct PictureSize {
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const PictureSize& o) const { return width == o.width && height == o.height; }
};

// movieWidth x movieHeight and movieAspect come from the probe answer. Without keepAspect the
// whole frame (720 x 576 PAL, 720 x 480 NTSC). With it, the picture keeps the movie's shape, and
// 0 x 0 is returned when that is exactly the movie's own size. The target aspect is the 32-bit
// float 16/9 (1.7777778) or 4/3 (1.3333334), so 640 x 480 on PAL 16:9 gives 539 x 576, not 540.
PictureSize ComputePictureSize(bool keepAspect, int32_t movieWidth, int32_t movieHeight, float movieAspect, bool pal,
                               bool wide);

} // namespace qx
