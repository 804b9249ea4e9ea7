#include "QuitOnSignal.h"

#include "NamedEvent.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace qx {

namespace {

int gWakeFds[2] = {-1, -1};
std::function<void(int)>* gHandler = nullptr;

void OnTermination(int signal) {
    const int saved = errno;
    // The program is to end: the names of its events go now, since the end may be a forced one
    // (std::_Exit when a step does not stop in time). Processes that opened them keep them.
    NamedEvent::RemoveCreatedNames();
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(gWakeFds[1], &number, 1);
    errno = saved;
}

// The default end, after the events this program made are removed (they would outlive it).
void EndAsByDefault(int signal) {
    NamedEvent::RemoveCreatedNames();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace

Status CallOnTermination(std::function<void(int signal)> handler) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return Status::Fail("no application object");
    if (!gHandler) {
        if (gWakeFds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gWakeFds) != 0)
            return Status::Fail(ErrnoText("cannot make the signal channel", errno));
        gHandler = new std::function<void(int)>();
        auto* notifier = new QSocketNotifier(gWakeFds[0], QSocketNotifier::Read, app);
        QObject::connect(notifier, &QSocketNotifier::activated, app, [] {
            unsigned char numbers[16];
            ssize_t n;
            while ((n = ::read(gWakeFds[0], numbers, sizeof numbers)) > 0) {
                for (ssize_t i = 0; i < n; ++i) {
                    // A copy: the handler may replace itself.
                    const std::function<void(int)> handler = *gHandler;
                    if (handler)
                        handler(numbers[i]);
                }
            }
        });
    }
    *gHandler = std::move(handler);
    struct sigaction action {};
    action.sa_handler = OnTermination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGTERM, &action, nullptr) != 0 || sigaction(SIGINT, &action, nullptr) != 0)
        return Status::Fail(ErrnoText("cannot install the signal handlers", errno));
    return Status::Ok();
}

void DefaultTermination() {
    struct sigaction action {};
    action.sa_handler = EndAsByDefault;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

Status QuitEventLoopOnTermination() {
    return CallOnTermination([](int) { QCoreApplication::quit(); });
}

} // namespace qx
