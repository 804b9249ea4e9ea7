// The planned image: the file-system sectors in memory, the files read on demand.
#pragma once

#include "DvdVideoImage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qx::discimage {

struct DvdVideoImage::Impl {
    std::string folder;                    // the VIDEO_TS folder Create read ("" for FromFiles)
    std::vector<ImageFile> files;          // disc order
    std::vector<std::uint64_t> fileSector; // absolute first sector of each file
    std::vector<std::uint8_t> head;        // sectors 0 .. dataStart-1: every structure before the files
    std::vector<std::uint8_t> anchor;      // the last sector: the closing anchor pointer
    std::uint64_t dataStart = 0;
    std::uint64_t totalSectors = 0;

    // Reading: one file open at a time.
    int fd = -1;
    std::size_t openIndex = 0;
    ~Impl();
};

// Lays out `files` in the order given and builds every structure; false with `error` when the names
// or sizes cannot be put on a disc.
bool PlanImage(std::vector<ImageFile> files, const ImageDescriptor& descriptor, DvdVideoImage::Impl* image,
               std::string* error);

} // namespace qx::discimage
