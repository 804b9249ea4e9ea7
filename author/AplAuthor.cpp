#include "AplAuthor.h"

#include "AuthorError.h"
#include "AuthorFolderLock.h"
#include "AuthorLog.h"
#include "AuthorRun.h"
#include "AuthorTitleSet.h"
#include "AuthorToc.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include <sys/stat.h>

AuthorCommand AuthorPostCommand(AuthorPostCommandKind kind, int nextTitle) {
    if (kind == AUTHOR_POST_NEXT_TITLE)
        return {0x30, 0x03, 0x00, 0x00, 0x00, static_cast<uint8_t>(nextTitle), 0x00, 0x00};
    return {0, 0, 0, 0, 0, 0, 0, 0};
}

bool AuthorCreateFolderPath(const std::string& path, std::string& error) {
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.empty()) {
        error = "empty folder name";
        return false;
    }
    // Each missing parent is created from the root down.
    for (size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos != folder.size() && folder[pos] != '/')
            continue;
        std::string part = folder.substr(0, pos);
        if (mkdir(part.c_str(), 0777) == 0)
            continue;
        int why = errno;
        struct stat info;
        if (stat(part.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            continue;
        error = "cannot create " + part + ": " + std::strerror(why);
        return false;
    }
    return true;
}

namespace {

// Thrown from the progress points when the stop flag is set; caught by CreateDVD only.
struct AuthorStopRequest {};

} // namespace

AplAuthor::AplAuthor() : m_vobSectorLimit(AUTHOR_VOB_SECTORS) {}

AplAuthor::~AplAuthor() = default;

bool AplAuthor::fail(const std::string& message) {
    m_lastError = message;
    return false;
}

bool AplAuthor::SetOutputFolder(const std::string& folder) {
    if (folder.size() > kMaxOutputFolder)
        return fail("output folder name is longer than 255 characters: " + folder);
    if (folder.empty())
        return fail("no output folder given");
    m_outputFolder = folder;
    while (m_outputFolder.size() > 1 && m_outputFolder.back() == '/')
        m_outputFolder.pop_back();
    return true;
}

bool AplAuthor::BeginTitleSet() {
    if (m_numTitleSets >= kMaxTitleSets)
        return fail("too many title sets (20 allowed)");
    m_slots[m_numTitleSets] = TitleSetSlot();
    ++m_numTitleSets;
    return true;
}

void AplAuthor::EndTitleSet() {
    if (m_numTitleSets == 0)
        return;
    TitleSetSlot& slot = m_slots[m_numTitleSets - 1];
    if (slot.menuBuilding)
        slot.menus.AddLanguage("en", std::move(slot.menuBuilding));
}

bool AplAuthor::AddTitle(const std::string& source, int chapterSeconds, int durationSeconds, AuthorPostCommandKind post,
                         int nextTitle) {
    if (post == AUTHOR_POST_NEXT_TITLE && (nextTitle < 1 || nextTitle > kMaxTitles))
        return fail("next title number outside 1..99: " + std::to_string(nextTitle));
    return AddTitle(source, chapterSeconds, durationSeconds, {AuthorPostCommand(post, nextTitle)});
}

bool AplAuthor::SetTitleSetMenus(std::unique_ptr<PgcGroup> menus) {
    if (m_numTitleSets == 0)
        return fail("title-set menus were given before a title set was begun");
    TitleSetSlot& slot = m_slots[m_numTitleSets - 1];
    if (!menus || menus->kind != GROUP_TITLE_MENUS)
        return fail("title-set menus must be a group of title-set menus");
    if (slot.menuBuilding || !slot.menus.languages.empty())
        return fail("the title set has its menus already");
    slot.menuBuilding = std::move(menus);
    return true;
}

bool AplAuthor::SetManagerMenus(std::unique_ptr<PgcGroup> menus) {
    if (!menus || menus->kind != GROUP_VMG_MENUS)
        return fail("the video manager's menus must be a group of video-manager menus");
    if (m_managerMenus && !m_managerMenus->languages.empty())
        return fail("the video manager has its menus already");
    m_managerMenus = std::make_unique<AuthorMenuList>();
    m_managerMenus->AddLanguage("en", std::move(menus));
    return true;
}

bool AplAuthor::AddTitle(const std::string& source, int chapterSeconds, int durationSeconds,
                         std::vector<AuthorCommand> postCommands) {
    if (m_numTitleSets == 0)
        return fail("a title was added before a title set was begun");
    TitleSetSlot& slot = m_slots[m_numTitleSets - 1];
    if (!slot.titles)
        slot.titles = std::make_unique<PgcGroup>(GROUP_TITLES);
    if (slot.titles->pgcs.size() >= static_cast<size_t>(kMaxTitles))
        return fail("too many titles in one title set (99 allowed)");
    if (postCommands.size() > 255)
        return fail("more than 255 post-commands for one title");
    if (chapterSeconds < 0)
        return fail("negative chapter interval");

    auto pgc = std::make_unique<ProgramChain>();
    AuthorSourceRef ref;
    ref.path = source;
    auto ticks = [](double seconds) { return static_cast<long long>(seconds * 90000 + 0.5); };
    auto addCell = [&](double start, double end) {
        AuthorCellSpec cell;
        cell.start = ticks(start);
        cell.end = ticks(end); // "to the end" is -1 second: -89999, any negative end
        cell.chapterMark = 1;
        cell.pause = 0;
        ref.cells.push_back(cell);
    };
    const double interval = chapterSeconds;
    const double duration = durationSeconds;
    if (chapterSeconds == 0 || duration <= interval) {
        addCell(0, -1);
    } else {
        addCell(0, interval);
        double start = interval;
        double end = 2 * interval;
        // Players refuse a title of more than 99 chapters: the last one runs to the end.
        while (end < duration && ref.cells.size() + 1 < static_cast<size_t>(kMaxChapters)) {
            addCell(start, end);
            start += interval;
            end += interval;
        }
        if (end < duration)
            AuthorLog(AUTHOR_LOG_WARN, "WARN: %s would have more than %d chapters; the last one runs to the end\n",
                      source.c_str(), kMaxChapters);
        addCell(start, -1);
    }
    pgc->sources.push_back(std::move(ref));
    pgc->postCommands = std::move(postCommands);
    slot.titles->pgcs.push_back(std::move(pgc));
    return true;
}

const PgcGroup* AplAuthor::TitleGroup(int index) const {
    if (index < 0 || index >= m_numTitleSets)
        return nullptr;
    return m_slots[index].titles.get();
}

bool AplAuthor::CreateDVD() {
    m_lastError.clear();
    if (m_outputFolder.empty())
        return fail("no output folder given");
    AuthorFolderLock lock;
    std::string lockError;
    // The folder is made here so that it can be locked; a folder that cannot be made is reported
    // by the run itself, in its own words.
    if (!m_folderLockHeld && AuthorCreateFolderPath(m_outputFolder, lockError) &&
        !lock.Acquire(m_outputFolder, lockError))
        return fail(lockError);
    AuthorRunOptions options;
    options.partFiles = m_partFiles;
    options.progress = m_progress;
    auto stopRequested = [this] { return m_stop && m_stop->load(); };
    if (m_stop) {
        // The engine reports progress once per sector read and per navigation pack fixed: there it
        // also learns about a stop, before and after the caller's hook (which may be what set it).
        options.progress = [hook = m_progress, stopRequested](int phase, int percent) {
            if (stopRequested())
                throw AuthorStopRequest();
            if (hook)
                hook(phase, percent);
            if (stopRequested())
                throw AuthorStopRequest();
        };
    }
    // A failed run removes the files it wrote, so they neither pass for a disc nor block the next run.
    AuthorCreatedFiles created(m_files ? *m_files : AuthorDiskFiles());
    options.files = &created;
    options.vobSectorLimit = m_vobSectorLimit;
    std::string failure;
    try {
        for (int i = 0; i < m_numTitleSets; ++i) {
            if (stopRequested())
                throw AuthorStopRequest();
            // The table of contents lists title sets 1..n, so title set i + 1 must get that number; a leftover
            // information file would push it to a later one and the table would describe the old one.
            char name[32];
            std::snprintf(name, sizeof name, "VTS_%02d_0.IFO", i + 1);
            const std::string videoFolder = m_outputFolder + "/VIDEO_TS";
            if (AuthorFileExistsNoCase(videoFolder, name))
                AuthorFatal("ERR:  %s/%s is left from an earlier disc; remove the DVD files there first\n",
                            videoFolder.c_str(), name);
            TitleSetSlot& slot = m_slots[i];
            if (!slot.titles)
                slot.titles = std::make_unique<PgcGroup>(GROUP_TITLES);
            CreateTitleSet(slot.menus, *slot.titles, m_outputFolder, options);
            slot.titles.reset();
            slot.menuBuilding.reset();
            slot.menus.languages.clear();
        }
        if (!m_managerMenus)
            m_managerMenus = std::make_unique<AuthorMenuList>();
        ProgramChain firstPlay;
        firstPlay.preCommands = m_firstPlay;
        CreateToc(m_firstPlay.empty() ? nullptr : &firstPlay, *m_managerMenus, m_outputFolder, m_numTitleSets, options);
        // A stop that came during the last steps still wins: the caller has been told the run stops.
        if (stopRequested())
            throw AuthorStopRequest();
    } catch (const AuthorStopRequest&) {
        failure = kStoppedError;
        AuthorLog(AUTHOR_LOG_WARN, "INFO: authoring stopped on request\n");
    } catch (const AuthorFatalError& error) {
        failure = error.what();
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (failure.empty())
        return true;
    const int removed = created.RemoveCreated();
    if (removed > 0)
        AuthorLog(AUTHOR_LOG_WARN, "INFO: removed the %d file(s) this run had written\n", removed);
    return fail(failure);
}
