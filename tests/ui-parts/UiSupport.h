// Shared by the ui-parts tests: a widget application, private XDG folders, screenshots.
#pragma once

#include <string>

class QWidget;

namespace uitest {

// The process's temporary home with XDG_CONFIG_HOME, XDG_STATE_HOME, XDG_RUNTIME_DIR and HOME
// inside it, made once per process (and removed at exit).
const std::string& TempRoot();
// A fresh empty folder under TempRoot() (with trailing '/').
std::string FreshFolder(const std::string& name);
// The widget application (offscreen), created on first use on the calling thread.
void EnsureApp();
// Saves the widget's picture as <build>/screenshots/<name>.png; false when it cannot.
bool SaveScreenshot(QWidget* widget, const std::string& name);
// Text of a whole file ("" when missing).
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);

} // namespace uitest
