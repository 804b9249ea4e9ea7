#include "MessageWindow.h"

#include "Folders.h"
#include "WindowDispatcher.h"
#include "WindowWire.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qx {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<uint32_t> gNextSerial{1};

int MsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1000000));
}

bool ProcessAlive(pid_t pid) {
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// Waits until `fd` is ready for `events` or the deadline passes, serving the calling thread's
// windows meanwhile (so a peer that sends to us while we wait for it is answered).
bool WaitServing(int fd, short events, Clock::time_point deadline) {
    auto d = WindowDispatcher::ForCurrentThread(false);
    for (;;) {
        int left = MsLeft(deadline);
        bool ready = false;
        if (d) {
            d->PollOnce(fd, events, std::min(left, 250), &ready);
        } else {
            pollfd p{fd, events, 0};
            ready = poll(&p, 1, left) > 0;
        }
        if (ready)
            return true;
        if (left == 0)
            return false;
    }
}

// Connects to `target`'s socket in `folder`. Checks that the listener is `target.pid` of this user.
Result<int> ConnectWindow(const std::string& folder, const WindowHandle& target, Clock::time_point deadline,
                          bool serveWhileWaiting) {
    std::string name = wire::SocketFileName(target);
    SocketAddress address;
    Status s = address.Set(folder, name);
    if (!s)
        return Result<int>::Fail(s.error());
    for (;;) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return Result<int>::Fail(ErrnoText("cannot make a socket", errno));
        if (connect(fd, address.addr(), address.len()) == 0) {
            ucred cred{};
            socklen_t len = sizeof cred;
            if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) {
                close(fd);
                return Result<int>::Fail(ErrnoText("cannot identify window " + target.ToString(), errno));
            }
            if (cred.uid != geteuid()) {
                close(fd);
                return Result<int>::Fail("window " + target.ToString() + " belongs to another user (uid " +
                                         std::to_string(cred.uid) + "); refused");
            }
            if (cred.pid != target.pid) {
                close(fd);
                return Result<int>::Fail("window " + target.ToString() + " is served by process " +
                                         std::to_string(cred.pid) + ", not by its own; refused");
            }
            return Result<int>::Ok(fd);
        }
        int err = errno;
        close(fd);
        if (err == EINTR)
            continue;
        if (err == EAGAIN && MsLeft(deadline) > 0) {
            // The window's backlog is full: it is busy; try again shortly.
            if (serveWhileWaiting)
                ServeMessages(5, true);
            else
                usleep(5000);
            continue;
        }
        if (err == ENOENT)
            return Result<int>::Fail("window " + target.ToString() + " does not exist");
        if (err == ECONNREFUSED) {
            if (!ProcessAlive(target.pid))
                unlink((folder + name).c_str()); // left behind by a process that died
            return Result<int>::Fail("window " + target.ToString() + " is gone (its process ended)");
        }
        if (err == EAGAIN)
            return Result<int>::Fail("window " + target.ToString() + " is too busy to take a message");
        return Result<int>::Fail(ErrnoText("cannot reach window " + target.ToString(), err));
    }
}

// Sockets left by processes of ours that died before they could remove their own (killed, or
// ended without destroying their windows). The runtime folder is private, so every name in it
// is ours; a live process's sockets stay.
void RemoveDeadWindowSockets(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> dead;
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        std::optional<WindowHandle> h = wire::ParseSocketFileName(name);
        if (h && !ProcessAlive(h->pid))
            dead.push_back(name);
    }
    closedir(dir);
    for (const std::string& name : dead)
        unlink((folder + name).c_str());
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0)
            close(fd);
    }
};

} // namespace

std::string WindowHandle::ToString() const {
    return std::to_string(pid) + "-" + std::to_string(serial);
}

MessageWindow::MessageWindow() = default;

MessageWindow::~MessageWindow() {
    Destroy();
}

Status MessageWindow::Create(CopyDataHandler handler) {
    if (isCreated())
        return Status::Fail("the window already exists");
    Result<std::string> folder = RuntimeFolder();
    if (!folder)
        return Status::Fail(folder.error);
    auto impl = std::make_shared<Impl>();
    impl->owner = std::this_thread::get_id();
    impl->handle.pid = getpid();
    impl->handle.serial = gNextSerial.fetch_add(1);
    impl->folder = folder.value;
    impl->handler = std::move(handler);
    RemoveDeadWindowSockets(impl->folder);

    // Bound under a temporary name and renamed once listening, so a ".sock" name always has a
    // listener unless its process died.
    std::string finalName = wire::SocketFileName(impl->handle);
    std::string tempName = finalName.substr(0, finalName.size() - 5) + ".new";
    SocketAddress address;
    Status s = address.Set(impl->folder, tempName);
    if (!s)
        return s;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Status::Fail(ErrnoText("cannot make a window socket", errno));
    unlink((impl->folder + tempName).c_str());
    unlink((impl->folder + finalName).c_str()); // stale, from a dead process that had our pid
    if (bind(fd, address.addr(), address.len()) != 0 || listen(fd, 64) != 0 ||
        rename((impl->folder + tempName).c_str(), (impl->folder + finalName).c_str()) != 0) {
        int err = errno;
        close(fd);
        unlink((impl->folder + tempName).c_str());
        return Status::Fail(ErrnoText("cannot create window socket in " + impl->folder, err));
    }
    impl->listenFd = fd;
    impl->created = true;
    impl->dispatcher = WindowDispatcher::ForCurrentThread(true);
    impl->dispatcher->AddWindow(impl.get());
    d_ = impl;
    return Status::Ok();
}

void MessageWindow::Destroy() {
    if (!d_)
        return;
    auto impl = d_;
    d_.reset();
    impl->created = false;
    if (impl->dispatcher)
        impl->dispatcher->RemoveWindow(impl.get());
    unlink((impl->folder + wire::SocketFileName(impl->handle)).c_str());
    if (impl->listenFd >= 0)
        close(impl->listenFd);
    impl->listenFd = -1;
}

bool MessageWindow::isCreated() const {
    return d_ && d_->created;
}

WindowHandle MessageWindow::handle() const {
    return d_ ? d_->handle : WindowHandle{};
}

void MessageWindow::SetHandler(CopyDataHandler handler) {
    if (d_)
        d_->handler = std::move(handler);
}

Result<int64_t> MessageWindow::SendToOwnerThread(std::function<int64_t()> call, int timeoutMs) {
    auto impl = d_;
    if (!impl || !impl->created)
        return Result<int64_t>::Fail("the window does not exist");
    if (std::this_thread::get_id() == impl->owner)
        return Result<int64_t>::Ok(call());
    auto queued = std::make_shared<QueuedCall>();
    queued->call = std::move(call);
    queued->window = impl;
    if (!impl->dispatcher->Post(queued))
        return Result<int64_t>::Fail("the window's thread has ended");
    std::unique_lock<std::mutex> lock(queued->mutex);
    auto started = [&]() { return queued->state != QueuedCall::State::Queued; };
    if (timeoutMs < 0) {
        queued->cv.wait(lock, started);
    } else if (!queued->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), started)) {
        queued->state = QueuedCall::State::Cancelled;
        return Result<int64_t>::Fail("the window's thread did not take the call within " + std::to_string(timeoutMs) +
                                     " ms");
    }
    // Once running, the call may use the caller's data: wait for its end without bound.
    queued->cv.wait(lock, [&]() { return queued->state != QueuedCall::State::Running; });
    if (queued->state == QueuedCall::State::Done)
        return Result<int64_t>::Ok(queued->result);
    return Result<int64_t>::Fail(queued->error);
}

Result<int64_t> SendCopyData(const WindowHandle& target, const WindowHandle& sender, uint64_t dwData, const void* data,
                             size_t size, int timeoutMs) {
    using R = Result<int64_t>;
    if (target.isNull())
        return R::Fail("no window to send to");
    if (size > kMaxCopyDataSize)
        return R::Fail("a message of " + std::to_string(size) + " bytes is larger than the limit of " +
                       std::to_string(kMaxCopyDataSize));
    if (size > 0 && data == nullptr)
        return R::Fail("no data given for a message of " + std::to_string(size) + " bytes");
    if (timeoutMs < 0)
        return R::Fail("a send needs a time-out");
    Result<std::string> folder = RuntimeFolder();
    if (!folder)
        return R::Fail(folder.error);
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Result<int> conn = ConnectWindow(folder.value, target, deadline, true);
    if (!conn)
        return R::Fail(conn.error);
    FdCloser closer{conn.value};
    int fd = conn.value;

    std::vector<uint8_t> request(wire::kRequestHeaderSize + size);
    wire::RequestHeader header;
    header.targetSerial = target.serial;
    header.sender = sender;
    header.dwData = dwData;
    header.size = static_cast<uint32_t>(size);
    wire::EncodeRequestHeader(header, request.data());
    if (size > 0)
        std::memcpy(request.data() + wire::kRequestHeaderSize, data, size);

    const std::string who = "window " + target.ToString();
    size_t sent = 0;
    while (sent < request.size()) {
        ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitServing(fd, POLLOUT, deadline))
                return R::Fail(who + " did not take the message within " + std::to_string(timeoutMs) + " ms");
            continue;
        }
        return R::Fail(who + " closed the connection before taking the message (it ended or refused it)");
    }
    shutdown(fd, SHUT_WR);

    uint8_t reply[wire::kReplySize];
    size_t got = 0;
    while (got < sizeof reply) {
        ssize_t n = recv(fd, reply + got, sizeof reply - got, 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n == 0)
            return R::Fail(who + " ended or refused the message without an answer");
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitServing(fd, POLLIN, deadline))
                return R::Fail(who + " did not answer within " + std::to_string(timeoutMs) + " ms");
            continue;
        }
        return R::Fail(ErrnoText(who + " failed", errno));
    }
    std::optional<int64_t> result = wire::DecodeReply(reply);
    if (!result)
        return R::Fail(who + " sent a malformed answer");
    return R::Ok(*result);
}

namespace {

// Live windows in the runtime folder; `onlyPid` > 0 restricts to one process.
std::vector<WindowHandle> LiveWindows(pid_t onlyPid, bool firstOnly) {
    std::vector<WindowHandle> found;
    Result<std::string> folder = RuntimeFolder();
    if (!folder)
        return found;
    std::vector<WindowHandle> candidates;
    if (DIR* dir = opendir(folder.value.c_str())) {
        while (dirent* e = readdir(dir)) {
            auto h = wire::ParseSocketFileName(e->d_name);
            if (h && (onlyPid <= 0 || h->pid == onlyPid))
                candidates.push_back(*h);
        }
        closedir(dir);
    }
    std::sort(candidates.begin(), candidates.end(), [](const WindowHandle& a, const WindowHandle& b) {
        return a.pid != b.pid ? a.pid < b.pid : a.serial < b.serial;
    });
    for (const WindowHandle& h : candidates) {
        if (!ProcessAlive(h.pid)) {
            unlink((folder.value + wire::SocketFileName(h)).c_str());
            continue;
        }
        // A probe connection proves a listener of that process; the window drops it unread.
        Result<int> conn = ConnectWindow(folder.value, h, Clock::now() + std::chrono::milliseconds(200), false);
        if (!conn)
            continue;
        close(conn.value);
        found.push_back(h);
        if (firstOnly)
            break;
    }
    return found;
}

} // namespace

WindowHandle FindFirstWindowOfProcess(pid_t pid) {
    if (pid <= 0)
        return WindowHandle{};
    std::vector<WindowHandle> w = LiveWindows(pid, true);
    return w.empty() ? WindowHandle{} : w.front();
}

std::vector<WindowHandle> ListWindows() {
    return LiveWindows(0, false);
}

int ServeMessages(int timeoutMs, bool returnAfterOne) {
    auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    auto d = WindowDispatcher::ForCurrentThread(false);
    if (!d) {
        usleep(static_cast<useconds_t>(std::max(timeoutMs, 0)) * 1000);
        return 0;
    }
    int served = 0;
    for (;;) {
        served += d->PollOnce(-1, 0, MsLeft(deadline), nullptr);
        if ((returnAfterOne && served > 0) || MsLeft(deadline) == 0)
            return served;
    }
}

} // namespace qx
