// Row texts, the row record and the naming of converted streams (including the rule that names of
// files already on disk are never reused).
#include "SourceInfo.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>

TEST(SourceRowTexts, InformationTextOfAnExampleMovie) {
    CSourceInfo info;
    info.strPath = "/movies/holiday.rm";
    info.nWidth = 640;
    info.nHeight = 480;
    info.fSizeKB = static_cast<float>(350.2 * 1024);
    info.dDuration = 5400.9;
    info.dFrameRate = 25;
    const RowTexts texts = MakeRowTexts(info);
    EXPECT_EQ(texts.source, " holiday.rm");
    EXPECT_EQ(texts.info, "Dimension:640X480 File size:350.2M   Duration:01:30:00 Frame rate:25.00 ");
    EXPECT_EQ(texts.status, "Ready");
}

TEST(SourceRowTexts, DurationIsTruncatedToWholeSeconds) {
    EXPECT_EQ(FormatHMS(3599), "00:59:59");
    EXPECT_EQ(FormatHMS(360000), "100:00:00");
    EXPECT_EQ(MakeInfoText(1, 1, 0, 59.99, 29.97),
              "Dimension:1X1 File size:0.0M   Duration:00:00:59 Frame rate:29.97 ");
}

TEST(SourceRowRecord, TextsTravelAtTheirOffsets) {
    RowRecord record;
    ASSERT_TRUE(PackRowRecord({" a.rm", "Dimension:1X2 ", "Ready"}, &record));
    EXPECT_EQ(sizeof(record), 560u);
    EXPECT_STREQ(record.data(), " a.rm");
    EXPECT_STREQ(record.data() + 260, "Dimension:1X2 ");
    EXPECT_STREQ(record.data() + 460, "Ready");
    EXPECT_EQ(record[259], 0);
    const RowTexts back = UnpackRowRecord(record);
    EXPECT_EQ(back.source, " a.rm");
    EXPECT_EQ(back.info, "Dimension:1X2 ");
    EXPECT_EQ(back.status, "Ready");
}

TEST(SourceRowRecord, TextTooLongForItsAreaIsRefusedNotCut) {
    RowRecord record;
    EXPECT_TRUE(PackRowRecord({std::string(259, 'x'), "", ""}, &record));
    EXPECT_FALSE(PackRowRecord({std::string(260, 'x'), "", ""}, &record));
    EXPECT_FALSE(PackRowRecord({"", std::string(200, 'y'), ""}, &record));
    EXPECT_FALSE(PackRowRecord({"", "", std::string(100, 'z')}, &record));
    EXPECT_EQ(record[0], 0);
}

TEST(SourceNaming, BaseNameDropsOnlyTheLastExtension) {
    EXPECT_EQ(ConvertedBaseName("/x/movie.part.rmvb"), "movie.part");
    EXPECT_EQ(ConvertedBaseName("/x/a.rm"), "a");
    EXPECT_EQ(ConvertedBaseName("/x.y/noext"), "");
    EXPECT_EQ(FileNameOf("/x/y/z.rm"), "z.rm");
}

TEST(SourceNaming, SameMovieThreeTimesGetsZerosAppended) {
    std::set<std::string> list;
    auto taken = [&](const std::string& name) { return list.count(name) > 0; };
    for (int i = 0; i < 3; ++i) {
        list.insert(ChooseConvertedName("/w/", ConvertedBaseName("/m/a.rm"), taken));
    }
    EXPECT_EQ(list, (std::set<std::string>{"/w/a.vob", "/w/a0.vob", "/w/a00.vob"}));
}

TEST(SourceNaming, GivesUpInsteadOfLoopingForever) {
    EXPECT_EQ(ChooseConvertedName(
                  "/w/", "a", [](const std::string&) { return true; }, 5),
              "");
}

class SourceNamingOnDisk : public ::testing::Test {
protected:
    // A private folder of its own (removed with the others at exit).
    void SetUp() override { folder = qxtest::FreshFolder("naming"); }
    void Touch(const std::string& name, const std::string& content = "user data") {
        std::ofstream(folder + name) << content;
    }
    std::string folder;
};

TEST_F(SourceNamingOnDisk, ExistingStreamOrPartFileCountsAsTaken) {
    EXPECT_FALSE(ConvertedNameOnDisk(folder + "a.vob"));
    Touch("a.vob");
    EXPECT_TRUE(ConvertedNameOnDisk(folder + "a.vob"));
    Touch("b.vob.part2");
    EXPECT_TRUE(ConvertedNameOnDisk(folder + "b.vob"));
}

TEST_F(SourceNamingOnDisk, RebaseMovesIntoTheNewFolderAndAvoidsTheUsersFiles) {
    std::vector<CSourceInfo> sources(3);
    sources[0].strVobFile = "/old/a.vob";
    sources[1].strVobFile = "/old/a0.vob";
    sources[2].strVobFile = "/old/movie.part.vob";
    Touch("a.vob", "precious");
    ASSERT_TRUE(RebaseOutputNames(sources, folder));
    EXPECT_EQ(sources[0].strVobFile, folder + "a0.vob");
    EXPECT_EQ(sources[1].strVobFile, folder + "a00.vob");
    EXPECT_EQ(sources[2].strVobFile, folder + "movie.part.vob");
    for (const auto& s : sources) {
        EXPECT_TRUE(s.bOwnsOutput);
    }
}

TEST_F(SourceNamingOnDisk, RebaseWithoutConflictsKeepsTheNames) {
    std::vector<CSourceInfo> sources(2);
    sources[0].strVobFile = "/old/x.vob";
    sources[1].strVobFile = "/old/x0.vob";
    ASSERT_TRUE(RebaseOutputNames(sources, folder));
    EXPECT_EQ(sources[0].strVobFile, folder + "x.vob");
    EXPECT_EQ(sources[1].strVobFile, folder + "x0.vob");
}
