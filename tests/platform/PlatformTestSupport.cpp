#include "PlatformTestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace qx::test {

IsolatedEnv::IsolatedEnv() {
    char tmpl[] = "/tmp/qxplatform-XXXXXX";
    root_ = mkdtemp(tmpl);
    for (const char* sub : {"/run", "/config", "/state", "/home"})
        mkdir((root_ + sub).c_str(), 0700);
    const std::pair<const char*, std::string> vars[] = {{"XDG_RUNTIME_DIR", root_ + "/run"},
                                                        {"XDG_CONFIG_HOME", root_ + "/config"},
                                                        {"XDG_STATE_HOME", root_ + "/state"},
                                                        {"HOME", root_ + "/home"}};
    for (const auto& v : vars) {
        if (const char* old = std::getenv(v.first))
            saved_.emplace_back(v.first, old);
        else
            unset_.push_back(v.first);
        setenv(v.first, v.second.c_str(), 1);
    }
}

IsolatedEnv::~IsolatedEnv() {
    for (const auto& v : saved_)
        setenv(v.first.c_str(), v.second.c_str(), 1);
    for (const auto& name : unset_)
        unsetenv(name.c_str());
    std::string cmd = "chmod -R u+rwx '" + root_ + "' 2>/dev/null; rm -rf '" + root_ + "'";
    if (std::system(cmd.c_str()) != 0)
        ADD_FAILURE() << "could not remove " << root_;
}

QCoreApplication* App() {
    static int argc = 1;
    static char name[] = "platform-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return app;
}

void StartPeer(ChildProcess& p, const std::vector<std::string>& args) {
    Status s = p.Start("platform_peer", args);
    ASSERT_TRUE(s.ok()) << s.error();
}

int PeerExitCode(ChildProcess& p, int timeoutMs) {
    if (!p.WaitForExit(timeoutMs))
        return -1;
    std::optional<ExitStatus> st = p.exitStatus();
    if (!st)
        return -1;
    return st->exited ? st->code : -1000 - st->signal;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace qx::test
