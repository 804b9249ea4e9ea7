#include "PromptService.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>

namespace qx {

namespace {

std::atomic<PromptService*> g_installed{nullptr};
std::atomic<PromptService*> g_default{nullptr};

std::string Trim(const std::string& s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// '*' and '?' wildcards, no character classes: enough for file-type filters.
bool WildcardMatch(const char* pattern, const char* name) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '?' || (*pattern != '*' && *pattern == *name)) {
            ++pattern;
            ++name;
        } else if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

} // namespace

PromptService& Prompts() {
    // Without a window program's service, boxes are printed to standard error and answered with
    // their default button.
    static ConsolePromptService fallback;
    if (PromptService* s = g_installed.load()) {
        return *s;
    }
    PromptService* d = g_default.load();
    return d ? *d : fallback;
}

void SetPrompts(PromptService* service) {
    g_installed.store(service);
}

void SetDefaultPrompts(PromptService* service) {
    g_default.store(service);
}

PromptAnswer DefaultAnswer(PromptButtons buttons) {
    switch (buttons) {
    case PromptButtons::Ok:
        return PromptAnswer::Ok;
    case PromptButtons::OkCancel:
        return PromptAnswer::Cancel;
    case PromptButtons::YesNo:
        return PromptAnswer::No;
    }
    return PromptAnswer::Cancel;
}

PromptAnswer PromptService::Information(QObject* owner, const std::string& text, const std::string& caption) {
    return ShowBox({text, caption, PromptButtons::Ok, PromptIcon::Information, owner});
}

PromptAnswer PromptService::Warning(QObject* owner, const std::string& text, const std::string& caption) {
    return ShowBox({text, caption, PromptButtons::Ok, PromptIcon::Warning, owner});
}

PromptAnswer PromptService::Error(QObject* owner, const std::string& text, const std::string& caption) {
    return ShowBox({text, caption, PromptButtons::Ok, PromptIcon::Error, owner});
}

PromptAnswer PromptService::Plain(QObject* owner, const std::string& text, const std::string& caption) {
    return ShowBox({text, caption, PromptButtons::Ok, PromptIcon::None, owner});
}

bool PromptService::AskYesNo(QObject* owner, const std::string& text, const std::string& caption) {
    return ShowBox({text, caption, PromptButtons::YesNo, PromptIcon::Question, owner}) == PromptAnswer::Yes;
}

bool PromptService::AskOkCancel(QObject* owner, const std::string& text, const std::string& caption) {
    return ShowBox({text, caption, PromptButtons::OkCancel, PromptIcon::Question, owner}) == PromptAnswer::Ok;
}

std::vector<FilterEntry> ParseFileFilter(const std::string& filter) {
    // Fields alternate label|patterns|label|patterns|...; an empty label ends the list ("||").
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (start <= filter.size()) {
        const std::size_t bar = filter.find('|', start);
        if (bar == std::string::npos) {
            fields.push_back(filter.substr(start));
            break;
        }
        fields.push_back(filter.substr(start, bar - start));
        start = bar + 1;
    }
    std::vector<FilterEntry> out;
    for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
        if (fields[i].empty())
            break;
        FilterEntry entry;
        entry.label = fields[i];
        std::size_t p = 0;
        const std::string& pats = fields[i + 1];
        while (p <= pats.size()) {
            const std::size_t semi = pats.find(';', p);
            const std::string one = Trim(pats.substr(p, semi == std::string::npos ? std::string::npos : semi - p));
            if (!one.empty())
                entry.patterns.push_back(one);
            if (semi == std::string::npos)
                break;
            p = semi + 1;
        }
        out.push_back(std::move(entry));
    }
    return out;
}

bool MatchesFilter(const std::vector<FilterEntry>& filter, const std::string& name) {
    const std::string lname = Lower(name);
    for (const FilterEntry& entry : filter) {
        for (const std::string& p : entry.patterns) {
            if (WildcardMatch(Lower(p).c_str(), lname.c_str()))
                return true;
        }
    }
    return false;
}

std::size_t NameBufferLength(const std::vector<std::string>& files) {
    if (files.empty())
        return 1;
    if (files.size() == 1)
        return files[0].size() + 2;
    // Several files: "folder\0name\0name\0\0"; the dialog lists one folder.
    const std::string& first = files[0];
    const std::size_t slash = first.rfind('/');
    const std::size_t folderLen = slash == std::string::npos ? 0 : slash;
    std::size_t n = folderLen + 1;
    for (const std::string& f : files) {
        const std::size_t s = f.rfind('/');
        n += (s == std::string::npos ? f.size() : f.size() - s - 1) + 1;
    }
    return n + 1;
}

// ---------------------------------------------------------------------------------------------
// Console

ConsolePromptService::ConsolePromptService(std::FILE* out) : m_out(out) {}

PromptAnswer ConsolePromptService::ShowBox(const PromptBox& box) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::FILE* out = m_out ? m_out : stderr;
    PromptAnswer answer = PromptAnswer::Ok;
    const char* shown = "";
    const bool overtaken = box.closeWhen && box.closeWhen();
    switch (box.buttons) {
    case PromptButtons::Ok:
        answer = PromptAnswer::Ok;
        break;
    case PromptButtons::OkCancel:
        answer = m_bAssumeYes && !overtaken ? PromptAnswer::Ok : PromptAnswer::Cancel;
        shown = answer == PromptAnswer::Ok ? " [OK/Cancel] -> OK" : " [OK/Cancel] -> Cancel";
        break;
    case PromptButtons::YesNo:
        answer = m_bAssumeYes && !overtaken ? PromptAnswer::Yes : PromptAnswer::No;
        shown = answer == PromptAnswer::Yes ? " [Yes/No] -> Yes" : " [Yes/No] -> No";
        break;
    }
    std::fprintf(out, "%s: %s%s\n", CaptionFor(box).c_str(), box.text.c_str(), shown);
    std::fflush(out);
    return answer;
}

OpenFilesResult ConsolePromptService::OpenFiles(const OpenFilesRequest& request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_files.empty())
        return {};
    // One answer per preset: a second "Add" must not add the same movies again.
    OpenFilesResult r{OpenFilesStatus::Chosen, std::move(m_files)};
    m_files.clear();
    if (request.nameCapacity != 0 && NameBufferLength(r.files) > request.nameCapacity) {
        std::FILE* out = m_out ? m_out : stderr;
        std::fprintf(out, "%s: too many files were selected at once (%zu characters of names, %zu fit)\n",
                     DefaultCaption().c_str(), NameBufferLength(r.files), request.nameCapacity);
        return {OpenFilesStatus::Overflow, {}};
    }
    return r;
}

void ConsolePromptService::NoteDialog(const std::string& caption, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::FILE* out = m_out ? m_out : stderr;
    std::fprintf(out, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(out);
}

FolderResult ConsolePromptService::BrowseFolder(const FolderRequest&) {
    std::lock_guard<std::mutex> lock(m_mutex);
    FolderResult r;
    if (m_strFolder.empty())
        return r;
    r.chosen = true;
    r.folder = m_strFolder;
    if (r.folder.back() != '/')
        r.folder += '/';
    return r;
}

} // namespace qx
