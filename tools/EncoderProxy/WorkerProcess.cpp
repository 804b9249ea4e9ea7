#include "WorkerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qx::enc {

WorkerProcess::~WorkerProcess() {
    Kill();
    if (fd_ >= 0)
        ::close(fd_);
}

bool WorkerProcess::Start(const std::string& program, const std::vector<std::string>& args, std::string* error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    // Everything the child needs is built before fork: after it only async-signal-safe calls.
    std::vector<std::string> all;
    all.push_back(program);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("cannot start a worker: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(fds[1], STDOUT_FILENO);
        int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            ::dup2(devnull, STDIN_FILENO);
        ::signal(SIGPIPE, SIG_DFL);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    fd_ = fds[0];
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    pid_ = pid;
    reaped_ = false;
    pending_.clear();
    return true;
}

std::vector<std::string> WorkerProcess::ReadLines() {
    std::vector<std::string> lines;
    if (fd_ >= 0) {
        char buf[4096];
        while (true) {
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) {
                pending_.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0) { // the worker closed its end
                ::close(fd_);
                fd_ = -1;
            }
            break;
        }
    }
    size_t start = 0;
    for (size_t nl; (nl = pending_.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(pending_.substr(start, nl - start));
    pending_.erase(0, start);
    if (fd_ < 0 && !pending_.empty()) {
        lines.push_back(pending_);
        pending_.clear();
    }
    return lines;
}

bool WorkerProcess::Finished(WorkerExit* exit) {
    if (pid_ <= 0)
        return false;
    if (!reaped_) {
        int status = 0;
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == 0 || (r < 0 && errno == EINTR))
            return false;
        reaped_ = true;
        if (r > 0) {
            exitStatus_.normal = WIFEXITED(status);
            exitStatus_.code = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
            exitStatus_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        } else {
            exitStatus_ = WorkerExit{false, 0, SIGKILL};
        }
    }
    if (exit)
        *exit = exitStatus_;
    return true;
}

void WorkerProcess::RequestStop() {
    if (running())
        ::kill(pid_, SIGTERM);
}

void WorkerProcess::Kill() {
    if (!running())
        return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    exitStatus_ = WorkerExit{false, 0, SIGKILL};
}

} // namespace qx::enc
