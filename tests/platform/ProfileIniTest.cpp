#include "ProfileIni.h"
#include "PlatformTestSupport.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qx;

namespace {

class ProfileIni : public ::testing::Test {
protected:
    test::IsolatedEnv env;
    std::string file = env.root() + "/config/settings.ini";
    std::string Get(const std::string& s, const std::string& k, const std::string& def = "<def>") {
        return GetPrivateProfileString(s, k, def, file);
    }
};

std::string Repeat(const std::string& unit, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += unit;
    return s;
}

} // namespace

TEST_F(ProfileIni, MissingFileSectionOrKeyReadsAsDefault) {
    size_t length = 99;
    std::string error = "x";
    EXPECT_EQ(GetPrivateProfileString("TMPFLD", "temp folder", "C:\\QXMovieDisc", file, &length, &error),
              "C:\\QXMovieDisc");
    EXPECT_EQ(length, 14u);
    EXPECT_EQ(error, ""); // a missing file is no error
    test::WriteFile(file, "[TVMODE]\nTV Mode=PAL\nempty=\n");
    EXPECT_EQ(Get("ASP", "ASPECT"), "<def>");
    EXPECT_EQ(Get("TVMODE", "other"), "<def>");
    EXPECT_EQ(Get("TVMODE", "empty"), "<def>");
    EXPECT_EQ(GetPrivateProfileInt("ASP", "ASPECT", 1, file), 1);
}

TEST_F(ProfileIni, NamesIgnoreCaseAndBlanksValuesLoseBlanksAndQuotes) {
    test::WriteFile(file, "; comment\n  [ TvMode ]  \n  tv mode =  PAL  \nquoted=\" two  \"\nsingle='x'\n"
                          "[tvmode]\ntv mode=NTSC\n");
    EXPECT_EQ(Get("TVMODE", "TV Mode"), "PAL"); // the first section and key win
    EXPECT_EQ(Get("tvmode", "QUOTED"), " two  ");
    EXPECT_EQ(Get("TVMODE", "single"), "x");
}

TEST_F(ProfileIni, IntegersReadLikeAtoi) {
    test::WriteFile(file, "[N]\na=12abc\nb=-1\nc=abc\nd=+7\ne=99999999999\nf=-99999999999\n");
    EXPECT_EQ(GetPrivateProfileInt("N", "a", 5, file), 12);
    EXPECT_EQ(GetPrivateProfileInt("N", "b", 5, file), -1);
    EXPECT_EQ(GetPrivateProfileInt("N", "c", 5, file), 0);
    EXPECT_EQ(GetPrivateProfileInt("N", "d", 5, file), 7);
    EXPECT_EQ(GetPrivateProfileInt("N", "e", 5, file), 2147483647);
    EXPECT_EQ(GetPrivateProfileInt("N", "f", 5, file), -2147483647 - 1);
    EXPECT_EQ(GetPrivateProfileInt("N", "missing", 5, file), 5);
}

TEST_F(ProfileIni, WriteCreatesFileFoldersSectionsAndKeys) {
    std::string nested = env.root() + "/config/qxmoviedisc/deeper/settings.ini";
    ASSERT_TRUE(WritePrivateProfileString("BURN", "burn disc", "1", nested).ok());
    ASSERT_TRUE(WritePrivateProfileString("TVMODE", "TV Mode", "PAL", nested).ok());
    ASSERT_TRUE(WritePrivateProfileString("BURN", "other", "0", nested).ok());
    EXPECT_EQ(test::ReadFile(nested), "[BURN]\nburn disc=1\nother=0\n[TVMODE]\nTV Mode=PAL\n");
    struct stat st {};
    ASSERT_EQ(stat(nested.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~022u) << "expected the umask default for a new file";
}

TEST_F(ProfileIni, WriteKeepsEveryOtherLineByteForByte) {
    const std::string before = "; written by hand\r\n"
                               "[ASP]\r\n"
                               "ASPECT = 1\r\n"
                               "this line is malformed\r\n"
                               "=no key\r\n"
                               "[broken header\r\n"
                               "\r\n"
                               "[Burn]\r\n"
                               "# another comment\r\n"
                               "last=line without ending";
    test::WriteFile(file, before);
    EXPECT_EQ(Get("ASP", "aspect"), "1");
    ASSERT_TRUE(WritePrivateProfileString("asp", "Aspect", "0", file).ok());
    ASSERT_TRUE(WritePrivateProfileString("ASP", "KEEP ASPECT", "1", file).ok());
    ASSERT_TRUE(WritePrivateProfileString("BURN", "burn disc", "0", file).ok());
    ASSERT_TRUE(WritePrivateProfileString("SHUTDOWN", "shutdown computer", "0", file).ok());
    // The key keeps its spelling, a new key goes after the section's last line (not after the
    // blank separator), and new lines take the file's CR LF endings.
    EXPECT_EQ(test::ReadFile(file), "; written by hand\r\n"
                                    "[ASP]\r\n"
                                    "ASPECT=0\r\n"
                                    "this line is malformed\r\n"
                                    "=no key\r\n"
                                    "[broken header\r\n"
                                    "KEEP ASPECT=1\r\n"
                                    "\r\n"
                                    "[Burn]\r\n"
                                    "# another comment\r\n"
                                    "last=line without ending\r\n"
                                    "burn disc=0\r\n"
                                    "[SHUTDOWN]\r\n"
                                    "shutdown computer=0\r\n");
    ASSERT_TRUE(DeletePrivateProfileKey("burn", "LAST", file).ok());
    EXPECT_EQ(Get("BURN", "last"), "<def>");
    EXPECT_EQ((GetPrivateProfileSectionNames(file)), (std::vector<std::string>{"ASP", "Burn", "SHUTDOWN"}));
    auto keys = GetPrivateProfileSection("asp", file);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[1], (std::pair<std::string, std::string>{"KEEP ASPECT", "1"}));
}

TEST_F(ProfileIni, ValuesRoundTripIncludingBlanksAndQuotes) {
    for (const std::string v : {" lead", "trail ", "\"quoted\"", "'single'", "a=b;c", "C:\\QXMovieDisc\\"}) {
        ASSERT_TRUE(WritePrivateProfileString("S", "k", v, file).ok()) << v;
        EXPECT_EQ(Get("S", "k"), v);
    }
}

TEST_F(ProfileIni, OverLongValuesAndBadNamesAreRefusedNotCut) {
    ASSERT_TRUE(WritePrivateProfileString("TMPFLD", "temp folder", "/old", file).ok());
    std::string max = Repeat("x", 255);
    std::string utf8Max = Repeat("\xC3\xA9", 255); // 255 characters, 510 bytes
    ASSERT_TRUE(WritePrivateProfileString("A", "max", max, file).ok());
    ASSERT_TRUE(WritePrivateProfileString("A", "utf8", utf8Max, file).ok());
    EXPECT_EQ(Get("A", "utf8"), utf8Max);
    std::string afterGood = test::ReadFile(file);

    Status s = WritePrivateProfileString("TMPFLD", "temp folder", max + "y", file);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().find("256 characters"), std::string::npos) << s.error();
    EXPECT_FALSE(WritePrivateProfileString("A", "k", "two\nlines", file).ok());
    EXPECT_FALSE(WritePrivateProfileString("A", "k", std::string("nul\0x", 5), file).ok());
    EXPECT_FALSE(WritePrivateProfileString("", "k", "v", file).ok());
    EXPECT_FALSE(WritePrivateProfileString("a]b", "k", "v", file).ok());
    EXPECT_FALSE(WritePrivateProfileString("A", "k=", "v", file).ok());
    EXPECT_FALSE(WritePrivateProfileString("A", ";k", "v", file).ok());
    EXPECT_FALSE(WritePrivateProfileString("A", "[k", "v", file).ok());
    EXPECT_EQ(test::ReadFile(file), afterGood);
    EXPECT_EQ(Get("TMPFLD", "temp folder"), "/old");

    // A value made longer by hand is read whole.
    test::WriteFile(file, "[A]\nlong=" + Repeat("z", 400) + "\n");
    EXPECT_EQ(Get("A", "long").size(), 400u);
}

TEST_F(ProfileIni, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    // A file-size limit makes every write beyond 64 bytes fail, as a full disk would.
    const std::string before = "[TMPFLD]\ntemp folder=/keep/this\n";
    test::WriteFile(file, before);
    pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{64, 64};
        setrlimit(RLIMIT_FSIZE, &lim);
        Status s = WritePrivateProfileString("TMPFLD", "temp folder", std::string(200, 'n'), file);
        _exit(!s.ok() && s.error().find("old file is unchanged") != std::string::npos ? 0 : 1);
    }
    int st = 0;
    waitpid(child, &st, 0);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0) << "the write should have failed with a clear reason";
    EXPECT_EQ(test::ReadFile(file), before);
    DIR* d = opendir((env.root() + "/config").c_str());
    while (dirent* e = readdir(d))
        EXPECT_NE(std::string(e->d_name).rfind(".settings.ini.", 0), 0u) << "left behind: " << e->d_name;
    closedir(d);
}

TEST_F(ProfileIni, ReplacesThroughLinksKeepsModeAndRefusesUnreadableFiles) {
    std::string real = env.root() + "/real.ini";
    test::WriteFile(real, "[S]\nk=1\n");
    chmod(real.c_str(), 0640);
    ASSERT_EQ(symlink(real.c_str(), file.c_str()), 0);
    ASSERT_TRUE(WritePrivateProfileString("S", "k", "2", file).ok());
    struct stat st {};
    ASSERT_EQ(lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(test::ReadFile(real), "[S]\nk=2\n");

    std::string dirAsFile = env.root() + "/config/dir.ini";
    mkdir(dirAsFile.c_str(), 0700);
    std::string error;
    EXPECT_EQ(GetPrivateProfileString("S", "k", "d", dirAsFile, nullptr, &error), "d");
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", dirAsFile).ok());

    // A FIFO without a writer would block a plain open for ever; it is refused at once.
    std::string fifo = env.root() + "/config/fifo.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    error.clear();
    EXPECT_EQ(GetPrivateProfileString("S", "k", "d", fifo, nullptr, &error), "d");
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;

    test::WriteFile(env.root() + "/plain", "x");
    Status s = WritePrivateProfileString("S", "k", "v", env.root() + "/plain/settings.ini");
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().find("Not a directory"), std::string::npos) << s.error();
}
