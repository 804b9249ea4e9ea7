// The channel to the log program "QXLog" beside the program: it is started hidden at main-window
// initialisation, receives one 1028-byte record per line as a synchronous copy-data message and
// ends on the level-2 "Abort Normal" record when the main window closes. Without it everything
// works and the lines are dropped.
//
// Waits are bounded (start-up and close), and a send to a log program that stopped answering
// fails after its time-out instead of hanging the caller.
#pragma once

#include "ChildProcess.h"
#include "MessageWindow.h"
#include "NamedEvent.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QObject;

enum LogLevel : int32_t { LOG_LEVEL_INFO = 0, LOG_LEVEL_FAILURE = 1, LOG_LEVEL_END = 2 };

constexpr int kLogTextSize = 1024;

// One line as it travels: little-endian level, then the zero-terminated text (at most 1023 chars).
struct LogRecord {
    int32_t level;
    char text[kLogTextSize];
};
static_assert(sizeof(LogRecord) == 1028, "the log program expects 1028-byte records");
static_assert(offsetof(LogRecord, text) == 4, "the text follows the 4-byte level");

constexpr const char* kLogAppInitEvent = "QXLogAppInitEvent";
constexpr const char* kLogAppEndEvent = "QXMOVIEDISCLogAppEndEvent";
constexpr const char* kLogAppEndText = "Abort Normal";
constexpr const char* kLogAppStartError =
    "Error on Create QX Log App,\nPlease reinstalled this software, or contact Support.";

// Fills a zero-filled record; a text of more than 1023 characters is cut to 1023.
LogRecord MakeLogRecord(int level, const std::string& text);
// The 1028 bytes sent: level little-endian at 0, text at 4.
void EncodeLogRecord(const LogRecord& record, unsigned char out[sizeof(LogRecord)]);

class CLogChannel {
public:
    struct Options {
        std::string program = "QXLog"; // a name in the program folder, or a path
        std::vector<std::string> args; // default: "--hidden" unless QXMOVIEDISC_SHOW_LOG=1
        int startWaitMs = 10000;       // for "QXLogAppInitEvent"
        int endWaitMs = 5000;          // for "QXMOVIEDISCLogAppEndEvent"
        int sendTimeoutMs = 5000;      // per record
        int pollMs = 50;
    };

    CLogChannel();
    explicit CLogChannel(Options options);
    ~CLogChannel(); // ends the log program if EndLogApp was not called
    CLogChannel(const CLogChannel&) = delete;
    CLogChannel& operator=(const CLogChannel&) = delete;

    // The main window's message window, passed with every record (may stay null).
    void SetSenderWindow(const qx::WindowHandle& window);

    // Creates the two named events (clearing stale signals). Called before StartLogApp.
    qx::Status CreateEvents();
    // Starts the log program and waits (bounded) for its window. When it cannot be started the
    // start error is shown once (information icon, through the prompt service) and the channel
    // stays without a window. Returns true when a log window is known.
    bool StartLogApp(QObject* owner = nullptr);
    // Formats (at most 1023 characters) and sends. Safe from any thread.
    void LogToApp(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Sends one record to the log window, if one is known; false when dropped or the send failed.
    bool SendLogRecord(int level, const std::string& text);
    // The end hand-shake: the "Abort Normal" record, then a bounded wait for the end event and for
    // the process to end. A log program still running after that is terminated, so nothing
    // outlives the program. Does nothing when the log program was never started.
    void EndLogApp();

    bool HasWindow() const;
    bool ProcessStarted() const;
    pid_t ProcessId() const;
    qx::WindowHandle LogWindow() const;
    // Records handed to a window / dropped for want of one (or failed sends), for tests and traces.
    uint64_t SentCount() const;
    uint64_t DroppedCount() const;

private:
    enum class Wait { Signalled, TimedOut, ProcessEnded };
    Wait WaitForEvent(qx::NamedEvent& event, int boundMs);

    Options m_options;
    mutable std::mutex m_mutex; // guards the state below, never held across a send
    std::unique_ptr<qx::ChildProcess> m_process;
    qx::WindowHandle m_logWindow;
    qx::WindowHandle m_sender;
    qx::NamedEvent m_initEvent;
    qx::NamedEvent m_endEvent;
    uint64_t m_nSent = 0;
    uint64_t m_nDropped = 0;
};

// The process-wide channel that LogToApp writes to; none installed: lines are dropped.
void SetLogChannel(CLogChannel* channel);
CLogChannel* GetLogChannel();
void LogToApp(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
