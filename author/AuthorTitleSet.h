// Creating a title set: scan its menu and title groups into VOB files, build cells, write
// VTS_NN_0.IFO and its identical backup VTS_NN_0.BUP, then fix the VOBs' navigation packs.
#pragma once

#include "AuthorRun.h"
#include "IfoTables.h"
#include "ProgramChain.h"

#include <string>
#include <vector>

// Creates the next free title set in `outputFolder`/VIDEO_TS (and an empty AUDIO_TS) from the menu
// list and the title group; returns the title-set number. Fatal errors throw AuthorFatalError after
// their ERR line.
int CreateTitleSet(AuthorMenuList& menus, PgcGroup& titles, const std::string& outputFolder,
                   const AuthorRunOptions& options = {});

// The tables of a title-set information file, from scanned groups with cells built (for tests too).
std::vector<uint8_t> IfoChapterTable(const PgcGroup& titles); // VTS_PTT_SRPT
std::vector<uint8_t> IfoTimeMapTable(const PgcGroup& titles); // VTS_TMAPTI

// The whole information file: header sector and tables, each padded to whole sectors. `menuGroup` is
// null without menus.
std::vector<uint8_t> IfoTitleSetFile(const AuthorMenuList& menus, const PgcGroup* menuGroup, const PgcGroup& titles,
                                     IfoWorkBuffer& work);

// Time unit (seconds) and entry count of a time map for a PGC of `seconds` whole seconds.
void IfoTimeMapShape(long long seconds, int& unit, int& entries);
