#include "MessageWindow.h"
#include "Folders.h"
#include "NamedEvent.h"
#include "PlatformTestSupport.h"
#include "WindowWire.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace qx;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// An isolated environment plus a peer process serving a window (handler: see platform_peer).
class PeerWindow : public ::testing::Test {
protected:
    test::IsolatedEnv env;
    ChildProcess peer;
    NamedEvent ready;
    WindowHandle target;

    void StartWindowPeer(const std::string& mode = "window") {
        ASSERT_TRUE(ready.Create("peerReady").ok());
        test::StartPeer(peer, {mode, "peerReady"});
        ASSERT_EQ(ready.Wait(5000), NamedEvent::WaitResult::Signalled);
        target = FindFirstWindowOfProcess(peer.pid());
    }
    Result<int64_t> Send(uint64_t dwData, const std::string& bytes, int timeoutMs = 3000,
                         WindowHandle from = WindowHandle{}) {
        return SendCopyData(target, from, dwData, bytes.data(), bytes.size(), timeoutMs);
    }
};

// Raw client: connects to a window socket, writes `bytes`, optionally shuts down, then reports
// whether a reply came (true) or the window closed without one (false).
bool RawExchange(const WindowHandle& w, const std::string& bytes, bool shutdownWrite, int waitMs = 3000) {
    std::string path = RuntimeFolder().value + wire::SocketFileName(w);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return false;
    }
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (shutdownWrite)
        shutdown(fd, SHUT_WR);
    timeval tv{waitMs / 1000, (waitMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char reply[wire::kReplySize];
    ssize_t n = recv(fd, reply, sizeof reply, MSG_WAITALL);
    close(fd);
    return n == static_cast<ssize_t>(sizeof reply);
}

std::string Header(uint32_t serial, WindowHandle sender, uint32_t size, const char* magic = "QXW1") {
    wire::RequestHeader h;
    h.targetSerial = serial;
    h.sender = sender;
    h.dwData = 1;
    h.size = size;
    uint8_t raw[wire::kRequestHeaderSize];
    wire::EncodeRequestHeader(h, raw);
    std::memcpy(raw, magic, 4);
    return std::string(reinterpret_cast<char*>(raw), sizeof raw);
}

} // namespace

TEST(WindowWire, HeaderRoundTripAndValidation) {
    wire::RequestHeader h;
    h.targetSerial = 3;
    h.sender = WindowHandle{1234, 7};
    h.dwData = 0x1122334455667788ull;
    h.size = 1152;
    uint8_t raw[wire::kRequestHeaderSize];
    wire::EncodeRequestHeader(h, raw);
    EXPECT_EQ(raw[24], 0x80); // 1152 little-endian
    EXPECT_EQ(raw[25], 0x04);
    Result<wire::RequestHeader> back = wire::DecodeRequestHeader(raw);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value.sender, h.sender);
    EXPECT_EQ(back.value.dwData, h.dwData);
    h.size = kMaxCopyDataSize + 1;
    wire::EncodeRequestHeader(h, raw);
    EXPECT_FALSE(wire::DecodeRequestHeader(raw).ok());
    EXPECT_EQ(wire::ParseSocketFileName("win-42-3.sock")->serial, 3u);
    for (const char* bad : {"win-0-1.sock", "win-42-.sock", "win--3.sock", "win-42-3.sockx", "win-042-3.sock",
                            "win-99999999999-1.sock", "lock", "win-4a-1.sock"})
        EXPECT_FALSE(wire::ParseSocketFileName(bad).has_value()) << bad;
}

TEST(WindowWire, RequestReaderTakesExactlyTheAnnouncedBytesInAnyPieces) {
    WindowHandle me{4242, 1};
    std::string whole = Header(5, me, 6) + "abcdef";
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(whole.data());
    for (size_t piece : {size_t{1}, size_t{7}, size_t{32}, whole.size()}) {
        wire::RequestReader reader(5, 4242);
        size_t done = 0;
        while (done < whole.size()) {
            size_t n = std::min({piece, reader.Wanted(piece), whole.size() - done});
            ASSERT_EQ(reader.Add(bytes + done, n), wire::RequestReader::State::Reading) << piece;
            done += n;
        }
        EXPECT_EQ(reader.Wanted(100), 1u) << "a whole request only waits for end-of-file";
        ASSERT_EQ(reader.End(), wire::RequestReader::State::Whole) << piece;
        CopyDataMessage m = reader.Message();
        EXPECT_EQ(std::string(m.data.begin(), m.data.end()), "abcdef");
        EXPECT_EQ(m.sender, me);
    }
    auto decode = [](const std::string& b, uint32_t serial, pid_t pid) {
        return wire::DecodeRequest(reinterpret_cast<const uint8_t*>(b.data()), b.size(), serial, pid);
    };
    EXPECT_TRUE(decode(whole, 5, 4242).ok());
    EXPECT_EQ(decode(whole + "g", 5, 4242).error, "more bytes than the request announces");
    EXPECT_EQ(decode(whole.substr(0, whole.size() - 1), 5, 4242).error, "request cut short");
    EXPECT_EQ(decode(whole, 6, 4242).error, "request for another window");
    EXPECT_EQ(decode(whole, 5, 4243).error, "request names a window of another process as its sender");
    EXPECT_TRUE(decode(Header(5, WindowHandle{}, 0), 5, 4243).ok()) << "a sender without a window is anyone";
    EXPECT_FALSE(decode(Header(5, me, 0, "QXW2"), 5, 4242).ok());
}

TEST_F(PeerWindow, SendReturnsTheHandlersResultAndNamesTheSender) {
    StartWindowPeer();
    ASSERT_FALSE(target.isNull());
    EXPECT_EQ(target.pid, peer.pid());
    std::string record(1152, '\0');
    record[0] = 2;
    record[1151] = 5;
    Result<int64_t> r = Send(1, record);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value, 1152 * 1000000LL + 7);
    r = Send(1, std::string(kMaxCopyDataSize, '\x01'));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value, static_cast<int64_t>(kMaxCopyDataSize) * 1000001LL);
    MessageWindow mine;
    ASSERT_TRUE(mine.Create(nullptr).ok());
    r = Send(8, "", 3000, mine.handle());
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value, getpid());
    r = Send(1, std::string(kMaxCopyDataSize + 1, 'x'));
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error.find("larger than the limit"), std::string::npos) << r.error;
    EXPECT_EQ(Send(99, "").value, 7);
    EXPECT_EQ(test::PeerExitCode(peer), 0);
}

TEST_F(PeerWindow, HandlerMaySendBackWhileTheSenderWaits) {
    StartWindowPeer();
    std::thread::id handlerThread;
    MessageWindow mine;
    ASSERT_TRUE(mine.Create([&](const CopyDataMessage& m) -> int64_t {
                        handlerThread = std::this_thread::get_id();
                        EXPECT_EQ(m.sender.pid, 0); // the peer sent without a window of its own
                        return m.dwData == 3 ? static_cast<int64_t>(m.data.size()) * 10 : -1;
                    })
                    .ok());
    Result<int64_t> r = Send(2, "abcd", 3000, mine.handle());
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value, 41);
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
}

TEST_F(PeerWindow, SendsAreBoundedWhenThePeerHangsDiesOrIsMissing) {
    StartWindowPeer();
    auto t0 = Clock::now();
    Result<int64_t> r = Send(4, "", 300); // the handler sleeps 5 s
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error.find("did not answer within 300 ms"), std::string::npos) << r.error;
    EXPECT_LT(MsSince(t0), 2000);

    ASSERT_TRUE(peer.Terminate(100).ok());
    StartWindowPeer();
    t0 = Clock::now();
    r = Send(6, "", 5000); // the handler aborts
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error.find("without an answer"), std::string::npos) << r.error;
    EXPECT_LT(MsSince(t0), 4000);
    peer.WaitForExit(5000);

    // The dead process's socket file stays behind: it is neither found nor reachable.
    std::string file = RuntimeFolder().value + wire::SocketFileName(target);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    r = Send(1, "x", 500);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error.find("is gone"), std::string::npos) << r.error;
    EXPECT_TRUE(FindFirstWindowOfProcess(peer.pid()).isNull());
    EXPECT_NE(stat(file.c_str(), &st), 0) << "the stale socket file should have been removed";
    r = SendCopyData(WindowHandle{getpid(), 999999}, {}, 1, nullptr, 0, 500);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error.find("does not exist"), std::string::npos) << r.error;
}

TEST_F(PeerWindow, CrashedPeerLeavesNoFindableWindow) {
    StartWindowPeer("window-abort");
    EXPECT_EQ(test::PeerExitCode(peer), -1000 - SIGABRT);
    EXPECT_TRUE(FindFirstWindowOfProcess(peer.pid()).isNull());
    for (const WindowHandle& w : ListWindows())
        EXPECT_NE(w.pid, peer.pid());
}

TEST_F(PeerWindow, ProgramsSendingToEachOtherAtOnceBothProgress) {
    // Both sides send 300 messages to each other at the same time; each send blocks until the
    // other side's handler ran, so this only finishes if a waiting sender serves its own window.
    test::App(); // our window is served by the Qt loop when idle and by the sends while busy
    NamedEvent go, done;
    ASSERT_TRUE(go.Create("crossGo").ok());
    ASSERT_TRUE(done.Create("crossDone").ok());
    ASSERT_TRUE(ready.Create("peerReady").ok());
    std::atomic<int> served{0};
    MessageWindow mine;
    ASSERT_TRUE(mine.Create([&](const CopyDataMessage& m) -> int64_t {
                        int32_t v = 0;
                        std::memcpy(&v, m.data.data(), 4);
                        ++served;
                        usleep(200);
                        return v * 3;
                    })
                    .ok());
    const int count = 300;
    test::StartPeer(peer, {"cross", std::to_string(getpid()), "crossGo", "crossDone", std::to_string(count)});
    WindowHandle other;
    for (auto t0 = Clock::now(); other.isNull() && MsSince(t0) < 5000; usleep(5000)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        other = FindFirstWindowOfProcess(peer.pid());
    }
    ASSERT_FALSE(other.isNull());
    go.Set();
    for (int32_t i = 0; i < count; ++i) {
        Result<int64_t> r = SendCopyData(other, mine.handle(), 7, &i, sizeof i, 3000);
        ASSERT_TRUE(r.ok()) << "send " << i << ": " << r.error;
        ASSERT_EQ(r.value, i * 2);
    }
    auto t0 = Clock::now();
    while (done.Wait(0) != NamedEvent::WaitResult::Signalled && MsSince(t0) < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    EXPECT_EQ(served.load(), count);
    ASSERT_TRUE(SendCopyData(other, {}, 99, nullptr, 0, 3000).ok());
    EXPECT_EQ(test::PeerExitCode(peer), 0);
}

TEST(MessageWindow, MalformedRecordsAreRejectedAndTheWindowGoesOn) {
    test::IsolatedEnv env;
    int calls = 0;
    MessageWindow w;
    ASSERT_TRUE(w.Create([&](const CopyDataMessage& m) -> int64_t {
                     ++calls;
                     return static_cast<int64_t>(m.data.size());
                 }).ok());
    WindowHandle h = w.handle();
    WindowHandle me{getpid(), 0};
    std::atomic<bool> finished{false};
    std::vector<bool> answered;
    std::thread client([&]() {
        answered.push_back(RawExchange(h, Header(h.serial, me, 1 << 20) + "x", true));             // announces 1 MiB
        answered.push_back(RawExchange(h, Header(h.serial, me, 10) + "12345", true));              // truncated
        answered.push_back(RawExchange(h, Header(h.serial, me, 10) + std::string(20, 'x'), true)); // longer
        answered.push_back(RawExchange(h, Header(h.serial, me, 0, "XXW1"), true));                 // bad magic
        answered.push_back(RawExchange(h, Header(h.serial + 1, me, 0), true));                     // other window
        answered.push_back(RawExchange(h, Header(h.serial, WindowHandle{1, 1}, 0), true));         // spoofed sender
        answered.push_back(RawExchange(h, Header(h.serial, me, 3) + "abc", true));                 // a good one
        // A sender that stalls half-way must not hold up the window for others.
        int stalled = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, (RuntimeFolder().value + wire::SocketFileName(h)).c_str());
        connect(stalled, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        std::string part = Header(h.serial, me, 100).substr(0, 20);
        send(stalled, part.data(), part.size(), MSG_NOSIGNAL);
        auto t0 = Clock::now();
        answered.push_back(SendCopyData(h, {}, 1, "abcd", 4, 2000).value == 4 && MsSince(t0) < 1500);
        close(stalled);
        finished = true;
    });
    while (!finished)
        ServeMessages(20);
    client.join();
    EXPECT_EQ(answered, (std::vector<bool>{false, false, false, false, false, false, true, true}));
    EXPECT_EQ(calls, 2);
}

// A program killed outright cannot remove its sockets: the next window made removes those of
// dead processes, and leaves those of live ones.
TEST(MessageWindow, SocketsOfDeadProcessesAreRemovedWhenAWindowIsMade) {
    test::IsolatedEnv env;
    const pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    ASSERT_GT(dead, 0);
    waitpid(dead, nullptr, 0);
    const std::string folder = RuntimeFolder().value;
    const std::string stale = folder + "win-" + std::to_string(dead) + "-1.sock";
    const std::string live = folder + "win-" + std::to_string(getppid()) + "-1.sock";
    test::WriteFile(stale, "");
    test::WriteFile(live, "");
    MessageWindow w;
    ASSERT_TRUE(w.Create(nullptr).ok());
    struct stat st {};
    EXPECT_NE(stat(stale.c_str(), &st), 0) << "a dead process's socket stays for good";
    EXPECT_EQ(stat(live.c_str(), &st), 0);
}

TEST(MessageWindow, FirstWindowIsTheOldestLiveOneAndLongFoldersWork) {
    test::IsolatedEnv env;
    // A runtime folder whose socket paths exceed the 108 bytes of a socket address.
    std::string deep = env.root() + "/" + std::string(60, 'd') + "/" + std::string(60, 'e');
    ASSERT_TRUE(MakeFolderPath(deep).ok());
    chmod(deep.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", deep.c_str(), 1);
    MessageWindow a, b;
    ASSERT_TRUE(a.Create([](const CopyDataMessage&) -> int64_t { return 1; }).ok());
    ASSERT_TRUE(b.Create([](const CopyDataMessage&) -> int64_t { return 2; }).ok());
    EXPECT_EQ(FindFirstWindowOfProcess(getpid()), a.handle());
    EXPECT_EQ(ListWindows().size(), 2u);
    Result<int64_t> r = SendCopyData(b.handle(), a.handle(), 0, nullptr, 0, 2000); // served by our own wait
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value, 2);
    a.Destroy();
    EXPECT_EQ(FindFirstWindowOfProcess(getpid()), b.handle());
    EXPECT_FALSE(SendCopyData(a.handle(), {}, 0, nullptr, 0, 500).ok());
}

TEST(MessageWindow, PeersOfAnotherUserAreRefused) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    test::IsolatedEnv env;
    bool called = false;
    MessageWindow w;
    ASSERT_TRUE(w.Create([&](const CopyDataMessage&) -> int64_t {
                     called = true;
                     return 1;
                 }).ok());
    std::string folder = RuntimeFolder().value;
    // Open the way for user 65534, so that only the credential check stands in its way.
    chmod(env.root().c_str(), 0755);
    chmod(env.runtimeBase().c_str(), 0755);
    chmod(folder.c_str(), 0777);
    chmod((folder + wire::SocketFileName(w.handle())).c_str(), 0777);
    WindowHandle h = w.handle();
    pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(4);
        // As a sender: no answer. As a receiver: a socket posing as our window is refused.
        bool answered = RawExchange(h, Header(h.serial, WindowHandle{getpid(), 0}, 0), true, 1000);
        int listener = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, (folder + wire::SocketFileName(WindowHandle{getpid(), 1})).c_str());
        if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener, 4) != 0)
            _exit(5);
        sleep(3);
        _exit(answered ? 1 : 0);
    }
    auto t0 = Clock::now();
    while (MsSince(t0) < 1200)
        ServeMessages(20);
    chmod(folder.c_str(), 0700); // our own sends check the folder first
    Result<int64_t> r = SendCopyData(WindowHandle{child, 1}, {}, 1, nullptr, 0, 1000);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error.find("belongs to another user"), std::string::npos) << r.error;
    int st = 0;
    waitpid(child, &st, 0);
    EXPECT_EQ(WEXITSTATUS(st), 0);
    EXPECT_FALSE(called);
}

TEST(MessageWindow, CallsFromOtherThreadsRunOnTheOwningThread) {
    test::IsolatedEnv env;
    test::App();
    // The window lives on a QThread with its own event loop.
    QThread owner;
    QObject onOwner;
    onOwner.moveToThread(&owner);
    owner.start();
    MessageWindow* w = nullptr;
    std::thread::id ownerId;
    QMetaObject::invokeMethod(
        &onOwner,
        [&]() {
            w = new MessageWindow;
            w->Create([&](const CopyDataMessage& m) -> int64_t {
                EXPECT_EQ(std::this_thread::get_id(), ownerId);
                return static_cast<int64_t>(m.dwData) + 1;
            });
            ownerId = std::this_thread::get_id();
        },
        Qt::BlockingQueuedConnection);
    ASSERT_NE(w, nullptr);
    // A send from this thread is answered by the owner's event loop.
    Result<int64_t> r = SendCopyData(w->handle(), {}, 41, nullptr, 0, 2000);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value, 42);
    std::thread::id ranOn;
    Result<int64_t> c = w->SendToOwnerThread([&]() -> int64_t {
        ranOn = std::this_thread::get_id();
        return 5;
    });
    ASSERT_TRUE(c.ok()) << c.error;
    EXPECT_EQ(c.value, 5);
    EXPECT_EQ(ranOn, ownerId);
    QMetaObject::invokeMethod(
        &onOwner, [&]() { delete w; }, Qt::BlockingQueuedConnection);
    owner.quit();
    owner.wait();
}

TEST(MessageWindow, QueuedCallsAreServedDuringASendAndTimeOutCleanly) {
    test::IsolatedEnv env;
    MessageWindow w, slow;
    ASSERT_TRUE(w.Create(nullptr).ok());
    // `slow` is on another thread and answers after 300 ms; meanwhile this thread waits in a send
    // and must still run a call queued to it by a worker.
    std::atomic<bool> stop{false};
    WindowHandle slowHandle;
    std::thread slowOwner([&]() {
        ASSERT_TRUE(slow.Create([](const CopyDataMessage&) -> int64_t {
                            usleep(300 * 1000);
                            return 1;
                        })
                        .ok());
        slowHandle = slow.handle();
        while (!stop)
            ServeMessages(20);
        slow.Destroy();
    });
    while (slowHandle.isNull())
        usleep(1000);
    std::atomic<long long> callDoneAt{-1};
    auto t0 = Clock::now();
    std::thread worker([&]() {
        usleep(50 * 1000);
        Result<int64_t> c = w.SendToOwnerThread([&]() -> int64_t { return 3; }, 1000);
        if (c.ok() && c.value == 3)
            callDoneAt = MsSince(t0);
    });
    Result<int64_t> r = SendCopyData(slowHandle, w.handle(), 0, nullptr, 0, 3000);
    long long sendDoneAt = MsSince(t0);
    worker.join();
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_GE(callDoneAt.load(), 0);
    EXPECT_LT(callDoneAt.load(), sendDoneAt) << "the queued call waited for the send to end";

    // Nobody serves this thread now: the call gives up after its time-out and never runs later.
    bool ran = false;
    Result<int64_t> late = Result<int64_t>::Ok(0);
    std::thread([&]() { late = w.SendToOwnerThread([&]() -> int64_t { return ran = true; }, 100); }).join();
    ASSERT_FALSE(late.ok());
    EXPECT_NE(late.error.find("within 100 ms"), std::string::npos) << late.error;
    ServeMessages(50);
    EXPECT_FALSE(ran);
    stop = true;
    slowOwner.join();
}
