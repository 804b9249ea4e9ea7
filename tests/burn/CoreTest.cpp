// The built-in core over virtual writers: the writer list and its filter, the description, erase,
// the burn thread's checks and failures, and the stop request.
#include "BuildInCore.h"
#include "BurnSupport.h"
#include "PromptService.h"
#include "ScriptedPromptService.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace burntest;

namespace {

class BuildInCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApp();
        qx::SetPrompts(&m_prompts);
        m_core = std::make_unique<CBuildInCore>([this](const std::string& line) { m_log.Add(line); });
        ASSERT_TRUE(m_core->InitBurnCore());
    }
    void TearDown() override {
        m_core.reset();
        qx::SetPrompts(nullptr);
    }
    std::vector<std::string> List() {
        std::vector<std::string> list{"not delivered"};
        m_core->ListWriters(nullptr, [&](std::vector<std::string> l) { list = std::move(l); });
        return list;
    }
    // A VIDEO_TS folder with files of the given sizes in bytes.
    static std::string Folder(const std::vector<size_t>& sizes) {
        const std::string dir = FreshFolder("VIDEO_TS");
        int n = 0;
        for (size_t size : sizes) {
            std::ofstream(dir + "VTS_01_" + std::to_string(++n) + ".VOB", std::ios::binary) << std::string(size, '\0');
        }
        return dir;
    }
    qx::ScriptedPromptService m_prompts;
    Lines m_log;
    std::unique_ptr<CBuildInCore> m_core;
};

VirtualWriter Writer(const std::string& name, const std::string& media, const std::string& image) {
    VirtualWriter w;
    w.name = name;
    w.media = media;
    w.image = image;
    w.speeds = "1385,2770,5540";
    return w;
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

} // namespace

TEST(EraseEstimate, UsesTheUsedSizePlus700MBAndNeverDividesByZero) {
    EXPECT_EQ(EraseEstimateSeconds(0, 1385), 716800 / 1385);
    EXPECT_EQ(EraseEstimateSeconds(1024.0 * 1385 * 10, 1385), 716800 / 1385 + 10);
    EXPECT_EQ(EraseEstimateSeconds(0, 0), 716800 / 1385);
}

TEST_F(BuildInCoreTest, NoWriterGivesAnEmptyList) {
    WriteWriters({});
    EXPECT_TRUE(List().empty());
    EXPECT_TRUE(m_log.Has("Starburn No DVD Device finded\n"));
    DVDDeviceInfo info;
    EXPECT_EQ(m_core->GetWriterInfo(0, &info), 0);
}

TEST_F(BuildInCoreTest, ListingAndDescriptionShareOneFilter) {
    const std::string dir = FreshFolder("list");
    WriteWriters({Writer("Virtual DVD-R", "5", dir + "a.iso"), Writer("Reader", "4", dir + "b.iso"),
                  Writer("Empty drive", "14", dir + "c.iso")});
    EXPECT_EQ(List(), (std::vector<std::string>{"V1 Virtual DVD-R", "V3 Empty drive"}));
    EXPECT_TRUE(m_log.InOrder({"Starburn Find DVD Device name:V1 Virtual DVD-R Virtual 1.0 ability:111111\n",
                               "Starburn The DVD Device V1, added\n",
                               "Starburn Find DVD Device name:V2 Reader Virtual 1.0 ability:000000\n",
                               "Starburn The DVD Device V2, removed\n", "Starburn The DVD Device V3, added\n"}));

    // Index 1 names the same drive in the description as in the list.
    DVDDeviceInfo empty;
    ASSERT_EQ(m_core->GetWriterInfo(1, &empty), 1);
    EXPECT_EQ(empty.typename_, "V3 Empty drive Virtual 1.0");
    EXPECT_EQ(empty.type, "No Media");
    EXPECT_FALSE(empty.DiscIsInserted);
    EXPECT_FALSE(empty.CanSupport);
    // No disc: the CD entries up to the drive's maximum (5540) without probing.
    EXPECT_EQ(empty.WriteSpeed, "24.0x");
    EXPECT_EQ(empty.ReadSpeed, "24.0x");

    DVDDeviceInfo blank;
    ASSERT_EQ(m_core->GetWriterInfo(0, &blank), 1);
    EXPECT_EQ(blank.type, "DVD-R");
    EXPECT_EQ(blank.usedSpace, "0.0 M");
    EXPECT_EQ(blank.totleSpace, "4482.6 M");
    EXPECT_EQ(blank.totalSpaceMB, 4482);
    EXPECT_TRUE(blank.isEmpty && blank.CanSupport && blank.DiscIsInserted);
    EXPECT_FALSE(blank.CanErase || blank.m_bD9);
    EXPECT_EQ(blank.WriteSpeed, "4.0x");
    for (bool s : blank.support) {
        EXPECT_TRUE(s);
    }
    ASSERT_NE(m_core->Device(0), nullptr);
    const auto& speeds = m_core->Device(0)->WriteSpeeds();
    ASSERT_EQ(speeds.size(), 3u);
    EXPECT_EQ(speeds[0].name, "1.0x");
    EXPECT_EQ(speeds[1].name, "2.0x");
    DVDDeviceInfo none;
    EXPECT_EQ(m_core->GetWriterInfo(2, &none), 0);
}

TEST_F(BuildInCoreTest, ADvdRomDiscHasNoWriteSpeedsAndAWrittenDiscItsUsedSize) {
    const std::string dir = FreshFolder("rom");
    VirtualWriter rw = Writer("Virtual DVD-RW", "8", dir + "rw.iso");
    rw.state = "written";
    WriteFile(rw.image, DiscImageBytes(3 * 1048576));
    WriteWriters({Writer("Reader", "4", dir + "rom.iso"), rw});
    ASSERT_EQ(List().size(), 1u);
    DVDDeviceInfo info;
    ASSERT_EQ(m_core->GetWriterInfo(0, &info), 1);
    EXPECT_EQ(info.type, "DVD-RW");
    EXPECT_EQ(info.usedSpace, "3.0 M");
    EXPECT_FALSE(info.isEmpty);
    EXPECT_TRUE(info.CanErase);

    // The reader is filtered out of the list; as a device it has no write speeds.
    CDevice reader(SCSI_DEVICE_ADDRESS{sizeof(SCSI_DEVICE_ADDRESS), kStarBurnVirtualPort, 0, 1, 0}, nullptr);
    ASSERT_TRUE(reader.RefreshDeviceInfo());
    reader.RefreshMediaSize();
    reader.RefreshFreeSize();
    DVDDeviceInfo rom;
    reader.Describe(&rom);
    EXPECT_EQ(rom.type, "DVD-ROM");
    EXPECT_EQ(rom.WriteSpeed, "");
    EXPECT_EQ(rom.ReadSpeed, "4.0x");
    EXPECT_FALSE(rom.CanSupport);
}

TEST_F(BuildInCoreTest, EraseBlanksAWrittenRewritableDiscAndLeavesOthersAlone) {
    const std::string dir = FreshFolder("erase");
    VirtualWriter rw = Writer("Virtual DVD-RW", "8", dir + "rw.iso");
    rw.state = "written";
    VirtualWriter failing = rw;
    failing.image = dir + "failing.iso";
    failing.fail = "blank";
    WriteFile(rw.image, DiscImageBytes(0));
    WriteFile(failing.image, DiscImageBytes(0));
    WriteWriters({rw, failing, Writer("Blank DVD-R", "5", dir + "r.iso")});
    ASSERT_EQ(List().size(), 3u);
    EngineMessages messages;
    EXPECT_EQ(m_core->EraseDisc(nullptr, 0), BurnOutcome::Done);
    EXPECT_EQ(ReadFile(rw.image), "");
    EXPECT_TRUE(messages.status.InOrder(
        {"Srarted.", "Testing unit ready...", "Unit ready.", "Erasing...", "Erasing Complete"}));
    EXPECT_EQ(m_core->Device(0)->EraseSeconds(), static_cast<int>((34 + 716800) / 5540));
    EXPECT_EQ(m_core->BurnPhase(), 0);
    // Now blank: a second erase leaves it alone.
    ASSERT_EQ(List().size(), 3u);
    EXPECT_EQ(m_core->EraseDisc(nullptr, 0), BurnOutcome::Refused);

    EXPECT_EQ(m_core->EraseDisc(nullptr, 1), BurnOutcome::Failed);
    EXPECT_TRUE(ReadFile(failing.image) == DiscImageBytes(0));
    EXPECT_TRUE(messages.trace.Has("\nCDevice::Erase(): StarBurn_CdvdBurnerGrabber_Blank() failed, exception 10, "
                                   "status 5, text 'the blank failed (injected blank failure)'\n"));
    EXPECT_EQ(m_core->EraseDisc(nullptr, 2), BurnOutcome::Refused); // write-once
    EXPECT_EQ(m_core->EraseDisc(nullptr, 7), BurnOutcome::Refused); // no such writer
    EXPECT_TRUE(m_prompts.BoxTexts().empty());
}

TEST_F(BuildInCoreTest, BurnThreadRefusesTooSmallAndTooLargeFolders) {
    const std::string dir = FreshFolder("checks");
    VirtualWriter tiny = Writer("Tiny", "5", dir + "tiny.iso");
    tiny.capacity = "500"; // under 1 MB
    WriteWriters({tiny});
    ASSERT_EQ(List().size(), 1u);
    EXPECT_EQ(m_core->BurnDVDFolder(nullptr, 0, Folder({1000}), "LABEL"), BurnOutcome::Refused);
    EXPECT_EQ(m_prompts.BoxTexts(),
              (std::vector<std::string>{"Selected DVD File System is too small! Please check it and try again."}));
    EXPECT_TRUE(m_log.Has("Selected DVD File System is too small!\n"));
    m_prompts.Clear();
    EXPECT_EQ(m_core->BurnDVDFolder(nullptr, 0, Folder({1048576, 1048576}), "LABEL"), BurnOutcome::Refused);
    EXPECT_EQ(m_prompts.BoxTexts(), (std::vector<std::string>{"Inserted dvd disk volume:0M is lower then video dvd "
                                                              "file volume:2M.\n So cannot burn. Please remove some "
                                                              "file in dvd."}));
    EXPECT_TRUE(m_log.Has("Starburn Inserted dvd disk volume:0M is lower then video dvd file volume:2M. Quit burn\n"));
    EXPECT_FALSE(FileExists(tiny.image));
}

TEST_F(BuildInCoreTest, AFolderWithoutDvdVideoFailsAtTheFileSystemAndWritesNothing) {
    const std::string dir = FreshFolder("nofs");
    WriteWriters({Writer("Virtual DVD-R", "5", dir + "disc.iso")});
    ASSERT_EQ(List().size(), 1u);
    EngineMessages messages;
    EXPECT_EQ(m_core->BurnDVDFolder(nullptr, 0, Folder({1048576}), "LABEL"), BurnOutcome::Failed);
    EXPECT_TRUE(m_log.InOrder(
        {"StarBurn check dvd disk volume and dvd file volume ok!\n", "StarBurn Begin Write Data Progress!\n",
         "Started\n", "Creating DVD-Video file system failed!\n", "StarBurn Complete Write Data Progress:0!\n"}));
    EXPECT_TRUE(messages.errorStatus.Has("Creating DVD-Video file system failed!"));
    EXPECT_FALSE(FileExists(dir + "disc.iso"));
    EXPECT_TRUE(FilesStartingWith(dir, "disc.iso").empty());
}

TEST_F(BuildInCoreTest, StopRequestAsksOnlyWhileWriting) {
    WriteWriters({Writer("Virtual DVD-R", "5", FreshFolder("stop") + "disc.iso")});
    ASSERT_EQ(List().size(), 1u);
    m_core->RequestStopBurn();
    EXPECT_TRUE(m_prompts.Records().empty());
    EXPECT_FALSE(m_core->StopRequested());
}
