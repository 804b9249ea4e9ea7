#include "ScriptedPromptService.h"

#include <algorithm>

namespace qx {

void ScriptedPromptService::QueueAnswer(PromptAnswer answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.push_back(answer);
}

void ScriptedPromptService::QueueFiles(std::vector<std::string> files, OpenFilesStatus status) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.push_back({status, std::move(files)});
}

void ScriptedPromptService::QueueFolder(std::string folder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    FolderResult r;
    r.chosen = !folder.empty();
    r.folder = std::move(folder);
    if (r.chosen && r.folder.back() != '/')
        r.folder += '/';
    m_folders.push_back(r);
}

PromptAnswer ScriptedPromptService::ShowBox(const PromptBox& box) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.push_back({PromptRecord::Kind::Box, box.text, CaptionFor(box), box.buttons, box.icon});
    if (box.closeWhen && box.closeWhen()) {
        return DefaultAnswer(box.buttons); // overtaken before anyone could answer
    }
    PromptAnswer answer = DefaultAnswer(box.buttons);
    if (!m_answers.empty()) {
        answer = m_answers.front();
        m_answers.pop_front();
    }
    // An answer the box has no button for would be a fault of the test script; treat it as closing.
    const bool fits =
        (box.buttons == PromptButtons::Ok && answer == PromptAnswer::Ok) ||
        (box.buttons == PromptButtons::OkCancel && (answer == PromptAnswer::Ok || answer == PromptAnswer::Cancel)) ||
        (box.buttons == PromptButtons::YesNo && (answer == PromptAnswer::Yes || answer == PromptAnswer::No));
    return fits ? answer : DefaultAnswer(box.buttons);
}

OpenFilesResult ScriptedPromptService::OpenFiles(const OpenFilesRequest& request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.push_back({PromptRecord::Kind::OpenFiles, request.title, "", PromptButtons::Ok, PromptIcon::None});
    if (m_files.empty())
        return {};
    OpenFilesResult r = m_files.front();
    m_files.pop_front();
    if (r.status == OpenFilesStatus::Chosen && request.nameCapacity != 0 &&
        NameBufferLength(r.files) > request.nameCapacity)
        return {OpenFilesStatus::Overflow, {}};
    if (r.status != OpenFilesStatus::Chosen)
        r.files.clear();
    return r;
}

FolderResult ScriptedPromptService::BrowseFolder(const FolderRequest& request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.push_back({PromptRecord::Kind::Folder, request.title, "", PromptButtons::Ok, PromptIcon::None});
    if (m_folders.empty())
        return {};
    FolderResult r = m_folders.front();
    m_folders.pop_front();
    return r;
}

void ScriptedPromptService::QueueSaveFile(std::string path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_saveFiles.push_back(std::move(path));
}

std::string ScriptedPromptService::SaveFile(const SaveFileRequest& request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.push_back({PromptRecord::Kind::SaveFile, request.title, request.defaultName, PromptButtons::Ok,
                         PromptIcon::None});
    if (m_saveFiles.empty())
        return {};
    std::string path = m_saveFiles.front();
    m_saveFiles.pop_front();
    return path;
}

void ScriptedPromptService::NoteDialog(const std::string& caption, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.push_back({PromptRecord::Kind::Dialog, text, caption, PromptButtons::Ok, PromptIcon::None});
}

std::vector<PromptRecord> ScriptedPromptService::Records() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

std::vector<std::string> ScriptedPromptService::BoxTexts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> out;
    for (const PromptRecord& r : m_records)
        if (r.kind == PromptRecord::Kind::Box)
            out.push_back(r.text);
    return out;
}

std::size_t ScriptedPromptService::CountText(const std::string& text) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<std::size_t>(std::count_if(m_records.begin(), m_records.end(), [&](const PromptRecord& r) {
        return r.kind == PromptRecord::Kind::Box && r.text == text;
    }));
}

void ScriptedPromptService::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.clear();
    m_files.clear();
    m_folders.clear();
    m_saveFiles.clear();
    m_records.clear();
}

} // namespace qx
