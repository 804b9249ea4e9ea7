// The built-in engine's fixed tables: disc type names, profile codes, what a writer can burn or
// erase, and the naming of achieved speeds.
#include "DeviceTables.h"
#include "StarBurn.h"

#include <gtest/gtest.h>

TEST(BurnTables, DiscTypeNamesCoverEveryCodeAndUnknownBeyond) {
    const char* expected[] = {"Unknown",  "CDROM",  "CD-R",  "CD-RW", "DVD-ROM",    "DVD-R",    "DVD-RAM",  "DVD-RW",
                              "DVD-RW",   "DVD+RW", "CDROM", "CD-R",  "CD-RW",      "DVD+R",    "No Media", "DVD+R DL",
                              "DVD-R DL", "BD-ROM", "BD-R",  "BD-RE", "HD-DVD ROM", "HD-DVD R", "HD-DVD RW"};
    for (int code = 0; code <= 22; ++code) {
        EXPECT_STREQ(DiscTypeName(code), expected[code]) << code;
    }
    EXPECT_STREQ(DiscTypeName(23), "Unknown");
    EXPECT_STREQ(DiscTypeName(-1), "Unknown");
}

TEST(BurnTables, ProfilesMapToDiscTypeCodes) {
    const std::pair<int, int> map[] = {{0x00, 14}, {0x08, 1},  {0x09, 2},  {0x0A, 3},  {0x10, 4},  {0x11, 5},
                                       {0x12, 6},  {0x13, 7},  {0x14, 8},  {0x15, 16}, {0x16, 16}, {0x1A, 9},
                                       {0x1B, 13}, {0x2B, 15}, {0x40, 17}, {0x41, 18}, {0x42, 18}, {0x43, 19},
                                       {0x02, 0},  {0x51, 0},  {0xFFFF, 0}};
    for (const auto& [profile, code] : map) {
        EXPECT_EQ(StarBurnDiscTypeOfProfile(profile), code) << std::hex << profile;
    }
}

TEST(BurnTables, CanSupportAndCanEraseNeedTheMatchingWriteFlag) {
    // Flag order: DVD-R, DVD-RW, DVD-R DL, DVD+R, DVD+RW, DVD+R DL.
    const std::pair<int, int> supported[] = {{5, 0}, {7, 1}, {8, 1}, {16, 2}, {13, 3}, {9, 4}, {15, 5}};
    for (const auto& [type, flag] : supported) {
        DvdWriteFlags only;
        only.flag[flag] = true;
        EXPECT_TRUE(CanSupportDisc(type, only)) << type;
        DvdWriteFlags allButThat;
        for (int i = 0; i < 6; ++i) {
            allButThat.flag[i] = i != flag;
        }
        EXPECT_FALSE(CanSupportDisc(type, allButThat)) << type;
    }
    DvdWriteFlags all;
    for (bool& f : all.flag) {
        f = true;
    }
    for (int type : {0, 1, 2, 3, 4, 6, 14, 17, 18, 19}) {
        EXPECT_FALSE(CanSupportDisc(type, all)) << type;
    }
    for (int type = 0; type <= 22; ++type) {
        EXPECT_EQ(CanEraseDisc(type, all), type == 7 || type == 8 || type == 9) << type;
    }
    DvdWriteFlags plusRwOnly;
    plusRwOnly.flag[4] = true;
    EXPECT_TRUE(CanEraseDisc(9, plusRwOnly));
    EXPECT_FALSE(CanEraseDisc(7, plusRwOnly));
    EXPECT_FALSE(DvdWriteFlags{}.Any());
    EXPECT_TRUE(IsDualLayer(15) && IsDualLayer(16) && !IsDualLayer(5));
}

TEST(BurnTables, SpeedTablesKeepTheWritersValues) {
    ASSERT_EQ(SpeedTableCD().size(), 16u);
    ASSERT_EQ(SpeedTableDVD().size(), 10u);
    EXPECT_EQ(SpeedTableCD()[5].speed, 1400u); // 8x, not 1411
    EXPECT_EQ(SpeedTableCD()[9].speed, 3250u); // 20x, not 3528
    EXPECT_EQ(SpeedTableDVD().front().speed, 1385u);
    EXPECT_EQ(SpeedTableDVD().back().name, "16.0x");
}

TEST(BurnTables, AchievedSpeedsTakeTheNearerNameOnceAndOnlyInsideTheTable) {
    std::vector<SpeedEntry> list;
    EXPECT_TRUE(AddNamedSpeed(list, SpeedTableCD(), 1500)); // between 1400 and 1760, nearer 1400
    EXPECT_TRUE(AddNamedSpeed(list, SpeedTableCD(), 1580)); // exactly between: the lower entry
    EXPECT_TRUE(AddNamedSpeed(list, SpeedTableCD(), 1700)); // nearer 1760
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "8.0x");
    EXPECT_EQ(list[1].name, "8.0x");
    EXPECT_EQ(list[2].name, "10.0x");
    EXPECT_FALSE(AddNamedSpeed(list, SpeedTableCD(), 1500)); // once per speed
    EXPECT_FALSE(AddNamedSpeed(list, SpeedTableCD(), 100));  // below the table
    EXPECT_FALSE(AddNamedSpeed(list, SpeedTableCD(), 9153)); // above it
    EXPECT_EQ(list.size(), 3u);

    std::vector<SpeedEntry> dvd;
    EXPECT_TRUE(AddNamedSpeed(dvd, SpeedTableDVD(), 3000));  // 2770..3324: nearer 2770
    EXPECT_TRUE(AddNamedSpeed(dvd, SpeedTableDVD(), 22160)); // the last entry itself
    EXPECT_TRUE(AddNamedSpeed(dvd, SpeedTableDVD(), 1385));  // the first entry itself
    EXPECT_FALSE(AddNamedSpeed(dvd, SpeedTableDVD(), 30000));
    ASSERT_EQ(dvd.size(), 3u);
    EXPECT_EQ(dvd[0].name, "2.0x");
    EXPECT_EQ(dvd[1].name, "16.0x");
    EXPECT_EQ(dvd[2].name, "1.0x");
}
