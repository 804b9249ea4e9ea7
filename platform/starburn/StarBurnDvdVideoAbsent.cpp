// Builds without the disc image library: every image request fails with a clear reason.
#include "StarBurn.h"

#include <cstdio>

struct StarBurnDvdVideo {};

long StarBurn_DVDVideo_Create(StarBurnDvdVideo** image, const char*, bool, char* text, unsigned long textSize,
                              unsigned long* status, const char*, const char*, const char*, int, int, int, int, int,
                              int, int) {
    *image = nullptr;
    std::snprintf(text, textSize, "%s", "this build has no DVD-Video image maker");
    *status = 0;
    return EN_IMAGE_FAILURE;
}
long StarBurn_DVDVideo_GetSizeInUCHARs(StarBurnDvdVideo*, int64_t* size) {
    *size = 0;
    return EN_IMAGE_FAILURE;
}
long StarBurn_DVDVideo_GetTreePointer(StarBurnDvdVideo*, StarBurnTree** tree) {
    *tree = nullptr;
    return EN_IMAGE_FAILURE;
}
void StarBurn_DVDVideo_Destroy(StarBurnDvdVideo*) {}
