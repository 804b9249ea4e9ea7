// The command-line programs that write image files: qxmkdvdiso and qxauthor --iso. A complete image
// or nothing under the requested name: failures, a full file system and a signal leave the old file
// (or no file) and no temporary file behind.
#include "DiscImageSupport.h"
#include "FixtureSupport.h"
#include "MkDvdIso.h"
#include "UdfReadSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kMkDvdIso = std::string(QX_BIN_DIR) + "/qxmkdvdiso";
const std::string kEpoch = "SOURCE_DATE_EPOCH=1796740215";

class Tools : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_temp = std::make_unique<TempFolder>();
        AuthorFolder(s_temp->path() + "/My Film", {1}, 4);
    }
    static void TearDownTestSuite() { s_temp.reset(); }
    static std::string film() { return s_temp->path() + "/My Film"; }

    // Names in the output folder: the image and nothing else (no temporary file left).
    std::vector<std::string> outputNames() const { return FolderNames(m_out.path()); }
    ProgramResult mkdvdiso(const std::vector<std::string>& args, const std::string& shellPrefix = "") {
        std::string command = kEpoch + " " + shellPrefix + " exec '" + kMkDvdIso + "'";
        for (const std::string& a : args)
            command += " '" + a + "'";
        return RunProgram({"sh", "-c", command});
    }

    static std::unique_ptr<TempFolder> s_temp;
    TempFolder m_out;
};
std::unique_ptr<TempFolder> Tools::s_temp;

TEST(MkDvdIsoArgs, NeedAnOutputOneFolderAndALabelOfAtMost32Characters) {
    MkDvdIsoArgs args;
    std::string error;
    ASSERT_TRUE(ParseMkDvdIsoArgs({"qxmkdvdiso", "-o", "a.iso", "--label", "Ünïcödé ünïcödé ünïcödé ünïcödé!", "dvd"},
                                  &args, &error))
        << error;
    EXPECT_EQ(args.output, "a.iso");
    EXPECT_EQ(args.folder, "dvd");
    EXPECT_TRUE(args.labelGiven);
    EXPECT_FALSE(ParseMkDvdIsoArgs({"qxmkdvdiso", "dvd"}, &args, &error));
    EXPECT_FALSE(ParseMkDvdIsoArgs({"qxmkdvdiso", "-o", "a.iso"}, &args, &error));
    EXPECT_FALSE(ParseMkDvdIsoArgs({"qxmkdvdiso", "-o", "a.iso", "one", "two"}, &args, &error));
    EXPECT_FALSE(
        ParseMkDvdIsoArgs({"qxmkdvdiso", "-o", "a.iso", "--label", std::string(33, 'x'), "dvd"}, &args, &error));
    EXPECT_NE(error.find("at most 32 characters"), std::string::npos);
    EXPECT_FALSE(ParseMkDvdIsoArgs({"qxmkdvdiso", "-o", "a.iso", "--bogus", "dvd"}, &args, &error));
    ASSERT_TRUE(ParseMkDvdIsoArgs({"qxmkdvdiso", "-o", "a.iso", "--", "-odd name"}, &args, &error));
    EXPECT_EQ(args.folder, "-odd name");
}

TEST_F(Tools, MkDvdIsoWritesTheSameImageTwiceAndReplacesAnOldOne) {
    const std::string iso = m_out.path() + "/film.iso";
    { std::ofstream(iso) << "an old image"; }
    ProgramResult first = mkdvdiso({"-o", iso, film()});
    ASSERT_EQ(first.exitStatus, 0) << first.output;
    EXPECT_NE(first.output.find("qxmkdvdiso: wrote " + iso), std::string::npos) << first.output;
    UdfImage udf(iso);
    ASSERT_TRUE(udf.ok());
    EXPECT_EQ(udf.VolumeId(), "My Film") << "the folder holding VIDEO_TS names the disc";
    EXPECT_TRUE(udf.LayoutFaults().empty());
    EXPECT_EQ(fs::status(iso).permissions() & fs::perms::others_read, fs::perms::others_read);

    // The VIDEO_TS folder itself, another label, and the same clock: same files, same places.
    const std::string again = m_out.path() + "/again.iso";
    ProgramResult second = mkdvdiso({"-o", again, "--label", "Film", film() + "/VIDEO_TS"});
    ASSERT_EQ(second.exitStatus, 0) << second.output;
    EXPECT_EQ(UdfImage(again).VolumeId(), "Film");
    ProgramResult third = mkdvdiso({"-o", again, film()});
    ASSERT_EQ(third.exitStatus, 0) << third.output;
    EXPECT_TRUE(ReadWholeFile(again) == ReadWholeFile(iso));
    EXPECT_EQ(outputNames(), (std::vector<std::string>{"again.iso", "film.iso"}));
}

TEST_F(Tools, MkDvdIsoFailuresLeaveNothingUnderTheRequestedName) {
    const std::string iso = m_out.path() + "/film.iso";
    // Not a DVD folder.
    ProgramResult noDvd = mkdvdiso({"-o", iso, m_out.path()});
    EXPECT_EQ(noDvd.exitStatus, 1);
    EXPECT_NE(noDvd.output.find("VIDEO_TS.IFO is missing"), std::string::npos) << noDvd.output;
    // A folder under the name is not overwritten.
    fs::create_directory(iso);
    ProgramResult folder = mkdvdiso({"-o", iso, film()});
    EXPECT_EQ(folder.exitStatus, 1);
    EXPECT_NE(folder.output.find("is not a regular file"), std::string::npos) << folder.output;
    EXPECT_TRUE(fs::is_directory(iso));
    fs::remove(iso);
    // Bad command line.
    EXPECT_EQ(mkdvdiso({film()}).exitStatus, 2);
    EXPECT_EQ(outputNames(), std::vector<std::string>{});

    // A full file system (a file-size limit: writes beyond it fail as on a full disk): the old image stays.
    { std::ofstream(iso) << "an old image"; }
    ProgramResult full = mkdvdiso({"-o", iso, film()}, "trap '' XFSZ; ulimit -f 200;");
    EXPECT_EQ(full.exitStatus, 1) << full.output;
    EXPECT_NE(full.output.find("Cannot write " + iso), std::string::npos) << full.output;
    EXPECT_EQ(ReadWholeFile(iso), Bytes({'a', 'n', ' ', 'o', 'l', 'd', ' ', 'i', 'm', 'a', 'g', 'e'}));
    EXPECT_EQ(outputNames(), std::vector<std::string>{"film.iso"});
}

TEST_F(Tools, MkDvdIsoStoppedBySignalsRemovesItsPartialFile) {
    // A large sparse folder, so the image takes long enough to be stopped half way.
    const std::string big = m_out.path() + "/big/VIDEO_TS";
    CopyFolder(film() + "/VIDEO_TS", big);
    InflateTitleVobs(big, 3);
    for (int signal : {SIGTERM, SIGINT}) {
        const std::string iso = m_out.path() + "/big.iso";
        pid_t pid = fork();
        if (pid == 0) {
            execl(kMkDvdIso.c_str(), kMkDvdIso.c_str(), "-o", iso.c_str(), big.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        EXPECT_TRUE(WaitUntilWriting(pid, m_out.path()));
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << "the program must end by itself, not by the signal";
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_EQ(outputNames(), std::vector<std::string>{"big"});
    }
}

TEST_F(Tools, QxauthorWritesTheImageOfTheFolderItMade) {
    const std::string iso = m_out.path() + "/authored.iso";
    ProgramResult run = RunProgram({std::string(QX_BIN_DIR) + "/qxauthor", "-o", m_out.path() + "/Holiday", "--iso",
                                    iso, FixtureStream(TvStandard::Ntsc, 4)});
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    UdfImage udf(iso);
    ASSERT_TRUE(udf.ok());
    EXPECT_EQ(udf.VolumeId(), "Holiday");
    EXPECT_TRUE(udf.ReadFile("/VIDEO_TS/VTS_01_1.VOB") ==
                ReadWholeFile(m_out.path() + "/Holiday/VIDEO_TS/VTS_01_1.VOB"));
    EXPECT_TRUE(udf.LayoutFaults().empty());
}

} // namespace
