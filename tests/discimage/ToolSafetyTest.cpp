// What the image programs refuse to do to files that are not theirs: write an image over one of its
// own inputs, follow a link out of the folder as root, read another user's file as root, leave a
// temporary file behind when killed, or print a name's control characters raw.
#include "DiscImageSupport.h"
#include "FixtureSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kMkDvdIso = std::string(QX_BIN_DIR) + "/qxmkdvdiso";
const std::string kQxAuthor = std::string(QX_BIN_DIR) + "/qxauthor";

class ToolSafety : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_temp = std::make_unique<TempFolder>();
        AuthorFolder(s_temp->path() + "/film", {1}, 3);
    }
    static void TearDownTestSuite() { s_temp.reset(); }
    static std::string filmVideoTs() { return s_temp->path() + "/film/VIDEO_TS"; }
    std::string out(const std::string& name) const { return m_out.path() + "/" + name; }
    // A copy of the film's VIDEO_TS folder as `folder`/VIDEO_TS; returns that.
    std::string copyFilm(const std::string& folder, const std::string& videoTs = "VIDEO_TS") const {
        fs::create_directories(out(folder));
        CopyFolder(filmVideoTs(), out(folder + "/" + videoTs));
        return out(folder + "/" + videoTs);
    }
    ProgramResult mkdvdiso(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {kMkDvdIso};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv);
    }
    static void expectRefused(const ProgramResult& run, const std::string& words) {
        EXPECT_EQ(run.exitStatus, 1) << run.output;
        EXPECT_NE(run.output.find(words), std::string::npos) << run.output;
    }

    static std::unique_ptr<TempFolder> s_temp;
    TempFolder m_out;
};
std::unique_ptr<TempFolder> ToolSafety::s_temp;

TEST_F(ToolSafety, AnImageNeverReplacesAFileOfTheFolderItIsMadeFrom) {
    const std::string video = copyFilm("dvd");
    const std::string vob = video + "/VTS_01_1.VOB";
    const Bytes before = ReadWholeFile(vob);
    expectRefused(mkdvdiso({"-o", vob, out("dvd")}), "The output " + vob + " is the input " + vob);
    fs::create_symlink(vob, out("link.iso"));
    expectRefused(mkdvdiso({"-o", out("link.iso"), out("dvd")}), "is the input " + vob);
    fs::create_hard_link(vob, out("hard.iso"));
    expectRefused(mkdvdiso({"-o", out("hard.iso"), out("dvd")}), "is the input " + vob);
    EXPECT_TRUE(ReadWholeFile(vob) == before);
    // A new file inside the folder, also through a link to the folder.
    expectRefused(mkdvdiso({"-o", video + "/film.iso", out("dvd")}), "lies inside the input folder " + video);
    fs::create_directory_symlink(video, out("also"));
    expectRefused(mkdvdiso({"-o", out("also/sub/../film.iso"), out("dvd")}), "lies inside the input folder");
    EXPECT_EQ(FolderNames(video), FolderNames(filmVideoTs()));
    // Beside VIDEO_TS is where images usually go.
    ProgramResult beside = mkdvdiso({"-o", out("dvd/film.iso"), out("dvd")});
    EXPECT_EQ(beside.exitStatus, 0) << beside.output;
}

TEST_F(ToolSafety, QxauthorRefusesOutputsThatWouldReplaceItsStreams) {
    const std::string stream = FixtureStream(TvStandard::Ntsc, 2);
    fs::copy_file(stream, out("victim.mpg"));
    const Bytes movie = ReadWholeFile(out("victim.mpg"));
    ProgramResult same = RunProgram({kQxAuthor, "-o", out("vic"), "--iso", out("victim.mpg"), out("victim.mpg")});
    expectRefused(same, "The output " + out("victim.mpg") + " is the input " + out("victim.mpg"));
    EXPECT_TRUE(ReadWholeFile(out("victim.mpg")) == movie);
    EXPECT_FALSE(fs::exists(out("vic"))) << "refused before anything is made";

    ProgramResult inside =
        RunProgram({kQxAuthor, "-o", out("q"), "--iso", out("q/VIDEO_TS/VIDEO_TS.IFO"), out("victim.mpg")});
    expectRefused(inside, "The output " + out("q/VIDEO_TS/VIDEO_TS.IFO") + " lies inside the input folder");
    EXPECT_FALSE(fs::exists(out("q")));

    // A stream inside the folder being authored, under its own name or another.
    fs::create_directories(out("r/VIDEO_TS"));
    fs::copy_file(stream, out("r/VIDEO_TS/s.mpg"));
    expectRefused(RunProgram({kQxAuthor, "-o", out("r"), out("r/VIDEO_TS/s.mpg")}),
                  "The input " + out("r/VIDEO_TS/s.mpg") + " lies inside the output folder");
    fs::create_hard_link(out("victim.mpg"), out("r/VIDEO_TS/VTS_01_1.VOB"));
    expectRefused(RunProgram({kQxAuthor, "-o", out("r"), "--replace", out("victim.mpg")}),
                  "holds VTS_01_1.VOB, which is the input " + out("victim.mpg"));
    EXPECT_TRUE(ReadWholeFile(out("victim.mpg")) == movie);
}

TEST_F(ToolSafety, AKilledRunLeavesNoTemporaryAndStaleOnesOfOurOwnAreRemovedLater) {
    const std::string big = copyFilm("big");
    InflateTitleVobs(big, 2);
    pid_t pid = fork();
    if (pid == 0) {
        execl(kMkDvdIso.c_str(), kMkDvdIso.c_str(), "-o", out("big.iso").c_str(), big.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    EXPECT_TRUE(WaitUntilWriting(pid, m_out.path()));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(FolderNames(m_out.path()), std::vector<std::string>{"big"});

    // What a killed run left where the file system has no nameless files, and what only looks like it.
    auto plant = [&](const std::string& name, bool old) {
        std::ofstream(out(name)) << "partial image";
        if (old) {
            const timespec times[2] = {{1, 0}, {1, 0}};
            utimensat(AT_FDCWD, out(name).c_str(), times, 0);
        }
    };
    plant(".film.iso.part-Stale1", true);  // removed
    plant(".film.iso.part-Fresh1", false); // perhaps still being written
    plant(".film.iso.backup", true);       // the user's
    plant(".film.iso.part-Stale1x", true); // not our pattern
    plant(".other.iso.part-Stale2", true); // another target's
    plant(".film.iso.part-Lockd1", true);  // held by a running writer
    const int held = open(out(".film.iso.part-Lockd1").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    fs::create_symlink(out(".film.iso.backup"), out(".film.iso.part-Link01"));
    std::vector<std::string> kept = {".film.iso.backup", ".film.iso.part-Fresh1", ".film.iso.part-Link01",
                                     ".film.iso.part-Lockd1", ".film.iso.part-Stale1x"};
    if (const passwd* nobody = getpwnam("nobody"); nobody && geteuid() == 0) {
        plant(".film.iso.part-Other1", true);
        ASSERT_EQ(chown(out(".film.iso.part-Other1").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        kept.push_back(".film.iso.part-Other1");
    }
    kept.push_back(".other.iso.part-Stale2");
    kept.push_back("big");
    kept.push_back("film.iso");
    std::sort(kept.begin(), kept.end());
    ProgramResult run = mkdvdiso({"-o", out("film.iso"), filmVideoTs()});
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_EQ(FolderNames(m_out.path()), kept);
    close(held);
}

TEST_F(ToolSafety, QxauthorStoppedBySignalsRemovesWhatItWroteSoTheNextRunStarts) {
    // Several long titles, so that the authoring is still running when the signal comes.
    std::vector<std::string> streams;
    for (int i = 0; i < 8; ++i) {
        streams.push_back(out("title" + std::to_string(i) + ".mpg"));
        fs::create_hard_link(FixtureStream(TvStandard::Pal, 301), streams.back());
    }
    for (int signal : {SIGTERM, SIGINT}) {
        pid_t pid = fork();
        if (pid == 0) {
            std::vector<const char*> argv = {kQxAuthor.c_str(), "-o", m_out.path().c_str()};
            for (const std::string& stream : streams)
                argv.push_back(stream.c_str());
            argv.push_back(nullptr);
            setenv("QXAUTHOR_VERBOSITY", "-1", 1);
            freopen("/dev/null", "w", stderr);
            execv(argv[0], const_cast<char* const*>(argv.data()));
            _exit(127);
        }
        ASSERT_TRUE(WaitUntilWriting(pid, out("VIDEO_TS")));
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << "the program must end by itself, not by the signal";
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        for (const std::string& name : FolderNames(out("VIDEO_TS")))
            ADD_FAILURE() << name << " was left in the folder";
    }
    ProgramResult next = RunProgram({kQxAuthor, "-o", m_out.path(), streams[0]});
    EXPECT_EQ(next.exitStatus, 0) << next.output;
}

TEST_F(ToolSafety, RootFollowsNoLinkOutOfTheFolderAndReadsOnlyItsOwnersFiles) {
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || !nobody)
        GTEST_SKIP() << "needs root and the user nobody";
    const std::string video = copyFilm("theirs");
    auto ownAll = [&] {
        for (const auto& entry : fs::recursive_directory_iterator(out("theirs")))
            ASSERT_EQ(lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        ASSERT_EQ(chown(out("theirs").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    };
    ownAll();
    ProgramResult theirs = mkdvdiso({"-o", out("theirs.iso"), out("theirs")});
    EXPECT_EQ(theirs.exitStatus, 0) << theirs.output;

    // A root file of a telling size, reached through a link and as a file of its own.
    { std::ofstream(out("secret")) << std::string(123456, 's'); }
    fs::permissions(out("secret"), fs::perms::owner_read | fs::perms::owner_write);
    const std::string vob = video + "/VTS_01_1.VOB";
    fs::remove(vob);
    fs::create_symlink(out("secret"), vob);
    ownAll();
    ProgramResult link = mkdvdiso({"-o", out("link.iso"), out("theirs")});
    expectRefused(link, vob + " is a symbolic link that leads out of " + video);
    EXPECT_EQ(link.output.find("123456"), std::string::npos) << link.output;

    fs::remove(vob);
    fs::copy_file(out("secret"), vob);
    ProgramResult foreign = mkdvdiso({"-o", out("foreign.iso"), out("theirs")});
    expectRefused(foreign, "Cannot read " + vob + ": it belongs to user id 0, the folder to user id " +
                               std::to_string(nobody->pw_uid));
    EXPECT_EQ(foreign.output.find("123456"), std::string::npos) << foreign.output;
    EXPECT_FALSE(fs::exists(out("link.iso")) || fs::exists(out("foreign.iso")));

    // A link that stays inside the folder is followed.
    fs::remove(vob);
    fs::copy_file(filmVideoTs() + "/VTS_01_1.VOB", video + "/vob.data");
    fs::create_symlink("vob.data", vob);
    ownAll();
    ProgramResult inside = mkdvdiso({"-o", out("inside.iso"), out("theirs")});
    EXPECT_EQ(inside.exitStatus, 0) << inside.output;
}

TEST_F(ToolSafety, AnImageIsNoMoreReadableThanTheFilesOfItsFolder) {
    const std::string video = copyFilm("private");
    fs::permissions(video + "/VTS_01_1.VOB", fs::perms::owner_read | fs::perms::owner_write);
    ProgramResult run = mkdvdiso({"-o", out("private.iso"), out("private")});
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    const fs::perms perms = fs::status(out("private.iso")).permissions();
    EXPECT_EQ(perms & (fs::perms::group_read | fs::perms::others_read), fs::perms::none);
    EXPECT_EQ(perms & fs::perms::owner_read, fs::perms::owner_read);
}

TEST_F(ToolSafety, ALowerCaseVideoTsFolderIsFoundAndNamesArePrintedEscaped) {
    const std::string video = copyFilm("disc", "video_ts");
    std::ofstream(video + "/evil\x1b]0;owned\x07\n.txt") << "x";
    ProgramResult run = mkdvdiso({"-o", out("disc.iso"), out("disc")});
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_NE(run.output.find("Left off the disc: evil\\x1b]0;owned\\x07\\n.txt (not a DVD-Video file)"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find('\x1b'), std::string::npos);
    ProgramResult refused = mkdvdiso({"-o", out("a\x1b[2Jb.iso"), out("nothing")});
    EXPECT_EQ(refused.output.find('\x1b'), std::string::npos) << refused.output;
}

} // namespace
