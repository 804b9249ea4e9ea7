// The disc image of one DVD-Video folder: an ISO 9660 + UDF 1.02 bridge file system whose sectors
// are produced on demand from the folder's files, so a burn streams the disc without a temporary
// image file. Plain C++17.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
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
    std::tm localTime{}; // creation time of the volume and of every file (local time)
                         // its tm_gmtoff (set by localtime_r) is the recorded time zone
};

// One file of the disc's VIDEO_TS directory.
struct ImageFile {
    std::string name;         // name on the disc, upper case ("VTS_01_1.VOB")
    std::string path;         // where its bytes are read from
    std::uint64_t size = 0;   // bytes
    std::uint64_t device = 0; // identity when planned: a file replaced later is noticed
    std::uint64_t inode = 0;
};

class DvdVideoImage {
public:
    // Plans the image of `videoTsFolder` (the folder holding VIDEO_TS.IFO): lists and checks its files
    // and the sector addresses its information files promise. On failure returns null and sets `error`
    // to a message that names the file at fault. Files left off the disc are named in `warnings`.
    static std::unique_ptr<DvdVideoImage> Create(const std::string& videoTsFolder, const ImageDescriptor& descriptor,
                                                 std::string* error, std::vector<std::string>* warnings = nullptr);
    // The image of `files` in the order given, without the folder checks of Create (tests use it to make
    // images that break the rules those checks keep). Null with `error` set on failure.
    static std::unique_ptr<DvdVideoImage> FromFiles(std::vector<ImageFile> files, const ImageDescriptor& descriptor,
                                                    std::string* error);
    ~DvdVideoImage();
    DvdVideoImage(const DvdVideoImage&) = delete;
    DvdVideoImage& operator=(const DvdVideoImage&) = delete;

    std::uint64_t SizeInBytes() const; // a multiple of kSectorSize
    std::uint64_t SizeInSectors() const;

    // Fills `buffer` (count × kSectorSize bytes) with sectors first … first + count − 1. False, with
    // `error` set, when the range passes the end or a file became unreadable, changed size or vanished.
    // One caller at a time.
    bool ReadSectors(std::uint64_t first, std::uint32_t count, std::uint8_t* buffer, std::string* error);

    // Writes sectors first … first + count − 1 to the file descriptor `fd` (at its position), moving the
    // folder files' bytes inside the kernel where it can instead of through a buffer. The same checks
    // and errors as ReadSectors; a failed write names `outputName`.
    bool WriteSectorsTo(int fd, const std::string& outputName, std::uint64_t first, std::uint64_t count,
                        std::string* error);

    // The files of the VIDEO_TS directory in disc order, and the sector each one starts at.
    const std::vector<ImageFile>& Files() const;
    // The folder Create planned the image from ("" for FromFiles).
    const std::string& Folder() const;
    std::uint64_t FileSector(std::size_t index) const;

    struct Impl;

private:
    explicit DvdVideoImage(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// Where WriteImage puts the image's bytes; tests inject failures through it.
class ImageSink {
public:
    virtual ~ImageSink() = default;
    // Appends all `size` bytes; false with `error` set when they did not all get there.
    virtual bool Write(const std::uint8_t* data, std::size_t size, std::string* error) = 0;
};

struct WriteOptions {
    // Called after every chunk with the bytes written so far and the image size.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
    // Checked between chunks: when it becomes true the write stops and fails with "interrupted".
    const std::atomic<bool>* cancel = nullptr;
    // WriteImageFile: write under the visible temporary name ".NAME.part-XXXXXX" even where the file
    // system offers a nameless one (that is what happens on file systems without O_TMPFILE; tests).
    bool namedTemporary = false;
};

// Streams the whole image into `sink`. False with `error` set on a read or write failure or a cancel.
bool WriteImage(DvdVideoImage& image, ImageSink& sink, const WriteOptions& options, std::string* error);

// Writes the image to the file `path`: into a new temporary file beside it, renamed to `path` only
// when complete and flushed, so `path` holds either its old contents or the whole new image, never a
// part. Refused before anything is written: a `path` that is one of the image's files or lies inside
// the folder being imaged (OutputRefusal), and an existing `path` that is not a regular file (a
// folder, a device, a link). The temporary file has no name while it is written where the file system
// allows (a killed run leaves nothing); elsewhere it is ".NAME.part-XXXXXX", locked while written, and
// such files that a killed run of this user left (unlocked, untouched for a minute) are removed first.
// On failure or cancel the temporary file is removed. The image is readable by group and others only
// when every file of the folder is (and the umask allows it).
bool WriteImageFile(DvdVideoImage& image, const std::string& path, const WriteOptions& options, std::string* error);

} // namespace qx::discimage
