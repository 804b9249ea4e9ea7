// What the burn-DVD-folder and writer-information dialogs get from the window that opens them:
// the burn cores, the log channel and the help page.
#pragma once

#include "BurnCore.h"

#include <functional>
#include <string>

struct BurnDialogParts {
    BurnCore* buildIn = nullptr; // core 0 "Build-in"
    BurnCore* nero = nullptr;    // core 1 "Nero"; null when that core is not available
    // The log program channel (level 0 information, 1 failure).
    std::function<void(int level, const std::string& text)> log;
    // Opens the help page.
    std::function<void()> openHelp;
    // How the dialog's "Verify disc after burning" box starts (the main window's box).
    bool verifyAfterBurn = true;

    // The core at a combo index, or null (no selection, or a core that is not there).
    BurnCore* Core(int index) const {
        if (index == 0) {
            return buildIn;
        }
        if (index == 1) {
            return nero;
        }
        return nullptr;
    }
    void Log(const std::string& text) const {
        if (log) {
            log(0, text);
        }
    }
};
