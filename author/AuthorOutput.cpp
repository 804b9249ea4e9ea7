#include "AuthorOutput.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        return done;
    }

    bool Seek(long long offset) override { return fd_ >= 0 && ::lseek(fd_, offset, SEEK_SET) == offset; }

    bool Close() override {
        if (fd_ < 0)
            return true;
        int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
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

AuthorFileOpener& AuthorDiskFiles() {
    static DiskFiles files;
    return files;
}
