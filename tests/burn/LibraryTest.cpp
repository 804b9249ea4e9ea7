// The burning library with virtual writers: discovery, what a virtual disc reports, the real
// libburn write path through the stdio pseudo-drive (content, injected failures, cancel, no half
// image), blank, and no signal handlers of the library's own.
#include "LibraryFixture.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace burntest;

TEST(StarBurnStart, InstallsNoSignalHandlersAndScansNoRealWriterPromptly) {
    struct sigaction before[3], after[3];
    const int signals[] = {SIGINT, SIGTERM, SIGSEGV};
    for (int i = 0; i < 3; ++i) {
        sigaction(signals[i], nullptr, &before[i]);
    }
    ASSERT_EQ(StarBurn_UpStartEx(nullptr, 0), EN_SUCCESS);
    for (int i = 0; i < 3; ++i) {
        sigaction(signals[i], nullptr, &after[i]);
        EXPECT_EQ(before[i].sa_handler, after[i].sa_handler) << signals[i];
    }
    WriteWriters({});
    Found found;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(StarBurn_FindDevice(5, 0, Found::Callback, &found), EN_SUCCESS);
    // This machine has no optical writer; the scan must still come back (the bound is 15 s).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    for (const SCSI_DEVICE_ADDRESS& a : found.addresses) {
        EXPECT_NE(a.port, kStarBurnVirtualPort);
    }
    StarBurn_DownShut();
}

TEST_F(StarBurnLibrary, VirtualWritersAreFoundInFileOrderAndUnusableSectionsLeftOut) {
    const std::string dir = FreshFolder("found");
    VirtualWriter good;
    good.image = dir + "a.iso";
    VirtualWriter bad = good;
    bad.fail = "sometimes";
    VirtualWriter relative = good;
    relative.image = "disc.iso";
    VirtualWriter third = good;
    third.name = "Third";
    WriteWriters({good, bad, relative, third});
    Found found;
    ASSERT_EQ(StarBurn_FindDevice(5, 0, Found::Callback, &found), EN_SUCCESS);
    std::vector<int> targets;
    for (const auto& a : found.addresses) {
        if (a.port == kStarBurnVirtualPort) {
            targets.push_back(a.target);
        }
    }
    EXPECT_EQ(targets, (std::vector<int>{1, 4}));
    char name[1024];
    ASSERT_EQ(StarBurn_GetDeviceNameByDeviceAddress(kStarBurnVirtualPort, 0, 4, 0, name), EN_SUCCESS);
    EXPECT_STREQ(name, "V4");
    EXPECT_EQ(StarBurn_GetDeviceNameByDeviceAddress(kStarBurnVirtualPort, 0, 2, 0, name), EN_NO_DEVICE);
}

TEST_F(StarBurnLibrary, VirtualDiscsReportKindStateSizesAndSpeeds) {
    const std::string dir = FreshFolder("report");
    VirtualWriter blank;
    blank.image = dir + "blank.iso";
    blank.capacity = "1000";
    blank.speeds = "5540,1385 ,2770"; // any order, blanks allowed
    VirtualWriter written;
    written.media = "9";
    written.state = "written";
    written.image = dir + "written.iso";
    written.capacity = "1000";
    qxtest::WriteFile(written.image, DiscImageBytes(300 * 2048, 'x'));
    VirtualWriter empty = blank;
    empty.media = "14";
    VirtualWriter notReady = blank;
    notReady.fail = "notready";
    WriteWriters({blank, written, empty, notReady});

    ASSERT_TRUE(Open(1));
    EXPECT_EQ(StarBurn_CdvdBurnerGrabber_TestUnitReady(m_handle, m_text, sizeof m_text, &m_status), EN_SUCCESS);
    EXPECT_EQ(StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(m_handle), 5);
    STARBURN_DISC_INFORMATION disc;
    ASSERT_EQ(StarBurn_CdvdBurnerGrabber_GetDiscInformation(m_handle, m_text, sizeof m_text, &m_status, &disc),
              EN_SUCCESS);
    EXPECT_EQ(disc.discStatus, 0);
    STARBURN_TRACK_INFORMATION track;
    ASSERT_EQ(StarBurn_CdvdBurnerGrabber_GetTrackInformation(m_handle, m_text, sizeof m_text, &m_status, 255, &track),
              EN_SUCCESS);
    EXPECT_TRUE(track.nwaValid);
    EXPECT_EQ(track.nwa, 0u);
    EXPECT_EQ(track.freeLBs, 1000u);
    unsigned long cr, mr, cw, mw;
    ASSERT_EQ(StarBurn_CdvdBurnerGrabber_SetSpeeds(m_handle, m_text, sizeof m_text, &m_status, 65535, 4155),
              EN_SUCCESS);
    ASSERT_EQ(StarBurn_CdvdBurnerGrabber_GetSpeeds(m_handle, m_text, sizeof m_text, &m_status, &cr, &mr, &cw, &mw),
              EN_SUCCESS);
    EXPECT_EQ(mw, 5540u);
    EXPECT_EQ(cw, 2770u); // the highest listed speed not above the request

    ASSERT_TRUE(Open(2));
    EXPECT_EQ(StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(m_handle), 9);
    ASSERT_EQ(StarBurn_CdvdBurnerGrabber_GetDiscInformation(m_handle, m_text, sizeof m_text, &m_status, &disc),
              EN_SUCCESS);
    EXPECT_EQ(disc.discStatus, 2);
    STARBURN_TOC_INFORMATION toc;
    ASSERT_EQ(StarBurn_CdvdBurnerGrabber_GetTOCInformation(m_handle, m_text, sizeof m_text, &m_status, &toc),
              EN_SUCCESS);
    ASSERT_EQ(toc.tracks, 2);
    EXPECT_EQ(toc.startLBA[1], 300u); // the lead-out ends the recorded area
    ASSERT_EQ(StarBurn_CdvdBurnerGrabber_GetTrackInformation(m_handle, m_text, sizeof m_text, &m_status, 255, &track),
              EN_SUCCESS);
    EXPECT_FALSE(track.nwaValid);
    EXPECT_EQ(track.freeLBs, 700u); // overwritable: the rest of the disc

    ASSERT_TRUE(Open(3));
    EXPECT_EQ(StarBurn_CdvdBurnerGrabber_TestUnitReady(m_handle, m_text, sizeof m_text, &m_status), EN_NOT_READY);
    EXPECT_EQ(StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(m_handle), 14);
    ASSERT_TRUE(Open(4));
    EXPECT_EQ(StarBurn_CdvdBurnerGrabber_TestUnitReady(m_handle, m_text, sizeof m_text, &m_status), EN_NOT_READY);
    EXPECT_EQ(Write(nullptr), EN_INVALID_PARAMETER);
    PatternTree tree(10);
    EXPECT_EQ(Write(&tree), EN_NOT_READY);
}

TEST_F(StarBurnLibrary, AWriteGoesThroughLibburnAndReplacesTheImageOnlyWhenDone) {
    const std::string dir = FreshFolder("write");
    VirtualWriter w;
    w.image = dir + "disc.iso";
    w.capacity = "4000";
    WriteWriters({w});
    Events events;
    ASSERT_TRUE(Open(1, Events::Callback, &events));
    PatternTree tree(3000);
    ASSERT_EQ(Write(&tree), EN_SUCCESS) << m_text;
    const std::string image = ReadFile(w.image);
    ASSERT_EQ(image.size(), 3000u * 2048);
    for (uint64_t n = 0; n < 3000; n += 997) {
        EXPECT_TRUE(PatternTree::SectorMatches(reinterpret_cast<const uint8_t*>(image.data()) + n * 2048, n)) << n;
    }
    EXPECT_TRUE(PatternTree::SectorMatches(reinterpret_cast<const uint8_t*>(image.data()) + 2999 * 2048, 2999));
    EXPECT_TRUE(FilesStartingWith(dir, "disc.iso.part-").empty());
    struct stat st;
    ASSERT_EQ(stat(w.image.c_str(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask); // an ordinary file, not a private temporary one
    EXPECT_EQ(events.order.front(), CN_TARGET_FILE_ANALYZE_BEGIN);
    EXPECT_NE(std::find(events.order.begin(), events.order.end(), CN_WAIT_CACHE_FULL_END), events.order.end());
    EXPECT_EQ(events.total, 3000 * 2048);
    EXPECT_LT(events.done, events.total); // the last step is the close
    // The disc is written now: a write-once disc takes no second track.
    ASSERT_TRUE(Open(1));
    STARBURN_DISC_INFORMATION disc;
    ASSERT_EQ(StarBurn_CdvdBurnerGrabber_GetDiscInformation(m_handle, m_text, sizeof m_text, &m_status, &disc),
              EN_SUCCESS);
    EXPECT_EQ(disc.discStatus, 2);
    EXPECT_EQ(Write(&tree), EN_NOT_SUPPORTED);
}

TEST_F(StarBurnLibrary, FailedWritesLeaveNoHalfImageAndKeepTheOldOne) {
    const std::string dir = FreshFolder("fail");
    VirtualWriter injected;
    injected.image = dir + "injected.iso";
    injected.fail = "write:40";
    VirtualWriter plain;
    plain.media = "9"; // overwritable: holds an old image that must survive a failed write
    plain.state = "written";
    plain.image = dir + "plain.iso";
    VirtualWriter small;
    small.image = dir + "small.iso";
    small.capacity = "100";
    const std::string oldImage = DiscImageBytes(40 * 2048, 'o');
    qxtest::WriteFile(plain.image, oldImage);
    WriteWriters({injected, plain, small});

    ASSERT_TRUE(Open(1));
    PatternTree tree(2000);
    EXPECT_EQ(Write(&tree), EN_WRITE_FAILURE);
    EXPECT_NE(std::string(m_text).find("injected write failure"), std::string::npos) << m_text;
    EXPECT_FALSE(FileExists(injected.image));

    ASSERT_TRUE(Open(2));
    PatternTree unreadable(2000, 500);
    EXPECT_EQ(Write(&unreadable), EN_WRITE_FAILURE);
    EXPECT_STREQ(m_text, "VTS_01_1.VOB changed size");
    EXPECT_EQ(ReadFile(plain.image), oldImage);

    ASSERT_TRUE(Open(3));
    EXPECT_EQ(Write(&tree), EN_NO_SPACE);
    EXPECT_FALSE(FileExists(small.image));
    EXPECT_TRUE(FilesStartingWith(dir, "injected.iso.part-").empty());
    EXPECT_TRUE(FilesStartingWith(dir, "plain.iso.part-").empty());
}

TEST_F(StarBurnLibrary, CancelStopsTheWriteMidwayAndLeavesNoImage) {
    const std::string dir = FreshFolder("cancel");
    VirtualWriter w;
    w.image = dir + "disc.iso";
    w.speeds = "1385"; // about 1.4 MB/s: 8 MB take several seconds
    WriteWriters({w});
    Events events;
    ASSERT_TRUE(Open(1, Events::Callback, &events));
    PatternTree tree(4096);
    std::thread canceller([&] {
        for (int i = 0; i < 200 && events.done <= 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        StarBurn_CdvdBurnerGrabber_Cancel(m_handle);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Write(&tree), EN_CANCELLED);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_GT(events.done, 0);
    EXPECT_FALSE(FileExists(w.image));
    EXPECT_TRUE(FilesStartingWith(dir, "disc.iso.part-").empty());
}

TEST_F(StarBurnLibrary, BlankEmptiesARewritableImageAndInjectedFailuresKeepIt) {
    const std::string dir = FreshFolder("blank");
    VirtualWriter rw;
    rw.media = "8";
    rw.state = "written";
    rw.image = dir + "rw.iso";
    VirtualWriter failing = rw;
    failing.image = dir + "failing.iso";
    failing.fail = "blank";
    VirtualWriter once = rw;
    once.media = "5";
    once.image = dir + "once.iso";
    const std::string data = DiscImageBytes(0);
    for (const std::string& path : {rw.image, failing.image, once.image}) {
        qxtest::WriteFile(path, data);
    }
    WriteWriters({rw, failing, once});
    ASSERT_TRUE(Open(1));
    ASSERT_EQ(StarBurn_CdvdBurnerGrabber_Blank(m_handle, m_text, sizeof m_text, &m_status, true), EN_SUCCESS) << m_text;
    EXPECT_TRUE(FileExists(rw.image));
    EXPECT_EQ(ReadFile(rw.image), "");
    ASSERT_TRUE(Open(1)); // the state went to writers.ini: a new look sees a blank disc
    STARBURN_DISC_INFORMATION disc;
    ASSERT_EQ(StarBurn_CdvdBurnerGrabber_GetDiscInformation(m_handle, m_text, sizeof m_text, &m_status, &disc),
              EN_SUCCESS);
    EXPECT_EQ(disc.discStatus, 0);

    ASSERT_TRUE(Open(2));
    EXPECT_EQ(StarBurn_CdvdBurnerGrabber_Blank(m_handle, m_text, sizeof m_text, &m_status, true), EN_BLANK_FAILURE);
    EXPECT_EQ(ReadFile(failing.image), data);
    ASSERT_TRUE(Open(3));
    EXPECT_EQ(StarBurn_CdvdBurnerGrabber_Blank(m_handle, m_text, sizeof m_text, &m_status, true), EN_NOT_SUPPORTED);
    EXPECT_EQ(ReadFile(once.image), data);
}
