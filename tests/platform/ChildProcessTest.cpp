#include "ChildProcess.h"
#include "PlatformTestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace qx;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// True once the process ignores SIGTERM (its SigIgn mask in /proc), within timeoutMs.
bool IgnoresSigterm(pid_t pid, int timeoutMs) {
    const std::string statusFile = "/proc/" + std::to_string(pid) + "/status";
    auto t0 = Clock::now();
    do {
        const std::string status = test::ReadFile(statusFile);
        const size_t at = status.find("SigIgn:\t");
        if (at != std::string::npos && (std::stoull(status.substr(at + 8, 16), nullptr, 16) >> (SIGTERM - 1)) & 1)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (MsSince(t0) < timeoutMs);
    return false;
}

// Runs the Qt event loop until `done` or timeoutMs.
void RunLoopUntil(const std::function<bool()>& done, int timeoutMs) {
    test::App();
    auto t0 = Clock::now();
    while (!done() && MsSince(t0) < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

} // namespace

TEST(ChildProcess, ReportsProgramsThatCannotStart) {
    test::IsolatedEnv env;
    ChildProcess p;
    Status s = p.Start("NoSuchHelper");
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().find(std::string(QX_BIN_DIR) + "/NoSuchHelper"), std::string::npos) << s.error();
    EXPECT_NE(s.error().find("does not exist"), std::string::npos) << s.error();
    std::string notExecutable = env.root() + "/plain";
    test::WriteFile(notExecutable, "#!/bin/sh\n");
    s = p.Start(notExecutable);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().find("Permission denied"), std::string::npos) << s.error();
    test::WriteFile(notExecutable, "not a program at all");
    chmod(notExecutable.c_str(), 0755);
    s = p.Start(notExecutable);
    ASSERT_FALSE(s.ok()) << "exec failure must be reported, not a started process";
    EXPECT_NE(s.error().find("Exec format error"), std::string::npos) << s.error();
    EXPECT_FALSE(p.started());
}

TEST(ChildProcess, ExitCodesSignalsAndStandardInput) {
    test::IsolatedEnv env;
    int leaked = open("/dev/null", O_RDONLY); // not close-on-exec: must still not reach the helper
    ChildProcess p;
    test::StartPeer(p, {"check-stdio"});
    EXPECT_EQ(test::PeerExitCode(p), 0) << "stdin should be /dev/null and no descriptor inherited";
    close(leaked);

    test::StartPeer(p, {"exit", "7"});
    EXPECT_GT(p.pid(), 0);
    ASSERT_TRUE(p.WaitForExit(5000));
    EXPECT_FALSE(p.IsRunning());
    ASSERT_TRUE(p.exitStatus().has_value());
    EXPECT_TRUE(p.exitStatus()->exited);
    EXPECT_EQ(p.exitStatus()->code, 7);
    EXPECT_EQ(p.exitStatus()->Describe(), "exit code 7");

    test::StartPeer(p, {"abort"});
    ASSERT_TRUE(p.WaitForExit(5000));
    EXPECT_FALSE(p.exitStatus()->exited);
    EXPECT_EQ(p.exitStatus()->signal, SIGABRT);
    EXPECT_NE(p.exitStatus()->Describe().find("killed by signal 6"), std::string::npos);
}

TEST(ChildProcess, TerminateEscalatesWithinItsBound) {
    test::IsolatedEnv env;
    ChildProcess p;
    test::StartPeer(p, {"sleep"});
    EXPECT_TRUE(p.IsRunning());
    EXPECT_FALSE(p.WaitForExit(50));
    ASSERT_TRUE(p.Terminate(2000).ok());
    EXPECT_EQ(p.exitStatus()->signal, SIGTERM);

    test::StartPeer(p, {"stubborn"});
    ASSERT_TRUE(IgnoresSigterm(p.pid(), 10000)); // it must ignore SIGTERM before the test means anything
    auto t0 = Clock::now();
    ASSERT_TRUE(p.Terminate(200).ok());
    EXPECT_EQ(p.exitStatus()->signal, SIGKILL);
    EXPECT_LT(MsSince(t0), 3000);
    EXPECT_TRUE(p.Terminate().ok()); // nothing left to end
}

TEST(ChildProcess, DestructorEndsAndReapsTheHelper) {
    test::IsolatedEnv env;
    pid_t pid = 0;
    {
        ChildProcess p;
        test::StartPeer(p, {"sleep"});
        pid = p.pid();
    }
    EXPECT_EQ(kill(pid, 0), -1) << "the helper outlived its owner or was left a zombie";
}

TEST(ChildProcess, ExitCallbackRunsOnTheLoopAndMayRestart) {
    test::IsolatedEnv env;
    test::App();
    ChildProcess p;
    EXPECT_FALSE(p.SetExitCallback([](const ExitStatus&) {}).ok()); // nothing started
    test::StartPeer(p, {"exit", "5"});
    std::vector<int> codes;
    std::thread::id cbThread;
    ASSERT_TRUE(p.SetExitCallback([&](const ExitStatus& st) {
                     codes.push_back(st.code);
                     cbThread = std::this_thread::get_id();
                     if (codes.size() == 1) { // restart from inside the callback, as a crash handler would
                         ASSERT_TRUE(p.Start("platform_peer", {"exit", "6"}).ok());
                         ASSERT_TRUE(p.SetExitCallback([&](const ExitStatus& s2) { codes.push_back(s2.code); }).ok());
                     }
                 }).ok());
    RunLoopUntil([&]() { return codes.size() >= 2; }, 5000);
    EXPECT_EQ(codes, (std::vector<int>{5, 6}));
    EXPECT_EQ(cbThread, std::this_thread::get_id());

    // A deliberate Terminate is no unexpected death.
    bool called = false;
    test::StartPeer(p, {"sleep"});
    ASSERT_TRUE(p.SetExitCallback([&](const ExitStatus&) { called = true; }).ok());
    ASSERT_TRUE(p.Terminate().ok());
    RunLoopUntil([]() { return false; }, 200);
    EXPECT_FALSE(called);
}

TEST(ChildProcess, ExitCallbackNeedsAnEventLoop) {
    test::IsolatedEnv env;
    ChildProcess p;
    test::StartPeer(p, {"sleep"});
    Status s = Status::Ok();
    std::thread([&]() { s = p.SetExitCallback([](const ExitStatus&) {}); }).join();
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().find("event loop"), std::string::npos) << s.error();
}
