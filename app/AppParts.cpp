// The real parts behind the main window's interfaces.
#include "AppParts.h"

#include "AuthorLog.h"
#include "BuildInCore.h"
#include "LogChannel.h"
#include "NeroCore.h"
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

std::unique_ptr<EncoderLink> CreateEncoderLink(const std::string& program);
std::unique_ptr<AuthoringLink> CreateAuthoringLink();

void CompleteAppParts(AppParts& parts) {
    if (!parts.encoder) {
        parts.encoder = CreateEncoderLink(parts.encoderProgram);
    }
    if (!parts.log) {
        parts.log = std::make_unique<LogChannelLink>(parts.logProgram);
    }
    if (!parts.authoring) {
        parts.authoring = CreateAuthoringLink();
    }
    if (!parts.buildInCore) {
        // Engine messages (traces and status texts) reach the diagnostic print: errors always, the rest
        // at the verbosity QXAUTHOR_VERBOSITY asks for. The engine's log lines go to the log program.
        static const bool hooked = [] {
            for (int channel : {0, 1}) {
                AddEngineMessageHook(channel, [](int severity, const std::string& text) {
                    AuthorLog(severity >= 3 ? AUTHOR_LOG_WARN : AUTHOR_LOG_DEBUG, "%s", text.c_str());
                });
            }
            return true;
        }();
        (void)hooked;
        LogLink* log = parts.log.get();
        parts.buildInCore = std::make_unique<CBuildInCore>([log](const std::string& line) { log->Log(0, line); });
    }
    if (!parts.neroCore) {
        // Offered only when the registry names a library folder whose library is recent enough.
        LogLink* log = parts.log.get();
        parts.neroCore = std::make_unique<CNeroCore>([log](const std::string& line) { log->Log(0, line); });
    }
    // Listing with one engine drops the other engine's cached drive list.
    auto* buildIn = dynamic_cast<CBuildInCore*>(parts.buildInCore.get());
    auto* nero = dynamic_cast<CNeroCore*>(parts.neroCore.get());
    if (buildIn && nero) {
        buildIn->onListWriters = [nero] { nero->DropDriveList(); };
        nero->onListWriters = [buildIn] { buildIn->DropDeviceList(); };
    }
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
