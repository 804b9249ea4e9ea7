#include "PartFileOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qx::enc {
namespace {

constexpr uint64_t kPack = 2048;
constexpr int kLastPart = 2;

class PosixOutputFile : public OutputFile {
public:
    PosixOutputFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixOutputFile() override {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Write(const uint8_t* data, size_t size, std::string* error) override {
        while (size > 0) {
            ssize_t n = ::write(fd_, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                *error = "cannot write " + path_ + ": " + std::strerror(n < 0 ? errno : ENOSPC);
                return false;
            }
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    bool Close(std::string* error) override {
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) {
            *error = "cannot finish " + path_ + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }

private:
    int fd_;
    std::string path_;
};

} // namespace

std::unique_ptr<OutputFile> OpenPosixOutputFile(const std::string& path, std::string* error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot create " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<PosixOutputFile>(fd, path);
}

PartFileOutput::PartFileOutput(std::string path, bool partFiles, uint64_t partLimit, OutputFileOpener opener)
    : path_(std::move(path)), partFiles_(partFiles), limit_(std::max(kPack, partLimit / kPack * kPack)),
      opener_(std::move(opener)) {}

PartFileOutput::~PartFileOutput() = default;

std::string PartFileOutput::PartName(const std::string& path, int part) {
    return part == 0 ? path : path + ".part" + std::to_string(part);
}

bool PartFileOutput::Open(std::string* error) {
    // Stale part files of an earlier, longer conversion would be read as the tail of this one.
    for (int part = 1; part <= kLastPart; ++part)
        std::remove(PartName(path_, part).c_str());
    return NextFile(error);
}

bool PartFileOutput::NextFile(std::string* error) {
    if (file_ && !file_->Close(error))
        return false;
    std::string name = PartName(path_, static_cast<int>(files_.size()));
    file_ = opener_(name, error);
    if (!file_)
        return false;
    files_.push_back(name);
    inFile_ = 0;
    return true;
}

bool PartFileOutput::Write(const uint8_t* data, size_t size, std::string* error) {
    if (!file_) {
        *error = "the output is not open";
        return false;
    }
    while (size > 0) {
        // The last part takes whatever is left: a longer file beats a lost movie.
        bool lastFile = !partFiles_ || files_.size() > kLastPart;
        size_t chunk = size;
        if (!lastFile) {
            if (inFile_ >= limit_) {
                if (!NextFile(error))
                    return false;
                continue;
            }
            chunk = static_cast<size_t>(std::min<uint64_t>(size, limit_ - inFile_));
        }
        if (!file_->Write(data, chunk, error))
            return false;
        data += chunk;
        size -= chunk;
        inFile_ += chunk;
        total_ += chunk;
    }
    return true;
}

bool PartFileOutput::Close(std::string* error) {
    if (!file_)
        return true;
    bool ok = file_->Close(error);
    file_.reset();
    return ok;
}

void PartFileOutput::Discard() {
    file_.reset();
    for (const std::string& name : files_)
        std::remove(name.c_str());
}

} // namespace qx::enc
