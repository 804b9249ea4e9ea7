// The files of a VIDEO_TS folder in the order a DVD-Video disc holds them, and the check that the
// sector addresses the information files hold match that order.
#pragma once

#include "DvdVideoImage.h"

#include <string>
#include <vector>

namespace qx::discimage {

constexpr std::uint64_t kMaxFileBytes = std::uint64_t(1) << 30;

// Lists the DVD-Video files of `folder` (names matched in any letter case): VIDEO_TS.IFO, .VOB, .BUP,
// then per title set VTS_nn_0.IFO, VTS_nn_0.VOB, VTS_nn_1.VOB … VTS_nn_9.VOB, VTS_nn_0.BUP. Anything
// else is named in `warnings` and left out. False with `error` for a missing, unreadable, oversized or
// partial-sector file, a gap in the numbering, or two names that differ only in case.
// `rootRules` (Create sets it when running as root, whose reads no permission stops): a symbolic link
// that leads out of the folder is refused, not followed, and so is a file whose owner is not the
// folder's owner; such a file is refused before its size is looked at, so no message tells it.
bool ListVideoTsFolder(const std::string& folder, std::vector<ImageFile>* files, std::vector<std::string>* warnings,
                       std::string* error, bool rootRules);

// Opens a listed file for reading (never blocking on a FIFO put in its place) and checks it is the
// planned one: the same device, inode and size. -1 with `error` naming the file otherwise.
int OpenPlannedFile(const ImageFile& file, std::string* error);
// The open file `fd` is still the planned `file` (device, inode, size); false with `error` set.
bool SameAsPlanned(int fd, const ImageFile& file, std::string* error);

// With `files` placed one after the other from VIDEO_TS.IFO on, checks every address the information
// files hold: sizes of the information files, start of the menu and title VOBs, last sectors of the
// video manager and of each title set, the title sets' starts in the table of titles; that the table
// lists at least one title (else no player starts the disc) and that every backup holds the same bytes
// as its information file. False with an `error` naming the file at fault.
bool CheckVideoTsLayout(const std::vector<ImageFile>& files, std::string* error);

} // namespace qx::discimage
