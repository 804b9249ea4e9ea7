#include "SystemServices.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QString>
#include <QVariant>

namespace qx {

namespace {

const char* kLogin1Service = "org.freedesktop.login1";
const char* kLogin1Path = "/org/freedesktop/login1";
const char* kLogin1Manager = "org.freedesktop.login1.Manager";

std::string Describe(const QDBusError& e) {
    std::string name = e.name().toStdString(), text = e.message().toStdString();
    if (name.empty())
        return text.empty() ? std::string("unknown D-Bus error") : text;
    return text.empty() ? name : name + ": " + text;
}

class LoginManagerPowerService : public PowerService {
public:
    explicit LoginManagerPowerService(int timeoutMs) : timeoutMs_(timeoutMs) {}

    Status PowerOff() override {
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected())
            return Status::Fail("cannot power off: no system message bus (" + Describe(bus.lastError()) + ")");
        QDBusMessage call =
            QDBusMessage::createMethodCall(kLogin1Service, kLogin1Path, kLogin1Manager, QStringLiteral("PowerOff"));
        call << false; // not interactive: never ask for a password
        QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs_);
        if (reply.type() == QDBusMessage::ErrorMessage)
            return Status::Fail("the login manager refused to power off: " + Describe(QDBusError(reply)));
        return Status::Ok();
    }

private:
    int timeoutMs_;
};

class DesktopScreenSaverInhibitor : public ScreenSaverInhibitor {
public:
    explicit DesktopScreenSaverInhibitor(int timeoutMs) : timeoutMs_(timeoutMs) {}
    ~DesktopScreenSaverInhibitor() override { UnInhibit(); }

    Status Inhibit(const std::string& application, const std::string& reason) override {
        UnInhibit();
        QString app = QString::fromStdString(application), why = QString::fromStdString(reason);
        QDBusConnection session = QDBusConnection::sessionBus();
        if (session.isConnected()) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
                QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("Inhibit"));
            call << app << why;
            QDBusReply<uint> reply = session.call(call, QDBus::Block, timeoutMs_);
            if (reply.isValid()) {
                cookie_ = reply.value();
                haveCookie_ = true;
            }
        }
        // Idle sleep is the login manager's business; its lock lasts while we hold the descriptor.
        QDBusConnection system = QDBusConnection::systemBus();
        if (system.isConnected()) {
            QDBusMessage call =
                QDBusMessage::createMethodCall(kLogin1Service, kLogin1Path, kLogin1Manager, QStringLiteral("Inhibit"));
            call << QStringLiteral("idle:sleep") << app << why << QStringLiteral("block");
            QDBusReply<QDBusUnixFileDescriptor> reply = system.call(call, QDBus::Block, timeoutMs_);
            if (reply.isValid() && reply.value().isValid())
                sleepLock_ = reply.value();
        }
        return Status::Ok(); // no session services: nothing to hold off, which is no failure
    }

    void UnInhibit() override {
        if (haveCookie_) {
            QDBusConnection session = QDBusConnection::sessionBus();
            if (session.isConnected()) {
                QDBusMessage call = QDBusMessage::createMethodCall(
                    QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
                    QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("UnInhibit"));
                call << cookie_;
                session.call(call, QDBus::Block, timeoutMs_);
            }
            haveCookie_ = false;
        }
        sleepLock_ = QDBusUnixFileDescriptor(); // closing our copy releases the lock
    }

    bool active() const override { return haveCookie_ || sleepLock_.isValid(); }

private:
    int timeoutMs_;
    bool haveCookie_ = false;
    uint cookie_ = 0;
    QDBusUnixFileDescriptor sleepLock_;
};

} // namespace

std::unique_ptr<PowerService> CreateLoginManagerPowerService(int timeoutMs) {
    return std::make_unique<LoginManagerPowerService>(timeoutMs);
}

std::unique_ptr<ScreenSaverInhibitor> CreateDesktopScreenSaverInhibitor(int timeoutMs) {
    return std::make_unique<DesktopScreenSaverInhibitor>(timeoutMs);
}

} // namespace qx
