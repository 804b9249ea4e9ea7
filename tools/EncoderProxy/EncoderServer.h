// The encoder program's service to the system: a message window that takes request records,
// worker processes that do the work, and answer records sent back.
//
// Duties: signal "QXEncoderProxyInitInformEvent" once the window exists; answer every ENC_PROBE
// with one ENC_PROBE_RESULT (or ENC_RESTART when its worker dies); answer every ENC_CONVERT, and
// the ENC_STOP that ends it, with ENC_CONVERT_DONE after the output is written (or ENC_RESTART);
// send ENC_PROGRESS at most twice a second. Requests wait their turn: one worker at a time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "EncoderRecord.h"
#include "MessageWindow.h"
#include "WorkerProcess.h"

namespace qx::enc {

struct EncoderServerLimits {
    std::chrono::milliseconds probeTimeout{60000};         // a probe that takes longer is "not supported"
    std::chrono::milliseconds silentWorkerTimeout{300000}; // a conversion silent this long is hung
    std::chrono::milliseconds progressInterval{500};
    int sendTimeoutMs = 10000;
};

class EncoderServer {
public:
    explicit EncoderServer(std::string workerProgram, EncoderServerLimits limits = {});
    ~EncoderServer();

    // Creates the window and signals the start event. False (with *error) when the window fails.
    bool Start(std::string* error);
    // The copy-data handler of the window: queues work, never does it here.
    int64_t OnCopyData(const CopyDataMessage& msg);
    // One pass of housekeeping: starts queued work, relays worker output, notices ends.
    void Poll();
    // False once the system's process (from the hand-shake) has gone.
    bool SystemAlive() const;
    bool Busy() const { return worker_ != nullptr || !queue_.empty(); }

private:
    struct Job {
        int32_t type = 0;
        EncoderRecord record;
        WindowHandle replyTo;
        bool stopped = false; // ENC_STOP came before the conversion started
    };
    void StartNext();
    void StartProbe(const Job& job);
    void StartConvert(const Job& job);
    void Finish(const WorkerExit& exit);
    void Reply(const EncoderRecord& record);
    void ReplyType(int32_t type);
    void SendProgress(float fraction);
    void ProbeAnswered(const std::vector<std::string>& lines);

    std::string program_;
    EncoderServerLimits limits_;
    MessageWindow window_;
    pid_t systemPid_ = 0;
    WindowHandle systemWindow_;
    std::deque<Job> queue_;
    std::unique_ptr<WorkerProcess> worker_;
    Job current_;
    std::vector<std::string> output_;
    bool killedAsHung_ = false;
    bool stopRequested_ = false;
    bool probeTimedOut_ = false;
    std::chrono::steady_clock::time_point started_, lastOutput_, lastProgress_;
    float pendingFraction_ = -1;
};

// main() of the server mode: QCoreApplication, the server, its poll timer, exit when the system goes.
int RunEncoderServer(int argc, char** argv);

} // namespace qx::enc
