#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace qxtest {

namespace {

struct Root {
    std::string path;
    Root() {
        char made[] = "/tmp/qx-test-XXXXXX";
        // Without a private folder the tests would run in the user's own folders: stop instead.
        if (!::mkdtemp(made)) {
            std::perror("mkdtemp");
            std::abort();
        }
        path = std::string(made) + "/";
        for (const char* sub : {"config", "state", "runtime", "home"}) {
            ::mkdir((path + sub).c_str(), 0700);
        }
        ::setenv("XDG_CONFIG_HOME", (path + "config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (path + "state").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (path + "runtime").c_str(), 1);
        ::setenv("HOME", (path + "home").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    ~Root() {
        // By bytes, not through QDir: tests make names that are not UTF-8.
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

Root& TheRoot() {
    static Root root;
    return root;
}
// Made before main() so that everything the tests start sees the private folders.
const bool g_rootMade = (TheRoot(), true);

} // namespace

const std::string& TestRoot() {
    (void)g_rootMade;
    return TheRoot().path;
}

std::string FreshFolder(const std::string& name) {
    static int serial = 0;
    const std::string path = TestRoot() + name + "-" + std::to_string(++serial) + "/";
    QDir().mkpath(QString::fromStdString(path));
    return path;
}

void EnsureApp() {
    TestRoot();
    if (QApplication::instance()) {
        return;
    }
    static int argc = 1;
    static char name[] = "qx-test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

bool SaveScreenshot(QWidget* widget, const std::string& name) {
    const QString dir = QStringLiteral(QX_BIN_DIR "/../screenshots");
    QDir().mkpath(dir);
    return widget->grab().save(dir + QLatin1Char('/') + QString::fromStdString(name) + QStringLiteral(".png"));
}

} // namespace qxtest
