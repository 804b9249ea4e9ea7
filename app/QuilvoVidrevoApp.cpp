#include "QuilvoVidrevoApp.h"

#include "AppArguments.h"
#include "InstanceLock.h"
#include "MainDlg.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QTimer>

#include <cstdio>

namespace {
// The name of the installed desktop entry, without ".desktop".
constexpr const char* kDesktopFileId = "org.example.qxmoviedisc.QXMovieDisc";
} // namespace

int CQuilvoVidrevoApp::InitInstance(AppParts parts, std::vector<std::string> files) {
    qx::InstanceLock lock;
    std::string error;
    switch (lock.Acquire("QXMOVIEDISC", &error)) {
    case qx::InstanceLock::State::HeldElsewhere:
        return 0; // a second start ends silently
    case qx::InstanceLock::State::Failed:
        std::fprintf(stderr, "QXMovieDisc: cannot take the single-instance lock: %s\n", error.c_str());
        return 1;
    case qx::InstanceLock::State::Acquired:
        break;
    }
    auto dlg = std::make_unique<CQuilvoVidrevoDlg>(std::move(parts));
    dlg->OnInitDialog();
    if (!files.empty()) {
        // Added from inside the window's event loop: the probe answers arrive through it.
        QTimer::singleShot(0, dlg.get(), [window = dlg.get(), files = std::move(files)]() mutable {
            window->AddGivenFiles(std::move(files));
        });
    }
    dlg->exec();
    dlg.reset();
    return 0;
}

int RunQuilvoVidrevoApp(int argc, char** argv) {
    // Help and version are answered before Qt starts, so they work without a display. (Qt's own
    // options make this early pass fail; the full pass below sees the line without them.)
    AppArguments early;
    std::string error;
    if (ParseAppArguments(std::vector<std::string>(argv + 1, argv + argc), "/", &early, &error) &&
        (early.help || early.version)) {
        std::fputs(early.help ? AppUsage().c_str() : AppVersionText().c_str(), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("QX Movie Disc");
    QApplication::setQuitOnLastWindowClosed(false);
    // Lets the desktop match the window to its entry (and so to its icon).
    QGuiApplication::setDesktopFileName(kDesktopFileId);
    QApplication::setWindowIcon(QIcon::fromTheme(kDesktopFileId));

    std::vector<std::string> args;
    const QStringList qtArgs = QCoreApplication::arguments(); // Qt's own options already removed
    for (qsizetype i = 1; i < qtArgs.size(); ++i) {
        args.push_back(qtArgs[i].toStdString());
    }
    AppArguments parsed;
    if (!ParseAppArguments(args, QDir::currentPath().toStdString(), &parsed, &error)) {
        std::fprintf(stderr, "QXMovieDisc: %s\n%s", error.c_str(), AppUsage().c_str());
        return 2;
    }
    return CQuilvoVidrevoApp().InitInstance({}, std::move(parsed.files));
}
