// The second engine against stand-in libraries: where the registry leads, the version hand-shake,
// missing entry points, and the listing, description, erase, burn and stop sequences.
#include "NeroCore.h"
#include "PlatformTestSupport.h"

#include "Folders.h"
#include "ProfileIni.h"
#include "PromptService.h"
#include "ScriptedPromptService.h"
#include "Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string FakeDir(const std::string& variant) {
    return std::string(QX_FAKE_NERO_DIR) + variant;
}

class NeroCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        qx::test::App();
        qx::SetPrompts(&prompts);
        trace = env.root() + "/trace.txt";
        Set("FAKE_NERO_TRACE", trace);
    }
    void TearDown() override {
        qx::SetPrompts(nullptr);
        for (const std::string& name : setNames) {
            unsetenv(name.c_str());
        }
    }
    void Set(const std::string& name, const std::string& value) {
        setenv(name.c_str(), value.c_str(), 1);
        setNames.push_back(name);
    }
    void Register(const std::string& folder) {
        ASSERT_TRUE(qx::RegSetString(kNeroSharedKey, kNeroSharedValue, folder).ok());
    }
    std::unique_ptr<CNeroCore> Core() {
        return std::make_unique<CNeroCore>([this](const std::string& line) { log += line; });
    }
    // A core bound to the full stand-in with its drive list read.
    std::unique_ptr<CNeroCore> ListedCore(std::vector<std::string>* list = nullptr) {
        Register(FakeDir("full"));
        auto core = Core();
        EXPECT_TRUE(core->InitBurnCore());
        std::vector<std::string> delivered;
        core->ListWriters(nullptr, [&](std::vector<std::string> l) { delivered = std::move(l); });
        if (list) {
            *list = delivered;
        }
        return core;
    }
    std::string Trace() const { return qx::test::ReadFile(trace); }
    std::string MakeDvdFolder(size_t vobBytes) {
        const std::string folder = env.root() + "/DVD/VIDEO_TS/";
        EXPECT_TRUE(qx::MakeFolderPath(folder).ok());
        qx::test::WriteFile(folder + "VIDEO_TS.IFO", std::string(2048, 'i'));
        qx::test::WriteFile(folder + "VTS_01_1.VOB", std::string(vobBytes, 'v'));
        EXPECT_TRUE(qx::MakeFolderPath(folder + "sub").ok()); // sub-folders are not burned
        return folder;
    }

    qx::test::IsolatedEnv env;
    qx::ScriptedPromptService prompts;
    std::string trace, log;
    std::vector<std::string> setNames;
};

TEST_F(NeroCoreTest, RegistryDecidesWhetherTheCoreIsOffered) {
    EXPECT_FALSE(Core()->InitBurnCore()); // no registry at all
    Register(env.root() + "/nowhere");
    EXPECT_FALSE(Core()->InitBurnCore()); // a folder without the library
    Register(std::string(243, 'x'));
    EXPECT_FALSE(Core()->InitBurnCore()); // too long for the library's path: not used

    // A trailing separator is removed and written back.
    Register(FakeDir("full") + "/");
    auto core = Core();
    EXPECT_TRUE(core->InitBurnCore());
    EXPECT_EQ(core->Binding().LibraryPath(), FakeDir("full") + "/libNeroAPI.so");
    std::string value;
    ASSERT_TRUE(qx::RegQueryString(kNeroSharedKey, kNeroSharedValue, &value));
    EXPECT_EQ(value, FakeDir("full"));
    EXPECT_NE(Trace().find("init NeroFiles nero Nero - Burning Rom Nero.txt dialog2=5"), std::string::npos);
}

// Only a library nobody else could have planted is loaded; why another is not stays readable.
TEST_F(NeroCoreTest, ALibraryAnotherUserCouldPlantIsRefusedWithTheReason) {
    auto copyTo = [&](const std::string& folder) {
        EXPECT_TRUE(qx::MakeFolderPath(folder).ok());
        std::filesystem::copy_file(FakeDir("full") + "/libNeroAPI.so", folder + "/libNeroAPI.so",
                                   std::filesystem::copy_options::overwrite_existing);
        return folder;
    };
    auto refusedBecause = [&](const std::string& folder, const std::string& reason) {
        Register(folder);
        auto core = Core();
        EXPECT_FALSE(core->InitBurnCore()) << folder;
        EXPECT_NE(core->LoadError().find(reason), std::string::npos) << core->LoadError();
    };
    // A relative folder is not looked up from the current folder.
    const std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(env.root());
    copyTo(env.root() + "/relsub");
    refusedBecause("relsub", "is not an absolute path");
    std::filesystem::current_path(cwd);

    const std::string open = copyTo(env.root() + "/open");
    chmod(open.c_str(), 0777);
    refusedBecause(open, "open can be written by other users (mode 0777)");
    const std::string writable = copyTo(env.root() + "/writable");
    chmod((writable + "/libNeroAPI.so").c_str(), 0666);
    refusedBecause(writable, "libNeroAPI.so can be written by other users");
    refusedBecause(env.root() + "/missing", "cannot open shared object file");
    if (geteuid() == 0) {
        const std::string theirs = copyTo(env.root() + "/theirs");
        ASSERT_EQ(chown((theirs + "/libNeroAPI.so").c_str(), 65534, 65534), 0);
        refusedBecause(theirs, "belongs to user id 65534");
    }
    Register(copyTo(env.root() + "/mine"));
    auto core = Core();
    EXPECT_TRUE(core->InitBurnCore()) << core->LoadError();
    EXPECT_EQ(core->LoadError(), "");
    Register(FakeDir("old"));
    auto old = Core();
    EXPECT_FALSE(old->InitBurnCore());
    EXPECT_NE(old->LoadError().find("is version 7.1; 7.2 or later is needed"), std::string::npos) << old->LoadError();
}

TEST_F(NeroCoreTest, ProgramPathEntryIsTheFallbackAndIsRemembered) {
    ASSERT_TRUE(qx::RegSetString(kNeroAppPathKey, kNeroAppPathValue, FakeDir("full")).ok());
    EXPECT_TRUE(Core()->InitBurnCore());
    std::string value;
    ASSERT_TRUE(qx::RegQueryString(kNeroSharedKey, kNeroSharedValue, &value));
    EXPECT_EQ(value, FakeDir("full"));
}

TEST_F(NeroCoreTest, VersionCheck) {
    Register(FakeDir("old"));
    auto old = Core();
    EXPECT_FALSE(old->InitBurnCore()); // 7.1: not offered
    EXPECT_FALSE(old->Available());
    Register(FakeDir("legacy"));
    EXPECT_TRUE(Core()->InitBurnCore()); // single-number version 7200 is 7.2
}

TEST_F(NeroCoreTest, MissingEntryPointsGiveTheirDefaults) {
    CNeroBinding unbound;
    EXPECT_EQ(unbound.Init(nullptr), 1);
    EXPECT_EQ(unbound.Done(), 1);
    EXPECT_EQ(unbound.Burn(nullptr, 4, nullptr, 4, 0, nullptr), 1);
    EXPECT_EQ(unbound.GetDiscErasingTime(nullptr, 1, 0), -1);
    EXPECT_EQ(unbound.EraseDisc(nullptr, 1, 1), -1);
    EXPECT_EQ(unbound.OpenDevice(nullptr), nullptr);
    EXPECT_EQ(unbound.GetAvailableDrivesEx(NERO_MEDIA_DVD_ANY), nullptr);
    uint16_t a, b, c, d;
    EXPECT_EQ(unbound.GetAPIVersionEx(&a, &b, &c, &d), 0);

    // Without disc information the writer reports no disc.
    Register(FakeDir("nodisc"));
    auto core = Core();
    ASSERT_TRUE(core->InitBurnCore());
    core->ListWriters(nullptr, [](std::vector<std::string>) {});
    DVDDeviceInfo info;
    EXPECT_EQ(core->GetWriterInfo(0, &info), 1);
    EXPECT_FALSE(info.DiscIsInserted);
    EXPECT_EQ(info.type, "No Media.");

    // Without the burn call the burn fails with the default code.
    Register(FakeDir("noburn"));
    core = Core();
    ASSERT_TRUE(core->InitBurnCore());
    core->ListWriters(nullptr, [](std::vector<std::string>) {});
    Set("FAKE_NERO_TRACKS", "0");
    log.clear();
    EXPECT_EQ(core->BurnDVDFolder(nullptr, 0, MakeDvdFolder(2 << 20), "L"), BurnOutcome::Failed);
    EXPECT_NE(log.find("Nero Compete to write data errcode:1\n"), std::string::npos);
}

TEST_F(NeroCoreTest, ListingOffersUsableDvdWritersOnly) {
    std::vector<std::string> list;
    auto core = ListedCore(&list);
    EXPECT_EQ(list, (std::vector<std::string>{"E: DVD Writer A", "~: DVD Writer B"}));
    EXPECT_NE(log.find("Nero Check One dvd device name:~: Image Recorder Virtual supportMedia:C001C\n"),
              std::string::npos);
    EXPECT_NE(log.find("Nero Check One dvd device name:Image Recorder is not valid.\n"), std::string::npos);
    EXPECT_NE(log.find("Nero Check One dvd device name:CD Writer is not valid.\n"), std::string::npos);
    EXPECT_NE(log.find("Nero Check One dvd device name:DVD Reader is not valid.\n"), std::string::npos);
    EXPECT_NE(log.find("Nero Check One dvd device name:DVD Writer A added\n"), std::string::npos);

    // A library without drives sends nothing: the window keeps its list.
    Set("FAKE_NERO_NO_DRIVES", "1");
    bool delivered = false;
    log.clear();
    core->ListWriters(nullptr, [&](std::vector<std::string>) { delivered = true; });
    EXPECT_FALSE(delivered);
    EXPECT_EQ(log, "Nero Check No DVD Writer\n");
    DVDDeviceInfo info;
    EXPECT_EQ(core->GetWriterInfo(0, &info), 0);
}

TEST_F(NeroCoreTest, DescriptionOfWriterAndDisc) {
    auto core = ListedCore();
    log.clear();
    DVDDeviceInfo a;
    ASSERT_EQ(core->GetWriterInfo(0, &a), 1);
    EXPECT_EQ(a.typename_, "E: DVD Writer A ide");
    EXPECT_EQ(a.ReadSpeed, "16x");
    EXPECT_EQ(a.WriteSpeed, "8.0x");
    for (bool flag : a.support) {
        EXPECT_TRUE(flag);
    }
    EXPECT_EQ(a.type, "DVD-RW");
    EXPECT_TRUE(a.DiscIsInserted && a.CanSupport && a.CanErase);
    EXPECT_FALSE(a.m_bD9 || a.isEmpty);
    EXPECT_EQ(a.totalSpaceMB, 4482);
    EXPECT_EQ(a.totleSpace, "4482.0 M");
    EXPECT_EQ(a.usedSpace, "2.0 M");
    EXPECT_NE(log.find("Nero Check One dvd device name:E is valid, and it's the user selected\n"), std::string::npos);
    EXPECT_NE(log.find("Nero Check One dvd device name:DVD Writer B is valid, but it's not the user selected\n"),
              std::string::npos);
    EXPECT_NE(log.find("Nero get write speedKBs:11080.\n"), std::string::npos);

    DVDDeviceInfo b; // no speeds, DVD+ only: cannot write the DVD-RW inserted
    ASSERT_EQ(core->GetWriterInfo(1, &b), 1);
    EXPECT_EQ(b.typename_, "~: DVD Writer B usb");
    EXPECT_EQ(b.ReadSpeed, "N/A");
    EXPECT_EQ(b.WriteSpeed, "N/A");
    EXPECT_TRUE(b.support[3] && b.support[4]);
    EXPECT_FALSE(b.support[0] || b.support[5] || b.CanSupport || b.CanErase);
    EXPECT_EQ(core->GetWriterInfo(2, &b), 0);

    struct Row {
        const char* media;
        const char* type;
        bool inserted, d9, canErase;
    };
    for (const Row& row :
         {Row{"0x40000", "DVD+RDL", true, true, false}, Row{"0x80000", "DVD-RDL", true, true, false},
          Row{"0x2008", "DVD+R", true, false, false}, Row{"0x4008", "DVD+RW", true, false, true},
          Row{"0", "No Media", false, false, false}, Row{"0x99", "Unsupport Disk.", true, false, false}}) {
        Set("FAKE_NERO_MEDIA", row.media);
        DVDDeviceInfo info;
        ASSERT_EQ(core->GetWriterInfo(0, &info), 1);
        EXPECT_EQ(info.type, row.type);
        EXPECT_EQ(info.DiscIsInserted, row.inserted) << row.type;
        EXPECT_EQ(info.m_bD9, row.d9) << row.type;
        EXPECT_EQ(info.CanErase, row.canErase) << row.type;
    }
    // The library says the disc cannot be erased.
    Set("FAKE_NERO_MEDIA", "0x1004");
    Set("FAKE_NERO_ERASE_TIME", "-3");
    log.clear();
    DVDDeviceInfo rw;
    ASSERT_EQ(core->GetWriterInfo(0, &rw), 1);
    EXPECT_FALSE(rw.CanErase);
    EXPECT_NE(log.find("Nero check disk is rewriable: inserted media is not rewritable media.\n"), std::string::npos);
}

TEST_F(NeroCoreTest, EraseOutcomes) {
    auto core = ListedCore();
    EXPECT_EQ(core->EraseDisc(nullptr, 0), BurnOutcome::Done);
    EXPECT_NE(Trace().find("erasetime 1 11080\nerase 1 1\n"), std::string::npos);
    EXPECT_NE(log.find("Nero begin to Erase Disk speedKBs:11080.\nNero Complete to Erase Disk errCode:0\n"),
              std::string::npos);

    Set("FAKE_NERO_ERASE_RESULT", "5");
    EXPECT_EQ(core->EraseDisc(nullptr, 0), BurnOutcome::Failed);
    Set("FAKE_NERO_TRACKS", "0"); // blank: nothing to erase
    std::remove(trace.c_str());
    EXPECT_EQ(core->EraseDisc(nullptr, 0), BurnOutcome::Refused);
    EXPECT_EQ(Trace().find("erase "), std::string::npos);
    EXPECT_EQ(core->EraseDisc(nullptr, 7), BurnOutcome::Refused);
    EXPECT_EQ(prompts.BoxTexts(), std::vector<std::string>{"No DVD Writer detected! Cannot burn DVD Disk!"});
}

TEST_F(NeroCoreTest, BurnBuildsTheFilesAndErasesWrittenDiscsFirst) {
    auto core = ListedCore();
    const std::string folder = MakeDvdFolder(2 << 20);
    Set("FAKE_NERO_MEDIA", "0x4008");
    Set("FAKE_NERO_TRACKS", "0"); // a blank DVD+RW: no erase
    EXPECT_EQ(core->BurnDVDFolder(nullptr, 0, folder, "MYDISC"), BurnOutcome::Done);
    const std::string t = Trace();
    EXPECT_EQ(t.find("erase "), std::string::npos);
    EXPECT_NE(t.find("burn 4 flags=4 speed=11080 media=16392 record=16384 label=MYDISC dirs=AUDIO_TS,VIDEO_TS "
                     "files=VIDEO_TS/VIDEO_TS.IFO,VIDEO_TS/VTS_01_1.VOB\nclose\nrelease\n"),
              std::string::npos);
    EXPECT_NE(log.find("Nero get max write speed is:11080.\nNero Get device valid and begin to write data\n"
                       "Nero Compete to write data errcode:0\nNero display log contents:fake log\n"),
              std::string::npos);

    Set("FAKE_NERO_MEDIA", "0x1004"); // a written DVD-RW: erased, then written
    Set("FAKE_NERO_TRACKS", "2");
    std::remove(trace.c_str());
    EXPECT_EQ(core->BurnDVDFolder(nullptr, 0, folder, "MYDISC"), BurnOutcome::Done);
    EXPECT_LT(Trace().find("erase 1 1"), Trace().find("burn 4"));

    Set("FAKE_NERO_ERASE_RESULT", "5"); // the old data stays: nothing is written over it
    std::remove(trace.c_str());
    EXPECT_EQ(core->BurnDVDFolder(nullptr, 0, folder, "MYDISC"), BurnOutcome::Failed);
    EXPECT_EQ(Trace().find("burn 4"), std::string::npos);

    Set("FAKE_NERO_ERASE_RESULT", "0");
    Set("FAKE_NERO_BURN_RESULT", "3");
    EXPECT_EQ(core->BurnDVDFolder(nullptr, 0, folder, "MYDISC"), BurnOutcome::Failed);
}

TEST_F(NeroCoreTest, BurnRefusesFoldersThatDoNotFit) {
    auto core = ListedCore();
    Set("FAKE_NERO_TRACKS", "0");
    Set("FAKE_NERO_FREE", "100");
    EXPECT_EQ(core->BurnDVDFolder(nullptr, 0, MakeDvdFolder(3 << 20), "L"), BurnOutcome::Refused);
    EXPECT_NE(log.find("Inserted dvd disk volume:0M is lower then video dvd file volume:3M. Quit burn\n"),
              std::string::npos);
    const std::string empty = env.root() + "/Empty/";
    ASSERT_TRUE(qx::MakeFolderPath(empty).ok());
    EXPECT_EQ(core->BurnDVDFolder(nullptr, 0, empty, "L"), BurnOutcome::Refused);
    EXPECT_EQ(prompts.BoxTexts(),
              (std::vector<std::string>{"Inserted dvd disk volume:0M is lower then video dvd file volume:3M.\n So "
                                        "cannot burn. Please remove some file in dvd.",
                                        "Selected DVD File System is too small! Please check it and try again."}));
    EXPECT_EQ(Trace().find("burn 4"), std::string::npos);
}

TEST_F(NeroCoreTest, StopDuringWritingAsksOnceAndCancels) {
    auto core = ListedCore();
    Set("FAKE_NERO_TRACKS", "0");
    Set("FAKE_NERO_STEP_MS", "150");
    prompts.QueueAnswer(qx::PromptAnswer::Yes);
    std::vector<std::string> lines;
    core->onProgressLine = [&](const ProgressLine& line) {
        lines.push_back(line.text);
        core->RequestStopBurn();
        core->RequestStopBurn(); // already stopping: not asked again
    };
    EXPECT_EQ(core->BurnDVDFolder(nullptr, 0, MakeDvdFolder(2 << 20), "L"), BurnOutcome::Cancelled);
    EXPECT_TRUE(core->AbortRequested());
    EXPECT_EQ(prompts.BoxTexts(), std::vector<std::string>{"Do you really want to stop burning"});
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().rfind("Writing Data; Total time:", 0), 0u) << lines.front();
    EXPECT_NE(Trace().find("aborted at"), std::string::npos);
    EXPECT_NE(log.find("Nero Compete to write data errcode:2\n"), std::string::npos);
}

} // namespace
