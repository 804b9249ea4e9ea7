// Internal: the per-thread part of message windows. Each thread that owns windows has one
// dispatcher; it accepts connections on the windows' sockets, reads requests without blocking,
// runs handlers, and runs calls queued by other threads. It is driven by Qt socket notifiers when
// the thread runs a Qt event loop, and by PollOnce() from ServeMessages and from a thread that
// waits for the reply to its own send.
#pragma once

#include "MessageWindow.h"
#include "WindowWire.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace qx {

struct MessageWindow::Impl {
    std::shared_ptr<class WindowDispatcher> dispatcher;
    std::thread::id owner;
    WindowHandle handle;
    std::string folder; // runtime folder, with '/'
    int listenFd = -1;
    CopyDataHandler handler;
    QSocketNotifier* notifier = nullptr;
    bool created = false;
};

// A call queued to the owning thread by SendToOwnerThread.
struct QueuedCall {
    enum class State { Queued, Running, Done, Failed, Cancelled };
    std::function<int64_t()> call;
    std::weak_ptr<MessageWindow::Impl> window;
    std::mutex mutex;
    std::condition_variable cv;
    State state = State::Queued;
    int64_t result = 0;
    std::string error;
    void Finish(State s, int64_t r, std::string e);
};

// A UNIX socket address for `name` in `folder`; paths too long for sun_path go through an O_PATH
// descriptor of the folder (/proc/self/fd/N/name), which stays open while the object lives.
class SocketAddress {
public:
    ~SocketAddress();
    Status Set(const std::string& folder, const std::string& name);
    const sockaddr* addr() const { return reinterpret_cast<const sockaddr*>(&addr_); }
    socklen_t len() const { return len_; }

private:
    sockaddr_un addr_{};
    socklen_t len_ = 0;
    int dirFd_ = -1;
};

class WindowDispatcher : public std::enable_shared_from_this<WindowDispatcher> {
public:
    // The calling thread's dispatcher; created on demand when `create`, else may be null.
    static std::shared_ptr<WindowDispatcher> ForCurrentThread(bool create);

    WindowDispatcher();
    ~WindowDispatcher();

    void AddWindow(MessageWindow::Impl* w);
    void RemoveWindow(MessageWindow::Impl* w);
    bool Post(const std::shared_ptr<QueuedCall>& call); // any thread; false once the thread ended
    void Shutdown();                                    // the owning thread ends

    // One wait of up to timeoutMs on the thread's sockets and queue (plus `extraFd` for `extraEvents`
    // when >= 0), serving what is ready. Returns how many requests and calls were served;
    // *extraReady tells whether extraFd became ready.
    int PollOnce(int extraFd, short extraEvents, int timeoutMs, bool* extraReady);

private:
    struct Conn {
        int fd = -1;
        uint32_t serial = 0;
        pid_t peerPid = 0;
        wire::RequestReader request{0, 0};
        std::chrono::steady_clock::time_point deadline;
        QSocketNotifier* notifier = nullptr;
    };

    void EnsureQtMode();
    void WatchListener(MessageWindow::Impl* w);
    int OnListenerReady(uint32_t serial);
    int OnConnReady(int id);
    int ServeRequest(Conn conn);
    int RunQueuedCalls();
    void DrainEventFd();
    void CloseConn(Conn& c);
    void Sweep();
    MessageWindow::Impl* FindWindow(uint32_t serial) const;

    std::thread::id owner_;
    std::vector<MessageWindow::Impl*> windows_;
    std::map<int, Conn> conns_;
    int nextConnId_ = 1;
    int eventFd_ = -1;
    bool qtMode_ = false;
    QSocketNotifier* eventNotifier_ = nullptr;
    QTimer* sweepTimer_ = nullptr;

    std::mutex queueMutex_;
    std::deque<std::shared_ptr<QueuedCall>> queue_;
    bool closed_ = false;
};

} // namespace qx
