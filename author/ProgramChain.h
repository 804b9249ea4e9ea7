// The navigation model: program-chain groups, program chains, their source references and cell
// specifications; checks on a group, resolving sources, colour tables, cell building and the PGCI record.
#pragma once

#include "AuthorAttributes.h"
#include "AuthorHighlight.h"
#include "AuthorSource.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Entry kinds of a program chain (bit numbers in the entry bit set).
enum AuthorEntryKind {
    ENTRY_TITLE = 2,
    ENTRY_ROOT = 3,
    ENTRY_SUBTITLE = 4,
    ENTRY_AUDIO = 5,
    ENTRY_ANGLE = 6,
    ENTRY_PTT = 7,
};
// "title", "root", "subtitle", "audio", "angle", "ptt" for kinds 2..7, "" otherwise.
const char* AuthorEntryName(int kind);

constexpr int AUTHOR_MAX_CELLS = 255;                // per source
constexpr int AUTHOR_MAX_PROGRAMS = 255;             // per program chain
constexpr uint32_t AUTHOR_DEFAULT_COLOR = 0x1000000; // outside 24 bits: written as 0x108080 (black)

using AuthorColorTable = std::array<uint32_t, 16>;

struct AuthorCellSpec {
    long long start = 0; // 90 kHz ticks from the source start
    long long end = -1;  // negative: to the end of the source
    int chapterMark = 1; // 1 program and chapter, 2 program only, 0 continues the program
    int pause = 0;       // cell still time, 255 = infinite
    // After cell building: first and end (exclusive) cell numbers.
    int firstCell = 0;
    int endCell = 0;
};

struct AuthorSourceRef {
    std::string path;
    AuthorSource* source = nullptr; // resolved by AuthorCollectSources; owned by the group
    std::vector<AuthorCellSpec> cells;
    // The buttons of a menu picture: written into every navigation pack of the source.
    std::shared_ptr<const AuthorHighlight> highlight;
};

struct ProgramChain {
    std::vector<AuthorSourceRef> sources;
    unsigned entries = 0; // bit set over AuthorEntryKind
    std::vector<AuthorCommand> preCommands;
    std::vector<AuthorCommand> postCommands; // at most 255 (one byte count)
    std::optional<AuthorColorTable> colors;
    int pause = 0;
    // After cell building.
    int numPrograms = 0;
    int numChapters = 0;
    int numCells = 0;
};

// One subpicture stream as the program chains offer it, made of a physical stream (0..31) for each
// way the picture can be shown: a 4:3 picture; a 16:9 one wide, letterboxed or pan-scanned.
struct AuthorSubpictureMap {
    int normal = 0;
    int wide = 0;
    int letterbox = 0;
    int panScan = 0;
};

struct PgcGroup {
    explicit PgcGroup(int groupKind = GROUP_TITLES) : kind(groupKind) {}
    int kind;
    std::vector<std::unique_ptr<ProgramChain>> pgcs;
    std::vector<std::unique_ptr<AuthorSource>> sources; // unique sources in first-use order
    AuthorAttributes attributes;
    unsigned entries = 0; // union of the PGCs' entry kinds
    int numEntries = 0;
    // Empty: each physical subpicture stream found is offered as a stream of its own.
    std::vector<AuthorSubpictureMap> subpictureMaps;
};

// Menu-language list of a title set or of the video manager.
struct AuthorMenuLanguage {
    char language[3] = {0, 0, 0}; // two lower-case letters
    std::unique_ptr<PgcGroup> group;
};
struct AuthorMenuList {
    std::vector<AuthorMenuLanguage> languages;
    AuthorAttributes attributes;
    // Fatal unless the language has exactly two characters ("ERR:  Menu language '%s' is not two letters.\n").
    void AddLanguage(const std::string& language, std::unique_ptr<PgcGroup> group);
};

// Checks a group before its scan (pause of the last cell, entry rules, chapter mark of the first cell,
// entry union). Logs every ERR line first, then throws AuthorFatalError.
void AuthorCheckGroup(PgcGroup& group);
// Appends the group's PGCs to `allPgcs` and resolves every source reference to a source of the group.
void AuthorCollectSources(PgcGroup& group, std::vector<ProgramChain*>& allPgcs);
// PGCs sharing a source share one colour table; PGCs without one get the default table.
void AuthorResolveColors(std::vector<ProgramChain*>& allPgcs);

// Completes a scanned group's attribute record: defaults, audio stream matching, subpicture binding,
// summary lines (group kind 0..2).
void AuthorCompleteGroup(PgcGroup& group, int groupKind);
// The same for a record kept apart from the group (e.g. the menu attribute record of a title set).
void AuthorCompleteAttributes(AuthorAttributes& attributes, const PgcGroup& group, int groupKind);

// Index of the VOBU nearest to `t` (ticks from the source start): -1 before the first, the VOBU count
// at or after the end of the last.
int AuthorFindVobu(const AuthorSource& source, long long t);
// Builds cells, programs and chapters of the group's PGCs after its scan.
void AuthorBuildCells(PgcGroup& group);

// Whether the transition from cell key `a` to cell key `b` (in `group`) has an audio gap on any of
// the group's audio streams.
bool AuthorAudioGap(const PgcGroup& group, int keyA, int keyB);

// Cells of a PGC in play order (after cell building).
struct AuthorPlayCell {
    const AuthorSource* source = nullptr;
    int cellId = 0; // 1-based within the source
    const AuthorCellSpec* spec = nullptr;
    bool lastOfSpec = false;
};
std::vector<AuthorPlayCell> AuthorPlayCells(const ProgramChain& pgc);
// Duration of a cell (end of its last VOBU - start of its first VOBU).
long long AuthorCellDuration(const AuthorSource& source, int cellId);
// Sum of the durations of the PGC's cells.
long long AuthorPgcDuration(const ProgramChain& pgc);

// Appends the PGCI record of `pgc` (big-endian, offsets from its own start) to `out`.
void AuthorAppendPgci(std::vector<uint8_t>& out, const PgcGroup& group, const ProgramChain& pgc);
