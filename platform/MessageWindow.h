// Message windows: endpoints that other processes (and other threads) send synchronous
// copy-data messages to.
//
// A window is a UNIX-domain socket "win-<pid>-<serial>.sock" in the runtime folder. It belongs to
// the thread that created it; its handler always runs on that thread. That thread serves incoming
// sends either from its Qt event loop (main thread with a QCoreApplication, or a QThread) or by
// calling ServeMessages().
//
// SendCopyData is synchronous: it returns the handler's result after the handler ran. While a
// thread waits for the reply to its own send it keeps serving sends addressed to the windows it
// owns, so two programs that send to each other at the same moment both make progress (and a
// handler may itself send back to the sender). Every send is bounded by a time-out and fails when
// the peer is gone or never answers. Peers of another user are refused on both sides; records over
// kMaxCopyDataSize, truncated or longer than announced are rejected.
#pragma once

#include "Status.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qx {

constexpr size_t kMaxCopyDataSize = 64 * 1024;

// Identifies a window in any process of this user; {0, 0} is "no window".
struct WindowHandle {
    pid_t pid = 0;
    uint32_t serial = 0;
    bool isNull() const { return pid == 0; }
    explicit operator bool() const { return !isNull(); }
    bool operator==(const WindowHandle& o) const { return pid == o.pid && serial == o.serial; }
    bool operator!=(const WindowHandle& o) const { return !(*this == o); }
    std::string ToString() const; // "<pid>-<serial>"
};

struct CopyDataMessage {
    WindowHandle sender; // may be null when the sender has no window
    uint64_t dwData = 0;
    std::vector<uint8_t> data;
};

using CopyDataHandler = std::function<int64_t(const CopyDataMessage&)>;

class MessageWindow {
public:
    MessageWindow();
    ~MessageWindow(); // removes the socket; call on the owning thread
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // Creates the window, owned by the calling thread. Fails when the runtime folder is refused
    // or the socket cannot be made.
    Status Create(CopyDataHandler handler);
    void Destroy();
    bool isCreated() const;
    WindowHandle handle() const;
    // Replaces the handler (on the owning thread). A window without a handler answers 0.
    void SetHandler(CopyDataHandler handler);

    // Runs `call` on the owning thread and returns its result, like a thread's synchronous
    // SendMessage to a window of its own process: directly when called on the owning thread,
    // otherwise queued to it (served by its event loop, ServeMessages, or a thread waiting in
    // SendCopyData) while the caller blocks. timeoutMs < 0 waits without bound; the time-out only
    // bounds the wait for the call to START (a started call always runs to its end). Fails when
    // the window is destroyed or its thread ends first.
    Result<int64_t> SendToOwnerThread(std::function<int64_t()> call, int timeoutMs = -1);

    struct Impl;

private:
    std::shared_ptr<Impl> d_;
};

// Sends (dwData, bytes) to `target` and waits up to timeoutMs for the handler's result.
// `sender` is passed to the receiver (a window of the calling thread, or null).
Result<int64_t> SendCopyData(const WindowHandle& target, const WindowHandle& sender, uint64_t dwData, const void* data,
                             size_t size, int timeoutMs);

// The first (lowest serial) live window of process `pid`, or null. Socket files of dead processes
// are removed on the way.
WindowHandle FindFirstWindowOfProcess(pid_t pid);
// All live windows in the runtime folder, ordered by pid then serial.
std::vector<WindowHandle> ListWindows();

// Serves sends and queued calls addressed to the calling thread's windows for up to timeoutMs
// (returns early after having served at least one when returnAfterOne). For threads without a Qt
// event loop, and for waits that must keep the thread's windows answering (e.g. polling a named
// event in slices). Returns how many were served.
int ServeMessages(int timeoutMs, bool returnAfterOne = false);

} // namespace qx
