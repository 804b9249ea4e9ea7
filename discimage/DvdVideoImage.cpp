#include "DvdVideoImage.h"

#include "ImageImpl.h"
#include "VideoTsFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx::discimage {

DvdVideoImage::Impl::~Impl() {
    if (fd >= 0)
        close(fd);
}

DvdVideoImage::DvdVideoImage(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
DvdVideoImage::~DvdVideoImage() = default;

std::unique_ptr<DvdVideoImage> DvdVideoImage::Create(const std::string& videoTsFolder,
                                                     const ImageDescriptor& descriptor, std::string* error,
                                                     std::vector<std::string>* warnings) {
    std::vector<ImageFile> files;
    std::vector<std::string> leftOff;
    if (!ListVideoTsFolder(videoTsFolder, &files, &leftOff, error, geteuid() == 0) || !CheckVideoTsLayout(files, error))
        return nullptr;
    std::unique_ptr<DvdVideoImage> image = FromFiles(std::move(files), descriptor, error);
    if (image)
        image->m_impl->folder = videoTsFolder;
    if (image && warnings)
        warnings->insert(warnings->end(), leftOff.begin(), leftOff.end());
    return image;
}

std::unique_ptr<DvdVideoImage> DvdVideoImage::FromFiles(std::vector<ImageFile> files, const ImageDescriptor& descriptor,
                                                        std::string* error) {
    auto impl = std::make_unique<Impl>();
    if (!PlanImage(std::move(files), descriptor, impl.get(), error))
        return nullptr;
    return std::unique_ptr<DvdVideoImage>(new DvdVideoImage(std::move(impl)));
}

std::uint64_t DvdVideoImage::SizeInBytes() const {
    return m_impl->totalSectors * kSectorSize;
}

std::uint64_t DvdVideoImage::SizeInSectors() const {
    return m_impl->totalSectors;
}

const std::vector<ImageFile>& DvdVideoImage::Files() const {
    return m_impl->files;
}

const std::string& DvdVideoImage::Folder() const {
    return m_impl->folder;
}

std::uint64_t DvdVideoImage::FileSector(std::size_t index) const {
    return m_impl->fileSector.at(index);
}

namespace {

// Makes file `index` the open one, checked against its plan.
bool openFile(DvdVideoImage::Impl& m, std::size_t index, std::string* error) {
    if (m.fd >= 0 && m.openIndex == index)
        return true;
    if (m.fd >= 0)
        close(m.fd);
    m.fd = OpenPlannedFile(m.files[index], error);
    m.openIndex = index;
    return m.fd >= 0;
}

// The file holding data sector `sector` (not an empty one) and how many of its sectors follow.
std::size_t fileAt(const DvdVideoImage::Impl& m, std::uint64_t sector) {
    auto it = std::upper_bound(m.fileSector.begin(), m.fileSector.end(), sector);
    return static_cast<std::size_t>(it - m.fileSector.begin()) - 1;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size, const std::string& name, std::string* error) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = "Cannot write " + name + ": " + std::strerror(n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool DvdVideoImage::ReadSectors(std::uint64_t first, std::uint32_t count, std::uint8_t* buffer, std::string* error) {
    Impl& m = *m_impl;
    if (first > m.totalSectors || count > m.totalSectors - first) {
        *error = "Sectors " + std::to_string(first) + " to " + std::to_string(first + count) +
                 " lie past the end of the image (" + std::to_string(m.totalSectors) + " sectors)";
        return false;
    }
    while (count > 0) {
        std::uint8_t* out = buffer;
        if (first < m.dataStart) {
            std::uint64_t n = std::min<std::uint64_t>(count, m.dataStart - first);
            std::memcpy(out, m.head.data() + first * kSectorSize, n * kSectorSize);
            first += n, count -= static_cast<std::uint32_t>(n), buffer += n * kSectorSize;
            continue;
        }
        if (first == m.totalSectors - 1) {
            std::memcpy(out, m.anchor.data(), kSectorSize);
            first += 1, count -= 1, buffer += kSectorSize;
            continue;
        }
        // The file holding `first`: the last one starting at or before it that is not empty.
        std::size_t index = fileAt(m, first);
        const ImageFile& file = m.files[index];
        std::uint64_t fileSectors = (file.size + kSectorSize - 1) / kSectorSize;
        std::uint64_t offset = (first - m.fileSector[index]) * kSectorSize;
        std::uint64_t n = std::min<std::uint64_t>(count, fileSectors - (first - m.fileSector[index]));
        if (!openFile(m, index, error))
            return false;
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(n * kSectorSize, file.size - offset));
        std::size_t got = 0;
        while (got < want) {
            ssize_t r = pread(m.fd, out + got, want - got, static_cast<off_t>(offset + got));
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0) {
                *error = "Cannot read " + file.path + ": " + std::strerror(errno);
                return false;
            }
            if (r == 0) {
                *error = file.path + " became shorter while the disc was being made";
                return false;
            }
            got += static_cast<std::size_t>(r);
        }
        std::memset(out + want, 0, n * kSectorSize - want);
        // At the file's end, make sure it still is the size it was planned with.
        if (offset + want == file.size && !SameAsPlanned(m.fd, file, error))
            return false;
        first += n, count -= static_cast<std::uint32_t>(n), buffer += n * kSectorSize;
    }
    return true;
}

bool DvdVideoImage::WriteSectorsTo(int fd, const std::string& outputName, std::uint64_t first, std::uint64_t count,
                                   std::string* error) {
    Impl& m = *m_impl;
    if (first > m.totalSectors || count > m.totalSectors - first) {
        *error = "Sectors past the end of the image";
        return false;
    }
    constexpr std::uint32_t kBufferSectors = 64;
    std::vector<std::uint8_t> buffer;
    // Sectors the image makes itself (and anything the kernel cannot copy) go through a buffer.
    auto buffered = [&](std::uint64_t from, std::uint64_t n) {
        buffer.resize(std::size_t(kBufferSectors) * kSectorSize);
        while (n > 0) {
            std::uint32_t step = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, kBufferSectors));
            if (!ReadSectors(from, step, buffer.data(), error) ||
                !writeAll(fd, buffer.data(), std::size_t(step) * kSectorSize, outputName, error))
                return false;
            from += step, n -= step;
        }
        return true;
    };
    while (count > 0) {
        if (first < m.dataStart || first == m.totalSectors - 1) {
            std::uint64_t n = first < m.dataStart ? std::min<std::uint64_t>(count, m.dataStart - first) : 1;
            if (!buffered(first, n))
                return false;
            first += n, count -= n;
            continue;
        }
        std::size_t index = fileAt(m, first);
        const ImageFile& file = m.files[index];
        const std::uint64_t inFile = first - m.fileSector[index];
        const std::uint64_t n = std::min<std::uint64_t>(count, (file.size + kSectorSize - 1) / kSectorSize - inFile);
        const std::uint64_t offset = inFile * kSectorSize;
        const std::uint64_t want = std::min<std::uint64_t>(n * kSectorSize, file.size - offset);
        if (!openFile(m, index, error))
            return false;
        loff_t from = static_cast<loff_t>(offset);
        std::uint64_t copied = 0;
        while (copied < want) {
            ssize_t r = copy_file_range(m.fd, &from, fd, nullptr, want - copied, 0);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            copied += static_cast<std::uint64_t>(r);
        }
        if (copied < want) {
            // Not copyable here (another file system, a pipe) or a failure: the buffered path
            // finishes the run and names what failed, reading or writing.
            if (copied % kSectorSize != 0) {
                std::uint64_t whole = copied / kSectorSize * kSectorSize;
                if (lseek(fd, -static_cast<off_t>(copied - whole), SEEK_CUR) < 0) {
                    *error = "Cannot write " + outputName + ": " + std::strerror(errno);
                    return false;
                }
                copied = whole;
            }
            std::uint64_t done = copied / kSectorSize;
            if (!buffered(first + done, n - done))
                return false;
        } else {
            if (n * kSectorSize > want) {
                std::vector<std::uint8_t> zeros(static_cast<std::size_t>(n * kSectorSize - want), 0);
                if (!writeAll(fd, zeros.data(), zeros.size(), outputName, error))
                    return false;
            }
            if (offset + want == file.size && !SameAsPlanned(m.fd, file, error))
                return false;
        }
        first += n, count -= n;
    }
    return true;
}

} // namespace qx::discimage
