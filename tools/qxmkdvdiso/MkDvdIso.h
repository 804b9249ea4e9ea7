// qxmkdvdiso: the disc image of an existing DVD-Video folder, written to a file.
#pragma once

#include <string>
#include <vector>

struct MkDvdIsoArgs {
    std::string output;
    std::string label;
    bool labelGiven = false;
    bool help = false;
    std::string folder;
};

constexpr int MKDVDISO_USAGE = 2; // 0 complete image, 1 failure, 128+N interrupted by signal N

std::string MkDvdIsoUsage();

// Parses the command line (argv[0] is the program). False with the reason in `error`.
bool ParseMkDvdIsoArgs(const std::vector<std::string>& argv, MkDvdIsoArgs* args, std::string* error);

int MkDvdIsoMain(int argc, char** argv);
