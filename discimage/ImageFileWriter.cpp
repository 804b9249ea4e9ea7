#include "DvdVideoImage.h"

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

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
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
    struct stat existing;
    if (path.empty() || path.back() == '/') {
        *error = "No image file name given";
        return false;
    }
    if (lstat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        *error = path + " exists and is not a regular file; it is left alone";
        return false;
    }
    // A hidden temporary file beside the target, so the final rename stays on one file system.
    std::string temp = folderOf(path) + "/." + nameOf(path) + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = "Cannot create a file in " + folderOf(path) + ": " + std::strerror(errno);
        return false;
    }
    temp = name.data();
    // The new file gets the mode a newly created file would get (mkostemp makes it private).
    mode_t mask = currentUmask();
    bool ok = true;
    const std::uint64_t total = image.SizeInSectors();
    for (std::uint64_t sector = 0; ok && sector < total;) {
        if (options.cancel && options.cancel->load()) {
            *error = "interrupted";
            ok = false;
            break;
        }
        std::uint64_t count = std::min<std::uint64_t>(kFileChunkSectors, total - sector);
        ok = image.WriteSectorsTo(fd, path, sector, count, error);
        sector += count;
        if (ok && options.progress)
            options.progress(sector * kSectorSize, total * kSectorSize);
    }
    if (ok && fchmod(fd, 0666 & ~mask) != 0) {
        *error = "Cannot set the permissions of " + path + ": " + std::strerror(errno);
        ok = false;
    }
    if (ok && fsync(fd) != 0) {
        *error = "Cannot write " + path + ": " + std::strerror(errno);
        ok = false;
    }
    if (close(fd) != 0 && ok) {
        *error = "Cannot write " + path + ": " + std::strerror(errno);
        ok = false;
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        *error = "Cannot rename the finished image to " + path + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok)
        unlink(temp.c_str());
    return ok;
}

} // namespace qx::discimage
