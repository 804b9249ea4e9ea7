#include "Folders.h"
#include "InstanceLock.h"
#include "NamedEvent.h"
#include "PlatformTestSupport.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
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

    Result<std::string> path = NamedEvent::EventPath("ev");
    ASSERT_TRUE(path.ok());
    struct stat st {};
    ASSERT_EQ(stat(path.value.c_str(), &st), 0);
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

bool RunAsNobody(ChildProcess& peer, const std::vector<std::string>& args) {
    if (geteuid() != 0 || std::system("command -v setpriv >/dev/null 2>&1") != 0 ||
        std::system("setpriv --reuid=nobody --regid=nogroup --clear-groups true 2>/dev/null") != 0)
        return false;
    std::vector<std::string> all = {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                    ProgramFolder() + "platform_peer"};
    all.insert(all.end(), args.begin(), args.end());
    return peer.Start("/usr/bin/setpriv", all).ok();
}

std::set<std::string> SharedMemoryNames() {
    std::set<std::string> names;
    if (DIR* d = opendir("/dev/shm")) {
        while (dirent* e = readdir(d))
            names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

// Something under an event's name that this user did not make (only root can put it into the
// private folder) is refused by Open; Create removes it, makes a fresh event and says so, and the
// planted object can never fire the event.
TEST(NamedEvent, AnotherUsersPlantedEventIsRefused) {
    test::IsolatedEnv env;
    EventNames cleanup{{"EncoderProxyConvertComplete", "LinkedEvent"}};
    Result<std::string> path = NamedEvent::EventPath("LinkedEvent");
    ASSERT_TRUE(path.ok()) << path.error;
    const std::string target = env.root() + "/elsewhere";
    test::WriteFile(target, std::string(64, '\1'));
    ASSERT_EQ(symlink(target.c_str(), path.value.c_str()), 0);
    NamedEvent linked;
    Status s = linked.Open("LinkedEvent");
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().find("symbolic link"), std::string::npos) << s.error();
    ASSERT_TRUE(linked.Create("LinkedEvent").ok());
    EXPECT_NE(linked.Notice().find("symbolic link"), std::string::npos) << linked.Notice();
    EXPECT_EQ(test::ReadFile(target), std::string(64, '\1')) << "the link's target was written";
    EXPECT_EQ(linked.Wait(0), NamedEvent::WaitResult::TimedOut);

    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file to another user";
    path = NamedEvent::EventPath("EncoderProxyConvertComplete");
    test::WriteFile(path.value, std::string(64, '\1'));
    ASSERT_EQ(chown(path.value.c_str(), 65534, 65534), 0);
    NamedEvent opened;
    s = opened.Open("EncoderProxyConvertComplete");
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().find("made by user id 65534"), std::string::npos) << s.error();
    NamedEvent created;
    ASSERT_TRUE(created.Create("EncoderProxyConvertComplete").ok());
    EXPECT_NE(created.Notice().find("user id 65534"), std::string::npos) << created.Notice();
    EXPECT_EQ(created.Wait(100), NamedEvent::WaitResult::TimedOut) << "the planted file fired ours";
    struct stat st {};
    ASSERT_EQ(stat(path.value.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, geteuid());
    ASSERT_TRUE(opened.Open("EncoderProxyConvertComplete").ok());
}

// An event is visible only inside the private runtime folder: nothing appears in /dev/shm, and
// another user can neither read, make nor list it, during the job or after it, so later jobs
// cannot be blocked.
TEST(NamedEvent, AnotherUserCanNeitherSeeNorBlockEvents) {
    test::IsolatedEnv env;
    EventNames cleanup{{"QXEventStarBurning"}};
    const std::set<std::string> before = SharedMemoryNames();
    NamedEvent e;
    ASSERT_TRUE(e.Create("QXEventStarBurning").ok());
    std::vector<std::string> added;
    for (const std::string& name : SharedMemoryNames())
        if (!before.count(name))
            added.push_back(name);
    EXPECT_TRUE(added.empty()) << "visible to every user: /dev/shm/" << added.front();
    Result<std::string> path = NamedEvent::EventPath("QXEventStarBurning");
    ASSERT_TRUE(path.ok());
    EXPECT_EQ(path.value, RuntimeFolder().value + "event.QXEventStarBurning");
    // A runtime folder that is not private is refused, and with it every event.
    chmod((env.runtimeBase() + "/qxmoviedisc").c_str(), 0755);
    NamedEvent refused;
    EXPECT_FALSE(refused.Create("Other").ok());
    chmod((env.runtimeBase() + "/qxmoviedisc").c_str(), 0700);

    ChildProcess attacker;
    if (!RunAsNobody(attacker, {"attack-event", path.value}))
        GTEST_SKIP() << "needs root and setpriv to run a peer as the user nobody";
    EXPECT_EQ(test::PeerExitCode(attacker), 0) << "another user reached the event";
    e.Close();
    ASSERT_TRUE(RunAsNobody(attacker, {"attack-event", path.value}));
    EXPECT_EQ(test::PeerExitCode(attacker), 0) << "another user planted the event after the job";
    NamedEvent next; // the next job
    ASSERT_TRUE(next.Create("QXEventStarBurning").ok());
    EXPECT_TRUE(next.Notice().empty()) << next.Notice();
}

// The name goes with the program that made it on every way out: exit(), a SIGINT after the job
// (DefaultTermination), the forced end of a signalled program (std::_Exit in the handler of
// CallOnTermination); after a SIGKILL the next Create removes it.
TEST(NamedEvent, NamesAreRemovedOnEveryExitPath) {
    test::IsolatedEnv env;
    EventNames cleanup{{"ByExit", "BySigint", "ByForcedExit", "ByKill", "Next"}};
    const std::pair<const char*, int> ways[] = {
        {"exit", 0}, {"sigint", -1000 - SIGINT}, {"forced", 3}, {"kill", -1000 - SIGKILL}};
    const char* names[] = {"ByExit", "BySigint", "ByForcedExit", "ByKill"};
    for (int i = 0; i < 4; ++i) {
        ChildProcess peer;
        test::StartPeer(peer, {"create-and-end", ways[i].first, names[i]});
        EXPECT_EQ(test::PeerExitCode(peer), ways[i].second) << ways[i].first;
        NamedEvent left;
        EXPECT_EQ(left.Open(names[i]).ok(), i == 3) << ways[i].first;
    }
    NamedEvent next;
    ASSERT_TRUE(next.Create("Next").ok());
    NamedEvent killed;
    EXPECT_FALSE(killed.Open("ByKill").ok()) << "the event of a killed program outlived the next Create";
}
