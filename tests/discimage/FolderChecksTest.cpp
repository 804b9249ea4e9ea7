// What Create refuses before anything is written, what it leaves off with a warning, and what a read
// reports when a planned file changes underneath the image.
#include "DiscImageSupport.h"
#include "FixtureSupport.h"
#include "VideoTsFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace qx::discimage;

namespace {

// One way of spoiling a folder and the words its refusal must hold.
struct Case {
    const char* what;
    std::function<void()> change;
    std::string expected;
};

class FolderChecks : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_temp = std::make_unique<TempFolder>();
        s_authored = AuthorFolder(s_temp->path() + "/authored", {2}, 3, 50);
    }
    static void TearDownTestSuite() { s_temp.reset(); }

    void SetUp() override {
        m_video = m_temp.path() + "/VIDEO_TS";
        CopyFolder(s_authored, m_video);
    }
    std::string file(const std::string& name) const { return m_video + "/" + name; }

    // Create's error for the folder as it is now (empty when it is accepted).
    std::string refusal(std::vector<std::string>* warnings = nullptr) {
        std::string error;
        auto image = DvdVideoImage::Create(m_video, TestDescriptor(), &error, warnings);
        return image ? std::string() : error;
    }

    // Each case on a fresh copy of `saved`.
    void expectRefusals(const std::string& saved, const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            fs::remove_all(m_video);
            CopyFolder(saved, m_video);
            c.change();
            EXPECT_NE(refusal().find(c.expected), std::string::npos) << c.what << ": " << refusal();
        }
    }

    void patchBe32(const std::string& name, size_t at, uint32_t value) {
        std::fstream f(file(name), std::ios::in | std::ios::out | std::ios::binary);
        char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
        f.seekp(static_cast<std::streamoff>(at));
        f.write(bytes, 4);
    }

    static std::unique_ptr<TempFolder> s_temp;
    static std::string s_authored;
    TempFolder m_temp;
    std::string m_video;
};
std::unique_ptr<TempFolder> FolderChecks::s_temp;
std::string FolderChecks::s_authored;

TEST_F(FolderChecks, TheAuthoredFolderIsAcceptedAndOtherFilesAreLeftOffWithAWarning) {
    ASSERT_TRUE(fs::exists(file("VTS_01_2.VOB"))) << "the title should span several VOBs";
    std::ofstream(file("Thumbs.db")) << "x";
    std::ofstream(file("notes.txt")) << "x";
    fs::create_directory(file("extra"));
    fs::create_directory(file("VTS_01_9.VOB"));
    std::vector<std::string> warnings;
    EXPECT_EQ(refusal(&warnings), "");
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            "Left off the disc: Thumbs.db (not a DVD-Video file)",
                            "Left off the disc: VTS_01_9.VOB (not a regular file)",
                            "Left off the disc: extra (not a DVD-Video file)",
                            "Left off the disc: notes.txt (not a DVD-Video file)",
                        }));
}

TEST_F(FolderChecks, NamesInAnyCaseAreFoundAndPutOnTheDiscInUpperCase) {
    for (const auto& entry : fs::directory_iterator(m_video)) {
        std::string lower = entry.path().filename().string();
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        fs::rename(entry.path(), file(lower));
    }
    std::string error;
    auto image = DvdVideoImage::Create(m_video, TestDescriptor(), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->Files().front().name, "VIDEO_TS.IFO");
    EXPECT_EQ(image->Files().front().path, file("video_ts.ifo"));

    std::ofstream(file("VIDEO_TS.IFO")) << "x";
    EXPECT_NE(refusal().find("different letter case"), std::string::npos) << refusal();
}

TEST_F(FolderChecks, MissingUnreadableOversizedOrPartialFilesAreRefusedByName) {
    const std::string saved = m_temp.path() + "/saved";
    CopyFolder(m_video, saved);
    std::vector<Case> cases = {
        {"no manager", [&] { fs::remove(file("VIDEO_TS.IFO")); }, "VIDEO_TS.IFO is missing from"},
        {"no backup", [&] { fs::remove(file("VTS_01_0.BUP")); }, "VTS_01_0.BUP is missing"},
        {"gap", [&] { fs::rename(file("VTS_01_1.VOB"), file("VTS_01_3.VOB")); }, "VTS_01_1.VOB is missing"},
        {"unreadable",
         [&] {
             fs::remove(file("VTS_01_1.VOB"));
             fs::create_symlink(m_temp.path() + "/nowhere", file("VTS_01_1.VOB"));
         },
         "Cannot read " + file("VTS_01_1.VOB")},
        {"over 1 GiB", [&] { fs::resize_file(file("VTS_01_2.VOB"), (1ull << 30) + 2048); },
         file("VTS_01_2.VOB") + " is larger than 1 GiB"},
        {"partial sector", [&] { fs::resize_file(file("VTS_01_1.VOB"), fs::file_size(file("VTS_01_1.VOB")) - 100); },
         "VTS_01_1.VOB is not a whole number of 2048-byte sectors"},
        {"not a folder", [&] { fs::remove_all(m_video); }, "Cannot open the folder " + m_video},
    };
    expectRefusals(saved, cases);
}

TEST_F(FolderChecks, FilesThatDoNotMatchTheirInformationFilesAreRefused) {
    const std::string saved = m_temp.path() + "/saved";
    CopyFolder(m_video, saved);
    std::vector<Case> cases = {
        {"title set start", [&] { patchBe32("VIDEO_TS.IFO", 2048 + 8 + 8, 99); }, "VIDEO_TS.IFO places title 1"},
        {"end of the set", [&] { patchBe32("VTS_01_0.IFO", 0x0C, 5000); }, "VTS_01_0.IFO says its set ends"},
        {"title VOB start", [&] { patchBe32("VTS_01_0.IFO", 0xC4, 7); }, "VTS_01_0.IFO places its title VOBs"},
        {"information file size", [&] { patchBe32("VTS_01_0.IFO", 0x1C, 1); }, "VTS_01_0.IFO says it is 2 sectors"},
        {"a VOB too many",
         [&] {
             int last = 1;
             while (fs::exists(file("VTS_01_" + std::to_string(last + 1) + ".VOB")))
                 ++last;
             fs::copy_file(file("VTS_01_1.VOB"), file("VTS_01_" + std::to_string(last + 1) + ".VOB"));
         },
         "VTS_01_0.IFO says its set ends"},
        {"a title set too many",
         [&] {
             for (const char* name : {"VTS_01_0.IFO", "VTS_01_1.VOB", "VTS_01_0.BUP"})
                 fs::copy_file(file(name), file(std::string("VTS_02") + (name + 6)));
         },
         "VIDEO_TS.IFO lists 1 title sets, but the folder holds 2"},
        {"backup of another size", [&] { fs::resize_file(file("VIDEO_TS.BUP"), 2048); },
         "VIDEO_TS.BUP is not the same size as VIDEO_TS.IFO"},
        {"not an information file", [&] { patchBe32("VTS_01_0.IFO", 0, 0); }, "VTS_01_0.IFO does not start with"},
        {"title table outside the file", [&] { patchBe32("VIDEO_TS.IFO", 0xC4, 4000); },
         "VIDEO_TS.IFO has no table of titles inside the file"},
        {"no titles", [&] { patchBe32("VIDEO_TS.IFO", 2048, 0); }, "VIDEO_TS.IFO lists no titles"},
        {"backup with other bytes of the same size", [&] { patchBe32("VTS_01_0.BUP", 1000, 0xDEADBEEF); },
         "VTS_01_0.BUP differs from VTS_01_0.IFO from byte 1000 on"},
    };
    expectRefusals(saved, cases);
}

TEST_F(FolderChecks, UnderRootRulesALinkLeadsOnlyToAFileOfTheFolder) {
    fs::rename(file("VTS_01_1.VOB"), m_temp.path() + "/outside.vob");
    fs::create_symlink(m_temp.path() + "/outside.vob", file("VTS_01_1.VOB"));
    std::vector<ImageFile> files;
    std::string error;
    EXPECT_TRUE(ListVideoTsFolder(m_video, &files, nullptr, &error, false)) << error;
    EXPECT_FALSE(ListVideoTsFolder(m_video, &files, nullptr, &error, true));
    EXPECT_EQ(error, file("VTS_01_1.VOB") + " is a symbolic link that leads out of " + m_video +
                         "; a run as root does not follow it");
    // Inside the folder, under another name: read under that name.
    fs::remove(file("VTS_01_1.VOB"));
    fs::rename(m_temp.path() + "/outside.vob", file("title.data"));
    fs::create_symlink("title.data", file("VTS_01_1.VOB"));
    ASSERT_TRUE(ListVideoTsFolder(m_video, &files, nullptr, &error, true)) << error;
    EXPECT_TRUE(std::any_of(files.begin(), files.end(), [&](const ImageFile& f) {
        return f.name == "VTS_01_1.VOB" && f.path == file("title.data");
    }));
}

TEST_F(FolderChecks, AFileThatChangesVanishesOrIsReplacedWhileStreamedIsAnErrorNeverPadding) {
    std::vector<Case> cases = {
        {"grew", [&] { std::ofstream(file("VTS_01_1.VOB"), std::ios::app) << std::string(2048, 'x'); }, "changed size"},
        {"shrank", [&] { fs::resize_file(file("VTS_01_1.VOB"), 2048); }, "changed size"},
        {"vanished", [&] { fs::remove(file("VTS_01_1.VOB")); }, "vanished"},
        {"replaced",
         [&] {
             fs::copy_file(file("VTS_01_1.VOB"), file("copy"));
             fs::rename(file("copy"), file("VTS_01_1.VOB"));
         },
         "was replaced"},
    };
    const std::string saved = m_temp.path() + "/saved";
    CopyFolder(m_video, saved);
    for (const Case& c : cases) {
        fs::remove_all(m_video);
        CopyFolder(saved, m_video);
        std::string error;
        auto image = DvdVideoImage::Create(m_video, TestDescriptor(), &error);
        ASSERT_TRUE(image) << error;
        c.change();
        std::vector<uint8_t> buffer(64 * kSectorSize);
        bool ok = true;
        for (uint64_t s = 0; ok && s < image->SizeInSectors(); s += 64)
            ok = image->ReadSectors(s, static_cast<uint32_t>(std::min<uint64_t>(64, image->SizeInSectors() - s)),
                                    buffer.data(), &error);
        EXPECT_FALSE(ok) << c.what;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.what << ": " << error;
        EXPECT_NE(error.find("VTS_01_1.VOB"), std::string::npos) << c.what << ": " << error;
    }
}

TEST_F(FolderChecks, AFileThatShrinksOrGrowsWhileItIsBeingReadIsAnError) {
    for (bool shrink : {true, false}) {
        std::string error;
        auto image = DvdVideoImage::Create(m_video, TestDescriptor(), &error);
        ASSERT_TRUE(image) << error;
        size_t vob = 0;
        while (image->Files()[vob].name != "VTS_01_1.VOB")
            ++vob;
        const uint64_t start = image->FileSector(vob);
        std::vector<uint8_t> buffer((start + 1) * kSectorSize);
        ASSERT_TRUE(image->ReadSectors(0, static_cast<uint32_t>(start + 1), buffer.data(), &error)) << error;
        const uint64_t size = image->Files()[vob].size;
        fs::resize_file(file("VTS_01_1.VOB"), shrink ? size / 2 : size + 4096);
        const uint32_t rest = static_cast<uint32_t>(size / kSectorSize - 1);
        buffer.resize(std::size_t(rest) * kSectorSize);
        EXPECT_FALSE(image->ReadSectors(start + 1, rest, buffer.data(), &error));
        EXPECT_NE(error.find(shrink ? "VTS_01_1.VOB became shorter" : "VTS_01_1.VOB changed size"), std::string::npos)
            << error;
        fs::resize_file(file("VTS_01_1.VOB"), size);
    }
}

} // namespace
