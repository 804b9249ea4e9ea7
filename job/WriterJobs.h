// The writer operations of the burn-DVD-folder and writer-information windows, without the windows:
// burning a DVD-Video folder that is already on disk, describing a writer, erasing a rewritable
// disc. The windows and the console front-end run them with their own observer.
#pragma once

#include "BurnCore.h"
#include "JobObserver.h"

#include <atomic>
#include <string>

class QObject;

// The last entry of every writer list in the windows: a disc image file instead of a disc.
constexpr const char* kImageWriterEntry = "Disc image file (.iso)";

// Asks for the image file's name once: a save dialog in `folder` proposing a name made from `label`
// (".iso" added when the name has no such ending), and - when that file exists - whether to replace
// it. The chosen absolute path, or empty when the user cancelled either.
std::string AskImageFile(QObject* owner, const std::string& label, const std::string& folder);

struct FolderBurnRequest {
    BurnCore* core = nullptr; // the engine chosen (null: none)
    int engine = 0;           // its index, for the log
    int writer = -1;
    std::string folder; // the folder holding VIDEO_TS, or VIDEO_TS itself (with trailing '/')
    std::string label;
    // When set, the folder's disc image is written to this file instead of burning (the writer list's
    // image entry); `stopImage`, when given, stops it.
    std::string imageFile;
    const std::atomic<bool>* stopImage = nullptr;
    // "Verify disc after burning": the burn reads the disc back and compares it (not for an image file).
    bool verify = true;
};

// The Burn button: checks and measures the folder (up to 4250 MB a single-layer disc, up to 8100 MB a
// dual-layer one), runs the writer-ready check, burns (step Burning with the engine's progress) and
// tells the outcome. Refused for every check that stopped it. With an image file instead: no writer
// check, but the image must not destroy a file of the folder and must fit where it goes (step
// Imaging), and the outcome's box names the image.
BurnOutcome BurnDvdFolder(const FolderBurnRequest& request, JobObserver& observer);

// Describes `writer` of `core` into `info`, with the writer-information window's log lines. 1 when
// described, 0 when there is no core or no such writer.
int ReadWriterInfo(BurnCore* core, int engine, int writer, DVDDeviceInfo* info, JobObserver& observer);

// The Erase button: a rewritable disc that holds data is blanked (step Erasing with the engine's
// progress) and the outcome told. An erase runs to its end: no stop request is passed on.
BurnOutcome EraseWriterDisc(BurnCore* core, int engine, int writer, JobObserver& observer);
