// What one authoring run hands to the title-set and table-of-contents builders.
#pragma once

#include "AuthorOutput.h"
#include "AuthorProgress.h"
#include "AuthorScan.h"

struct AuthorRunOptions {
    // Sources may continue in "%s.part1" and "%s.part2".
    bool partFiles = false;
    // Progress: phase 0 while VOBs are written, 1 while navigation packs are fixed, 2 with 100 at the end.
    AuthorProgressHook progress;
    // Output files; null = plain files.
    AuthorFileOpener* files = nullptr;
    // Sectors per title VOB file (tests lower it to see VOB splits with small streams).
    int vobSectorLimit = AUTHOR_VOB_SECTORS;
};

// Writes `bytes` to `path` (created or truncated): "ERR:  Error opening %s: %s\n" when it cannot be
// opened, "ERR:  Error writing data\n" when the data does not reach it.
void AuthorWriteWholeFile(AuthorFileOpener& files, const std::string& path, const std::vector<uint8_t>& bytes);

// Creates a folder if it is missing: "ERR:  Error creating folder %s: %s\n" when that fails.
void AuthorMakeFolder(const std::string& path);

// Whether `folder` holds a file named `name` in any letter case.
bool AuthorFileExistsNoCase(const std::string& folder, const std::string& name);
