#include "Folders.h"
#include "InstanceLock.h"
#include "NamedEvent.h"
#include "PlatformTestSupport.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace qx;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Events made by a test are removed again, also those left by crashed peers.
struct EventNames {
    std::vector<std::string> names;
    ~EventNames() {
        for (const auto& n : names)
            NamedEvent::Remove(n);
    }
};

} // namespace

TEST(InstanceLock, OneHolderAtATimeAcrossProcesses) {
    test::IsolatedEnv env;
    InstanceLock lock;
    ASSERT_EQ(lock.Acquire("QXMOVIEDISC"), InstanceLock::State::Acquired);
    InstanceLock second; // a second open of the file in this process conflicts as well
    EXPECT_EQ(second.Acquire("QXMOVIEDISC"), InstanceLock::State::HeldElsewhere);
    ChildProcess peer;
    test::StartPeer(peer, {"try-lock", "QXMOVIEDISC"});
    EXPECT_EQ(test::PeerExitCode(peer), 3);
    lock.Release();
    test::StartPeer(peer, {"try-lock", "QXMOVIEDISC"});
    EXPECT_EQ(test::PeerExitCode(peer), 0);
    std::string error;
    EXPECT_EQ(second.Acquire("../escape", &error), InstanceLock::State::Failed);
    EXPECT_NE(error.find("invalid lock name"), std::string::npos);
}

TEST(InstanceLock, KilledHolderDoesNotBlockEvenWhileItsHelperLives) {
    test::IsolatedEnv env;
    EventNames cleanup{{"lockReady"}};
    NamedEvent ready;
    ASSERT_TRUE(ready.Create("lockReady").ok());
    std::string pidFile = env.root() + "/helper.pid";
    ChildProcess holder;
    test::StartPeer(holder, {"hold-lock", "QXMOVIEDISC", "lockReady", pidFile});
    ASSERT_EQ(ready.Wait(5000), NamedEvent::WaitResult::Signalled);
    InstanceLock lock;
    EXPECT_EQ(lock.Acquire("QXMOVIEDISC"), InstanceLock::State::HeldElsewhere);
    kill(holder.pid(), SIGKILL); // a crash: no clean-up runs
    EXPECT_EQ(test::PeerExitCode(holder), -1000 - SIGKILL);
    pid_t helper = 0;
    std::ifstream(pidFile) >> helper;
    ASSERT_GT(helper, 0);
    EXPECT_EQ(kill(helper, 0), 0) << "the holder's helper should still run";
    EXPECT_EQ(lock.Acquire("QXMOVIEDISC"), InstanceLock::State::Acquired);
    kill(helper, SIGKILL);
}

TEST(InstanceLock, RefusesAnUnsafeRuntimeFolder) {
    test::IsolatedEnv env;
    mkdir((env.runtimeBase() + "/qxmoviedisc").c_str(), 0777);
    chmod((env.runtimeBase() + "/qxmoviedisc").c_str(), 0777);
    InstanceLock lock;
    std::string error;
    EXPECT_EQ(lock.Acquire("QXMOVIEDISC", &error), InstanceLock::State::Failed);
    EXPECT_NE(error.find("0777"), std::string::npos) << error;
}

TEST(NamedEvent, AutoResetSemantics) {
    test::IsolatedEnv env;
    EventNames cleanup{{"ev"}};
    NamedEvent e;
    ASSERT_TRUE(e.Create("ev").ok());
    EXPECT_EQ(e.Wait(0), NamedEvent::WaitResult::TimedOut);
    ASSERT_TRUE(e.Set().ok());
    ASSERT_TRUE(e.Set().ok()); // already signalled: no second wake
    EXPECT_EQ(e.Wait(0), NamedEvent::WaitResult::Signalled);
    EXPECT_EQ(e.Wait(0), NamedEvent::WaitResult::TimedOut);
    auto t0 = Clock::now();
    EXPECT_EQ(e.Wait(120), NamedEvent::WaitResult::TimedOut);
    EXPECT_GE(MsSince(t0), 110);
    EXPECT_LT(MsSince(t0), 2000);
    e.Set();
    e.Reset();
    EXPECT_EQ(e.Wait(0), NamedEvent::WaitResult::TimedOut);

    Result<std::string> sem = NamedEvent::SemaphoreName("ev");
    ASSERT_TRUE(sem.ok());
    struct stat st {};
    ASSERT_EQ(stat(("/dev/shm/sem." + sem.value.substr(1)).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(NamedEvent, BadNamesAndMissingEventsFailClearly) {
    test::IsolatedEnv env;
    NamedEvent e;
    EXPECT_EQ(e.Wait(0), NamedEvent::WaitResult::Failed);
    EXPECT_FALSE(e.Set().ok());
    Status s = e.Open("NeverCreated");
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().find("does not exist"), std::string::npos) << s.error();
    EXPECT_FALSE(e.Create("a/b").ok());
    EXPECT_FALSE(e.Create("").ok());
    EXPECT_FALSE(e.Create(std::string(201, 'x')).ok());
    ASSERT_TRUE(e.Create("neg").ok());
    EXPECT_EQ(e.Wait(-1), NamedEvent::WaitResult::Failed);
}

TEST(NamedEvent, SignalsCrossProcessesBothWays) {
    test::IsolatedEnv env;
    EventNames cleanup{{"EncoderProxyConvertComplete"}};
    NamedEvent e;
    ASSERT_TRUE(e.Create("EncoderProxyConvertComplete").ok());
    ChildProcess peer;
    test::StartPeer(peer, {"set-event", "EncoderProxyConvertComplete"});
    EXPECT_EQ(e.Wait(5000), NamedEvent::WaitResult::Signalled);
    EXPECT_EQ(test::PeerExitCode(peer), 0);

    test::StartPeer(peer, {"wait-event", "EncoderProxyConvertComplete", "5000"});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    e.Set();
    EXPECT_EQ(test::PeerExitCode(peer), 0);
}

TEST(NamedEvent, CreatorClearsASignalLeftByAKilledRun) {
    test::IsolatedEnv env;
    EventNames cleanup{{"QXLogAppInitEvent"}};
    ChildProcess peer;
    test::StartPeer(peer, {"set-and-abort", "QXLogAppInitEvent"});
    EXPECT_EQ(test::PeerExitCode(peer), -1000 - SIGABRT);
    NamedEvent opened;
    ASSERT_TRUE(opened.Open("QXLogAppInitEvent").ok()); // the stale signal is still there...
    NamedEvent created;
    ASSERT_TRUE(created.Create("QXLogAppInitEvent").ok()); // ...until the next creator starts
    EXPECT_EQ(created.Wait(0), NamedEvent::WaitResult::TimedOut);
    EXPECT_EQ(opened.Wait(0), NamedEvent::WaitResult::TimedOut);
}

TEST(NamedEvent, SeparateRuntimeFoldersNeverShareAnEvent) {
    test::IsolatedEnv envA;
    EventNames cleanupA{{"shared"}};
    NamedEvent a;
    ASSERT_TRUE(a.Create("shared").ok());
    {
        test::IsolatedEnv envB;
        NamedEvent b;
        EXPECT_FALSE(b.Open("shared").ok());
        ASSERT_TRUE(b.Create("shared").ok());
        b.Set();
    }
    EXPECT_EQ(a.Wait(0), NamedEvent::WaitResult::TimedOut);
    a.Close(); // the creator removes the name
    NamedEvent again;
    EXPECT_FALSE(again.Open("shared").ok());
}

// Another user who plants a semaphore under our event's name and keeps signalling it must not be
// able to fire our event.
TEST(NamedEvent, AnotherUsersPlantedEventIsRefused) {
    if (geteuid() != 0 || std::system("command -v setpriv >/dev/null 2>&1") != 0 ||
        std::system("setpriv --reuid=nobody --regid=nogroup --clear-groups true 2>/dev/null") != 0)
        GTEST_SKIP() << "needs root and setpriv to run a peer as the user nobody";
    test::IsolatedEnv env;
    EventNames cleanup{{"EncoderProxyConvertComplete"}};
    Result<std::string> sem = NamedEvent::SemaphoreName("EncoderProxyConvertComplete");
    ASSERT_TRUE(sem.ok()) << sem.error;
    const std::string file = "/dev/shm/sem." + sem.value.substr(1);
    ChildProcess planter;
    ASSERT_TRUE(
        planter
            .Start("/usr/bin/setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                        ProgramFolder() + "platform_peer", "plant-semaphore", sem.value, "4000"})
            .ok());
    struct stat st {};
    for (int i = 0; i < 250 && stat(file.c_str(), &st) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(stat(file.c_str(), &st), 0) << "the peer did not plant " << file;
    ASSERT_NE(st.st_uid, 0u);

    NamedEvent created;
    const Status s = created.Create("EncoderProxyConvertComplete");
    EXPECT_FALSE(s.ok());
    if (s.ok())
        EXPECT_EQ(created.Wait(300), NamedEvent::WaitResult::TimedOut) << "the planted event fired ours";
    else
        EXPECT_NE(s.error().find("not by this user"), std::string::npos) << s.error();
    NamedEvent opened;
    EXPECT_FALSE(opened.Open("EncoderProxyConvertComplete").ok());
    EXPECT_EQ(test::PeerExitCode(planter, 8000), 0);
    unlink(file.c_str());
}

TEST(NamedEvent, NamesComeFromAPrivateKeyNotFromTheFolderPath) {
    std::string first, second;
    {
        test::IsolatedEnv env;
        Result<std::string> sem = NamedEvent::SemaphoreName("x");
        ASSERT_TRUE(sem.ok()) << sem.error;
        first = sem.value;
        struct stat st {};
        ASSERT_EQ(stat((RuntimeFolder().value + "event-key").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(NamedEvent::SemaphoreName("x").value, first); // stable within one runtime folder
        // A key file planted in its place that is not ours or not a key is refused.
        test::WriteFile(RuntimeFolder().value + "event-key", "guessable");
        EXPECT_FALSE(NamedEvent::SemaphoreName("x").ok());
        unlink((RuntimeFolder().value + "event-key").c_str());
        second = NamedEvent::SemaphoreName("x").value;
    }
    EXPECT_NE(first, second) << "a new key gives new names";
}
