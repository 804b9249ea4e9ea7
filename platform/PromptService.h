// Every message box, open-files dialog and folder browser of the program goes through one prompt
// service, so that tests can answer them from a script and the console front-end can answer them
// without a window. Texts are UTF-8 and shown exactly as given.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class QObject;

namespace qx {

enum class PromptIcon { None, Information, Question, Warning, Error };
enum class PromptButtons { Ok, OkCancel, YesNo };
enum class PromptAnswer { Ok, Cancel, Yes, No };

struct PromptBox {
    std::string text;
    std::string caption; // empty: the service's default caption (the program's name)
    PromptButtons buttons = PromptButtons::Ok;
    PromptIcon icon = PromptIcon::None;
    QObject* owner = nullptr; // disabled while the box is shown; may be null
    // When set, the box closes by itself (answered as closed without a button) once this turns
    // true: a question that events have overtaken, such as a stop question when the work ended.
    std::function<bool()> closeWhen{};
};

struct OpenFilesRequest {
    std::string title;            // empty: "Open"
    std::string filter;           // Windows-style "Label|pat1; pat2;||", patterns matched without regard to case
    std::string folder;           // start folder; empty: the last one used
    std::size_t nameCapacity = 0; // characters the chosen names may take together; 0: unlimited
    QObject* owner = nullptr;
};

enum class OpenFilesStatus { Chosen, Cancelled, Overflow };

struct OpenFilesResult {
    OpenFilesStatus status = OpenFilesStatus::Cancelled;
    std::vector<std::string> files; // absolute paths, empty unless Chosen
};

struct FolderRequest {
    std::string title;
    std::string folder; // initial selection; empty: none
    QObject* owner = nullptr;
};

struct FolderResult {
    bool chosen = false;
    std::string folder; // absolute path with a trailing '/'
};

// The save dialog: the name of a file to write. The dialog itself does not ask about an existing file:
// the caller does, with its own words.
struct SaveFileRequest {
    std::string title;
    std::string folder;      // start folder; empty: the last one used
    std::string defaultName; // proposed file name
    std::string filter;      // Windows-style "Label|pat1; pat2;||"
    QObject* owner = nullptr;
};

// What a prompt showed, for tests and the console front-end.
struct PromptRecord {
    enum class Kind { Box, OpenFiles, Folder, Dialog, SaveFile } kind = Kind::Box;
    std::string text; // box text, or the dialog's title
    std::string caption;
    PromptButtons buttons = PromptButtons::Ok;
    PromptIcon icon = PromptIcon::None;
};

class PromptService {
public:
    virtual ~PromptService() = default;

    // Shows a box and returns the button pressed. Closing the box counts as Cancel (OK/Cancel),
    // No (Yes/No) or Ok (OK only). Safe from any thread: the box runs on the user-interface thread.
    virtual PromptAnswer ShowBox(const PromptBox& box) = 0;
    virtual OpenFilesResult OpenFiles(const OpenFilesRequest& request) = 0;
    virtual FolderResult BrowseFolder(const FolderRequest& request) = 0;
    // The chosen path (absolute), or empty when the dialog was cancelled. Without a dialog: empty.
    virtual std::string SaveFile(const SaveFileRequest& request) {
        (void)request;
        return {};
    }

    // Shorthands with the usual button sets and icons.
    PromptAnswer Information(QObject* owner, const std::string& text, const std::string& caption = {});
    PromptAnswer Warning(QObject* owner, const std::string& text, const std::string& caption = {});
    PromptAnswer Error(QObject* owner, const std::string& text, const std::string& caption = {});
    PromptAnswer Plain(QObject* owner, const std::string& text, const std::string& caption = {});
    // Yes/No with the question icon; true only for Yes.
    bool AskYesNo(QObject* owner, const std::string& text, const std::string& caption = {});
    // OK/Cancel with the question icon; true only for OK.
    bool AskOkCancel(QObject* owner, const std::string& text, const std::string& caption = {});

    // The program's own information dialogs (unsupported file, decoder download) ask this first:
    // true means "run the real window"; a service without windows returns false and takes the
    // dialog's caption and text through NoteDialog instead (recorded or printed).
    virtual bool ShowDialogs() const { return true; }
    virtual void NoteDialog(const std::string& caption, const std::string& text) { (void)caption, (void)text; }

    void SetDefaultCaption(const std::string& caption) { m_strDefaultCaption = caption; }
    const std::string& DefaultCaption() const { return m_strDefaultCaption; }

protected:
    std::string CaptionFor(const PromptBox& box) const {
        return box.caption.empty() ? m_strDefaultCaption : box.caption;
    }

private:
    std::string m_strDefaultCaption = "QX Movie Disc";
};

// The process-wide service: the one installed, else the default one. The window programs make the
// message boxes of Qt Widgets their default (QtPromptService.h); without one, boxes are printed to
// standard error and answered with their default button.
PromptService& Prompts();
// Installs a service (not owned; must outlive its use). Null restores the default.
void SetPrompts(PromptService* service);
// Sets the default service (not owned). Null: print to standard error.
void SetDefaultPrompts(PromptService* service);
// The answer of a box closed without a button: Ok (OK only), Cancel (OK/Cancel), No (Yes/No).
PromptAnswer DefaultAnswer(PromptButtons buttons);

// Splits a Windows-style filter "Label|*.rm; *.rmvb;||" into (label, patterns) pairs.
struct FilterEntry {
    std::string label;
    std::vector<std::string> patterns; // "*.rm", "*.rmvb"
};
std::vector<FilterEntry> ParseFileFilter(const std::string& filter);
// True when name (a file name, not a path) matches one of the patterns, compared without regard to case.
bool MatchesFilter(const std::vector<FilterEntry>& filter, const std::string& name);
// Characters the names take in the classic multi-select buffer: folder, NUL, each name, NUL, final NUL.
std::size_t NameBufferLength(const std::vector<std::string>& files);

// For the console front-end: prints every box to a stream and answers No/Cancel to questions,
// unless told to answer yes. Dialogs return what was preset (nothing by default).
class ConsolePromptService : public PromptService {
public:
    explicit ConsolePromptService(std::FILE* out = nullptr); // null: standard error
    void SetAssumeYes(bool yes) { m_bAssumeYes = yes; }
    // Files the next open-files dialog returns (once).
    void SetFiles(std::vector<std::string> files) { m_files = std::move(files); }
    void SetFolder(std::string folder) { m_strFolder = std::move(folder); }

    PromptAnswer ShowBox(const PromptBox& box) override;
    OpenFilesResult OpenFiles(const OpenFilesRequest& request) override;
    FolderResult BrowseFolder(const FolderRequest& request) override;
    bool ShowDialogs() const override { return false; }
    void NoteDialog(const std::string& caption, const std::string& text) override;

private:
    std::FILE* m_out;
    bool m_bAssumeYes = false;
    std::vector<std::string> m_files;
    std::string m_strFolder;
    std::mutex m_mutex;
};

} // namespace qx
