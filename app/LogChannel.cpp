#include "LogChannel.h"

#include "PromptService.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
std::atomic<CLogChannel*> g_channel{nullptr};

std::vector<std::string> DefaultArgs() {
    const char* show = std::getenv("QXMOVIEDISC_SHOW_LOG");
    if (show && std::strcmp(show, "1") == 0)
        return {};
    return {"--hidden"};
}
} // namespace

LogRecord MakeLogRecord(int level, const std::string& text) {
    LogRecord r;
    std::memset(&r, 0, sizeof r);
    r.level = level;
    const size_t n = text.size() < kLogTextSize - 1 ? text.size() : kLogTextSize - 1;
    std::memcpy(r.text, text.data(), n);
    return r;
}

void EncodeLogRecord(const LogRecord& record, unsigned char out[sizeof(LogRecord)]) {
    const uint32_t level = static_cast<uint32_t>(record.level);
    out[0] = static_cast<unsigned char>(level & 0xFF);
    out[1] = static_cast<unsigned char>((level >> 8) & 0xFF);
    out[2] = static_cast<unsigned char>((level >> 16) & 0xFF);
    out[3] = static_cast<unsigned char>((level >> 24) & 0xFF);
    std::memcpy(out + 4, record.text, kLogTextSize);
}

CLogChannel::CLogChannel() : CLogChannel(Options{}) {}

CLogChannel::CLogChannel(Options options) : m_options(std::move(options)) {}

CLogChannel::~CLogChannel() {
    if (GetLogChannel() == this)
        SetLogChannel(nullptr);
    EndLogApp();
}

void CLogChannel::SetSenderWindow(const qx::WindowHandle& window) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sender = window;
}

qx::Status CLogChannel::CreateEvents() {
    qx::Status s = m_initEvent.Create(kLogAppInitEvent);
    if (!s)
        return s;
    return m_endEvent.Create(kLogAppEndEvent);
}

CLogChannel::Wait CLogChannel::WaitForEvent(qx::NamedEvent& event, int boundMs) {
    if (!event.isOpen())
        return Wait::TimedOut;
    const int slice = m_options.pollMs > 0 ? m_options.pollMs : 50;
    for (int waited = 0;; waited += slice) {
        if (event.Wait(0) == qx::NamedEvent::WaitResult::Signalled)
            return Wait::Signalled;
        // Our own windows keep answering while we wait.
        qx::ServeMessages(0);
        if (!m_process || !m_process->IsRunning()) {
            // It may have signalled just before it ended.
            return event.Wait(0) == qx::NamedEvent::WaitResult::Signalled ? Wait::Signalled : Wait::ProcessEnded;
        }
        if (waited >= boundMs)
            return Wait::TimedOut;
        if (event.Wait(slice) == qx::NamedEvent::WaitResult::Signalled)
            return Wait::Signalled;
    }
}

bool CLogChannel::StartLogApp(QObject* owner) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_logWindow = {};
    }
    m_process = std::make_unique<qx::ChildProcess>();
    const std::vector<std::string> args = m_options.args.empty() ? DefaultArgs() : m_options.args;
    const qx::Status started = m_process->Start(m_options.program, args);
    if (!started) {
        m_process.reset();
        qx::Prompts().Information(owner, kLogAppStartError);
        return false;
    }
    if (WaitForEvent(m_initEvent, m_options.startWaitMs) != Wait::Signalled)
        return false;
    // A log program that ends while the window runs is reaped at once (no zombie waits for the
    // next line) and its window is forgotten. Without an event loop the next line notices instead.
    (void)m_process->SetExitCallback([this](const qx::ExitStatus&) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_logWindow = {};
    });
    const qx::WindowHandle window = qx::FindFirstWindowOfProcess(m_process->pid());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logWindow = window;
    return !m_logWindow.isNull();
}

void CLogChannel::LogToApp(int level, const char* format, ...) {
    char text[kLogTextSize];
    std::memset(text, 0, sizeof text);
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args); // cuts at 1023 characters
    va_end(args);
    SendLogRecord(level, text);
}

bool CLogChannel::SendLogRecord(int level, const std::string& text) {
    qx::WindowHandle target;
    qx::WindowHandle sender;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        target = m_logWindow;
        sender = m_sender;
        if (target.isNull()) {
            ++m_nDropped;
            return false;
        }
    }
    // Each call fills its own record, so no lock is held while the send waits.
    const LogRecord record = MakeLogRecord(level, text);
    unsigned char bytes[sizeof(LogRecord)];
    EncodeLogRecord(record, bytes);
    const qx::Result<int64_t> r = qx::SendCopyData(target, sender, 0, bytes, sizeof bytes, m_options.sendTimeoutMs);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!r) {
        // A log program that died or stopped answering is given up, so that later lines do not each
        // wait for the time-out.
        if (m_logWindow == target)
            m_logWindow = {};
        ++m_nDropped;
        return false;
    }
    ++m_nSent;
    return true;
}

void CLogChannel::EndLogApp() {
    if (!m_process)
        return;
    SendLogRecord(LOG_LEVEL_END, kLogAppEndText);
    const Wait ended = WaitForEvent(m_endEvent, m_options.endWaitMs);
    // It ends itself after the end event; one that does not is not left behind.
    if (ended != Wait::Signalled || !m_process->WaitForExit(2000))
        m_process->Terminate(1000);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_process.reset();
    m_logWindow = {};
}

bool CLogChannel::HasWindow() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_logWindow.isNull();
}

bool CLogChannel::ProcessStarted() const {
    return m_process != nullptr;
}

pid_t CLogChannel::ProcessId() const {
    return m_process ? m_process->pid() : 0;
}

qx::WindowHandle CLogChannel::LogWindow() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_logWindow;
}

uint64_t CLogChannel::SentCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nSent;
}

uint64_t CLogChannel::DroppedCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nDropped;
}

void SetLogChannel(CLogChannel* channel) {
    g_channel.store(channel);
}
CLogChannel* GetLogChannel() {
    return g_channel.load();
}

void LogToApp(int level, const char* format, ...) {
    char text[kLogTextSize];
    std::memset(text, 0, sizeof text);
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (CLogChannel* channel = GetLogChannel())
        channel->SendLogRecord(level, text);
}
