#include "AuthorOutput.h"

#include "AuthorError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class DiskWriter : public AuthorWriter {
public:
    explicit DiskWriter(int fd) : fd_(fd) {}
    ~DiskWriter() override { Close(); }

    size_t Write(const void* data, size_t size) override {
        const char* bytes = static_cast<const char*>(data);
        size_t done = 0;
        while (fd_ >= 0 && done < size) {
            ssize_t n = ::write(fd_, bytes + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                why_ = std::strerror(n < 0 ? errno : ENOSPC);
                break;
            }
            done += static_cast<size_t>(n);
        }
        return done;
    }

    bool Seek(long long offset) override {
        if (fd_ >= 0 && ::lseek(fd_, offset, SEEK_SET) == offset)
            return true;
        why_ = std::strerror(errno);
        return false;
    }

    bool Close() override {
        if (fd_ < 0)
            return true;
        int rc = ::close(fd_);
        fd_ = -1;
        if (rc != 0)
            why_ = std::strerror(errno);
        return rc == 0;
    }

    std::string Why() const override { return why_; }

private:
    int fd_;
    std::string why_;
};

class DiskFiles : public AuthorFileOpener {
public:
    std::unique_ptr<AuthorWriter> Open(const std::string& path, AuthorOpenMode mode, std::string& error) override {
        int flags = O_WRONLY | O_CLOEXEC;
        if (mode == AuthorOpenMode::Create)
            flags |= O_CREAT;
        else if (mode == AuthorOpenMode::Truncate)
            flags |= O_CREAT | O_TRUNC;
        int fd = ::open(path.c_str(), flags, 0666);
        if (fd < 0) {
            error = std::strerror(errno);
            return nullptr;
        }
        return std::make_unique<DiskWriter>(fd);
    }
};

} // namespace

void AuthorWriteFailed(const AuthorWriter* file, const std::string& path) {
    std::string why = file ? file->Why() : std::string();
    if (why.empty())
        why = "the data did not reach the file";
    AuthorFatal("ERR:  Error writing data to %s: %s\n", path.c_str(), why.c_str());
}

std::unique_ptr<AuthorWriter> AuthorCreatedFiles::Open(const std::string& path, AuthorOpenMode mode,
                                                       std::string& error) {
    struct stat info;
    const bool existed = ::lstat(path.c_str(), &info) == 0;
    std::unique_ptr<AuthorWriter> file = inner_.Open(path, mode, error);
    if (file && !existed && mode != AuthorOpenMode::Update)
        created_.push_back(path);
    return file;
}

int AuthorCreatedFiles::RemoveCreated() {
    int removed = 0;
    for (const std::string& path : created_)
        removed += ::unlink(path.c_str()) == 0 ? 1 : 0;
    created_.clear();
    return removed;
}

AuthorFileOpener& AuthorDiskFiles() {
    static DiskFiles files;
    return files;
}
