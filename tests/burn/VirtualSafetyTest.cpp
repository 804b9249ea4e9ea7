// Virtual writers touch only their own image: user files, links, FIFOs and devices are refused with
// the reason, folders other users can write too; one burn or erase per image at a time; a written
// write-once disc stays written; erase and write put a new file in place (keeping permissions and
// other names of the old one); duplicate sections and stale temporaries; injected corruption.
#include "LibraryFixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utime.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

using namespace burntest;

namespace {

bool IsRoot() {
    return geteuid() == 0;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

std::string Problems() {
    std::string all;
    for (const std::string& line : StarBurn_VirtualWriterProblems()) {
        all += line + "\n";
    }
    return all;
}

} // namespace

TEST_F(StarBurnLibrary, AWriterTouchesOnlyItsOwnImage) {
    const std::string dir = FreshFolder("own"), shared = FreshFolder("shared"), sticky = FreshFolder("sticky");
    ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
    ASSERT_EQ(chmod(sticky.c_str(), 01777), 0);
    const std::string notes = dir + "notes.txt", disc = dir + "disc.iso", link = dir + "link.iso",
                      fifo = dir + "fifo.iso", device = dir + "null.iso", theirs = sticky + "theirs.iso";
    qxtest::WriteFile(notes, "my notes\n");
    qxtest::WriteFile(disc, DiscImageBytes(0));
    ASSERT_EQ(symlink(disc.c_str(), link.c_str()), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::pair<std::string, std::string>> cases = {{notes, "holds no disc image"},
                                                              {link, "is a symbolic link"},
                                                              {fifo, "is a FIFO"},
                                                              {shared + "disc.iso", "can be written by other users"}};
    if (IsRoot() && mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
        qxtest::WriteFile(theirs, DiscImageBytes(0));
        ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
        cases.push_back({device, "is a device"});
        cases.push_back({theirs, "belongs to user id 65534"});
    }
    VirtualWriter blankR; // a blank DVD-R whose image names the user's file
    blankR.image = notes;
    VirtualWriter inSticky = blankR; // a new image of ours in a sticky folder is fine
    inSticky.image = sticky + "disc.iso";
    std::vector<VirtualWriter> writers = {blankR, inSticky};
    for (const auto& c : cases) {
        VirtualWriter rw;
        rw.media = "8";
        rw.state = "written";
        rw.image = c.first;
        writers.push_back(rw);
    }
    WriteWriters(writers);

    PatternTree tree(100);
    ASSERT_TRUE(Open(1));
    EXPECT_EQ(Write(&tree), EN_NOT_READY);
    EXPECT_NE(std::string(m_text).find("holds no disc image"), std::string::npos) << m_text;
    ASSERT_TRUE(Open(2));
    EXPECT_EQ(Write(&tree), EN_SUCCESS) << m_text;
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].first);
        ASSERT_TRUE(Open(static_cast<int>(i) + 3));
        EXPECT_EQ(StarBurn_CdvdBurnerGrabber_TestUnitReady(m_handle, m_text, sizeof m_text, &m_status), EN_NOT_READY);
        EXPECT_NE(std::string(m_text).find(cases[i].second), std::string::npos) << m_text;
        char vendor[1024], product[1024], revision[1024];
        unsigned long cache = 0;
        StarBurn_CdvdBurnerGrabber_GetDeviceInformation(m_handle, vendor, product, revision, &cache);
        EXPECT_NE(std::string(product).find("(not ready: "), std::string::npos) << product;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(StarBurn_CdvdBurnerGrabber_Blank(m_handle, m_text, sizeof m_text, &m_status, true), EN_NOT_READY);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)); // a FIFO never blocks it
        EXPECT_NE(Problems().find("(V" + std::to_string(i + 3) + ") is not ready: "), std::string::npos) << Problems();
    }
    EXPECT_EQ(ReadFile(notes), "my notes\n");
    EXPECT_EQ(ReadFile(disc), DiscImageBytes(0)) << "the link's target was touched";
    EXPECT_TRUE(S_ISLNK(ModeOf(link)));
    EXPECT_TRUE(S_ISFIFO(ModeOf(fifo)));
    EXPECT_FALSE(FileExists(shared + "disc.iso"));
    if (cases.size() == 6) {
        EXPECT_TRUE(S_ISCHR(ModeOf(device)));
        EXPECT_EQ(ReadFile(theirs), DiscImageBytes(0));
    }
}

// An erase and a write put a new file in place: another name of the old file keeps its data, and
// the image keeps its permissions.
TEST_F(StarBurnLibrary, EraseAndWriteReplaceTheImageWithANewFileOfTheSamePermissions) {
    const std::string dir = FreshFolder("replace");
    VirtualWriter rw;
    rw.media = "8";
    rw.state = "written";
    rw.image = dir + "rw.iso";
    VirtualWriter plusRw = rw;
    plusRw.media = "9";
    plusRw.image = dir + "plus.iso";
    const std::string old = DiscImageBytes(0, 'r');
    for (const std::string& image : {rw.image, plusRw.image}) {
        qxtest::WriteFile(image, old);
        ASSERT_EQ(chmod(image.c_str(), 0640), 0);
        ASSERT_EQ(link(image.c_str(), (image + ".copy").c_str()), 0);
    }
    WriteWriters({rw, plusRw});
    ASSERT_TRUE(Open(1));
    ASSERT_EQ(StarBurn_CdvdBurnerGrabber_Blank(m_handle, m_text, sizeof m_text, &m_status, true), EN_SUCCESS) << m_text;
    EXPECT_EQ(ReadFile(rw.image), "");
    ASSERT_TRUE(Open(2));
    PatternTree tree(200);
    ASSERT_EQ(Write(&tree), EN_SUCCESS) << m_text;
    EXPECT_EQ(qxtest::FileSize(plusRw.image), 200 * 2048);
    for (const std::string& image : {rw.image, plusRw.image}) {
        EXPECT_EQ(ReadFile(image + ".copy"), old) << image;
        EXPECT_EQ(ModeOf(image) & 07777, 0640u) << image;
    }
}

TEST_F(StarBurnLibrary, OneBurnOrEraseAtATimePerImage) {
    const std::string dir = FreshFolder("busy");
    VirtualWriter w;
    w.media = "8"; // rewritable: it may be erased too
    w.image = dir + "disc.iso";
    w.speeds = "1385"; // several seconds for 8 MB
    WriteWriters({w});
    Events events;
    ASSERT_TRUE(Open(1, Events::Callback, &events));
    PatternTree tree(4096);
    long first = -1;
    std::thread writer([&] { first = Write(&tree); });
    for (int i = 0; i < 250 && events.done <= 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // A second handle, as another program would have, finds the writer busy, also one with a runtime
    // folder of its own.
    const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
    setenv("XDG_RUNTIME_DIR", FreshFolder("other-runtime").c_str(), 1);
    CDVD_BURNER_GRABBER second = nullptr;
    char text[1024] = {};
    unsigned long status = 0;
    ASSERT_EQ(StarBurn_CdvdBurnerGrabber_Create(&second, text, sizeof text, &status, nullptr, nullptr,
                                                kStarBurnVirtualPort, 0, 1, 0, 1),
              EN_SUCCESS);
    PatternTree other(10);
    EXPECT_EQ(StarBurn_CdvdBurnerGrabber_TrackAtOnceFromTree(second, text, sizeof text, &status, &other, true, false,
                                                             false, true, 5),
              EN_BUSY);
    EXPECT_NE(std::string(text).find("the writer is busy"), std::string::npos) << text;
    EXPECT_EQ(StarBurn_CdvdBurnerGrabber_Blank(second, text, sizeof text, &status, true), EN_BUSY);
    StarBurn_Destroy(&second);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    StarBurn_CdvdBurnerGrabber_Cancel(m_handle);
    writer.join();
    EXPECT_EQ(first, EN_CANCELLED);
    EXPECT_FALSE(FileExists(w.image));
    EXPECT_TRUE(FilesStartingWith(dir, ".disc.iso.lock").empty()) << "the lock outlived the burn";
}

// What the image holds decides: a DVD-R image holding a burned disc is not blank, whatever
// writers.ini's state says, and takes no second burn.
TEST_F(StarBurnLibrary, AWrittenWriteOnceDiscStaysWritten) {
    const std::string dir = FreshFolder("once");
    VirtualWriter r;
    r.image = dir + "disc.iso";
    r.state = "blank";
    const std::string burned = DiscImageBytes(100 * 2048, 'b');
    qxtest::WriteFile(r.image, burned);
    WriteWriters({r});
    ASSERT_TRUE(Open(1));
    STARBURN_DISC_INFORMATION disc;
    ASSERT_EQ(StarBurn_CdvdBurnerGrabber_GetDiscInformation(m_handle, m_text, sizeof m_text, &m_status, &disc),
              EN_SUCCESS);
    EXPECT_EQ(disc.discStatus, 2);
    PatternTree tree(50);
    EXPECT_EQ(Write(&tree), EN_NOT_SUPPORTED);
    EXPECT_EQ(ReadFile(r.image), burned);
}

TEST_F(StarBurnLibrary, ASecondSectionOfOneNameIsReportedAndLeftOut) {
    const std::string dir = FreshFolder("duplicate");
    WriteWriters({});
    std::ofstream(WritersFile()) << "[Writer 1]\nname=First\nimage=" << dir << "a.iso\n\n"
                                 << "[Writer 2]\nname=Second\nimage=" << dir << "b.iso\n\n"
                                 << "[writer 1]\nname=Again\nimage=" << dir << "c.iso\n";
    Found found;
    ASSERT_EQ(StarBurn_FindDevice(5, 0, Found::Callback, &found), EN_SUCCESS);
    std::vector<int> targets;
    for (const auto& a : found.addresses) {
        if (a.port == kStarBurnVirtualPort) {
            targets.push_back(a.target);
        }
    }
    EXPECT_EQ(targets, (std::vector<int>{1, 2}));
    EXPECT_NE(Problems().find("[writer 1] is not a writer: a second section of this name"), std::string::npos)
        << Problems();
}

// A killed write leaves nothing: the data goes to an anonymous file while it is written, and files
// of the temporary naming that a killed run left are removed (ours, old enough) at the next write.
TEST_F(StarBurnLibrary, NoNamedTemporaryWhileWritingAndStaleOnesAreRemoved) {
    const std::string dir = FreshFolder("stale");
    VirtualWriter w;
    w.image = dir + "disc.iso";
    w.speeds = "1385";
    WriteWriters({w});
    auto plant = [&](const std::string& name, bool old) {
        qxtest::WriteFile(dir + name, "x");
        if (old) {
            const time_t hourAgo = time(nullptr) - 3600;
            utimbuf times{hourAgo, hourAgo};
            utime((dir + name).c_str(), &times);
        }
    };
    plant("disc.iso.part-Old123", true);
    plant("disc.iso.part-New123", false);
    plant("disc.iso.part-TooLong1", true);
    plant("notes.iso.part-Old123", true);
    Events events;
    ASSERT_TRUE(Open(1, Events::Callback, &events));
    PatternTree tree(1500);
    long result = -1;
    std::thread writer([&] { result = Write(&tree); });
    for (int i = 0; i < 250 && events.done <= 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::vector<std::string> expected = {"disc.iso.part-New123", "disc.iso.part-TooLong1"};
    auto parts = FilesStartingWith(dir, "disc.iso.part-");
    std::sort(parts.begin(), parts.end());
    EXPECT_EQ(parts, expected) << "while writing";
    EXPECT_FALSE(FileExists(w.image));
    writer.join();
    ASSERT_EQ(result, EN_SUCCESS) << m_text;
    parts = FilesStartingWith(dir, "disc.iso.part-");
    std::sort(parts.begin(), parts.end());
    EXPECT_EQ(parts, expected) << "after the write";
    EXPECT_TRUE(FileExists(dir + "notes.iso.part-Old123"));
}

// fail=corrupt:N: the write reports success, but one byte of N % of the sectors differs.
TEST_F(StarBurnLibrary, InjectedCorruptionChangesOneByteInTheGivenShareOfSectors) {
    const std::string dir = FreshFolder("corrupt");
    VirtualWriter w;
    w.image = dir + "disc.iso";
    w.fail = "corrupt:10";
    VirtualWriter bad = w;
    bad.fail = "corrupt:101";
    WriteWriters({w, bad});
    EXPECT_NE(Problems().find("[Writer 2] is not a writer: fail must be none, notready, blank, write:N or corrupt:N"),
              std::string::npos)
        << Problems();
    ASSERT_TRUE(Open(1));
    PatternTree tree(1000);
    ASSERT_EQ(Write(&tree), EN_SUCCESS) << m_text;
    const std::string image = ReadFile(w.image);
    ASSERT_EQ(image.size(), 1000u * 2048);
    std::vector<uint8_t> expected(2048);
    int changedSectors = 0;
    for (uint64_t n = 0; n < 1000; ++n) {
        std::string error;
        ASSERT_TRUE(tree.ReadSectors(n, 1, expected.data(), &error));
        int changedBytes = 0;
        for (size_t i = 0; i < 2048; ++i) {
            changedBytes += static_cast<uint8_t>(image[n * 2048 + i]) != expected[i];
        }
        EXPECT_LE(changedBytes, 1) << n;
        changedSectors += changedBytes;
    }
    EXPECT_EQ(changedSectors, 100);
}
