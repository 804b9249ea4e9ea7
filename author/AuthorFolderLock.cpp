#include "AuthorFolderLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

AuthorFolderLock::~AuthorFolderLock() {
    Release();
}

bool AuthorFolderLock::Acquire(const std::string& folder, std::string& error) {
    Release();
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + folder + ": " + std::strerror(errno);
        return false;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int why = errno;
        ::close(fd);
        error = why == EWOULDBLOCK ? folder + " is being written by another authoring run; wait for it to end"
                                   : "cannot lock " + folder + ": " + std::strerror(why);
        return false;
    }
    fd_ = fd;
    return true;
}

void AuthorFolderLock::Release() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}
