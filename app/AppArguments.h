// The window program's command line: movie files to add at start (as a desktop's "Open with"
// hands them over), plus --help and --version.
#pragma once

#include <string>
#include <vector>

struct AppArguments {
    std::vector<std::string> files; // absolute paths, in the order given
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program name (Qt's own options already taken out). Relative
// paths are made absolute against `currentFolder`; "file://" addresses become local paths. An
// argument after "--" is always a file. False with a reason for an unknown option or an address
// that names no local file.
bool ParseAppArguments(const std::vector<std::string>& args, const std::string& currentFolder, AppArguments* out,
                       std::string* error);

std::string AppUsage();
std::string AppVersionText();
