#include "QuilvoVidrevoApp.h"

#include "InstanceLock.h"
#include "MainDlg.h"

#include <QApplication>

#include <cstdio>

int CQuilvoVidrevoApp::InitInstance(AppParts parts) {
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
    dlg->exec();
    dlg.reset();
    return 0;
}

int RunQuilvoVidrevoApp(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("QX Movie Disc");
    QApplication::setQuitOnLastWindowClosed(false);
    return CQuilvoVidrevoApp().InitInstance();
}
