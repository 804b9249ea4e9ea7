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
bool ListVideoTsFolder(const std::string& folder, std::vector<ImageFile>* files, std::vector<std::string>* warnings,
                       std::string* error);

// With `files` placed one after the other from VIDEO_TS.IFO on, checks every address the information
// files hold: sizes of the information files, start of the menu and title VOBs, last sectors of the
// video manager and of each title set, the title sets' starts in the table of titles. False with an
// `error` naming the file at fault.
bool CheckVideoTsLayout(const std::vector<ImageFile>& files, std::string* error);

} // namespace qx::discimage
