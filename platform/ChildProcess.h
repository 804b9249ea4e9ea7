// A helper program started in the background: no window of its own, standard input from /dev/null,
// standard output and error inherited, no other descriptors inherited.
#pragma once

#include "Status.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qx {

struct ExitStatus {
    bool exited = false; // ended by exit(): `code` is valid
    int code = 0;
    int signal = 0; // ended by this signal when !exited
    bool coreDumped = false;
    // "exit code 3", "killed by signal 6 (Aborted), core dumped", ...
    std::string Describe() const;
};

// Not for concurrent use from several threads, except IsRunning/WaitForExit/pid, which are safe.
class ChildProcess {
public:
    ChildProcess();
    // Still running: terminated (SIGTERM, SIGKILL after 2 s) and reaped, so nothing outlives its owner.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // `program`: a name, looked up in ProgramFolder(), or a path containing '/'. Fails with a
    // reason (missing, not executable, exec error) when the program does not start. A process
    // still running from an earlier Start is terminated first.
    Status Start(const std::string& program, const std::vector<std::string>& args = {});

    pid_t pid() const; // 0 before Start; the last pid after the process ended
    bool started() const;

    // Polls without blocking; reaps the process when it has ended.
    bool IsRunning();
    // Waits up to timeoutMs for the end; true when it ended (and was reaped).
    bool WaitForExit(int timeoutMs);
    // Set once the process has been reaped.
    std::optional<ExitStatus> exitStatus() const;

    // SIGTERM, up to graceMs for the end, then SIGKILL and reap. Disarms the exit callback.
    // Succeeds when nothing runs any more (also when it had already ended).
    Status Terminate(int graceMs = 2000);

    // `onExit` runs on the calling thread's Qt event loop when the process ends by itself (it does
    // not run after Terminate). The calling thread must run a Qt event loop (main thread with a
    // QCoreApplication, or a QThread); fails otherwise, or when nothing was started. An empty
    // function disarms it. The callback may restart or destroy this object.
    Status SetExitCallback(std::function<void(const ExitStatus&)> onExit);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace qx
