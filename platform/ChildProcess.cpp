#include "ChildProcess.h"

#include "Folders.h"
#include "QtDisposal.h"

#include <QAbstractEventDispatcher>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qx {

std::string ExitStatus::Describe() const {
    if (exited)
        return "exit code " + std::to_string(code);
    const char* name = strsignal(signal);
    std::string text = "killed by signal " + std::to_string(signal);
    if (name != nullptr)
        text += std::string(" (") + name + ")";
    if (coreDumped)
        text += ", core dumped";
    return text;
}

struct ChildProcess::Impl {
    std::mutex mutex; // guards pid/reaped/status against concurrent pollers
    pid_t pid = 0;
    bool reaped = true;
    std::optional<ExitStatus> status;
    int pidfd = -1;
    // Exit watching (owning thread only).
    QSocketNotifier* notifier = nullptr;
    QTimer* timer = nullptr;
    std::function<void(const ExitStatus&)> onExit;
    // Lives while a watch is armed; queued calls check it, so none reaches a destroyed object.
    std::shared_ptr<int> watchToken;

    // Reaps without blocking; true when the process is gone (now or before).
    bool Reap() {
        std::lock_guard<std::mutex> lock(mutex);
        if (reaped)
            return true;
        int st = 0;
        pid_t r;
        do {
            r = waitpid(pid, &st, WNOHANG);
        } while (r < 0 && errno == EINTR);
        if (r == 0)
            return false;
        ExitStatus es;
        if (r == pid) {
            es.exited = WIFEXITED(st);
            es.code = es.exited ? WEXITSTATUS(st) : 0;
            es.signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
            es.coreDumped = WIFSIGNALED(st) && WCOREDUMP(st);
        } else {
            es.exited = false; // ECHILD: someone else reaped it; the status is unknown
        }
        status = es;
        reaped = true;
        return true;
    }

    void StopWatching() {
        onExit = nullptr;
        watchToken.reset();
        if (notifier != nullptr)
            notifier->setEnabled(false);
        DisposeWatcher(notifier);
        if (timer != nullptr)
            timer->stop();
        DisposeWatcher(timer);
    }

    void ClosePidfd() {
        if (pidfd >= 0) {
            close(pidfd);
            pidfd = -1;
        }
    }

    bool WaitEnd(int timeoutMs) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (Reap())
                return true;
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            if (left <= 0)
                return false;
            if (pidfd >= 0) {
                pollfd p{pidfd, POLLIN, 0};
                poll(&p, 1, static_cast<int>(std::min<long long>(left, 100)));
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(left, 10)));
            }
        }
    }

    // Called from the watcher when the process may have ended.
    void OnMaybeEnded() {
        if (!Reap())
            return;
        auto callback = onExit;
        ExitStatus es = status.value_or(ExitStatus{});
        StopWatching();
        if (callback)
            callback(es); // may destroy or restart the owner: touch nothing afterwards
    }
};

ChildProcess::ChildProcess() : d_(new Impl) {}

ChildProcess::~ChildProcess() {
    Terminate(2000);
    d_->StopWatching();
    d_->ClosePidfd();
}

pid_t ChildProcess::pid() const {
    std::lock_guard<std::mutex> lock(d_->mutex);
    return d_->pid;
}

bool ChildProcess::started() const {
    return pid() != 0;
}

std::optional<ExitStatus> ChildProcess::exitStatus() const {
    std::lock_guard<std::mutex> lock(d_->mutex);
    return d_->status;
}

bool ChildProcess::IsRunning() {
    return !d_->Reap();
}

bool ChildProcess::WaitForExit(int timeoutMs) {
    return d_->WaitEnd(std::max(timeoutMs, 0));
}

Status ChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
    if (program.empty())
        return Status::Fail("no program named");
    Status stopped = Terminate(2000);
    if (!stopped)
        return stopped;
    d_->StopWatching();
    d_->ClosePidfd();

    std::string path = program.find('/') == std::string::npos ? ProgramFolder() + program : program;
    if (access(path.c_str(), F_OK) != 0)
        return Status::Fail("cannot start " + path + ": the program file does not exist");
    if (access(path.c_str(), X_OK) != 0)
        return Status::Fail(ErrnoText("cannot start " + path, errno));

    // Everything the child needs is prepared before fork: after it only async-signal-safe calls.
    std::vector<std::string> argStore;
    argStore.push_back(path);
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    struct rlimit lim {};
    int maxFd = getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur < 1048576
                    ? static_cast<int>(lim.rlim_cur)
                    : 65536;
    int errPipe[2];
    if (pipe2(errPipe, O_CLOEXEC) != 0)
        return Status::Fail(ErrnoText("cannot start " + path, errno));

    pid_t child = fork();
    if (child < 0) {
        int err = errno;
        close(errPipe[0]);
        close(errPipe[1]);
        return Status::Fail(ErrnoText("cannot start " + path, err));
    }
    if (child == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0 && devNull != 0) {
            dup2(devNull, 0);
            close(devNull);
        }
        // Nothing but 0, 1, 2 reaches the helper (a lock or socket inherited would outlive us).
        if (syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) != 0) {
            for (int fd = 3; fd < maxFd; ++fd)
                if (fd != errPipe[1])
                    fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        execv(argv[0], argv.data());
        int err = errno;
        ssize_t ignored = write(errPipe[1], &err, sizeof err);
        (void)ignored;
        _exit(127);
    }
    close(errPipe[1]);
    int execErr = 0;
    ssize_t n;
    do {
        n = read(errPipe[0], &execErr, sizeof execErr);
    } while (n < 0 && errno == EINTR);
    close(errPipe[0]);
    if (n == static_cast<ssize_t>(sizeof execErr)) {
        int st = 0;
        while (waitpid(child, &st, 0) < 0 && errno == EINTR) {
        }
        return Status::Fail(ErrnoText("cannot start " + path, execErr));
    }
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        d_->pid = child;
        d_->reaped = false;
        d_->status.reset();
    }
    d_->pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    if (d_->pidfd >= 0)
        fcntl(d_->pidfd, F_SETFD, FD_CLOEXEC);
    return Status::Ok();
}

Status ChildProcess::Terminate(int graceMs) {
    d_->StopWatching();
    if (d_->Reap())
        return Status::Ok();
    pid_t p = pid();
    kill(p, SIGTERM);
    if (d_->WaitEnd(std::max(graceMs, 0)))
        return Status::Ok();
    kill(p, SIGKILL);
    if (d_->WaitEnd(5000))
        return Status::Ok();
    return Status::Fail("process " + std::to_string(p) + " did not end after SIGKILL");
}

Status ChildProcess::SetExitCallback(std::function<void(const ExitStatus&)> onExit) {
    d_->StopWatching();
    if (!onExit)
        return Status::Ok();
    if (!started())
        return Status::Fail("no process was started");
    if (QThread::currentThread()->eventDispatcher() == nullptr)
        return Status::Fail("the calling thread runs no Qt event loop; exit callbacks need one");
    d_->onExit = std::move(onExit);
    d_->watchToken = std::make_shared<int>(0);
    std::weak_ptr<int> token = d_->watchToken;
    Impl* impl = d_.get();
    auto check = [impl, token]() {
        WatcherSignalScope scope;
        if (token.lock())
            impl->OnMaybeEnded();
    };
    if (d_->pidfd >= 0) {
        d_->notifier = new QSocketNotifier(static_cast<qintptr>(d_->pidfd), QSocketNotifier::Read);
        QObject::connect(d_->notifier, &QSocketNotifier::activated, check);
    } else {
        d_->timer = new QTimer;
        d_->timer->setInterval(100);
        QObject::connect(d_->timer, &QTimer::timeout, check);
        d_->timer->start();
    }
    // Already ended before the watch began: report on the next pass of the loop.
    if (!IsRunning())
        QTimer::singleShot(0, check);
    return Status::Ok();
}

} // namespace qx
