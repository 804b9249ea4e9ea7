// The prompt service of the window programs: message boxes and file dialogs of Qt Widgets, shown
// on the user-interface thread whichever thread asks.
#pragma once

#include "PromptService.h"

namespace qx {

// Message boxes and file dialogs of Qt Widgets.
class QtPromptService : public PromptService {
public:
    PromptAnswer ShowBox(const PromptBox& box) override;
    OpenFilesResult OpenFiles(const OpenFilesRequest& request) override;
    FolderResult BrowseFolder(const FolderRequest& request) override;
    std::string SaveFile(const SaveFileRequest& request) override;
};

// Makes a QtPromptService the default service of Prompts(); the window programs call it at start.
void UseWindowPrompts();

} // namespace qx
