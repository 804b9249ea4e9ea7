// The scan for DVD files left in an output folder by an earlier job: check for them, or delete them all.
#pragma once

#include <functional>
#include <string>

// Probes the fixed list of DVD file names in `folder` (the VIDEO_TS folder; a trailing "/" is optional):
// video_ts.ifo/.bup/.vob, then for title set 1, 2, ...: vts_NN_0.ifo, vts_NN_0.vob, vts_NN_k.vob for
// k = 1..100, vts_NN_0.dat, vts_NN_k.dat for k = 1..100, video_ts.dat, vts_NN_0.bup. Names match without
// regard to case (VTS_01_1.VOB is found by vts_01_1.vob). From title set 100 on, the scan ends at the
// first missing name. `pump` (optional) runs after every probe so a window stays responsive.
// Check-only: returns 1 at the first existing file, 0 when there is none.
// Delete mode: deletes every existing file of the list (every spelling of it) and returns 0; returns -1
// when a file could not be deleted (the scan still tries the rest), with the reason in *error.
int FindOrDeleteDvdFiles(const std::string& folder, bool checkOnly, const std::function<void()>& pump = {},
                         std::string* error = nullptr);
