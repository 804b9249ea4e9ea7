// libudfread's view of an image, and a layout check built on it: every sector address the information
// files promise compared with where the files really lie in the image.
#pragma once

#include "DvdVideoImage.h"
#include "IfoProbeSupport.h"

#include <string>
#include <vector>

struct udfread;

struct UdfEntry {
    std::string path; // "/VIDEO_TS/VIDEO_TS.IFO"
    bool directory = false;
    std::uint64_t size = 0;
    std::uint32_t sector = 0; // absolute sector of the first byte (files only)
    Bytes bytes;              // contents (files only, when asked for)
};

// An open image, from a file or straight from DvdVideoImage::ReadSectors.
class UdfImage {
public:
    explicit UdfImage(const std::string& isoPath);
    explicit UdfImage(qx::discimage::DvdVideoImage& image);
    ~UdfImage();
    UdfImage(const UdfImage&) = delete;
    UdfImage& operator=(const UdfImage&) = delete;

    bool ok() const { return m_udf != nullptr; }
    std::string VolumeId();
    // Every directory and file below the root, depth first in directory order.
    std::vector<UdfEntry> Tree(bool withContents);
    Bytes ReadFile(const std::string& path);
    // Empty when every promised address matches; otherwise one line per mismatch.
    std::vector<std::string> LayoutFaults();

private:
    udfread* m_udf = nullptr;
    void* m_input = nullptr;
};
