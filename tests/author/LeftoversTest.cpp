// The scan for DVD files an earlier job left in the output folder.
#include "DvdLeftovers.h"
#include "FixtureSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class Leftovers : public ::testing::Test {
protected:
    void SetUp() override {
        folder = temp.path() + "/VIDEO_TS/";
        fs::create_directories(folder);
    }
    void touch(const std::string& name) { std::ofstream(folder + name) << "x"; }
    std::vector<std::string> remaining() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    TempFolder temp;
    std::string folder;
};

TEST_F(Leftovers, NothingFoundInAnEmptyOrMissingFolder) {
    EXPECT_EQ(FindOrDeleteDvdFiles(folder, true), 0);
    EXPECT_EQ(FindOrDeleteDvdFiles(temp.path() + "/nowhere/", true), 0);
    EXPECT_EQ(FindOrDeleteDvdFiles(temp.path() + "/nowhere/", false), 0);
}

TEST_F(Leftovers, CheckOnlyStopsAtTheFirstFileAndDeletesNothing) {
    touch("VTS_07_3.VOB");
    int probes = 0;
    EXPECT_EQ(FindOrDeleteDvdFiles(folder, true, [&] { ++probes; }), 1);
    // video_ts.ifo/bup/vob, then 205 names for each of the title sets 1..6, then set 7 up to vts_07_3.vob.
    EXPECT_EQ(probes, 3 + 6 * 205 + 5);
    EXPECT_EQ(remaining(), std::vector<std::string>({"VTS_07_3.VOB"}));
}

TEST_F(Leftovers, DeletesEveryNameOfTheListInAnyCaseAndNothingElse) {
    for (const char* name : {"VIDEO_TS.IFO", "video_ts.bup", "Video_TS.VOB", "VTS_01_0.IFO", "VTS_01_0.BUP",
                             "vts_01_1.vob", "vts_01_3.vob", "VTS_01_100.VOB", "vts_01_0.dat", "VTS_01_7.DAT",
                             "video_ts.dat", "VTS_99_0.IFO", "VTS_42_0.VOB", "notes.txt", "VTS_01_101.VOB"})
        touch(name);
    touch("vts_01_1.VOB"); // a second spelling of the same name
    int probes = 0;
    EXPECT_EQ(FindOrDeleteDvdFiles(folder, false, [&] { ++probes; }), 0);
    EXPECT_EQ(remaining(), std::vector<std::string>({"VTS_01_101.VOB", "notes.txt"}));
    // Every name of title sets 1..99 is probed, then title set 100 ends at its first missing name.
    EXPECT_EQ(probes, 3 + 99 * 205 + 1);
    EXPECT_EQ(FindOrDeleteDvdFiles(folder, true), 0);
}

TEST_F(Leftovers, TitleSetsBeyondNinetyNineAreFollowedWhileTheyLastAndTheFolderSlashIsOptional) {
    touch("VTS_100_0.IFO");
    touch("VTS_100_0.VOB");
    touch("VTS_101_0.IFO");
    std::string withoutSlash = folder.substr(0, folder.size() - 1);
    EXPECT_EQ(FindOrDeleteDvdFiles(withoutSlash, true), 1);
    EXPECT_EQ(FindOrDeleteDvdFiles(withoutSlash, false), 0);
    EXPECT_EQ(remaining(), std::vector<std::string>({"VTS_101_0.IFO"})); // beyond the first gap
}

TEST_F(Leftovers, FilesThatCannotBeDeletedAreReported) {
    fs::create_directories(folder + "VTS_01_2.VOB/inside"); // a non-empty folder of that name
    touch("VTS_01_3.VOB");
    std::string error;
    EXPECT_EQ(FindOrDeleteDvdFiles(folder, false, {}, &error), -1);
    EXPECT_NE(error.find("VTS_01_2.VOB"), std::string::npos) << error;
    EXPECT_EQ(remaining(), std::vector<std::string>({"VTS_01_2.VOB"})); // the rest still went
}

} // namespace
