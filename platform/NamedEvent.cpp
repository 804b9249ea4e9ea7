#include "NamedEvent.h"

#include "Folders.h"
#include "NameCheck.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>

namespace qx {

namespace {

uint64_t Fnv1a(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

} // namespace

Result<std::string> NamedEvent::SemaphoreName(const std::string& name) {
    if (!IsPlainObjectName(name, 200))
        return Result<std::string>::Fail("invalid event name \"" + name + "\"");
    Result<std::string> folder = RuntimeFolder();
    if (!folder)
        return Result<std::string>::Fail(folder.error);
    char hash[17];
    snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(folder.value)));
    return Result<std::string>::Ok(std::string("/qxmd-") + hash + "-" + name);
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
    sem_t* sem = sem_open(semName.value.c_str(), O_CREAT, 0600, 0);
    if (sem == SEM_FAILED)
        return Status::Fail(ErrnoText("cannot create event " + name, errno));
    sem_ = sem;
    semName_ = semName.value;
    removeOnClose_ = removeOnClose;
    Reset(); // a signal left by a run that was killed must not fire in this one
    return Status::Ok();
}

Status NamedEvent::Open(const std::string& name) {
    Close();
    Result<std::string> semName = SemaphoreName(name);
    if (!semName)
        return Status::Fail(semName.error);
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
