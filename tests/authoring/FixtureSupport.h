// Test media and folders for the authoring tests: program streams made by the ffmpeg program and kept
// in a cache folder of the build, temporary output folders, and running a program to completion.
#pragma once

#include <string>
#include <vector>

#include "DvdFormat.h"

// A DVD program stream of `seconds` seconds (small picture, low bit rate, one AC-3 track), generated once
// and reused by every test program of the build. Fails the current test when ffmpeg fails.
std::string FixtureStream(TvStandard standard, int seconds);

// A fresh empty folder below the system's temporary folder, removed when the object goes away.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

struct ProgramResult {
    int exitStatus = -1; // -1 when the program did not exit normally
    std::string output;  // standard output and standard error together
};

// Runs `argv` (argv[0] is the program path) and waits for it, at most `timeoutSeconds` seconds.
ProgramResult RunProgram(const std::vector<std::string>& argv, int timeoutSeconds = 600);

std::vector<unsigned char> ReadWholeFile(const std::string& path);
bool FileExists(const std::string& path);
