// The application object: one instance per user session, the main window run modally.
#pragma once

#include "AppParts.h"

class CQuilvoVidrevoApp {
public:
    // Runs the program: returns at once (0) when another instance holds the lock, otherwise shows
    // the main window and returns when it closes.
    int InitInstance(AppParts parts = {});
};

// main(): a QApplication, then CQuilvoVidrevoApp::InitInstance.
int RunQuilvoVidrevoApp(int argc, char** argv);
