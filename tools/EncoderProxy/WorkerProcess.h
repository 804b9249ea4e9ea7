// A worker: this same program started again with "--worker ..." to run one probe or conversion,
// so that a movie that crashes a decoder takes only the worker down. Its standard output comes
// back through a pipe as lines; it dies with us (parent-death signal).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qx::enc {

struct WorkerExit {
    bool normal = false; // ended by exit(): `code` is valid
    int code = 0;
    int signal = 0;
};

class WorkerProcess {
public:
    WorkerProcess() = default;
    ~WorkerProcess(); // kills a worker still running
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    // `program` is normally "/proc/self/exe".
    bool Start(const std::string& program, const std::vector<std::string>& args, std::string* error);
    // Complete lines received since the last call (without their line ends).
    std::vector<std::string> ReadLines();
    // True once the worker has ended and was reaped; the rest of its output is then readable.
    bool Finished(WorkerExit* exit);
    // Asks the worker to end early (it finishes its output and exits).
    void RequestStop();
    // Ends it at once and reaps it.
    void Kill();
    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && !reaped_; }

private:
    pid_t pid_ = 0;
    int fd_ = -1;
    bool reaped_ = false;
    WorkerExit exitStatus_;
    std::string pending_;
};

} // namespace qx::enc
