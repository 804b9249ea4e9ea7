#include "PromptService.h"

#include "OwnedWindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>

namespace qx {

namespace {

std::atomic<PromptService*> g_installed{nullptr};

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

QString QtFilterFrom(const std::string& filter) {
    QStringList entries;
    for (const FilterEntry& entry : ParseFileFilter(filter)) {
        // A native file dialog may compare names case-sensitively: offer the upper-case spelling
        // too ("*.rm *.RM"), which still reads well in the dialog's type list.
        QStringList globs;
        for (const std::string& p : entry.patterns) {
            const QString glob = QString::fromStdString(p);
            globs << glob;
            if (glob.toUpper() != glob)
                globs << glob.toUpper();
        }
        entries << QString::fromStdString(entry.label) + QStringLiteral(" (") + globs.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

// Runs f on the user-interface thread and returns its result; direct when already there.
template <typename R, typename F> R OnGuiThread(F f) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        return f();
    R result{};
    QMetaObject::invokeMethod(
        app, [&result, &f] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

bool HaveWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

} // namespace

PromptService& Prompts() {
    static QtPromptService fallback;
    PromptService* s = g_installed.load();
    return s ? *s : fallback;
}

void SetPrompts(PromptService* service) {
    g_installed.store(service);
}

PromptAnswer PromptService::Information(QWidget* owner, const std::string& text, const std::string& caption) {
    return ShowBox({text, caption, PromptButtons::Ok, PromptIcon::Information, owner});
}

PromptAnswer PromptService::Warning(QWidget* owner, const std::string& text, const std::string& caption) {
    return ShowBox({text, caption, PromptButtons::Ok, PromptIcon::Warning, owner});
}

PromptAnswer PromptService::Error(QWidget* owner, const std::string& text, const std::string& caption) {
    return ShowBox({text, caption, PromptButtons::Ok, PromptIcon::Error, owner});
}

PromptAnswer PromptService::Plain(QWidget* owner, const std::string& text, const std::string& caption) {
    return ShowBox({text, caption, PromptButtons::Ok, PromptIcon::None, owner});
}

bool PromptService::AskYesNo(QWidget* owner, const std::string& text, const std::string& caption) {
    return ShowBox({text, caption, PromptButtons::YesNo, PromptIcon::Question, owner}) == PromptAnswer::Yes;
}

bool PromptService::AskOkCancel(QWidget* owner, const std::string& text, const std::string& caption) {
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
// Qt

PromptAnswer QtPromptService::ShowBox(const PromptBox& box) {
    const std::string caption = CaptionFor(box);
    if (!HaveWidgets()) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), box.text.c_str());
        return DefaultAnswer(box.buttons);
    }
    return OnGuiThread<PromptAnswer>([&]() {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        switch (box.icon) {
        case PromptIcon::None:
            break;
        case PromptIcon::Information:
            icon = QMessageBox::Information;
            break;
        case PromptIcon::Question:
            icon = QMessageBox::Question;
            break;
        case PromptIcon::Warning:
            icon = QMessageBox::Warning;
            break;
        case PromptIcon::Error:
            icon = QMessageBox::Critical;
            break;
        }
        QMessageBox::StandardButtons buttons = QMessageBox::Ok;
        QMessageBox::StandardButton escape = QMessageBox::Ok;
        if (box.buttons == PromptButtons::OkCancel) {
            buttons = QMessageBox::Ok | QMessageBox::Cancel;
            escape = QMessageBox::Cancel;
        } else if (box.buttons == PromptButtons::YesNo) {
            buttons = QMessageBox::Yes | QMessageBox::No;
            escape = QMessageBox::No;
        }
        // Not a Qt child of its owner: a progress window that opens while the box is up disables the
        // owner, and a child box would be disabled with it and could never be answered.
        QMessageBox mb(icon, QString::fromStdString(caption), QString::fromStdString(box.text), buttons, nullptr);
        mb.setObjectName(QStringLiteral("QxPromptBox"));
        mb.setTextFormat(Qt::PlainText);
        mb.setEscapeButton(escape);
        mb.setWindowModality(Qt::ApplicationModal);
        PlaceOverOwner(&mb, box.owner);
        const int r = mb.exec();
        switch (r) {
        case QMessageBox::Ok:
            return PromptAnswer::Ok;
        case QMessageBox::Yes:
            return PromptAnswer::Yes;
        case QMessageBox::No:
            return PromptAnswer::No;
        default:
            return DefaultAnswer(box.buttons);
        }
    });
}

OpenFilesResult QtPromptService::OpenFiles(const OpenFilesRequest& request) {
    if (!HaveWidgets())
        return {};
    OpenFilesResult result = OnGuiThread<OpenFilesResult>([&]() {
        OpenFilesResult r;
        const QStringList names = QFileDialog::getOpenFileNames(
            request.owner, QString::fromStdString(request.title.empty() ? std::string("Open") : request.title),
            QString::fromStdString(request.folder), QtFilterFrom(request.filter));
        if (names.isEmpty())
            return r;
        for (const QString& n : names)
            r.files.push_back(n.toStdString());
        r.status = OpenFilesStatus::Chosen;
        return r;
    });
    if (result.status == OpenFilesStatus::Chosen && request.nameCapacity != 0 &&
        NameBufferLength(result.files) > request.nameCapacity) {
        // The classic dialog refuses a choice whose names do not fit its buffer: say so, add nothing.
        ShowBox({"Too many files were selected at once. Please select fewer files.", "", PromptButtons::Ok,
                 PromptIcon::Warning, request.owner});
        return {OpenFilesStatus::Overflow, {}};
    }
    return result;
}

FolderResult QtPromptService::BrowseFolder(const FolderRequest& request) {
    if (!HaveWidgets())
        return {};
    return OnGuiThread<FolderResult>([&]() {
        FolderResult r;
        const QString dir =
            QFileDialog::getExistingDirectory(request.owner, QString::fromStdString(request.title),
                                              QString::fromStdString(request.folder), QFileDialog::ShowDirsOnly);
        if (dir.isEmpty())
            return r;
        r.chosen = true;
        r.folder = dir.toStdString();
        if (r.folder.empty() || r.folder.back() != '/')
            r.folder += '/';
        return r;
    });
}

// ---------------------------------------------------------------------------------------------
// Scripted

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
    m_records.clear();
}

// ---------------------------------------------------------------------------------------------
// Console

ConsolePromptService::ConsolePromptService(std::FILE* out) : m_out(out) {}

PromptAnswer ConsolePromptService::ShowBox(const PromptBox& box) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::FILE* out = m_out ? m_out : stderr;
    PromptAnswer answer = PromptAnswer::Ok;
    const char* shown = "";
    switch (box.buttons) {
    case PromptButtons::Ok:
        answer = PromptAnswer::Ok;
        break;
    case PromptButtons::OkCancel:
        answer = m_bAssumeYes ? PromptAnswer::Ok : PromptAnswer::Cancel;
        shown = m_bAssumeYes ? " [OK/Cancel] -> OK" : " [OK/Cancel] -> Cancel";
        break;
    case PromptButtons::YesNo:
        answer = m_bAssumeYes ? PromptAnswer::Yes : PromptAnswer::No;
        shown = m_bAssumeYes ? " [Yes/No] -> Yes" : " [Yes/No] -> No";
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
