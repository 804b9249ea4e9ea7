// The navigation pack fix-up: after a group's VOBs, cells and information file are written, the PCI and
// DSI of the navigation pack at the start of every VOBU are rebuilt in place from the VOBU records.
#pragma once

#include "AuthorOutput.h"
#include "ProgramChain.h"

#include <cstdint>
#include <functional>
#include <string>

struct AuthorNavFixOptions {
    // Progress hook (phase 1, percent).
    std::function<void(int phase, int percent)> progress;
    // Output files; null = plain files.
    AuthorFileOpener* files = nullptr;
};

// Default values of the DSI's search pointers.
constexpr uint32_t NAV_NO_VOBU = 0x3FFFFFFF;       // no target in this cell
constexpr uint32_t NAV_NO_VIDEO_VOBU = 0xBFFFFFFF; // no VOBU with video
constexpr uint32_t NAV_TARGET_HAS_VIDEO = 0x80000000;
constexpr uint32_t NAV_VIDEO_BETWEEN = 0x40000000;

// Rewrites the navigation pack of every VOBU of the group in its VOB file ("%s_%d.VOB", or the base
// name itself for VOB number -1). Fatal errors throw AuthorFatalError after their ERR line.
void FixNavPacks(const std::string& baseName, const PgcGroup& group, int kind, const AuthorNavFixOptions& options = {});

// Builds the 2048-byte navigation pack of VOBU `index` of `source` (a source of `group`) into `pack`.
void AuthorBuildNavPack(uint8_t* pack, const PgcGroup& group, const AuthorSource& source, int index);
