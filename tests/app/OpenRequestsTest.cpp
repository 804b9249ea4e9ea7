// Movies handed from a later start of the program to the open window through the runtime folder.
#include "OpenRequests.h"
#include "AppTestSupport.h"
#include "Folders.h"
#include "InstanceLock.h"
#include "QuilvoVidrevoApp.h"

#include <QDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

std::string Runtime() {
    return qx::RuntimeFolder().value;
}

// Request files (whole or partial) still lying in the runtime folder.
std::vector<std::string> LeftRequests() {
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(Runtime())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("open-", 0) == 0) {
            left.push_back(name);
        }
    }
    return left;
}

struct Collector {
    bool busy = false;
    std::vector<std::vector<std::string>> received;
    OpenRequestWatcher::AddFiles Add() {
        return [this](const std::vector<std::string>& files) {
            if (busy) {
                return false;
            }
            received.push_back(files);
            return true;
        };
    }
};

} // namespace

TEST(OpenRequests, AHandedOverRequestArrivesWholeAndInOrder) {
    EnsureTestApp();
    Collector window;
    OpenRequestWatcher watcher(window.Add());
    ASSERT_TRUE(watcher.Start().ok());
    const std::vector<std::string> files = {"/m/a.rm", "/m/line\nbreak.rmvb", "/m/\xC3\xA9t\xC3\xA9 b.rm"};
    const qx::Status handed = HandOverOpenRequest(files, 5000);
    ASSERT_TRUE(handed.ok()) << handed.error();
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_EQ(window.received[0], files);
    EXPECT_TRUE(LeftRequests().empty());
}

TEST(OpenRequests, ABusyWindowGetsTheMoviesWhenFreeAndOnlyOnce) {
    EnsureTestApp();
    Collector window;
    window.busy = true;
    OpenRequestWatcher watcher(window.Add());
    ASSERT_TRUE(watcher.Start().ok());
    ASSERT_TRUE(HandOverOpenRequest({"/m/first.rm"}, 5000).ok()); // taken, though not yet added
    watcher.Offer({"/m/second.rm"});
    QTest::qWait(400);
    EXPECT_TRUE(window.received.empty());
    window.busy = false;
    QTest::qWait(1000);
    EXPECT_EQ(window.received, (std::vector<std::vector<std::string>>{{"/m/first.rm"}, {"/m/second.rm"}}));
}

TEST(OpenRequests, WithNobodyWatchingTheRequestIsWithdrawn) {
    EnsureTestApp();
    const qx::Status handed = HandOverOpenRequest({"/m/a.rm"}, 300);
    EXPECT_FALSE(handed.ok());
    EXPECT_NE(handed.error().find("did not take"), std::string::npos) << handed.error();
    EXPECT_TRUE(LeftRequests().empty());
}

TEST(OpenRequests, StrangeFilesUnderTheRequestNameAddNothingAndTheirTargetsSurvive) {
    EnsureTestApp();
    const std::string folder = FreshFolder("requests-outside");
    WriteFile(folder + "precious.rm", 100);
    WriteFile(Runtime() + "open-1.request", 50); // no request header
    std::ofstream(Runtime() + "open-2.request") << "qxmoviedisc open request 1\n/m/unterminated.rm";
    fs::create_symlink(folder + "precious.rm", Runtime() + "open-3.request"); // planted link
    Collector window;
    OpenRequestWatcher watcher(window.Add());
    ASSERT_TRUE(watcher.Start().ok());
    EXPECT_TRUE(window.received.empty());
    EXPECT_TRUE(LeftRequests().empty());
    EXPECT_EQ(ReadFile(folder + "precious.rm").size(), 100u);
}

TEST(Application, ASecondStartHandsItsMoviesToTheOpenWindow) {
    EnsureTestApp();
    qx::InstanceLock first;
    ASSERT_EQ(first.Acquire("QXMOVIEDISC"), qx::InstanceLock::State::Acquired);
    Collector window;
    OpenRequestWatcher watcher(window.Add());
    ASSERT_TRUE(watcher.Start().ok());
    TestPrompts prompts;
    qx::SetPrompts(&prompts);
    FakeParts fake = MakeFakeParts(FreshFolder("second-companion"));
    std::atomic<int> starts{0};
    fake.encoder->startsOut = &starts;
    EXPECT_EQ(CQuilvoVidrevoApp().InitInstance(std::move(fake.parts), {"/m/later.rm"}), 0);
    EXPECT_EQ(starts, 0); // no second window
    EXPECT_TRUE(prompts.Records().empty());
    EXPECT_EQ(window.received, (std::vector<std::vector<std::string>>{{"/m/later.rm"}}));
    qx::SetPrompts(nullptr);
}
