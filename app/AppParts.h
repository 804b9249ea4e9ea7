// The parts the main window is built with: the job's parts (job/JobParts.h) and those only a window
// program has - the log program, the screen-saver guard, the settings file, the desktop's opener.
// AppParts.cpp maps them onto the real components; tests replace single parts.
#pragma once

#include "JobParts.h"
#include "SystemServices.h"

#include <functional>
#include <memory>
#include <string>

class LogLink {
public:
    virtual ~LogLink() = default;
    // Starts the log program; false (message already shown) when it could not start.
    virtual bool Start() = 0;
    virtual void Log(int level, const std::string& text) = 0;
    // The end hand-shake ("Abort Normal"), bounded.
    virtual void End() = 0;
};

// Everything the window is built with. Empty members are filled with the real parts.
struct AppParts : JobParts {
    std::unique_ptr<LogLink> log;
    // Holds off the screen saver and idle sleep while the main window lives.
    std::unique_ptr<qx::ScreenSaverInhibitor> screenSaver;
    std::string logProgram;   // empty: "QXLog" in the program's folder
    std::string settingsFile; // empty: settings.ini in the configuration folder
    // Opens a web address or a local help page; empty: the desktop's default handler.
    std::function<bool(const std::string& url)> openUrl;
};

// Fills the empty members of `parts` with the real components.
void CompleteAppParts(AppParts& parts);

// Opens a page or address with the desktop's default program; false when no program took it.
bool OpenWithDesktop(const std::string& url);
