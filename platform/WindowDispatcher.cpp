#include "WindowDispatcher.h"

#include "QtDisposal.h"

#include <QAbstractEventDispatcher>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace qx {

namespace {

constexpr size_t kMaxPendingConns = 64; // connections still sending; more are refused
constexpr int kIncompleteMs = 5000;     // a request must arrive whole within this time

// Ends the dispatcher of a thread when the thread ends.
struct ThreadDispatcherHolder {
    std::shared_ptr<WindowDispatcher> dispatcher;
    ~ThreadDispatcherHolder() {
        if (dispatcher)
            dispatcher->Shutdown();
    }
};
thread_local ThreadDispatcherHolder tlsHolder;

void DropNotifier(QSocketNotifier*& n) {
    if (n == nullptr)
        return;
    n->setEnabled(false); // before the descriptor is closed, so it never watches a reused number
    DisposeWatcher(n);
}

} // namespace

void QueuedCall::Finish(State s, int64_t r, std::string e) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        state = s;
        result = r;
        error = std::move(e);
    }
    cv.notify_all();
}

SocketAddress::~SocketAddress() {
    if (dirFd_ >= 0)
        close(dirFd_);
}

Status SocketAddress::Set(const std::string& folder, const std::string& name) {
    std::string path = folder + name;
    std::memset(&addr_, 0, sizeof addr_);
    addr_.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr_.sun_path) {
        if (dirFd_ < 0)
            dirFd_ = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dirFd_ < 0)
            return Status::Fail(ErrnoText("cannot open " + folder, errno));
        path = "/proc/self/fd/" + std::to_string(dirFd_) + "/" + name;
        if (path.size() >= sizeof addr_.sun_path)
            return Status::Fail("socket name " + name + " is too long");
    }
    std::memcpy(addr_.sun_path, path.c_str(), path.size() + 1);
    len_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return Status::Ok();
}

std::shared_ptr<WindowDispatcher> WindowDispatcher::ForCurrentThread(bool create) {
    if (!tlsHolder.dispatcher && create)
        tlsHolder.dispatcher = std::make_shared<WindowDispatcher>();
    return tlsHolder.dispatcher;
}

WindowDispatcher::WindowDispatcher() : owner_(std::this_thread::get_id()) {
    eventFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

WindowDispatcher::~WindowDispatcher() {
    Shutdown();
    for (auto& kv : conns_)
        CloseConn(kv.second);
    conns_.clear();
    DropNotifier(eventNotifier_);
    if (sweepTimer_ != nullptr)
        sweepTimer_->stop();
    DisposeWatcher(sweepTimer_);
    if (eventFd_ >= 0)
        close(eventFd_);
}

void WindowDispatcher::Shutdown() {
    std::deque<std::shared_ptr<QueuedCall>> pending;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        closed_ = true;
        pending.swap(queue_);
    }
    for (auto& c : pending)
        c->Finish(QueuedCall::State::Failed, 0, "the window's thread has ended");
}

bool WindowDispatcher::Post(const std::shared_ptr<QueuedCall>& call) {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (closed_)
            return false;
        queue_.push_back(call);
    }
    uint64_t one = 1;
    ssize_t n = write(eventFd_, &one, sizeof one);
    (void)n; // a full counter still leaves the descriptor readable
    return true;
}

void WindowDispatcher::EnsureQtMode() {
    if (qtMode_ || QThread::currentThread()->eventDispatcher() == nullptr)
        return;
    qtMode_ = true;
    std::weak_ptr<WindowDispatcher> self = weak_from_this();
    eventNotifier_ = new QSocketNotifier(static_cast<qintptr>(eventFd_), QSocketNotifier::Read);
    QObject::connect(eventNotifier_, &QSocketNotifier::activated, [self]() {
        WatcherSignalScope scope;
        if (auto d = self.lock())
            d->RunQueuedCalls();
    });
    sweepTimer_ = new QTimer;
    sweepTimer_->setInterval(1000);
    QObject::connect(sweepTimer_, &QTimer::timeout, [self]() {
        WatcherSignalScope scope;
        if (auto d = self.lock())
            d->Sweep();
    });
    sweepTimer_->start();
    for (MessageWindow::Impl* w : windows_)
        WatchListener(w);
}

void WindowDispatcher::WatchListener(MessageWindow::Impl* w) {
    if (!qtMode_ || w->notifier != nullptr)
        return;
    std::weak_ptr<WindowDispatcher> self = weak_from_this();
    uint32_t serial = w->handle.serial;
    w->notifier = new QSocketNotifier(static_cast<qintptr>(w->listenFd), QSocketNotifier::Read);
    QObject::connect(w->notifier, &QSocketNotifier::activated, [self, serial]() {
        WatcherSignalScope scope;
        if (auto d = self.lock())
            d->OnListenerReady(serial);
    });
}

void WindowDispatcher::AddWindow(MessageWindow::Impl* w) {
    windows_.push_back(w);
    EnsureQtMode();
    WatchListener(w);
}

void WindowDispatcher::RemoveWindow(MessageWindow::Impl* w) {
    DropNotifier(w->notifier);
    for (auto it = windows_.begin(); it != windows_.end(); ++it) {
        if (*it == w) {
            windows_.erase(it);
            break;
        }
    }
    for (auto it = conns_.begin(); it != conns_.end();) {
        if (it->second.serial == w->handle.serial) {
            CloseConn(it->second);
            it = conns_.erase(it);
        } else {
            ++it;
        }
    }
}

MessageWindow::Impl* WindowDispatcher::FindWindow(uint32_t serial) const {
    for (MessageWindow::Impl* w : windows_)
        if (w->handle.serial == serial && w->created)
            return w;
    return nullptr;
}

void WindowDispatcher::CloseConn(Conn& c) {
    DropNotifier(c.notifier);
    if (c.fd >= 0) {
        close(c.fd);
        c.fd = -1;
    }
}

void WindowDispatcher::Sweep() {
    auto now = std::chrono::steady_clock::now();
    for (auto it = conns_.begin(); it != conns_.end();) {
        if (now >= it->second.deadline) {
            CloseConn(it->second); // a sender that never finished its request
            it = conns_.erase(it);
        } else {
            ++it;
        }
    }
}

int WindowDispatcher::OnListenerReady(uint32_t serial) {
    int served = 0;
    for (;;) {
        MessageWindow::Impl* w = FindWindow(serial);
        if (w == nullptr)
            return served;
        int fd = accept4(w->listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return served; // EAGAIN: nothing more waiting
        }
        ucred cred{};
        socklen_t len = sizeof cred;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != geteuid() ||
            conns_.size() >= kMaxPendingConns) {
            close(fd); // another user's process, or a flood: no answer at all
            continue;
        }
        int id = nextConnId_++;
        Conn c;
        c.fd = fd;
        c.serial = serial;
        c.peerPid = cred.pid;
        c.request = wire::RequestReader(serial, cred.pid);
        c.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kIncompleteMs);
        conns_.emplace(id, std::move(c));
        served += OnConnReady(id); // usually the whole request is there already
        auto it = conns_.find(id);
        if (it != conns_.end() && qtMode_ && it->second.notifier == nullptr) {
            std::weak_ptr<WindowDispatcher> self = weak_from_this();
            it->second.notifier = new QSocketNotifier(static_cast<qintptr>(it->second.fd), QSocketNotifier::Read);
            QObject::connect(it->second.notifier, &QSocketNotifier::activated, [self, id]() {
                WatcherSignalScope scope;
                if (auto d = self.lock())
                    d->OnConnReady(id);
            });
        }
    }
}

int WindowDispatcher::OnConnReady(int id) {
    auto it = conns_.find(id);
    if (it == conns_.end())
        return 0;
    Conn& c = it->second;
    auto drop = [&]() {
        CloseConn(c);
        conns_.erase(it);
        return 0;
    };
    uint8_t chunk[16384];
    for (;;) {
        // Read no further than the announced end; past it only one byte, to see end-of-file.
        ssize_t n = recv(c.fd, chunk, c.request.Wanted(sizeof chunk), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            return drop();
        }
        if (n == 0) {
            if (c.request.End() != wire::RequestReader::State::Whole)
                return drop(); // truncated request (or a liveness probe)
            Conn done = std::move(c);
            conns_.erase(it);
            DropNotifier(done.notifier);
            return ServeRequest(std::move(done));
        }
        if (c.request.Add(chunk, static_cast<size_t>(n)) == wire::RequestReader::State::Refused)
            return drop(); // bad header, foreign sender, or more bytes than announced
    }
}

int WindowDispatcher::ServeRequest(Conn conn) {
    MessageWindow::Impl* w = FindWindow(conn.serial);
    if (w == nullptr) {
        close(conn.fd);
        return 0;
    }
    CopyDataMessage msg = conn.request.Message();
    CopyDataHandler handler = w->handler; // the handler may destroy the window
    int64_t result = handler ? handler(msg) : 0;
    uint8_t reply[wire::kReplySize];
    wire::EncodeReply(result, reply);
    ssize_t n;
    do {
        n = send(conn.fd, reply, sizeof reply, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    close(conn.fd); // a sender that gave up meanwhile just misses the reply
    return 1;
}

void WindowDispatcher::DrainEventFd() {
    uint64_t v;
    while (read(eventFd_, &v, sizeof v) > 0) {
    }
}

int WindowDispatcher::RunQueuedCalls() {
    DrainEventFd();
    std::deque<std::shared_ptr<QueuedCall>> calls;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        calls.swap(queue_);
    }
    int served = 0;
    for (auto& call : calls) {
        {
            std::lock_guard<std::mutex> lock(call->mutex);
            if (call->state != QueuedCall::State::Queued)
                continue; // the caller gave up before it started
            auto w = call->window.lock();
            if (!w || !w->created) {
                call->state = QueuedCall::State::Failed;
                call->error = "the window was destroyed";
                call->cv.notify_all();
                continue;
            }
            call->state = QueuedCall::State::Running;
        }
        int64_t r = call->call();
        call->Finish(QueuedCall::State::Done, r, {});
        ++served;
    }
    return served;
}

int WindowDispatcher::PollOnce(int extraFd, short extraEvents, int timeoutMs, bool* extraReady) {
    enum Kind { Extra, Event, Listener, Connection };
    struct Source {
        Kind kind;
        int key;
    };
    std::vector<pollfd> fds;
    std::vector<Source> sources;
    if (extraFd >= 0) {
        fds.push_back({extraFd, extraEvents, 0});
        sources.push_back({Extra, 0});
    }
    fds.push_back({eventFd_, POLLIN, 0});
    sources.push_back({Event, 0});
    for (MessageWindow::Impl* w : windows_) {
        fds.push_back({w->listenFd, POLLIN, 0});
        sources.push_back({Listener, static_cast<int>(w->handle.serial)});
    }
    auto now = std::chrono::steady_clock::now();
    for (auto& kv : conns_) {
        fds.push_back({kv.second.fd, POLLIN, 0});
        sources.push_back({Connection, kv.first});
        int left =
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(kv.second.deadline - now).count());
        timeoutMs = std::max(0, std::min(timeoutMs, left + 1));
    }
    if (extraReady != nullptr)
        *extraReady = false;
    int rc = poll(fds.data(), fds.size(), std::max(timeoutMs, 0));
    int served = 0;
    if (rc > 0) {
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            switch (sources[i].kind) {
            case Extra:
                if (extraReady != nullptr)
                    *extraReady = true;
                break;
            case Event:
                served += RunQueuedCalls();
                break;
            case Listener:
                served += OnListenerReady(static_cast<uint32_t>(sources[i].key));
                break;
            case Connection:
                served += OnConnReady(sources[i].key);
                break;
            }
        }
    }
    Sweep();
    return served;
}

} // namespace qx
