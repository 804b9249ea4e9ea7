#include "QuitOnSignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace qx {

namespace {

int gWakeFds[2] = {-1, -1};

void OnTermination(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gWakeFds[1], &byte, 1);
    errno = saved;
}

} // namespace

Status QuitEventLoopOnTermination() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return Status::Fail("no application object");
    if (gWakeFds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gWakeFds) != 0)
        return Status::Fail(ErrnoText("cannot make the signal channel", errno));
    auto* notifier = new QSocketNotifier(gWakeFds[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [] {
        char bytes[16];
        while (::read(gWakeFds[0], bytes, sizeof bytes) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = OnTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGTERM, &action, nullptr) != 0 || sigaction(SIGINT, &action, nullptr) != 0)
        return Status::Fail(ErrnoText("cannot install the signal handlers", errno));
    return Status::Ok();
}

} // namespace qx
