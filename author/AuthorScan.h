// The program-stream scanner and VOB writer: reads every source of a group 2048 bytes at a time,
// re-times it, finds its VOBUs, writes the VOB files and records VOBUs, timelines and attributes.
#pragma once

#include "AuthorOutput.h"
#include "ProgramChain.h"

#include <functional>
#include <string>

constexpr int AUTHOR_SECTOR = 2048;
constexpr int AUTHOR_VOB_SECTORS = 524272; // 0x7FFF0, 16 sectors short of 1 GiB

struct AuthorScanOptions {
    // Continue a source in "%s.part1" and "%s.part2" when it ends.
    bool partFiles = false;
    // Progress hook (phase 0, percent), titles only.
    std::function<void(int phase, int percent)> progress;
    // Output files; null = plain files.
    AuthorFileOpener* files = nullptr;
    // Sectors per VOB file before the next one starts (tests lower it).
    int vobSectorLimit = AUTHOR_VOB_SECTORS;
    // Program chains reported in the "STAT: VOBU" line; negative = the group's own.
    int numPgcs = -1;
};

// Scans the sources of `group` (already resolved by AuthorCollectSources) into VOB files. kind 0 titles
// and 1 title-set menus write "%s_%d.VOB" (base name, VOB number); kind 2 writes the base name itself.
// Fatal errors throw AuthorFatalError after their ERR line.
void ScanGroup(const std::string& baseName, PgcGroup& group, int kind, const AuthorScanOptions& options = {});

// Name of VOB file `vobNumber` of a group ("%s_%d.VOB", or the base name itself for VOB number -1).
std::string AuthorVobFileName(const std::string& baseName, int vobNumber);

// Sectors of the group's VOB data: last sector of the last VOBU of the last source with VOBUs, plus 1.
int AuthorGroupSectors(const PgcGroup& group);
