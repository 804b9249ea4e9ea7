// Shared by the test programs: a private set of user folders for the whole process, the widget
// application and file helpers (running a program: TestProgram.h).
#pragma once

#include <cstdint>
#include <string>

class QWidget;

namespace qxtest {

// The process's private temporary folder (with trailing '/'), made before main() once a program
// uses it: HOME, XDG_CONFIG_HOME, XDG_STATE_HOME and XDG_RUNTIME_DIR point at folders inside it, so
// nothing the tests run touches the user's own settings or runtime state. Removed at exit.
const std::string& TestRoot();
// A fresh empty folder under TestRoot() (with trailing '/'); every call gives another folder.
std::string FreshFolder(const std::string& name);
// The widget application (offscreen unless QT_QPA_PLATFORM says otherwise), made on first use.
void EnsureApp();
// Saves the widget's picture as <build>/screenshots/<name>.png; false when it cannot.
bool SaveScreenshot(QWidget* widget, const std::string& name);

// A whole file's bytes ("" when it cannot be read).
std::string ReadFile(const std::string& path);
// Replaces the file with `bytes`.
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// The file's size, -1 when it cannot be read.
int64_t FileSize(const std::string& path);
// `bytes` (at least 17 sectors) of `fill` that carry an ISO 9660 signature at sector 16: what a
// virtual writer accepts as its disc image.
std::string DiscImageBytes(size_t bytes, char fill = 'd');

} // namespace qxtest
