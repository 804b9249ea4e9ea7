#include "UiSupport.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace uitest {

namespace {

struct Root {
    std::string path;
    Root() {
        char tmpl[] = "/tmp/qx-ui-parts-XXXXXX";
        const char* made = ::mkdtemp(tmpl);
        path = made ? std::string(made) + "/" : std::string("/tmp/");
        for (const char* sub : {"config", "state", "runtime", "home"})
            ::mkdir((path + sub).c_str(), 0700);
        ::setenv("XDG_CONFIG_HOME", (path + "config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (path + "state").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (path + "runtime").c_str(), 1);
        ::setenv("HOME", (path + "home").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    ~Root() {
        if (path.rfind("/tmp/qx-ui-parts-", 0) == 0)
            QDir(QString::fromStdString(path)).removeRecursively();
    }
};

// Made before main() so that everything the tests start sees the private folders.
Root& TheRoot() {
    static Root root;
    return root;
}
const bool g_rootMade = (TheRoot(), true);

} // namespace

const std::string& TempRoot() {
    return TheRoot().path;
}

std::string FreshFolder(const std::string& name) {
    static int serial = 0;
    const std::string path = TempRoot() + name + "-" + std::to_string(++serial) + "/";
    QDir().mkpath(QString::fromStdString(path));
    return path;
}

void EnsureApp() {
    (void)g_rootMade;
    if (QApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "ui-parts-test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

bool SaveScreenshot(QWidget* widget, const std::string& name) {
    const QString dir = QStringLiteral(QX_BIN_DIR "/../screenshots");
    QDir().mkpath(dir);
    return widget->grab().save(dir + QLatin1Char('/') + QString::fromStdString(name) + QStringLiteral(".png"));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool FileExists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

} // namespace uitest
