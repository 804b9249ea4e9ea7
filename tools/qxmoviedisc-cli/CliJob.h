// The console front-end: a whole disc job (job/DiscJob.h) or one writer operation, with every
// message box, dialog, log line and progress line printed instead of shown. Results go to standard
// output; progress, log lines and questions to standard error.
#pragma once

#include "DvdFormat.h"
#include "Status.h"

#include <cstdio>
#include <string>
#include <vector>

struct CliOptions {
    TvStandard tv = TvStandard::Ntsc;               // --tv pal|ntsc
    DisplayAspect aspect = DisplayAspect::Wide16x9; // --aspect 4:3|16:9
    bool keepAspect = true;                         // --keep-aspect / --no-keep-aspect
    bool dualLayer = false;                         // --disc d5|d9
    std::string workFolder; // --work DIR (default: the last one the console front-end used)
    bool assumeYes = false; // --yes: answer Yes/OK to every question
    bool demo = false;      // --demo: make a short sample movie and convert it
    int writer = -1;        // --writer N: burn the DVD folder with writer N (as the writer combo counts)
    std::string label;      // --label TEXT: the disc label (at most 32 characters)
    bool help = false;
    bool verbose = false; // --verbose: the engines' diagnostic trace on standard error
    std::string isoFile;  // --iso FILE: also write the disc image of the DVD folder the job made
    bool menu = false;    // --menu: the disc gets a DVD menu
    std::vector<std::string> movies;

    // Writer operations (one per run), through the burn engine the windows use.
    bool listWriters = false; // --list-writers
    int writerInfo = -1;      // --writer-info N
    std::string burnFolder;   // --burn-folder DIR (with --writer N and maybe --label)
    int erase = -1;           // --erase N
    int engine = -1;          // --engine 0|1 (-1: as the window selects)
    bool WriterOperation() const { return listWriters || writerInfo >= 0 || !burnFolder.empty() || erase >= 0; }
};

namespace qx {
class InstanceLock;
}
// Takes the program's single-instance lock for a console run; false (with the reason printed to
// `err`) while the window program or another console run holds it.
bool AcquireCliInstanceLock(qx::InstanceLock& lock, std::FILE* err);

// Runs the writer operation of the options; exit status 0 only when it succeeded.
int RunCliWriterOperation(const CliOptions& options, std::FILE* out, std::FILE* err);

// Parses the command line (without the program name). False with a reason in `error`.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions* options, std::string* error);

// The usage text.
std::string CliUsage();

// Makes the 5-second sample movie with the ffmpeg program. False with the reason.
bool MakeDemoMovie(const std::string& path, std::string* error);

// Makes the demonstration's own folder under `tempFolder`: new for each run, mode 0700, owned by
// this user (never one another user could have made first). Its path with a trailing '/'.
qx::Result<std::string> MakeDemoFolder(const std::string& tempFolder);

// How long an interrupted (SIGINT, SIGTERM) authoring run, burn or erase may take to stop before the
// program ends anyway.
constexpr int kCliInterruptBoundMs = 30000;

// Exit status of a job that ended with "Mission accomplished!" although some movies failed and
// were replaced by the substitute stream, or were left out because they could not be read (a
// summary line says how many).
constexpr int kCliMoviesReplaced = 3;

// Runs the job; returns the exit status (0 only after "Mission accomplished!" with every movie
// converted, which a job that burns reaches only when the burn succeeded). Needs a QCoreApplication.
int RunCliJob(const CliOptions& options, std::FILE* out, std::FILE* err);

// main(): options, a QCoreApplication, the job or the writer operation.
int CliMain(int argc, char** argv);
