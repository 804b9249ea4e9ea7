// The disc image of one DVD-Video folder: an ISO 9660 + UDF 1.02 bridge file system whose sectors
// are produced on demand from the folder's files, so a burn streams the disc without a temporary
// image file. Plain C++17.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace qx::discimage {

constexpr std::uint32_t kSectorSize = 2048;

// What the volume is called and when it was made.
struct ImageDescriptor {
    std::string label;                 // volume label as the user typed it
    std::string publisher = "DE Veza"; // publisher text of both file systems
    std::string preparer = "DE Veza";
    std::tm localTime{};               // creation time of the volume and of every file (local time)
};

class DvdVideoImage {
public:
    // Plans the image of `videoTsFolder` (the folder holding VIDEO_TS.IFO): lists and checks its files
    // and the sector addresses its information files promise. On failure returns null and sets `error`
    // to a message that names the file at fault. Files left off the disc are named in `warnings`.
    static std::unique_ptr<DvdVideoImage> Create(const std::string& videoTsFolder, const ImageDescriptor& descriptor,
                                                 std::string* error, std::vector<std::string>* warnings = nullptr);
    ~DvdVideoImage();
    DvdVideoImage(const DvdVideoImage&) = delete;
    DvdVideoImage& operator=(const DvdVideoImage&) = delete;

    std::uint64_t SizeInBytes() const; // a multiple of kSectorSize
    std::uint64_t SizeInSectors() const;

    // Fills `buffer` (count × kSectorSize bytes) with sectors first … first + count − 1. False, with
    // `error` set, when the range passes the end or a file became unreadable, changed size or vanished.
    // One caller at a time.
    bool ReadSectors(std::uint64_t first, std::uint32_t count, std::uint8_t* buffer, std::string* error);

    struct Impl;

private:
    explicit DvdVideoImage(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace qx::discimage
