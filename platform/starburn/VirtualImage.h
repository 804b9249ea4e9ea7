// Inside the burning library: the image file of a virtual writer. A writer touches only its own
// image: a regular file of this user (or none yet) that is empty or holds a disc image, in a folder
// no other user can write. One burn or erase runs per image at a time, and a new image is written
// beside the old one and put in its place only when complete.
#pragma once

#include "StarBurnDrive.h"

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace qx::starburn {

struct ImageLook {
    bool usable = false; // the writer may write or empty the image
    bool exists = false;
    uint64_t bytes = 0;
    mode_t mode = 0;     // permissions of the existing image
    std::string problem; // why the writer is not ready
};
// Looks at the image (never through a link, never opening anything but a regular file) and at its
// folder.
ImageLook LookAtImage(const std::string& image);

// True when the file holds an ISO 9660 or UDF volume (a signature in sectors 16..31).
bool HoldsDiscImage(int fd);

// One burn or erase per image, also across processes (whatever their runtime folder): a lock
// (flock) on ".IMAGE.lock" beside the image, a file of this user removed again when released.
class ImageLock {
public:
    ImageLock() = default;
    ~ImageLock() { Release(); }
    ImageLock(const ImageLock&) = delete;
    ImageLock& operator=(const ImageLock&) = delete;
    // EN_BUSY "the writer is busy ..." when held elsewhere.
    CallResult Acquire(const std::string& image);
    void Release();

private:
    int m_fd = -1;
    std::string m_path;
};

// A new image file beside `image`: anonymous (O_TMPFILE) where the file system allows it, else
// under a private name "IMAGE.part-XXXXXX"; it replaces the image only at Commit, else it is gone.
class NewImage {
public:
    NewImage() = default;
    ~NewImage();
    NewImage(const NewImage&) = delete;
    NewImage& operator=(const NewImage&) = delete;
    // `mode`: the permissions of the image it replaces; 0 for a new one (0666 less the umask).
    CallResult Make(const std::string& image, mode_t mode, long failureCode);
    // The libburn address of the file ("stdio:/dev/fd/N").
    std::string Address() const;
    // Flushes the data and renames the file over the image.
    CallResult Commit(long failureCode);

private:
    std::string m_image;
    std::string m_named; // the private name, when not anonymous
    int m_fd = -1;
};

// Removes files of NewImage's naming beside `image` that a killed run left: this user's regular
// files, unchanged for `minAgeSeconds`.
void RemoveStaleTemporaries(const std::string& image, int minAgeSeconds = 600);

} // namespace qx::starburn
