// The DVD-Video image handle: the disc image of a VIDEO_TS folder, read sector by sector while the
// track is written.
#include "StarBurn.h"

#include "DvdVideoImage.h"

#include <cstdio>
#include <ctime>

struct StarBurnDvdVideo : StarBurnTree {
    std::unique_ptr<qx::discimage::DvdVideoImage> image;
    uint64_t SizeInSectors() const override { return image->SizeInSectors(); }
    bool ReadSectors(uint64_t first, uint32_t count, uint8_t* buffer, std::string* error) override {
        return image->ReadSectors(first, count, buffer, error);
    }
};

long StarBurn_DVDVideo_Create(StarBurnDvdVideo** image, const char* folder, bool, char* text, unsigned long textSize,
                              unsigned long* status, const char* volumeLabel, const char* publisher,
                              const char* preparer, int year, int month, int day, int hour, int minute, int second,
                              int) {
    *image = nullptr;
    qx::discimage::ImageDescriptor descriptor;
    descriptor.label = volumeLabel ? volumeLabel : "";
    descriptor.publisher = publisher ? publisher : "";
    descriptor.preparer = preparer ? preparer : "";
    descriptor.localTime.tm_year = year - 1900;
    descriptor.localTime.tm_mon = month - 1;
    descriptor.localTime.tm_mday = day;
    descriptor.localTime.tm_hour = hour;
    descriptor.localTime.tm_min = minute;
    descriptor.localTime.tm_sec = second;
    descriptor.localTime.tm_isdst = -1;
    std::string error;
    auto made = qx::discimage::DvdVideoImage::Create(folder ? folder : "", descriptor, &error);
    if (!made) {
        std::snprintf(text, textSize, "%s", error.c_str());
        *status = 0;
        return EN_IMAGE_FAILURE;
    }
    auto handle = std::make_unique<StarBurnDvdVideo>();
    handle->image = std::move(made);
    *image = handle.release();
    std::snprintf(text, textSize, "%s", "");
    *status = 0;
    return EN_SUCCESS;
}

long StarBurn_DVDVideo_GetSizeInUCHARs(StarBurnDvdVideo* image, int64_t* size) {
    *size = static_cast<int64_t>(image->image->SizeInBytes());
    return EN_SUCCESS;
}

long StarBurn_DVDVideo_GetTreePointer(StarBurnDvdVideo* image, StarBurnTree** tree) {
    *tree = image;
    return EN_SUCCESS;
}

void StarBurn_DVDVideo_Destroy(StarBurnDvdVideo* image) {
    delete image;
}
