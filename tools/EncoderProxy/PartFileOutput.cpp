#include "PartFileOutput.h"

#include "EncoderRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
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
    // Never through a link and never over a file that is already there: the name is our own.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
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

std::string PartFileOutput::WritingName(const std::string& name) {
    return EncoderWritingName(name);
}

std::string CheckOutputPath(const std::string& input, const std::string& output, bool partFiles) {
    struct stat in {};
    const bool haveInput = !input.empty() && ::stat(input.c_str(), &in) == 0;
    for (int part = 0; part <= (partFiles ? kLastPart : 0); ++part) {
        const std::string name = PartFileOutput::PartName(output, part);
        struct stat st {};
        if (::lstat(name.c_str(), &st) != 0)
            continue;
        if (!S_ISREG(st.st_mode))
            return name + " exists and is not a regular file; it is left alone";
        if (haveInput && st.st_dev == in.st_dev && st.st_ino == in.st_ino)
            return name + " is the movie being converted; choose another output";
    }
    return {};
}

bool PartFileOutput::Open(std::string* error) {
    return NextFile(error);
}

bool PartFileOutput::NextFile(std::string* error) {
    if (file_ && !file_->Close(error))
        return false;
    std::string name = PartName(path_, static_cast<int>(files_.size()));
    file_ = opener_(WritingName(name), error);
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
    if (!ok)
        return false;
    // Only a complete stream takes the output's names, so a failed or interrupted conversion
    // never leaves a half stream (or a missing one) under them.
    for (const std::string& name : files_) {
        if (std::rename(WritingName(name).c_str(), name.c_str()) != 0) {
            *error = "cannot rename " + WritingName(name) + " to " + name + ": " + std::strerror(errno);
            return false;
        }
        renamed_.push_back(name);
    }
    // Part files of an earlier, longer conversion of this output would be read as its tail.
    if (partFiles_) {
        for (int part = static_cast<int>(files_.size()); part <= kLastPart; ++part)
            std::remove(PartName(path_, part).c_str());
    }
    return true;
}

void PartFileOutput::Discard() {
    file_.reset();
    for (const std::string& name : files_)
        std::remove(WritingName(name).c_str());
    for (const std::string& name : renamed_)
        std::remove(name.c_str());
    renamed_.clear();
}

} // namespace qx::enc
