// The real parts behind the main window's interfaces.
#include "AppParts.h"

#include "AuthorLog.h"
#include "LogChannel.h"
#include "SystemServices.h"

#include <QProcess>
#include <QUrl>

namespace {

class LogChannelLink : public LogLink {
public:
    explicit LogChannelLink(const std::string& program) {
        CLogChannel::Options options;
        if (!program.empty()) {
            options.program = program;
        }
        m_channel = std::make_unique<CLogChannel>(options);
    }
    ~LogChannelLink() override {
        if (GetLogChannel() == m_channel.get()) {
            SetLogChannel(nullptr);
        }
    }
    bool Start() override {
        const qx::Status events = m_channel->CreateEvents();
        if (!events.ok()) {
            AuthorLog(3, "log events not created: %s", events.error().c_str());
        }
        SetLogChannel(m_channel.get());
        return m_channel->StartLogApp(nullptr);
    }
    void Log(int level, const std::string& text) override { m_channel->SendLogRecord(level, text); }
    void End() override { m_channel->EndLogApp(); }

private:
    std::unique_ptr<CLogChannel> m_channel;
};

class LoginManagerPower : public PowerLink {
public:
    void Shutdown() override {
        const qx::Status status = qx::CreateLoginManagerPowerService()->PowerOff();
        if (!status.ok()) {
            AuthorLog(3, "Shutdown refused: %s", status.error().c_str());
        }
    }
};

} // namespace

bool OpenWithDesktop(const std::string& url) {
    // The desktop's opener tells by its exit status whether any program took the page (it fails
    // where the desktop has none); one that keeps running has handed it to a program.
    auto* opener = new QProcess;
    QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
    opener->start("xdg-open", {QString::fromStdString(url)});
    if (!opener->waitForStarted(5000)) {
        delete opener;
        return false;
    }
    if (!opener->waitForFinished(3000)) {
        return true;
    }
    return opener->exitStatus() == QProcess::NormalExit && opener->exitCode() == 0;
}

void CompleteAppParts(AppParts& parts) {
    if (!parts.log) {
        parts.log = std::make_unique<LogChannelLink>(parts.logProgram);
    }
    LogLink* log = parts.log.get();
    CompleteJobParts(parts, [log](const std::string& line) { log->Log(0, line); });
    if (!parts.power) {
        parts.power = std::make_unique<LoginManagerPower>();
    }
    if (!parts.screenSaver) {
        parts.screenSaver = qx::CreateDesktopScreenSaverInhibitor();
    }
    if (!parts.openUrl) {
        parts.openUrl = OpenWithDesktop;
    }
}
