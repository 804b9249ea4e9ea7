// The prompt service of the tests: answers come from queues the test fills, and everything shown
// is recorded.
#pragma once

#include "PromptService.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace qx {

// Answers from queues filled by a test and records everything shown. With an empty queue a box
// gets its default answer (Ok for OK boxes, Cancel/No for questions) and a dialog is cancelled.
class ScriptedPromptService : public PromptService {
public:
    void QueueAnswer(PromptAnswer answer);
    void QueueFiles(std::vector<std::string> files, OpenFilesStatus status = OpenFilesStatus::Chosen);
    void QueueFolder(std::string folder); // empty string: the browser is cancelled
    void QueueSaveFile(std::string path); // empty string: the save dialog is cancelled

    PromptAnswer ShowBox(const PromptBox& box) override;
    OpenFilesResult OpenFiles(const OpenFilesRequest& request) override;
    FolderResult BrowseFolder(const FolderRequest& request) override;
    std::string SaveFile(const SaveFileRequest& request) override;

    // Dialogs are recorded, not shown, unless a test wants the real windows.
    void SetShowDialogs(bool show) { m_bShowDialogs = show; }
    bool ShowDialogs() const override { return m_bShowDialogs; }
    void NoteDialog(const std::string& caption, const std::string& text) override;

    std::vector<PromptRecord> Records() const;
    std::vector<std::string> BoxTexts() const; // the texts of the boxes only, in order
    std::size_t CountText(const std::string& text) const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::deque<PromptAnswer> m_answers;
    std::deque<OpenFilesResult> m_files;
    std::deque<FolderResult> m_folders;
    std::deque<std::string> m_saveFiles;
    std::vector<PromptRecord> m_records;
    bool m_bShowDialogs = false;
};

} // namespace qx
