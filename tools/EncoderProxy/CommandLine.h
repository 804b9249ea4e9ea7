// The command-line modes of the encoder program (for people and benchmarks; the system never
// uses them) and the worker mode in which the encoder runs each probe and conversion.
//
//   EncoderProxy --probe FILE
//   EncoderProxy --convert IN OUT --tv pal|ntsc --aspect 4:3|16:9 [--picture WxH | --keep-aspect]
//                [--part-files] [--part-limit BYTES] [--probe-a N --probe-b S]
//                [--subtitles none|all|ID,ID,...]   (per subtitle the probe lists: substream 32..63 or 0)
//   EncoderProxy --substitute pal|ntsc 4:3|16:9 OUT [--seconds S]
//
// A leading --worker (used by the encoder itself) adds machine-readable progress lines
// ("progress=F") and a final "result=ok|stopped|failed" line to --convert, and arms the test
// hook QX_ENCODER_TEST_CRASH=probe|convert, which makes the worker abort.
#pragma once

#include <string>
#include <vector>

#include "EncoderTypes.h"

namespace qx::enc {

struct CommandLine {
    enum class Mode { Server, Probe, Convert, Substitute, Help, Invalid } mode = Mode::Server;
    bool worker = false;
    std::string error; // for Invalid
    std::string input;
    std::string output;
    ConvertRequest convert;
    bool keepAspect = false;
    bool pictureGiven = false;
    bool probeGiven = false;
    double seconds = 2.0; // substitute length
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Runs a command-line mode; returns the exit code (0 done; 1 failed; 2 wrong usage).
int RunCommandLine(const CommandLine& cmd);

std::string UsageText();

} // namespace qx::enc
