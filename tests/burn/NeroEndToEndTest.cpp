// Whole burns through the "Nero" core and its library (found through the test's own registry file)
// onto the virtual writers of writers.ini: a folder authored by the real engine ends up as an image
// that libdvdread and libudfread accept; erase first, a plain erase, stop during the write, a
// writer that fails, and the library's read-back after the write.
#include "BuildInCore.h"
#include "EndToEndFixture.h"
#include "NeroCore.h"
#include "Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace burntest;

namespace {

class NeroEndToEnd : public EndToEndFixture<CNeroCore> {
protected:
    NeroEndToEnd() : EndToEndFixture("QX NERO", "nero") {}
    void SetUp() override {
        ASSERT_TRUE(qx::RegSetString(kNeroSharedKey, kNeroSharedValue, QX_NERO_LIBRARY_DIR).ok());
        EndToEndFixture::SetUp();
        ASSERT_TRUE(m_core->InitBurnCore()) << m_core->Binding().BindError();
    }
    VirtualWriter Writer(const std::string& media, const std::string& name) {
        VirtualWriter w;
        w.name = "Virtual " + name;
        w.media = media;
        w.image = m_dir + name + ".iso";
        return w;
    }
};

} // namespace

TEST_F(NeroEndToEnd, WritersAreListedDescribedAndBurnedIntoAPlayableImage) {
    const VirtualWriter r = Writer("5", "DVD-R");
    VirtualWriter rom = Writer("4", "DVD-ROM");
    ASSERT_EQ(List({r, rom}), std::vector<std::string>{"D: Virtual DVD-R"}) << Trail();
    EXPECT_TRUE(m_log.Has("Nero Check One dvd device name:Virtual DVD-R added\n"));
    DVDDeviceInfo info;
    ASSERT_EQ(m_core->GetWriterInfo(0, &info), 1);
    EXPECT_EQ(info.typename_, "D: Virtual DVD-R Image");
    EXPECT_EQ(info.WriteSpeed, "16.0x");
    EXPECT_EQ(info.type, "DVD-R");
    EXPECT_TRUE(info.DiscIsInserted && info.CanSupport && info.isEmpty);
    EXPECT_FALSE(info.CanErase);
    EXPECT_EQ(info.totalSpaceMB, 4482);

    ASSERT_EQ(m_core->BurnDVDFolder(nullptr, 0, s_video, "QX NERO"), BurnOutcome::Done) << Trail();
    ExpectPlayableImage(r.image);
    EXPECT_TRUE(m_log.InOrder(
        {"Nero Begin to Real burn process.\n", "Nero try to Erase Disk.\n", "Nero begin to create Filesystem.\n",
         "Nero Get device and begin to write data.\n", "Nero get max write speed is:22160.\n",
         "Nero Get device valid and begin to write data\n", "Nero Compete to write data errcode:0\n"}));
    EXPECT_TRUE(m_prompts.Records().empty());
    DVDDeviceInfo written;
    ASSERT_EQ(m_core->GetWriterInfo(0, &written), 1);
    EXPECT_FALSE(written.isEmpty);
}

TEST_F(NeroEndToEnd, ARewritableDiscHoldingDataIsErasedBeforeTheBurnAndOnRequest) {
    VirtualWriter rw = Writer("8", "DVD-RW");
    rw.state = "written";
    std::ofstream(rw.image, std::ios::binary) << DiscImageBytes(1 << 20, 'o');
    ASSERT_EQ(List({rw}).size(), 1u);
    ASSERT_EQ(m_core->BurnDVDFolder(nullptr, 0, s_video, "QX NERO"), BurnOutcome::Done) << Trail();
    EXPECT_TRUE(m_log.InOrder({"Nero try to Erase Disk.\n", "Nero begin to Erase Disk speedKBs:22160.\n",
                               "Nero Complete to Erase Disk errCode:0\n", "Nero begin to create Filesystem.\n",
                               "Nero Compete to write data errcode:0\n"}))
        << Trail();
    ExpectPlayableImage(rw.image);

    EXPECT_EQ(m_core->EraseDisc(nullptr, 0), BurnOutcome::Done) << Trail();
    DVDDeviceInfo info;
    ASSERT_EQ(m_core->GetWriterInfo(0, &info), 1);
    EXPECT_TRUE(info.isEmpty);
    EXPECT_TRUE(info.CanErase);
    EXPECT_EQ(m_core->EraseDisc(nullptr, 0), BurnOutcome::Refused); // blank now: nothing to erase
}

TEST_F(NeroEndToEnd, StopDuringTheWriteCancelsAndAFailingWriterFails) {
    VirtualWriter slow = Writer("5", "slow");
    slow.speeds = "1385";
    VirtualWriter failing = Writer("5", "failing");
    failing.fail = "write:50";
    ASSERT_EQ(List({slow, failing}).size(), 2u);
    bool asked = false;
    m_core->onProgressLine = [&](const ProgressLine& line) {
        if (!asked && line.percent > 0) {
            asked = true;
            m_prompts.QueueAnswer(qx::PromptAnswer::Yes);
            m_core->RequestStopBurn();
        }
    };
    EXPECT_EQ(m_core->BurnDVDFolder(nullptr, 0, s_video, "QX NERO"), BurnOutcome::Cancelled) << Trail();
    EXPECT_TRUE(asked);
    EXPECT_EQ(m_prompts.CountText("Do you really want to stop burning"), 1u);
    EXPECT_FALSE(burntest::FileExists(slow.image));

    m_core->onProgressLine = nullptr;
    EXPECT_EQ(m_core->BurnDVDFolder(nullptr, 1, s_video, "QX NERO"), BurnOutcome::Failed) << Trail();
    EXPECT_FALSE(burntest::FileExists(failing.image));
    bool logged = false;
    for (const std::string& line : m_log.All()) {
        logged |= line.rfind("Nero display log contents:", 0) == 0 && line.find("write failed") != std::string::npos;
    }
    EXPECT_TRUE(logged) << Trail();
}

// A program told to end cancels without a question; a cancel while nothing runs is forgotten.
TEST_F(NeroEndToEnd, CancelWithoutQuestionEndsTheWriteCancelled) {
    VirtualWriter slow = Writer("5", "slow");
    slow.speeds = "1385";
    ASSERT_EQ(List({slow}).size(), 1u);
    m_core->CancelBurn();
    bool cancelled = false;
    m_core->onProgressLine = [&](const ProgressLine& line) {
        if (!cancelled && line.percent > 0) {
            cancelled = true;
            m_core->CancelBurn();
        }
    };
    EXPECT_EQ(m_core->BurnDVDFolder(nullptr, 0, s_video, "QX NERO"), BurnOutcome::Cancelled) << Trail();
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(m_prompts.Records().empty());
    EXPECT_FALSE(burntest::FileExists(slow.image));
}

// Both engines in one process, each with its own copy of the burning library over the one libburn:
// listing with one drops the other's list, and either burns after the other listed, burned or ended.
TEST_F(NeroEndToEnd, BothEnginesShareTheWritersInOneProcess) {
    CBuildInCore buildIn([this](const std::string& line) { m_log.Add(line); });
    ASSERT_TRUE(buildIn.InitBurnCore());
    CNeroCore* nero = m_core.get();
    buildIn.onListWriters = [nero] { nero->DropDriveList(); };
    nero->onListWriters = [&buildIn] { buildIn.DropDeviceList(); };
    const VirtualWriter first = Writer("5", "first");
    const VirtualWriter second = Writer("5", "second");
    WriteWriters({first, second});
    buildIn.ListWriters(nullptr, [](std::vector<std::string>) {});
    EXPECT_EQ(buildIn.DeviceCount(), 2);
    ASSERT_EQ(List({first, second}).size(), 2u);
    EXPECT_EQ(buildIn.DeviceCount(), 0);
    ASSERT_EQ(nero->BurnDVDFolder(nullptr, 0, s_video, "QX NERO"), BurnOutcome::Done) << Trail();
    buildIn.ListWriters(nullptr, [](std::vector<std::string>) {});
    DVDDeviceInfo info;
    EXPECT_EQ(nero->GetWriterInfo(0, &info), 0); // its list was dropped
    m_core.reset();                              // the second library ends while the built-in engine goes on
    ASSERT_EQ(buildIn.BurnDVDFolder(nullptr, 1, s_video, "QX NERO"), BurnOutcome::Done) << Trail();
    ExpectPlayableImage(first.image);
    ExpectPlayableImage(second.image);
}

// The read-back through the library: its own phase ("Verifying Data; " lines), done for a sound disc,
// failed with the library's reason for a byte the writer changed, and stopped by the stop question.
TEST_F(NeroEndToEnd, TheLibraryReadsTheDiscBackOnRequest) {
    m_core->verifyAfterBurn = true;
    setenv("QX_VERIFY_TEST_PACE_MS", "1000", 1); // 1 s a megabyte
    VirtualWriter sound = Writer("5", "sound");
    VirtualWriter corrupt = Writer("5", "corrupt");
    corrupt.fail = "corrupt:50";
    VirtualWriter stopped = Writer("5", "stopped");
    ASSERT_EQ(List({sound, corrupt, stopped}).size(), 3u);
    std::vector<std::string> lines;
    m_core->onProgressLine = [&](const ProgressLine& line) { lines.push_back(line.text); };
    ASSERT_EQ(m_core->BurnDVDFolder(nullptr, 0, s_video, "QX NERO"), BurnOutcome::Done) << Trail();
    ExpectPlayableImage(sound.image);
    EXPECT_TRUE(m_log.InOrder({"Nero Begin to verify data.\n", "Nero Compete to write data errcode:0\n",
                               "Nero Verify Data OK: every sector reads back as it was written\n"}))
        << Trail();
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.rfind("Verifying Data; Total time:", 0) == 0; }),
              lines.end());

    unsetenv("QX_VERIFY_TEST_PACE_MS");
    ASSERT_EQ(m_core->BurnDVDFolder(nullptr, 1, s_video, "QX NERO"), BurnOutcome::Failed) << Trail();
    const uint64_t sectors = ReadFile(corrupt.image).size() / 2048;
    EXPECT_EQ(m_core->VerifyFailure().rfind(
                  "sector " + std::to_string(sectors / 2) + " does not read back as it was written: byte ", 0),
              0u)
        << m_core->VerifyFailure();
    EXPECT_TRUE(m_log.Has("Nero Verify Error: " + m_core->VerifyFailure() + "\n")) << Trail();

    StopWhenVerifying();
    EXPECT_EQ(m_core->BurnDVDFolder(nullptr, 2, s_video, "QX NERO"), BurnOutcome::Cancelled) << Trail();
    EXPECT_TRUE(m_stopAsked);
    EXPECT_TRUE(m_core->VerifyFailure().empty());
    unsetenv("QX_VERIFY_TEST_PACE_MS");
}
