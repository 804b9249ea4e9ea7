#include "NamedEvent.h"

#include "Folders.h"
#include "NameCheck.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qx {

// The first bytes of an event's file, mapped by every process that uses it.
struct NamedEventWord {
    uint32_t magic;
    uint32_t state; // 0 clear, 1 signalled; the futex word
    int32_t creator;
    uint32_t reserved;
};

namespace {

constexpr uint32_t kMagic = 0x51584556; // "QXEV"
const char* const kPrefix = "event.";

// Paths of the events this process created, for removal from a signal handler: fixed storage, a
// slot is read only while its state says it is complete.
constexpr int kSlots = 32;
struct Slot {
    std::atomic<int> state{0}; // 0 free, 1 being filled, 2 holds a path
    char path[PATH_MAX];
};
Slot gSlots[kSlots];
std::atomic<bool> gAtExitRegistered{false};

int RegisterCreated(const std::string& path) {
    if (path.size() >= PATH_MAX)
        return -1;
    if (!gAtExitRegistered.exchange(true))
        std::atexit(NamedEvent::RemoveCreatedNames);
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (gSlots[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
            gSlots[i].state = 2;
            return i;
        }
    }
    return -1; // full: the next run's Create removes the name, as after a crash
}

void Unregister(int slot) {
    if (slot >= 0)
        gSlots[slot].state = 0;
}

long Futex(uint32_t* word, int op, uint32_t value, const timespec* deadline) {
    // Not FUTEX_PRIVATE_FLAG: the word is shared with other processes through the file.
    return syscall(SYS_futex, word, op, value, deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
}

std::string ForeignText(const std::string& name, const std::string& path, const struct stat& st) {
    if (S_ISLNK(st.st_mode))
        return "event " + name + ": " + path + " is a symbolic link, not an event of this user";
    if (!S_ISREG(st.st_mode))
        return "event " + name + ": " + path + " is not an event file";
    return "event " + name + " was made by user id " + std::to_string(st.st_uid) + ", not by this user";
}

// Maps an event file opened for reading and writing; null when it is not one.
NamedEventWord* MapWord(int fd) {
    void* p = mmap(nullptr, sizeof(NamedEventWord), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : static_cast<NamedEventWord*>(p);
}

bool CreatorEnded(pid_t pid) {
    return pid <= 0 || (kill(pid, 0) != 0 && errno == ESRCH);
}

// Opens `path` as an event of this user: a regular file of ours, open to nobody else, of the
// event's size and magic. Anything else is refused with the reason.
Result<int> OpenOurs(const std::string& name, const std::string& path, struct stat* st) {
    const int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT)
            return Result<int>::Fail("event " + name + " does not exist");
        if (lstat(path.c_str(), st) == 0 && (err == ELOOP || !S_ISREG(st->st_mode) || st->st_uid != geteuid()))
            return Result<int>::Fail(ForeignText(name, path, *st) + "; refusing it");
        return Result<int>::Fail(ErrnoText("cannot open event " + name, err));
    }
    if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode) || st->st_uid != geteuid() || (st->st_mode & 077) != 0 ||
        st->st_size < static_cast<off_t>(sizeof(NamedEventWord))) {
        close(fd);
        return Result<int>::Fail(ForeignText(name, path, *st) + "; refusing it");
    }
    return Result<int>::Ok(fd);
}

// Looks at an event file of ours: gives the process that made it (0 when unknown) and, with
// `clear`, clears its signal, so that a program still holding one that is replaced gets no stale
// wake. False when it is not a file of ours.
bool LookAtOurs(const std::string& path, pid_t* creator, bool clear) {
    const int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool ours = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid();
    NamedEventWord* w = ours && st.st_size >= static_cast<off_t>(sizeof(NamedEventWord)) ? MapWord(fd) : nullptr;
    close(fd);
    *creator = 0;
    if (w) {
        if (clear && __atomic_load_n(&w->magic, __ATOMIC_SEQ_CST) == kMagic)
            __atomic_store_n(&w->state, 0u, __ATOMIC_SEQ_CST);
        *creator = w->creator;
        munmap(w, sizeof(NamedEventWord));
    }
    return ours;
}

// Events whose creator has ended (killed, or ended through std::_Exit) are removed, so that none
// outlives its program for longer than the next program's first Create. A half-made one
// ("event.NAME.PID.new") goes when the process named in it has ended.
void SweepEnded(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.rfind(kPrefix, 0) != 0)
            continue;
        const std::string path = folder + name;
        pid_t creator = 0;
        if (!LookAtOurs(path, &creator, false))
            continue;
        const size_t dot = name.size() > 4 ? name.rfind('.', name.size() - 5) : std::string::npos;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".new") == 0 && dot != std::string::npos)
            creator = static_cast<pid_t>(std::atoi(name.c_str() + dot + 1));
        if (CreatorEnded(creator) && LookAtOurs(path, &creator, true))
            unlink(path.c_str());
    }
    closedir(dir);
}

} // namespace

Result<std::string> NamedEvent::EventPath(const std::string& name) {
    if (!IsPlainObjectName(name, 200))
        return Result<std::string>::Fail("invalid event name \"" + name + "\"");
    Result<std::string> folder = RuntimeFolder();
    if (!folder)
        return Result<std::string>::Fail(folder.error);
    return Result<std::string>::Ok(folder.value + kPrefix + name);
}

void NamedEvent::RemoveCreatedNames() {
    for (Slot& s : gSlots) {
        if (s.state.load() == 2)
            unlink(s.path);
    }
}

NamedEvent::~NamedEvent() {
    Close();
}

NamedEvent::NamedEvent(NamedEvent&& other) noexcept
    : word_(other.word_), path_(std::move(other.path_)), dev_(other.dev_), ino_(other.ino_), slot_(other.slot_),
      notice_(std::move(other.notice_)) {
    other.word_ = nullptr;
    other.slot_ = -1;
}

NamedEvent& NamedEvent::operator=(NamedEvent&& other) noexcept {
    if (this != &other) {
        Close();
        word_ = other.word_;
        path_ = std::move(other.path_);
        dev_ = other.dev_;
        ino_ = other.ino_;
        slot_ = other.slot_;
        notice_ = std::move(other.notice_);
        other.word_ = nullptr;
        other.slot_ = -1;
    }
    return *this;
}

Status NamedEvent::Create(const std::string& name, bool removeOnClose) {
    Close();
    notice_.clear();
    Result<std::string> path = EventPath(name);
    if (!path)
        return Status::Fail(path.error);
    const std::string folder = path.value.substr(0, path.value.rfind('/') + 1);
    SweepEnded(folder);
    struct stat st {};
    if (lstat(path.value.c_str(), &st) == 0) {
        pid_t creator = 0;
        if (!LookAtOurs(path.value, &creator, true)) {
            // Only this user (or root) can put something into the private folder; whatever it is,
            // it is not used: a fresh event takes its name.
            notice_ = ForeignText(name, path.value, st) + "; it was removed and a fresh event made";
            std::fprintf(stderr, "%s\n", notice_.c_str());
        }
        if (unlink(path.value.c_str()) != 0 && errno != ENOENT)
            return Status::Fail(ErrnoText("cannot remove " + path.value, errno));
    }
    // Made complete under a private name and renamed into place: an opener never maps half an event.
    const std::string temp = path.value + "." + std::to_string(getpid()) + ".new";
    unlink(temp.c_str());
    const int fd = open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return Status::Fail(ErrnoText("cannot create event " + name, errno));
    NamedEventWord* w = nullptr;
    if (fchmod(fd, 0600) != 0 || ftruncate(fd, sizeof(NamedEventWord)) != 0 || fstat(fd, &st) != 0 ||
        (w = MapWord(fd)) == nullptr) {
        const int err = errno;
        close(fd);
        unlink(temp.c_str());
        return Status::Fail(ErrnoText("cannot create event " + name, err));
    }
    close(fd);
    w->state = 0;
    w->creator = static_cast<int32_t>(getpid());
    __atomic_store_n(&w->magic, kMagic, __ATOMIC_SEQ_CST);
    if (rename(temp.c_str(), path.value.c_str()) != 0) {
        const int err = errno;
        munmap(w, sizeof(NamedEventWord));
        unlink(temp.c_str());
        return Status::Fail(ErrnoText("cannot create event " + name, err));
    }
    word_ = w;
    path_ = path.value;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    slot_ = removeOnClose ? RegisterCreated(path_) : -1;
    if (!removeOnClose)
        path_.clear();
    return Status::Ok();
}

Status NamedEvent::Open(const std::string& name) {
    Close();
    notice_.clear();
    Result<std::string> path = EventPath(name);
    if (!path)
        return Status::Fail(path.error);
    struct stat st {};
    Result<int> fd = OpenOurs(name, path.value, &st);
    if (!fd)
        return Status::Fail(fd.error);
    NamedEventWord* w = MapWord(fd.value);
    const int err = errno;
    close(fd.value);
    if (!w)
        return Status::Fail(ErrnoText("cannot open event " + name, err));
    if (__atomic_load_n(&w->magic, __ATOMIC_SEQ_CST) != kMagic) {
        munmap(w, sizeof(NamedEventWord));
        return Status::Fail("event " + name + ": " + path.value + " is not an event file; refusing it");
    }
    word_ = w;
    return Status::Ok();
}

void NamedEvent::Close() {
    if (word_ == nullptr)
        return;
    munmap(word_, sizeof(NamedEventWord));
    word_ = nullptr;
    Unregister(slot_);
    slot_ = -1;
    // Only the file this object made: a later Create (here or in a newer run) may have replaced it.
    struct stat st {};
    if (!path_.empty() && lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_)
        unlink(path_.c_str());
    path_.clear();
}

Status NamedEvent::Set() {
    if (word_ == nullptr)
        return Status::Fail("event is not open");
    // An event is signalled or not: a second Set before a wait must not wake two waits.
    uint32_t clear = 0;
    if (__atomic_compare_exchange_n(&word_->state, &clear, 1u, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST) &&
        Futex(&word_->state, FUTEX_WAKE_BITSET, INT_MAX, nullptr) < 0)
        return Status::Fail(ErrnoText("cannot signal event", errno));
    return Status::Ok();
}

void NamedEvent::Reset() {
    if (word_ != nullptr)
        __atomic_store_n(&word_->state, 0u, __ATOMIC_SEQ_CST);
}

NamedEvent::WaitResult NamedEvent::Wait(int timeoutMs) {
    if (word_ == nullptr || timeoutMs < 0)
        return WaitResult::Failed;
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
        uint32_t set = 1;
        if (__atomic_compare_exchange_n(&word_->state, &set, 0u, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
            return WaitResult::Signalled;
        if (timeoutMs == 0)
            return WaitResult::TimedOut;
        // Sleeps only while the word is still 0: a Set in between makes it return at once.
        if (Futex(&word_->state, FUTEX_WAIT_BITSET, 0, &deadline) != 0 && errno != EAGAIN && errno != EINTR) {
            if (errno != ETIMEDOUT)
                return WaitResult::Failed;
            set = 1;
            return __atomic_compare_exchange_n(&word_->state, &set, 0u, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)
                       ? WaitResult::Signalled
                       : WaitResult::TimedOut;
        }
        // Woken, EAGAIN (set meanwhile) or EINTR: look again.
    }
}

Status NamedEvent::Remove(const std::string& name) {
    Result<std::string> path = EventPath(name);
    if (!path)
        return Status::Fail(path.error);
    if (unlink(path.value.c_str()) != 0 && errno != ENOENT)
        return Status::Fail(ErrnoText("cannot remove event " + name, errno));
    return Status::Ok();
}

} // namespace qx
