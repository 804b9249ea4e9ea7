#include "QuilvoVidrevoApp.h"
#include "NumericLocale.h"

#include "AppArguments.h"
#include "InstanceLock.h"
#include "MainDlg.h"
#include "OpenRequests.h"
#include "ProgressDlg.h"
#include "QtPromptService.h"
#include "QuitOnSignal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {
// The name of the installed desktop entry, without ".desktop".
constexpr const char* kDesktopFileId = "org.example.qxmoviedisc.QXMovieDisc";
// How long a second start waits for the open window to take its movies.
constexpr int kHandOverTimeoutMs = 5000;
// How long an interrupted job may take to stop before the program ends anyway.
constexpr int kInterruptBoundMs = 30000;

// Prints the usage or the version when the command line asks for it; true when it did.
bool AnswerHelpOrVersion(const AppArguments& args) {
    if (!args.help && !args.version) {
        return false;
    }
    std::fputs(args.help ? AppUsage().c_str() : AppVersionText().c_str(), stdout);
    return true;
}

// Answers every open question with its escape button and, once no job runs, closes the dialogs
// above the window (each as its close box would, so a dialog still burning stays until its burn has
// stopped): nothing may wait for a user who is logging out.
void DismissOpenDialogs(CQuilvoVidrevoDlg* window) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget == window || !widget->isVisible()) {
            continue;
        }
        if (auto* box = qobject_cast<QMessageBox*>(widget)) {
            if (QAbstractButton* escape = box->escapeButton()) {
                escape->click();
            } else {
                box->reject();
            }
        } else if (qobject_cast<QDialog*>(widget) && !qobject_cast<CProgressDlg*>(widget) && !window->JobRunning()) {
            widget->close();
        }
    }
}

} // namespace

int CQuilvoVidrevoApp::InitInstance(AppParts parts, std::vector<std::string> files) {
    qx::UseWindowPrompts();
    qx::InstanceLock lock;
    std::string error;
    switch (lock.Acquire("QXMOVIEDISC", &error)) {
    case qx::InstanceLock::State::HeldElsewhere:
        // A second start ends silently; movies it was given go to the open window.
        if (!files.empty()) {
            const qx::Status handed = HandOverOpenRequest(files, kHandOverTimeoutMs);
            if (!handed.ok()) {
                std::fprintf(stderr, "QXMovieDisc: QX Movie Disc is already running; %s\n", handed.error().c_str());
            }
        }
        return 0;
    case qx::InstanceLock::State::Failed:
        std::fprintf(stderr, "QXMovieDisc: cannot take the single-instance lock: %s\n", error.c_str());
        return 1;
    case qx::InstanceLock::State::Acquired:
        break;
    }
    auto dlg = std::make_unique<CQuilvoVidrevoDlg>(std::move(parts));
    dlg->OnInitDialog();
    // The movies of this start, then those a later start hands over, join the list once the
    // window's event loop runs (the probe answers arrive through it), each set when the window is
    // free for it.
    CQuilvoVidrevoDlg* window = dlg.get();
    auto requests = std::make_unique<OpenRequestWatcher>([window](const std::vector<std::string>& given) {
        if (window->AddingFiles() || window->JobRunning()) {
            return false;
        }
        window->AddGivenFiles(given);
        window->raise();
        window->activateWindow();
        return true;
    });
    // SIGTERM (a session's logout) and SIGINT end the program as its close box would, once the job's
    // step has stopped: a conversion as at Stop, the authoring with the files it wrote removed, a
    // burn cancelled by the engine with the DVD folder kept.
    int endSignal = 0;
    QTimer closeWhenFree;
    closeWhenFree.setInterval(100);
    QObject::connect(&closeWhenFree, &QTimer::timeout, window, [window] {
        DismissOpenDialogs(window);
        if (!window->JobRunning() && !window->AddingFiles()) {
            window->close();
        }
    });
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, window, [window, &endSignal] {
        std::fprintf(stderr, "QXMovieDisc: the job did not stop within %d seconds; ending anyway\n",
                     kInterruptBoundMs / 1000);
        window->AbandonJob();
        std::_Exit(128 + endSignal);
    });
    const qx::Status handled = qx::CallOnTermination([window, &endSignal, &closeWhenFree, &bound](int signal) {
        if (endSignal != 0) {
            return;
        }
        endSignal = signal;
        if (window->InterruptJob(signal)) {
            bound.start(kInterruptBoundMs);
        }
        closeWhenFree.start();
    });
    if (!handled.ok()) {
        std::fprintf(stderr, "QXMovieDisc: %s\n", handled.error().c_str());
    }
    QTimer::singleShot(0, window, [watcher = requests.get(), files = std::move(files)]() mutable {
        watcher->Offer(std::move(files));
        const qx::Status watching = watcher->Start();
        if (!watching.ok()) {
            std::fprintf(stderr, "QXMovieDisc: movies opened later cannot be added: %s\n", watching.error().c_str());
        }
    });
    dlg->exec();
    closeWhenFree.stop();
    bound.stop();
    qx::DefaultTermination(); // the job is over: a later signal ends the program as by default
    requests.reset();
    dlg.reset();
    return endSignal != 0 ? 128 + endSignal : 0;
}

int RunQuilvoVidrevoApp(int argc, char** argv) {
    // Help and version are answered before Qt starts, so they work without a display. (Qt's own
    // options make this early pass fail; the full pass below sees the line without them.)
    AppArguments early;
    std::string error;
    if (ParseAppArguments(std::vector<std::string>(argv + 1, argv + argc), "/", &early, &error) &&
        AnswerHelpOrVersion(early)) {
        return 0;
    }
    QApplication app(argc, argv);
    qx::UseLocaleIndependentNumbers();
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
    if (AnswerHelpOrVersion(parsed)) { // asked for behind Qt's own options
        return 0;
    }
    return CQuilvoVidrevoApp().InitInstance({}, std::move(parsed.files));
}
