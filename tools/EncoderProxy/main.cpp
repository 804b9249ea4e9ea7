// The encoder program: without arguments it serves the system's requests; with arguments it runs
// one command-line mode (see CommandLine.h).
#include <string>
#include <vector>

#include "CommandLine.h"
#include "EncoderServer.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    qx::enc::CommandLine cmd = qx::enc::ParseCommandLine(args);
    if (cmd.mode == qx::enc::CommandLine::Mode::Server)
        return qx::enc::RunEncoderServer(argc, argv);
    return qx::enc::RunCommandLine(cmd);
}
