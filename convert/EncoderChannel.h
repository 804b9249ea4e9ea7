// The system's side of the encoder program: starting and restarting it, the request records,
// the copy-data handler for its answers, and the waits of the threads that need those answers.
//
// The main window owns one EncoderChannel. The parts that touch the window's own state go through
// EncoderChannelHost; see README.md for how the window wires it in.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "EncoderRecord.h"
#include "EncoderRequest.h"
#include "MessageWindow.h"
#include "NamedEvent.h"
#include "Status.h"

namespace qx {

// Event names shared with the encoder program and the waiting threads.
constexpr const char* kEncoderInitEvent = "QXEncoderProxyInitInformEvent";
constexpr const char* kEncoderProbeDoneEvent = "EncoderProxyCheckMediaFileComplete";
constexpr const char* kEncoderConvertDoneEvent = "EncoderProxyConvertComplete";
constexpr const char* kEncoderErrorEvent = "EncoderProxyError";

constexpr const char* kEncoderStartErrorText =
    "Error on Create Encoder Proxy,\nPlease reinstalled this software, or contact Support.";

// What the channel needs of the main window. Every call comes on the window's thread.
class EncoderChannelHost {
public:
    virtual ~EncoderChannelHost() = default;
    // The start failure message box (information icon), text kEncoderStartErrorText.
    virtual void ShowEncoderStartError(const std::string& text) = 0;
    // Progress window, if one is open: set its bar (percent) and text.
    virtual void ShowEncoderProgress(int percent, const std::string& text) = 0;
    // Process clock now minus m_dwConvertStart, in milliseconds.
    virtual uint32_t ConvertElapsedMs() const = 0;
};

struct EncoderChannelOptions {
    std::string program = "EncoderProxy"; // looked up in the program's folder, or a path with '/'
    std::vector<std::string> args;
    int startTimeoutMs = 20000;  // an encoder that has not signalled its start by then failed to start
    int sendTimeoutMs = 10000;   // bound of every send to the encoder
    int probeTimeoutMs = 180000; // bound of the probe wait; then the encoder counts as hung
};

// Reads an ENC_PROBE_RESULT; a cleared "supported" byte (or an unterminated path) means not supported.
EncoderProbeAnswer ReadProbeAnswer(const EncoderRecord& record);

class EncoderChannel {
public:
    // `window` is the main window: the encoder answers to it, and restarts run on its thread.
    EncoderChannel(MessageWindow& window, EncoderChannelHost& host, EncoderChannelOptions options = {});
    ~EncoderChannel(); // ends the encoder (no stop record is sent)

    // Creates the four events (clearing stale signals). Before the first start.
    Status CreateEvents();

    // Window's thread. 1 when the encoder runs, 0 when it did not start or never signalled its
    // start within the bound (then the message has been shown and nothing runs).
    int StartEncoderProxy();
    // Window's thread. Ends the encoder, starts a new one and, when that worked, signals
    // "EncoderProxyError". Also what happens when the encoder dies without a word.
    void RestartEncoderProxy();
    // Window's thread. Ends the encoder without signalling (job start and end, window closing).
    void KillEncoderProxy();

    bool HasEncoderWindow() const;
    pid_t EncoderPid() const;

    // Window's thread (WM_PROBE_FILE). A path or folder that does not fit the record is refused:
    // the answer "not supported" is put in the record and signalled at once, and the failure
    // returned. A send that fails (encoder gone or hung) restarts the encoder, which reports the
    // probe as crashed.
    Status SendProbeRequest(const std::string& path, const std::string& workFolder);
    // Adding thread: waits for the answer (50 ms on each event in turn, serving messages between),
    // at most probeTimeoutMs; a hung encoder is then restarted and the probe reported crashed.
    ProbeWait WaitProbeAnswer(EncoderProbeAnswer* answer);

    // Conversion thread. Texts that do not fit are refused: "EncoderProxyConvertComplete" is
    // signalled without any output being written (the movie then fails by the outcome rule)
    // and the failure returned.
    Status SendConvertRequest(const EncoderMovie& movie, const EncoderJob& job);
    // StopConvert: the stop record, when the encoder window is known.
    void SendStopRequest();
    // Conversion thread: completion is tested before the crash report; waits at most timeoutMs
    // (0 = test only), serving the thread's messages meanwhile.
    ConvertWait WaitConvertOutcome(int timeoutMs);

    // The main window's copy-data handler calls this first: true when the record was one of the
    // encoder's answers (types 4 to 7) and has been handled.
    bool OnCopyData(const CopyDataMessage& msg);

    // The shared 1152-byte record (last request sent, or the probe answer received).
    EncoderRecord Record() const;

private:
    bool Send(const EncoderRecord& record);
    void RestartFromAnyThread();
    void ArmExitWatch();
    void ResetAnswerEvents();

    MessageWindow& window_;
    EncoderChannelHost& host_;
    EncoderChannelOptions options_;
    std::unique_ptr<ChildProcess> process_;
    mutable std::mutex mutex_; // guards record_ and encoderWindow_
    EncoderRecord record_;
    WindowHandle encoderWindow_;
    NamedEvent initEvent_, probeDone_, convertDone_, error_;
};

} // namespace qx
