#include "DvdVideoImage.h"

#include "ImageTemporary.h"
#include "OutputGuard.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx::discimage {
namespace {

constexpr std::uint32_t kChunkSectors = 512;      // 1 MiB per read and write into a sink
constexpr std::uint32_t kFileChunkSectors = 8192; // 16 MiB between cancel checks when writing a file

// The process's file-creation mask, read without changing it (umask() would change it for every thread).
mode_t currentUmask() {
    mode_t mask = 022;
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned value = 0;
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "Umask: %o", &value) == 1)
                mask = static_cast<mode_t>(value);
        std::fclose(status);
    }
    return mask;
}

// The mode a new file gets under the umask, readable by group and others only when every file of
// the folder is: an image never shows what its files keep private.
mode_t imageMode(const DvdVideoImage& image) {
    mode_t mode = 0666 & ~currentUmask();
    for (const ImageFile& file : image.Files()) {
        struct stat info;
        if (stat(file.path.c_str(), &info) != 0)
            info.st_mode = 0;
        mode &= ~(~info.st_mode & (S_IRGRP | S_IROTH));
    }
    return mode;
}

} // namespace

bool WriteImage(DvdVideoImage& image, ImageSink& sink, const WriteOptions& options, std::string* error) {
    const std::uint64_t total = image.SizeInSectors();
    std::vector<std::uint8_t> buffer(std::size_t(kChunkSectors) * kSectorSize);
    for (std::uint64_t sector = 0; sector < total;) {
        if (options.cancel && options.cancel->load()) {
            *error = "interrupted";
            return false;
        }
        std::uint32_t count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunkSectors, total - sector));
        if (!image.ReadSectors(sector, count, buffer.data(), error) ||
            !sink.Write(buffer.data(), std::size_t(count) * kSectorSize, error))
            return false;
        sector += count;
        if (options.progress)
            options.progress(sector * kSectorSize, total * kSectorSize);
    }
    return true;
}

bool WriteImageFile(DvdVideoImage& image, const std::string& path, const WriteOptions& options, std::string* error) {
    if (path.empty() || path.back() == '/') {
        *error = "No image file name given";
        return false;
    }
    // The image must never take the place of what it is made from.
    std::vector<std::string> inputs;
    for (const ImageFile& file : image.Files())
        inputs.push_back(file.path);
    std::vector<std::string> folders;
    if (!image.Folder().empty())
        folders.push_back(image.Folder());
    if (std::string refusal = OutputRefusal(path, OutputKind::File, inputs, folders); !refusal.empty()) {
        *error = refusal;
        return false;
    }
    struct stat existing;
    if (lstat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        *error = path + " exists and is not a regular file; it is left alone";
        return false;
    }
    RemoveStaleTemporaries(path);
    TemporaryImageFile temp;
    if (!temp.Create(path, options.namedTemporary, error))
        return false;
    const int fd = temp.Fd();
    const std::uint64_t total = image.SizeInSectors();
    for (std::uint64_t sector = 0; sector < total;) {
        if (options.cancel && options.cancel->load()) {
            *error = "interrupted";
            return false;
        }
        std::uint64_t count = std::min<std::uint64_t>(kFileChunkSectors, total - sector);
        if (!image.WriteSectorsTo(fd, path, sector, count, error))
            return false;
        sector += count;
        if (options.progress)
            options.progress(sector * kSectorSize, total * kSectorSize);
    }
    if (fchmod(fd, imageMode(image)) != 0) {
        *error = "Cannot set the permissions of " + path + ": " + std::strerror(errno);
        return false;
    }
    if (fsync(fd) != 0) {
        *error = "Cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return temp.Commit(error);
}

} // namespace qx::discimage
