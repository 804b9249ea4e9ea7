// The movie types offered by "Add Video files" and looked for in dropped folders.
#include "MovieTypes.h"
#include "PromptService.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

using qxtest::FreshFolder;
using qxtest::WriteFile;

TEST(MovieTypes, TheOpenFilterKeepsRealMediaFirstThenEveryMovieAndAllFiles) {
    const std::vector<qx::FilterEntry> f = qx::ParseFileFilter(MovieOpenFilter());
    ASSERT_GE(f.size(), 4u);
    EXPECT_EQ(f.front().label, "All support files(*.rm, *.rmvb)");
    EXPECT_EQ(f.front().patterns, (std::vector<std::string>{"*.rm", "*.rmvb"}));
    EXPECT_EQ(f.back().label, "All files");
    EXPECT_EQ(f.back().patterns, std::vector<std::string>{"*"});
    EXPECT_EQ(f[1].label, "All movies");
    for (const char* ext : {"mp4", "m4v", "mkv", "webm", "avi", "mov", "wmv", "asf", "flv", "mpg", "mpeg", "ts", "m2ts",
                            "mts", "vob", "3gp", "ogv", "rm", "rmvb"}) {
        const std::string pattern = std::string("*.") + ext;
        EXPECT_NE(std::find(f[1].patterns.begin(), f[1].patterns.end(), pattern), f[1].patterns.end()) << ext;
        // ...and in exactly one entry of its own type.
        int types = 0;
        for (size_t i = 2; i + 1 < f.size(); ++i)
            types += std::count(f[i].patterns.begin(), f[i].patterns.end(), pattern);
        EXPECT_EQ(types, 1) << ext;
        EXPECT_TRUE(IsMovieFileName(std::string("Holiday.") + ext));
    }
    EXPECT_TRUE(IsMovieFileName("HOLIDAY.MKV"));
    EXPECT_TRUE(qx::MatchesFilter({f[1]}, "Clip.M2TS"));
    for (const char* other : {"Movie.srt", "mkv", ".mp4", "movie.mp4.part", "movie.", "notes.txt"})
        EXPECT_FALSE(IsMovieFileName(other)) << other;
}

TEST(MovieTypes, DroppedFoldersGiveTheirMoviesInNaturalOrderAndFilesStayInPlace) {
    namespace fs = std::filesystem;
    const std::string root = FreshFolder("dropped");
    for (const char* name : {"Part 10.mkv", "Part 2.mkv", "part 1.MP4", "notes.txt", "Movie.srt", "sub/a.avi",
                             "sub/deeper/b.rmvb", "0 first/c.webm"}) {
        fs::create_directories(fs::path(root + name).parent_path());
        WriteFile(root + name, "x");
    }
    fs::create_directory_symlink(root, root + "sub/loop"); // never entered: no movie twice, no endless walk
    const GatheredMovies g = GatherMovies({"/films/first.rm", root, root + "notes.txt"});
    EXPECT_EQ(g.files, (std::vector<std::string>{"/films/first.rm", root + "part 1.MP4", root + "Part 2.mkv",
                                                 root + "Part 10.mkv", root + "0 first/c.webm", root + "sub/a.avi",
                                                 root + "sub/deeper/b.rmvb", root + "notes.txt"}));
    EXPECT_TRUE(g.notes.empty());
}

TEST(MovieTypes, AFolderSearchIsBoundedAndSaysWhatItLeftOut) {
    namespace fs = std::filesystem;
    const std::string many = FreshFolder("many");
    for (size_t i = 0; i <= kMostFolderMovies; ++i)
        WriteFile(many + "clip" + std::to_string(i) + ".mkv", "");
    std::string deep = FreshFolder("deep");
    const std::string top = deep;
    for (int level = 0; level <= kMostFolderDepth; ++level)
        deep += "d/";
    fs::create_directories(deep);
    WriteFile(deep + "lost.mkv", "");
    WriteFile(top + "d/found.mkv", "");
    GatheredMovies g = GatherMovies({many, top});
    ASSERT_EQ(g.files.size(), kMostFolderMovies + 1);
    EXPECT_EQ(g.files.back(), top + "d/found.mkv");
    ASSERT_EQ(g.notes.size(), 2u);
    EXPECT_EQ(g.notes[0], "Add Folder:" + many + " Stopped after 1000 movies\n");
    EXPECT_NE(g.notes[1].find(" Skipped deeper than 8 folders\n"), std::string::npos) << g.notes[1];
    if (geteuid() != 0) { // root reads every folder
        const std::string shut = FreshFolder("shut");
        fs::permissions(shut, fs::perms::none);
        g = GatherMovies({shut});
        fs::permissions(shut, fs::perms::owner_all);
        EXPECT_TRUE(g.files.empty());
        ASSERT_EQ(g.notes.size(), 1u);
        EXPECT_EQ(g.notes[0].rfind("Add Folder:" + shut + " Failed cannot read it: ", 0), 0u) << g.notes[0];
    }
}
