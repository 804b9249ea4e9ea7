// The application object: one instance per user session, the main window run modally.
#pragma once

#include "AppParts.h"

#include <string>
#include <vector>

class CQuilvoVidrevoApp {
public:
    // Runs the program: returns at once (0) when another instance holds the lock, otherwise shows
    // the main window and returns when it closes. `files` (absolute paths) are added to the list
    // once the window runs, as if chosen with "Add Video files".
    int InitInstance(AppParts parts = {}, std::vector<std::string> files = {});
};

// main(): a QApplication, the command line (AppArguments.h), then CQuilvoVidrevoApp::InitInstance.
int RunQuilvoVidrevoApp(int argc, char** argv);
