// The DVD authoring engine object: one per authoring run. It collects title sets and their titles,
// then CreateDVD writes VIDEO_TS (title VOBs, VTS_NN_0.IFO/.BUP, VIDEO_TS.IFO/.BUP) and an empty
// AUDIO_TS below the output folder. Failures are return values; the text is in LastError().
#pragma once

#include "AuthorOutput.h"
#include "AuthorProgress.h"
#include "ProgramChain.h"

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

enum AuthorPostCommandKind {
    AUTHOR_POST_NONE = 0,       // playback ends after the title
    AUTHOR_POST_NEXT_TITLE = 1, // jump to title n of the same title set
};

// The 8-byte navigation command of a post-command kind.
AuthorCommand AuthorPostCommand(AuthorPostCommandKind kind, int nextTitle);

// Creates `path` and every missing parent (a trailing "/" is ignored). False with the reason in `error`.
bool AuthorCreateFolderPath(const std::string& path, std::string& error);

class AplAuthor {
public:
    static constexpr int kMaxTitleSets = 20;
    static constexpr size_t kMaxOutputFolder = 255;
    static constexpr int kMaxTitles = 99;   // per title set: title numbers are 1..99
    static constexpr int kMaxChapters = 99; // per title: players and readers refuse more

    AplAuthor();
    ~AplAuthor();
    AplAuthor(const AplAuthor&) = delete;
    AplAuthor& operator=(const AplAuthor&) = delete;

    // The folder that receives VIDEO_TS and AUDIO_TS. A folder longer than 255 characters is refused
    // (false, LastError) rather than cut short.
    bool SetOutputFolder(const std::string& folder);
    const std::string& OutputFolder() const { return m_outputFolder; }

    // Starts the next title set (with an empty menu list); false when all 20 are in use.
    bool BeginTitleSet();
    // Finishes the current title set: a menu group being built is registered under "en".
    void EndTitleSet();
    int NumTitleSets() const { return m_numTitleSets; }

    // Sources may continue in "<source>.part1" and "<source>.part2".
    void SetPartFiles(bool enabled) { m_partFiles = enabled; }
    bool PartFiles() const { return m_partFiles; }

    // Adds a title to the current title set: one program chain playing `source`, cut into chapters of
    // `chapterSeconds` (0 = one chapter) for a source of `durationSeconds`, the last chapter running to
    // the end of the source, ended by the post-command. False (LastError) without a title set, beyond
    // 99 titles, or with a next-title number outside 1..99.
    bool AddTitle(const std::string& source, int chapterSeconds, int durationSeconds, AuthorPostCommandKind post,
                  int nextTitle = 0);
    // The same with the title's own post-commands (at most 255; none: the title ends in a still).
    bool AddTitle(const std::string& source, int chapterSeconds, int durationSeconds,
                  std::vector<AuthorCommand> postCommands);

    // Menus. The current title set's menus (kind GROUP_TITLE_MENUS), registered under "en" when the
    // title set ends; the video manager's menus (kind GROUP_VMG_MENUS) under "en"; the first-play
    // program chain's commands (none: the engine's own jump to the first menu or title). False
    // (LastError) for a group of the wrong kind, or menus given twice.
    bool SetTitleSetMenus(std::unique_ptr<PgcGroup> menus);
    bool SetManagerMenus(std::unique_ptr<PgcGroup> menus);
    void SetFirstPlayCommands(std::vector<AuthorCommand> commands) { m_firstPlay = std::move(commands); }

    // Progress: phase 0 while VOBs are written, 1 while navigation packs are fixed, 2 with 100 at the end.
    void SetProgressHook(AuthorProgressHook hook) { m_progress = std::move(hook); }
    // A run stops soon after `stop` becomes true (it is looked at wherever progress is reported, at
    // least once per sector read and per navigation pack fixed): it then fails with kStoppedError
    // and removes the files it wrote, as a failed run does. Null: never stopped.
    void SetStopFlag(const std::atomic<bool>* stop) { m_stop = stop; }
    static constexpr const char* kStoppedError = "the authoring was stopped before it ended";
    // Output files (tests inject failures); null = plain files.
    void SetFileOpener(AuthorFileOpener* files) { m_files = files; }
    // CreateDVD locks the output folder for its run (see AuthorFolderLock) unless the caller
    // already holds that lock.
    void SetFolderLockHeld(bool held) { m_folderLockHeld = held; }
    // Sectors per title VOB file before the next one starts (tests lower it).
    void SetVobSectorLimit(int sectors) { m_vobSectorLimit = sectors; }

    // Creates every title set, then the table of contents. Returns false after a fatal error (whose
    // "ERR:" line has been logged); LastError() then holds its text.
    bool CreateDVD();
    const std::string& LastError() const { return m_lastError; }

    // The title group of title set `index` (0-based), or null (tests and diagnostics).
    const PgcGroup* TitleGroup(int index) const;

private:
    struct TitleSetSlot {
        AuthorMenuList menus;
        std::unique_ptr<PgcGroup> titles;
        std::unique_ptr<PgcGroup> menuBuilding; // registered as "en" when the title set ends
    };

    bool fail(const std::string& message);

    std::string m_outputFolder;
    int m_numTitleSets = 0;
    std::array<TitleSetSlot, kMaxTitleSets> m_slots;
    std::unique_ptr<AuthorMenuList> m_managerMenus;
    std::vector<AuthorCommand> m_firstPlay;
    bool m_partFiles = false;
    AuthorProgressHook m_progress;
    const std::atomic<bool>* m_stop = nullptr;
    AuthorFileOpener* m_files = nullptr;
    int m_vobSectorLimit;
    bool m_folderLockHeld = false;
    std::string m_lastError;
};
