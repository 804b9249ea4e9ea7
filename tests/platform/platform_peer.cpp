// The other process of the platform tests. Usage: platform_peer MODE ARGS...
// Exit codes: 0 success, 1 a check failed, 2 bad usage, 3 lock held elsewhere, 4 setup failed.
#include "ChildProcess.h"
#include "Folders.h"
#include "InstanceLock.h"
#include "MessageWindow.h"
#include "NamedEvent.h"
#include "QuitOnSignal.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace qx;

namespace {

[[noreturn]] void Forever() {
    for (;;)
        pause();
}

int SetEvent(const std::string& name) {
    NamedEvent e;
    return e.Open(name) && e.Set() ? 0 : 4;
}

int32_t Int32At(const CopyDataMessage& m) {
    int32_t v = 0;
    if (m.data.size() >= 4)
        std::memcpy(&v, m.data.data(), 4);
    return v;
}

// The handler of the "window" mode; see the dwData cases.
int64_t WindowHandler(const CopyDataMessage& m) {
    switch (m.dwData) {
    case 1: { // size and byte sum
        int64_t sum = 0;
        for (uint8_t b : m.data)
            sum += b;
        return static_cast<int64_t>(m.data.size()) * 1000000 + sum;
    }
    case 2: { // send the payload back to the sender while it waits for us, answer its result + 1
        Result<int64_t> r = SendCopyData(m.sender, WindowHandle{}, 3, m.data.data(), m.data.size(), 2000);
        return r ? r.value + 1 : -1;
    }
    case 4: // never answers in time
        sleep(5);
        return 0;
    case 6: // dies in the middle of a send
        abort();
    case 8:
        return m.sender.pid;
    case 9: // answers slowly
        usleep(300 * 1000);
        return 9;
    case 99:
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return 7;
    default:
        return -1;
    }
}

// Sends `count` messages to the first window of `target` while that process sends to us.
int Cross(pid_t target, const std::string& go, const std::string& done, int count) {
    bool quit = false;
    MessageWindow w;
    Status s = w.Create([&](const CopyDataMessage& m) -> int64_t {
        if (m.dwData == 99) {
            quit = true;
            return 7;
        }
        usleep(200); // widen the time in which both sides are inside a send
        return Int32At(m) * 2;
    });
    NamedEvent goEvent, doneEvent;
    if (!s || !goEvent.Open(go) || !doneEvent.Open(done))
        return 4;
    while (goEvent.Wait(0) != NamedEvent::WaitResult::Signalled)
        ServeMessages(5, true);
    WindowHandle peer = FindFirstWindowOfProcess(target);
    int failures = 0;
    for (int32_t i = 0; i < count; ++i) {
        Result<int64_t> r = SendCopyData(peer, w.handle(), 7, &i, sizeof i, 3000);
        if (!r || r.value != i * 3) {
            fprintf(stderr, "peer send %d: %s\n", i, r ? "wrong result" : r.error.c_str());
            ++failures;
        }
    }
    doneEvent.Set();
    for (int i = 0; i < 1000 && !quit; ++i)
        ServeMessages(10, true);
    return failures == 0 && quit ? 0 : 1;
}

int CountInheritedFds() {
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d)) {
            int fd = atoi(e->d_name);
            if (e->d_name[0] != '.' && fd > 2 && fd != dirfd(d))
                ++count;
        }
        closedir(d);
    }
    return count;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    std::string mode = argv[1];
    auto arg = [&](int i) { return i < argc ? std::string(argv[i]) : std::string(); };

    if (mode == "exit")
        return atoi(argv[2]);
    if (mode == "abort")
        abort();
    if (mode == "sleep")
        Forever();
    if (mode == "stubborn") {
        signal(SIGTERM, SIG_IGN);
        Forever();
    }
    if (mode == "check-stdio") // standard input is /dev/null and nothing else was inherited
        return getchar() == EOF && CountInheritedFds() == 0 ? 0 : 1;
    if (mode == "try-lock") {
        InstanceLock lock;
        InstanceLock::State st = lock.Acquire(arg(2));
        return st == InstanceLock::State::Acquired ? 0 : st == InstanceLock::State::HeldElsewhere ? 3 : 4;
    }
    if (mode == "hold-lock") { // NAME READY [PIDFILE: also start a child that sleeps, write its pid]
        InstanceLock lock;
        if (lock.Acquire(arg(2)) != InstanceLock::State::Acquired)
            return 3;
        static ChildProcess child;
        if (!arg(4).empty()) {
            if (!child.Start("platform_peer", {"sleep"}))
                return 4;
            std::ofstream(arg(4)) << child.pid();
        }
        if (SetEvent(arg(3)) != 0)
            return 4;
        Forever();
    }
    if (mode == "set-event")
        return SetEvent(arg(2));
    if (mode == "set-and-abort") { // leaves a signalled event behind
        NamedEvent e;
        if (!e.Create(arg(2), false) || !e.Set())
            return 4;
        abort();
    }
    if (mode == "attack-event") { // PATH: another user tries to read, make or list an event; 0 when all fail
        const std::string folder = arg(2).substr(0, arg(2).rfind('/'));
        const int read = open(arg(2).c_str(), O_RDONLY | O_NONBLOCK);
        const int made = open(arg(2).c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
        DIR* listed = opendir(folder.c_str());
        const bool anything = read >= 0 || made >= 0 || listed != nullptr;
        if (listed)
            closedir(listed);
        return anything ? 1 : 0;
    }
    if (mode == "create-and-end") { // HOW NAME: ends with the event still open
        auto* e = new NamedEvent;   // never destroyed: only the exit path may remove the name
        if (!e->Create(arg(3)))
            return 4;
        if (arg(2) == "exit")
            exit(0);
        if (arg(2) == "sigint") {
            DefaultTermination();
            raise(SIGINT);
        }
        if (arg(2) == "forced") { // as a window program ends when a step does not stop in time
            QCoreApplication app(argc, argv);
            if (!CallOnTermination([](int) { std::_Exit(3); }))
                return 4;
            raise(SIGTERM);
            return app.exec();
        }
        raise(SIGKILL);
        return 1;
    }
    if (mode == "wait-event") {
        NamedEvent e;
        if (!e.Open(arg(2)))
            return 4;
        NamedEvent::WaitResult r = e.Wait(atoi(argv[3]));
        return r == NamedEvent::WaitResult::Signalled ? 0 : r == NamedEvent::WaitResult::TimedOut ? 1 : 4;
    }
    if (mode == "window" || mode == "window-abort") { // READY
        QCoreApplication app(argc, argv);
        MessageWindow w;
        if (!w.Create(WindowHandler) || SetEvent(arg(2)) != 0)
            return 4;
        if (mode == "window-abort")
            abort(); // leaves its socket file behind
        return app.exec();
    }
    if (mode == "cross") // TARGET_PID GO DONE COUNT
        return Cross(static_cast<pid_t>(atoi(argv[2])), arg(3), arg(4), atoi(argv[5]));
    return 2;
}
