#include "NamedEvent.h"

#include "Folders.h"
#include "NameCheck.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx {

namespace {

constexpr size_t kKeyLength = 32;
const char* const kKeyFile = "event-key";

bool IsHexKey(const std::string& key) {
    if (key.size() != kKeyLength)
        return false;
    for (char c : key) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

Result<std::string> ReadKey(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Result<std::string>::Fail(ErrnoText("cannot open " + path, errno));
    struct stat st {};
    std::string key(kKeyLength + 1, '\0');
    ssize_t n = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid())
        n = read(fd, key.data(), key.size());
    close(fd);
    key.resize(n < 0 ? 0 : static_cast<size_t>(n));
    if (!IsHexKey(key))
        return Result<std::string>::Fail(path + " is not this user's event key; remove it");
    return Result<std::string>::Ok(key);
}

// The secret that event names are derived from. It lives in the private runtime folder, so another
// user can neither read it nor guess the names and plant an event before we create it.
Result<std::string> EventKey(const std::string& folder) {
    const std::string path = folder + kKeyFile;
    if (access(path.c_str(), F_OK) == 0)
        return ReadKey(path);
    unsigned char bytes[kKeyLength / 2];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        return Result<std::string>::Fail(ErrnoText("cannot make an event key", errno));
    std::string key;
    for (unsigned char b : bytes) {
        char hex[3];
        snprintf(hex, sizeof hex, "%02x", b);
        key += hex;
    }
    // Written under a private name and linked into place: a reader never sees half a key, and
    // of two programs starting at once the first link wins and both read its key.
    const std::string temp = path + "." + std::to_string(getpid()) + ".tmp";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return Result<std::string>::Fail(ErrnoText("cannot write " + temp, errno));
    const bool written = write(fd, key.data(), key.size()) == static_cast<ssize_t>(key.size());
    close(fd);
    const bool linked = written && link(temp.c_str(), path.c_str()) == 0;
    const int linkError = errno;
    unlink(temp.c_str());
    if (!written)
        return Result<std::string>::Fail("cannot write " + temp);
    if (!linked && linkError != EEXIST)
        return Result<std::string>::Fail(ErrnoText("cannot write " + path, linkError));
    return ReadKey(path);
}

// Where glibc keeps a named semaphore; its owner tells whether the name is ours.
std::string SemaphoreFile(const std::string& semName) {
    return "/dev/shm/sem." + semName.substr(1);
}

enum class Owner { Missing, Mine, Other };

Owner SemaphoreOwner(const std::string& semName, uid_t* uid) {
    struct stat st {};
    if (lstat(SemaphoreFile(semName).c_str(), &st) != 0)
        return Owner::Missing;
    *uid = st.st_uid;
    return S_ISREG(st.st_mode) && st.st_uid == geteuid() ? Owner::Mine : Owner::Other;
}

std::string ForeignOwnerText(const std::string& name, uid_t uid) {
    return "event " + name + " was made by user id " + std::to_string(uid) + ", not by this user; refusing it";
}

} // namespace

Result<std::string> NamedEvent::SemaphoreName(const std::string& name) {
    if (!IsPlainObjectName(name, 200))
        return Result<std::string>::Fail("invalid event name \"" + name + "\"");
    Result<std::string> folder = RuntimeFolder();
    if (!folder)
        return Result<std::string>::Fail(folder.error);
    Result<std::string> key = EventKey(folder.value);
    if (!key)
        return Result<std::string>::Fail(key.error);
    return Result<std::string>::Ok(std::string("/qxmd-") + key.value + "-" + name);
}

NamedEvent::~NamedEvent() {
    Close();
}

NamedEvent::NamedEvent(NamedEvent&& other) noexcept
    : sem_(other.sem_), semName_(std::move(other.semName_)), removeOnClose_(other.removeOnClose_) {
    other.sem_ = nullptr;
    other.removeOnClose_ = false;
}

NamedEvent& NamedEvent::operator=(NamedEvent&& other) noexcept {
    if (this != &other) {
        Close();
        sem_ = other.sem_;
        semName_ = std::move(other.semName_);
        removeOnClose_ = other.removeOnClose_;
        other.sem_ = nullptr;
        other.removeOnClose_ = false;
    }
    return *this;
}

Status NamedEvent::Create(const std::string& name, bool removeOnClose) {
    Close();
    Result<std::string> semName = SemaphoreName(name);
    if (!semName)
        return Status::Fail(semName.error);
    // A name left by a run of ours that was killed is removed (its signal must not fire in this
    // run); one made by another user is refused. The event is then always a fresh one of ours.
    uid_t uid = 0;
    const Owner owner = SemaphoreOwner(semName.value, &uid);
    if (owner == Owner::Other)
        return Status::Fail(ForeignOwnerText(name, uid));
    if (owner == Owner::Mine) {
        // Drained before removal, so a program still holding the old one gets no stale wake.
        sem_t* stale = sem_open(semName.value.c_str(), 0);
        if (stale != SEM_FAILED) {
            while (sem_trywait(stale) == 0) {
            }
            sem_close(stale);
        }
        sem_unlink(semName.value.c_str());
    }
    sem_t* sem = sem_open(semName.value.c_str(), O_CREAT | O_EXCL, 0600, 0);
    if (sem == SEM_FAILED)
        return Status::Fail(ErrnoText("cannot create event " + name, errno));
    sem_ = sem;
    semName_ = semName.value;
    removeOnClose_ = removeOnClose;
    return Status::Ok();
}

Status NamedEvent::Open(const std::string& name) {
    Close();
    Result<std::string> semName = SemaphoreName(name);
    if (!semName)
        return Status::Fail(semName.error);
    uid_t uid = 0;
    if (SemaphoreOwner(semName.value, &uid) == Owner::Other)
        return Status::Fail(ForeignOwnerText(name, uid));
    sem_t* sem = sem_open(semName.value.c_str(), 0);
    if (sem == SEM_FAILED) {
        if (errno == ENOENT)
            return Status::Fail("event " + name + " does not exist");
        return Status::Fail(ErrnoText("cannot open event " + name, errno));
    }
    sem_ = sem;
    semName_ = semName.value;
    removeOnClose_ = false;
    return Status::Ok();
}

void NamedEvent::Close() {
    if (sem_ == nullptr)
        return;
    sem_close(sem_);
    if (removeOnClose_)
        sem_unlink(semName_.c_str());
    sem_ = nullptr;
    semName_.clear();
    removeOnClose_ = false;
}

Status NamedEvent::Set() {
    if (sem_ == nullptr)
        return Status::Fail("event is not open");
    int value = 0;
    if (sem_getvalue(sem_, &value) != 0)
        return Status::Fail(ErrnoText("cannot read event state", errno));
    // An event is signalled or not: a second Set before a wait must not wake two waits.
    if (value > 0)
        return Status::Ok();
    if (sem_post(sem_) != 0)
        return Status::Fail(ErrnoText("cannot signal event", errno));
    return Status::Ok();
}

void NamedEvent::Reset() {
    if (sem_ == nullptr)
        return;
    while (sem_trywait(sem_) == 0) {
    }
}

NamedEvent::WaitResult NamedEvent::Wait(int timeoutMs) {
    if (sem_ == nullptr || timeoutMs < 0)
        return WaitResult::Failed;
    if (timeoutMs == 0) {
        int rc;
        do {
            rc = sem_trywait(sem_);
        } while (rc != 0 && errno == EINTR);
        if (rc == 0)
            return WaitResult::Signalled;
        return errno == EAGAIN ? WaitResult::TimedOut : WaitResult::Failed;
    }
    // A monotonic deadline: a change of the wall clock neither shortens nor stretches the wait.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    for (;;) {
        if (sem_clockwait(sem_, CLOCK_MONOTONIC, &deadline) == 0)
            return WaitResult::Signalled;
        if (errno == EINTR)
            continue;
        return errno == ETIMEDOUT ? WaitResult::TimedOut : WaitResult::Failed;
    }
}

Status NamedEvent::Remove(const std::string& name) {
    Result<std::string> semName = SemaphoreName(name);
    if (!semName)
        return Status::Fail(semName.error);
    if (sem_unlink(semName.value.c_str()) != 0 && errno != ENOENT)
        return Status::Fail(ErrnoText("cannot remove event " + name, errno));
    return Status::Ok();
}

} // namespace qx
