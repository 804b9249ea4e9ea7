#include "Folders.h"
#include "PlatformTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qx;

TEST(Folders, UserFoldersFollowTheEnvironment) {
    test::IsolatedEnv env;
    EXPECT_EQ(ConfigFolder(), env.root() + "/config/qxmoviedisc/");
    EXPECT_EQ(StateFolder(), env.root() + "/state/qxmoviedisc/");
    EXPECT_EQ(DefaultWorkFolder(), env.root() + "/home/QXMovieDisc/");
    // Unset or relative XDG values fall back to the home folder.
    unsetenv("XDG_CONFIG_HOME");
    setenv("XDG_STATE_HOME", "relative/state", 1);
    EXPECT_EQ(ConfigFolder(), env.root() + "/home/.config/qxmoviedisc/");
    EXPECT_EQ(StateFolder(), env.root() + "/home/.local/state/qxmoviedisc/");
    EXPECT_EQ(ProgramFolder(), std::string(QX_BIN_DIR) + "/");
}

TEST(Folders, RuntimeFolderIsPrivateAndChecked) {
    test::IsolatedEnv env;
    std::string expected = env.runtimeBase() + "/qxmoviedisc/";
    Result<std::string> r = RuntimeFolder();
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value, expected);
    struct stat st {};
    ASSERT_EQ(stat(expected.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    chmod(expected.c_str(), 0755);
    r = RuntimeFolder();
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error.find("0755"), std::string::npos) << r.error;
    chmod(expected.c_str(), 0700);

    if (geteuid() == 0) { // only root can hand the folder to somebody else
        ASSERT_EQ(chown(expected.c_str(), 65534, 65534), 0);
        r = RuntimeFolder();
        ASSERT_FALSE(r.ok());
        EXPECT_NE(r.error.find("belongs to user id 65534"), std::string::npos) << r.error;
        ASSERT_EQ(chown(expected.c_str(), 0, 0), 0);
    }

    // A symbolic link planted in place of the folder is refused, even to a private folder.
    rmdir(expected.c_str());
    mkdir((env.root() + "/elsewhere").c_str(), 0700);
    ASSERT_EQ(symlink((env.root() + "/elsewhere").c_str(), expected.substr(0, expected.size() - 1).c_str()), 0);
    r = RuntimeFolder();
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error.find("symbolic link"), std::string::npos) << r.error;

    setenv("XDG_RUNTIME_DIR", (env.root() + "/missing").c_str(), 1);
    r = RuntimeFolder();
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error.find("not an existing folder"), std::string::npos) << r.error;

    unsetenv("XDG_RUNTIME_DIR");
    r = RuntimeFolder();
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value, "/tmp/qxmoviedisc-" + std::to_string(geteuid()) + "/");
}

TEST(Folders, MakeFolderPathCreatesParentsAndRefusesFiles) {
    test::IsolatedEnv env;
    std::string deep = env.root() + "/a/b/c/";
    ASSERT_TRUE(MakeFolderPath(deep).ok());
    struct stat st {};
    EXPECT_EQ(stat(deep.c_str(), &st), 0);
    EXPECT_TRUE(MakeFolderPath(deep).ok()); // already there
    test::WriteFile(env.root() + "/file", "x");
    Status s = MakeFolderPath(env.root() + "/file/sub");
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().find("is not a folder"), std::string::npos) << s.error();
    EXPECT_FALSE(MakeFolderPath("").ok());
    EXPECT_EQ(WithTrailingSlash("/x"), "/x/");
    EXPECT_EQ(WithTrailingSlash("/x/"), "/x/");
}
