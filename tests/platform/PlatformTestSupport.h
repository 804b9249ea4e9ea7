// Shared by the platform tests: an isolated set of user folders, the Qt application object, and
// starting the peer program.
#pragma once

#include "ChildProcess.h"

#include <string>
#include <vector>

class QCoreApplication;

namespace qx::test {

// Points HOME, XDG_RUNTIME_DIR, XDG_CONFIG_HOME and XDG_STATE_HOME at fresh folders under one
// temporary folder (removed again, with the old values restored, on destruction).
class IsolatedEnv {
public:
    IsolatedEnv();
    ~IsolatedEnv();
    const std::string& root() const { return root_; } // no trailing '/'
    std::string runtimeBase() const { return root_ + "/run"; }

private:
    std::string root_;
    std::vector<std::pair<std::string, std::string>> saved_;
    std::vector<std::string> unset_;
};

// The process's one QCoreApplication, made on first use.
QCoreApplication* App();

// Runs the peer program with `args`; fails the current test when it does not start.
void StartPeer(ChildProcess& p, const std::vector<std::string>& args);

// Waits for a peer's exit and returns its exit code (-1000 - signal when it was killed, -1 when it
// did not end within timeoutMs).
int PeerExitCode(ChildProcess& p, int timeoutMs = 5000);

// Writes a whole file.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

} // namespace qx::test
