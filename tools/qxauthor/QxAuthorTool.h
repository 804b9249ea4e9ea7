// qxauthor: authors a DVD-Video folder from MPEG program streams with the driver's fixed layout:
// one title per stream in order, a chapter every N seconds, each title chained to the next, no menus.
#pragma once

#include <ostream>
#include <string>
#include <vector>

struct QxAuthorArgs {
    std::string outputFolder;
    int chapterSeconds = 300;
    bool partFiles = false;
    bool replace = false; // delete DVD files left in OUTDIR/VIDEO_TS instead of refusing
    std::string isoFile;  // --iso FILE: also write the disc image of the folder
    std::string label;    // --label TEXT: its label (default: the name of OUTDIR)
    bool labelGiven = false;
    bool help = false;
    std::vector<std::string> streams;
};

// Exit statuses.
constexpr int QXAUTHOR_OK = 0;
constexpr int QXAUTHOR_FAILED = 1; // the engine reported an "ERR:" line, or a stream/folder problem
constexpr int QXAUTHOR_USAGE = 2;
// Stopped by signal N (SIGINT, SIGTERM; the authoring removes what it wrote): 128 + N.

std::string QxAuthorUsage();

// Parses the command line (argv[0] is the program). False with the reason in `error`.
bool ParseQxAuthorArgs(const std::vector<std::string>& argv, QxAuthorArgs& args, std::string& error);

// Authors the folder; messages that are not the engine's own go to `err`. Returns the exit status.
int RunQxAuthor(const QxAuthorArgs& args, std::ostream& err);

int QxAuthorMain(int argc, char** argv);
