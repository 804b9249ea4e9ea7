#include "InstanceLock.h"

#include "Folders.h"
#include "NameCheck.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qx {

InstanceLock::~InstanceLock() {
    Release();
}

void InstanceLock::Release() {
    if (fd_ >= 0) {
        close(fd_); // closing the last descriptor drops the flock
        fd_ = -1;
    }
}

InstanceLock::State InstanceLock::Acquire(const std::string& name, std::string* error) {
    auto fail = [&](const std::string& text) {
        if (error != nullptr)
            *error = text;
        return State::Failed;
    };
    if (fd_ >= 0)
        return State::Acquired;
    if (!IsPlainObjectName(name, 200))
        return fail("invalid lock name \"" + name + "\"");
    Result<std::string> folder = RuntimeFolder();
    if (!folder)
        return fail(folder.error);
    std::string path = folder.value + name + ".lock";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return fail(ErrnoText("cannot open lock file " + path, errno));
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        close(fd);
        if (err == EWOULDBLOCK)
            return State::HeldElsewhere;
        return fail(ErrnoText("cannot lock " + path, err));
    }
    fd_ = fd;
    if (error != nullptr)
        error->clear();
    return State::Acquired;
}

} // namespace qx
