#include "PictureSize.h"

namespace qx {

PictureSize ComputePictureSize(bool keepAspect, int32_t movieWidth, int32_t movieHeight, float movieAspect, bool pal,
                               bool wide) {
    const int32_t lines = pal ? 576 : 480;
    if (!keepAspect)
        return {720, lines};
    // A movie without a size cannot be fitted: give it the whole frame rather than divide by 0.
    if (movieWidth < 1 || movieHeight < 1)
        return {720, lines};
    const float r = wide ? 16.0f / 9.0f : 4.0f / 3.0f;
    const float f = movieAspect;
    int32_t w = movieWidth;
    int32_t h = movieHeight;
    // Bring the stored picture to its displayed shape (non-square pixels), unless it already
    // has it within 0.01.
    if (0.1f < f && f < 10.0f) {
        const double t = static_cast<double>(w) / h;
        if (f >= t + 0.01)
            w = static_cast<int32_t>(f * static_cast<float>(h));
        else if (f <= t - 0.01)
            h = static_cast<int32_t>(static_cast<float>(w) / f);
        if (w < 1 || h < 1)
            return {720, lines};
    }
    // The ratio of whole numbers is exact in double; only the target aspect is the 32-bit float,
    // which is why 1024 x 576 on a 16:9 disc gives 719 rather than 720.
    const double m = static_cast<double>(w) / h;
    PictureSize size;
    if (r > m) {
        size.width = static_cast<int32_t>(720 * m / r);
        size.height = lines;
    } else {
        size.width = 720;
        size.height = static_cast<int32_t>(lines * static_cast<double>(r) / m);
    }
    if (size.width == movieWidth && size.height == movieHeight)
        return {0, 0};
    return size;
}

} // namespace qx
