// Running a program of the build from a test, with a bound.
#pragma once

#include <QStringList>

#include <string>

namespace qxtest {

struct ProgramRun {
    int status = -1; // the exit code; -1 when the program crashed, did not start or did not end in time
    std::string out; // its standard output (and standard error when merged)
    std::string err; // its standard error when not merged
};
// Runs `program` with `args` and waits at most `timeoutMs`; a program still running then is killed.
ProgramRun RunProgram(const std::string& program, const QStringList& args, int timeoutMs, bool mergeErrors = false);

} // namespace qxtest
