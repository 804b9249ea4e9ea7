// The table of contents: read back the title-set information files, list every title, and write
// VIDEO_TS.IFO with its identical backup VIDEO_TS.BUP (and VIDEO_TS.VOB when there are menus).
#pragma once

#include "AuthorRun.h"
#include "ProgramChain.h"

#include <cstdint>
#include <string>
#include <vector>

// What the table of contents needs from one title set's information file.
struct AuthorTitleSetSummary {
    uint32_t sectors = 0; // size of the title set, information files and VOBs included
    bool hasMenus = false;
    uint8_t category[4] = {};
    uint8_t attributes[768] = {}; // bytes 0x100..0x3FF: menu and title attribute blocks
    std::vector<int> chapters;    // per title
};

// Reads the information file at `path`: "ERR:  cannot open %s: %s\n" when it cannot be opened,
// "ERR:  %s is not a title set information file\n" when it is too short, its tables do not fit, or it
// claims more than 99 titles or a title with more than 999 chapters.
AuthorTitleSetSummary AuthorReadTitleSet(const std::string& path);

// Builds the table of contents in `outputFolder`/VIDEO_TS from title sets 1..numTitleSets. A supplied
// first-play PGC may hold pre-commands only; without one the first-play command is generated (jump to
// the video manager's menu, to title set 1's root menu, or to title 1). Reports progress phase 2 with
// 100 at the end. Fatal errors throw AuthorFatalError after their ERR line.
void CreateToc(const ProgramChain* firstPlay, AuthorMenuList& menus, const std::string& outputFolder, int numTitleSets,
               const AuthorRunOptions& options = {});

// The generated first-play command for the situation.
AuthorCommand AuthorFirstPlayCommand(bool managerHasMenus, bool firstSetHasMenus, bool haveTitleSets);

// VIDEO_TS.IFO's bytes (header with first-play PGC, TT_SRPT, menu tables, VTS_ATRT), for tests too.
std::vector<uint8_t> IfoVideoManagerFile(const std::vector<AuthorCommand>& firstPlayCommands,
                                         const AuthorMenuList& menus, const PgcGroup* menuGroup,
                                         const std::vector<AuthorTitleSetSummary>& titleSets);
