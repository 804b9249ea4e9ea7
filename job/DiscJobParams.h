// A disc job as a value: the movies and every choice the user made for them, what the job is at a
// given moment, and how it ended. The window fills it from its controls, the console front-end from
// its options; DiscJob runs it.
#pragma once

#include "BurnCore.h"
#include "DiscBudget.h"
#include "DvdFormat.h"
#include "SourceInfo.h"

#include <cstdint>
#include <string>
#include <vector>

// Where the finished DVD folder is burned.
struct BurnTarget {
    int engine = 0;  // 0 "Build-in", 1 "Nero"
    int writer = -1; // index in that engine's writer list
};

struct DiscJobParams {
    std::vector<CSourceInfo> movies; // in title order, as probed
    TvStandard tv = TvStandard::Ntsc;
    DisplayAspect aspect = DisplayAspect::Wide16x9;
    bool keepAspect = true;       // keep the movie's own proportions inside the picture
    int discType = DISC_TYPE_D5;  // DISC_TYPE_D5 or DISC_TYPE_D9
    std::string workFolder;       // absolute; the start adds the trailing '/'
    std::string label;            // the disc's volume label (burned or imaged), at most 32 characters
    bool burn = false;            // "Burn to DVD disc"
    BurnTarget burnTarget;        // used when burn is set
    bool burnToImage = false;     // the burn writes the disc image file `imageFile` instead of a disc
                                  // (the writer list's "Disc image file (.iso)" entry)
    std::string imageFile;        // when set, the DVD folder's disc image is written here after authoring
    bool deleteTempFiles = false; // "Delete tmp file": after a done burn the DVD folder's files go
    bool shutdown = false;        // "Shutdown computer when finished"
    bool menu = false;            // "Create DVD menu": a title menu with a button per movie and "Play all"
    bool verify = true;           // "Verify disc after burning": the burn reads the disc back and compares it
    bool subtitles = true;        // the movies' subtitles become selectable DVD subtitles
    bool showSubtitles = false;   // "Show subtitles at start": each title starts with its first stream shown
};

// The step a running job is in (Erasing belongs to the erase of the writer-information window).
// (Menu comes between the conversion and the authoring, when the job makes a DVD menu.)
enum class JobStep { None, Checking, Converting, Menu, Authoring, Burning, Imaging, Completing, Erasing };

// How a job ended.
struct JobOutcome {
    bool started = false;      // the start checks passed and the movies were converted
    bool stopped = false;      // the user stopped the conversion: no disc was made
    int interruptSignal = 0;   // the signal that ended it early (SIGINT, SIGTERM), else 0
    bool authorFailed = false; // the menu or the authoring engine failed, or was stopped
    bool burnTried = false;    // the burn step ran
    BurnOutcome burnOutcome = BurnOutcome::Refused;
    // Why the burned disc did not read back as it was written (burnOutcome is then Failed).
    std::string verifyFailure;
    bool imageTried = false;   // the image step ran
    bool imageWritten = false; // the disc image file is complete
    std::uint64_t imageBytes = 0;
    std::string imageError;                 // why the image was not written
    std::vector<std::string> imageWarnings; // files left off the image
    bool accomplished = false;              // ended with "Mission accomplished!"
    bool shutDown = false;                  // the computer was asked to power off
    int failedMovies = 0;                   // movies replaced by the substitute stream
    std::string dvdFolder;                  // "<work>DVD Movie/VIDEO_TS/" when the job made one and kept it
};
