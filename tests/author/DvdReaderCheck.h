// Independent judges of an authored DVD-Video folder: libdvdread reads every information file and
// libdvdnav plays the disc from first-play to the end, the way a software player would.
#pragma once

#include <string>
#include <vector>

struct DvdTitleSummary {
    int titleSet = 0;      // title-set number from the title search pointers
    int titleInSet = 0;    // title number within its set
    int chapters = 0;      // chapters listed in the title search pointers
    int chaptersInSet = 0; // chapters listed in the title set's own chapter table
    int programs = 0;      // programs of the title's program chain
    int cells = 0;         // cells of the title's program chain
    double seconds = 0;    // playback time of the title's program chain
    int postCommands = 0;
    std::vector<unsigned char> firstPostCommand; // 8 bytes when there is one
    std::vector<std::vector<unsigned char>> preCommands;
    // The title set's subpicture streams (their language letters, "" without one), the title's
    // program chain's subpicture stream control words and colour table.
    std::vector<std::string> subpictureLanguages;
    std::vector<unsigned> subpictureControl;
    std::vector<unsigned> palette;
};

struct DvdReadReport {
    bool opened = false;
    std::vector<std::string> complaints; // every error or warning libdvdread printed, plus our own findings
    int titleSets = 0;
    std::vector<DvdTitleSummary> titles;
    std::vector<std::vector<unsigned char>> firstPlayCommands;
    int managerMenuPgcs = 0;           // menu PGCs of the video manager, all languages
    std::vector<int> titleSetMenuPgcs; // per title set
};

struct DvdPlayReport {
    bool reachedStop = false;    // DVDNAV_STOP seen within the step bound
    std::vector<int> titleOrder; // titles in the order playback entered them (consecutive repeats folded)
    std::vector<int> partsSeen;  // distinct (title * 1000 + part) values in order of appearance
    long blocks = 0;             // data blocks delivered
    long navPackets = 0;
    std::vector<std::string> complaints;
};

// Opens the folder (which holds VIDEO_TS) with libdvdread and reads the video manager and every title set.
DvdReadReport ReadDvdFolder(const std::string& folder);

// Plays the folder with libdvdnav from first-play, skipping stills and waits, for at most maxSteps events.
DvdPlayReport PlayDvdFolder(const std::string& folder, long maxSteps);

// Chapter start times (seconds) and total duration as libdvdnav describes them for one title.
bool DescribeTitleChapters(const std::string& folder, int title, std::vector<double>& chapterStarts, double& duration);
