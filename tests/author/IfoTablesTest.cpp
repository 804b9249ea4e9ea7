// Tables of the information files built from hand-made groups: chapters, time maps, program-chain
// tables in the growing work buffer, cell addresses, title search pointers, title-set attributes.
#include "AuthorError.h"
#include "AuthorTitleSet.h"
#include "AuthorToc.h"
#include "FixtureSupport.h"
#include "IfoProbeSupport.h"
#include "MemoryFilesSupport.h"

#include <gtest/gtest.h>

#include <fstream>

#include <sys/stat.h>

namespace {

constexpr long long kHalf = 45000;

std::vector<TestVobu> vobus(int count, int cells) {
    std::vector<TestVobu> v;
    for (int i = 0; i < count; ++i)
        v.push_back({10 * i, 10 * i + 9, i * kHalf, (i + 1) * kHalf, true, 1 + i * cells / count});
    return v;
}

TEST(TimeMap, UnitAndEntriesFollowThePlayingTime) {
    int unit = 0;
    int entries = 0;
    IfoTimeMapShape(3600, unit, entries);
    EXPECT_EQ(unit, 2);
    EXPECT_EQ(entries, 1800);
    IfoTimeMapShape(1800, unit, entries);
    EXPECT_EQ(unit, 1);
    EXPECT_EQ(entries, 1800);
    IfoTimeMapShape(2040, unit, entries);
    EXPECT_EQ(unit, 1);
    EXPECT_EQ(entries, 2040);
    IfoTimeMapShape(2041, unit, entries);
    EXPECT_EQ(unit, 2);
    EXPECT_EQ(entries, 1020);
    IfoTimeMapShape(0, unit, entries);
    EXPECT_EQ(unit, 1);
    EXPECT_EQ(entries, 0);
}

TEST(TimeMap, EntriesAreTheNearestVobuOfTheirCellAndMarkCellChanges) {
    auto group = MakeGroup(MakeSource(vobus(20, 2))); // two cells of 5 s, VOBUs of half a second
    Bytes table = IfoTimeMapTable(*group);
    ASSERT_EQ(Be16(table, 0), 1u);
    EXPECT_EQ(Be32(table, 4), static_cast<uint32_t>(table.size() - 1));
    size_t map = Be32(table, 8);
    EXPECT_EQ(map, 12u);
    EXPECT_EQ(table[map], 1);
    ASSERT_EQ(Be16(table, map + 2), 10u);
    // Entry k plays k seconds less one frame in: 0.96 s is nearest VOBU 2 (1.0 s); 4.96 s would be VOBU 10,
    // which belongs to the second cell, so the first cell's last VOBU stands in.
    const uint32_t expected[10] = {20, 40, 60, 80, 0x80000000u | 90, 120, 140, 160, 180, 190};
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(Be32(table, map + 4 + 4 * k), expected[k]) << "entry " << k + 1;
}

TEST(ChapterTable, ChaptersNameTheirProgramsAndSkipEmptySpecifications) {
    auto group = MakeGroup(MakeSource(vobus(20, 4)));
    AuthorSourceRef& ref = group->pgcs[0]->sources[0];
    ref.cells.clear();
    auto spec = [](int first, int end, int mark) {
        AuthorCellSpec s;
        s.firstCell = first;
        s.endCell = end;
        s.chapterMark = mark;
        return s;
    };
    ref.cells = {spec(1, 2, 1), spec(2, 3, 2), spec(3, 3, 1), spec(3, 4, 0), spec(4, 5, 1)};
    auto second = std::make_unique<ProgramChain>();
    second->sources.push_back(ref);
    second->sources[0].cells = {spec(1, 5, 1)};
    group->pgcs.push_back(std::move(second));

    Bytes table = IfoChapterTable(*group);
    EXPECT_EQ(Be16(table, 0), 2u);
    EXPECT_EQ(Be32(table, 8), 16u);
    EXPECT_EQ(Be32(table, 12), 24u); // two chapters in title 1
    EXPECT_EQ(Be32(table, 4), 27u);
    EXPECT_EQ(Slice(table, 16, 12), Bytes({0, 1, 0, 1, 0, 1, 0, 3, 0, 2, 0, 1}));
}

TEST(ProgramChainTable, WorkBufferGrowsWithoutChangingTheTable) {
    auto group = MakeGroup(MakeSource(vobus(4, 1)));
    for (int i = 1; i < 60; ++i) {
        auto pgc = std::make_unique<ProgramChain>(*group->pgcs[0]);
        group->pgcs.push_back(std::move(pgc));
    }
    auto entry = [](size_t index, const ProgramChain&) { return static_cast<uint8_t>(0x81 + index); };
    IfoWorkBuffer work;
    ASSERT_EQ(work.size(), 0x20000u);
    Bytes grownWhileBuilding = IfoPgcTable(work, *group, entry);
    EXPECT_EQ(work.size(), 0x40000u); // 60 records do not leave 117228 bytes free in 128 KB
    Bytes builtInGrownBuffer = IfoPgcTable(work, *group, entry);
    EXPECT_EQ(work.size(), 0x40000u);
    EXPECT_EQ(grownWhileBuilding, builtInGrownBuffer);

    ASSERT_EQ(Be16(grownWhileBuilding, 0), 60u);
    EXPECT_EQ(Be32(grownWhileBuilding, 4), static_cast<uint32_t>(grownWhileBuilding.size() - 1));
    uint32_t recordSize = Be32(grownWhileBuilding, 8 + 8 + 4) - Be32(grownWhileBuilding, 8 + 4);
    for (uint32_t i = 0; i < 60; ++i) {
        EXPECT_EQ(grownWhileBuilding[8 + 8 * i], 0x81 + i);
        EXPECT_EQ(Be32(grownWhileBuilding, 8 + 8 * i + 4), 8 + 8 * 60 + i * recordSize);
    }
}

TEST(AddressTables, CellsAndVobusOfEverySourceInOrder) {
    auto group = MakeGroup(MakeSource(vobus(6, 2), 1));
    std::vector<TestVobu> later = {{60, 69, 0, kHalf}, {70, 75, kHalf, 2 * kHalf}};
    group->sources.push_back(MakeSource(later, 2));
    Bytes cells = IfoCellAddressTable(*group);
    ASSERT_EQ(Be16(cells, 0), 3u);
    EXPECT_EQ(Be32(cells, 4), 8u + 36 - 1);
    EXPECT_EQ(Slice(cells, 8, 12), Bytes({0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 29}));
    EXPECT_EQ(Slice(cells, 20, 12), Bytes({0, 1, 2, 0, 0, 0, 0, 30, 0, 0, 0, 59}));
    EXPECT_EQ(Slice(cells, 32, 12), Bytes({0, 2, 1, 0, 0, 0, 0, 60, 0, 0, 0, 75}));
    Bytes map = IfoVobuAddressMap(*group);
    EXPECT_EQ(Be32(map, 0), 4u * 8 + 3);
    const uint32_t sectors[8] = {0, 10, 20, 30, 40, 50, 60, 70};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(Be32(map, 4 + 4 * i), sectors[i]);
}

AuthorTitleSetSummary summary(uint32_t sectors, std::vector<int> chapters, bool menus = false) {
    AuthorTitleSetSummary s;
    s.sectors = sectors;
    s.chapters = std::move(chapters);
    s.hasMenus = menus;
    for (int i = 0; i < 768; ++i)
        s.attributes[i] = static_cast<uint8_t>(i * 7);
    s.category[3] = 9;
    return s;
}

TEST(VideoManager, TitleSearchPointersAndTitleSetAttributes) {
    AuthorMenuList menus;
    Bytes ifo = IfoVideoManagerFile({AuthorFirstPlayCommand(false, false, true)}, menus, nullptr,
                                    {summary(5000, {4, 2, 7}), summary(700, {1})});
    ASSERT_EQ(ifo.size(), 3u * 2048);
    EXPECT_EQ(Be32(ifo, 0x00C), 5u);
    EXPECT_EQ(Be32(ifo, 0x01C), 2u);
    EXPECT_EQ(Be16(ifo, 0x03E), 2u);
    EXPECT_EQ(Be32(ifo, 0x0C4), 1u);
    EXPECT_EQ(Be32(ifo, 0x0D0), 2u);
    size_t search = 2048;
    EXPECT_EQ(Be16(ifo, search), 4u);
    EXPECT_EQ(Be32(ifo, search + 4), 8u + 48 - 1);
    EXPECT_EQ(Slice(ifo, search + 8, 12), Bytes({0x3C, 1, 0, 4, 0, 0, 1, 1, 0, 0, 0, 6}));
    EXPECT_EQ(Slice(ifo, search + 20, 12), Bytes({0x3C, 1, 0, 2, 0, 0, 1, 2, 0, 0, 0, 6}));
    EXPECT_EQ(Slice(ifo, search + 32, 12), Bytes({0x3C, 1, 0, 7, 0, 0, 1, 3, 0, 0, 0, 6}));
    // The second title set starts after the first one's 5000 sectors.
    EXPECT_EQ(Slice(ifo, search + 44, 12), Bytes({0x3C, 1, 0, 1, 0, 0, 2, 1, 0, 0, 0x13, 0x8E}));
    size_t atrt = 2 * 2048;
    EXPECT_EQ(Be16(ifo, atrt), 2u);
    EXPECT_EQ(Be32(ifo, atrt + 4), 780u * 2 + 7);
    EXPECT_EQ(Be32(ifo, atrt + 8), 16u);
    EXPECT_EQ(Be32(ifo, atrt + 12), 16u + 776);
    AuthorTitleSetSummary expected = summary(0, {});
    for (size_t entry : {atrt + 16, atrt + 16 + 776}) {
        EXPECT_EQ(Be32(ifo, entry), 775u);
        EXPECT_EQ(Be32(ifo, entry + 4), 9u);
        EXPECT_EQ(Slice(ifo, entry + 8, 768), Bytes(expected.attributes, expected.attributes + 768));
    }
}

TEST(VideoManager, FirstPlayCommandForEachSituation) {
    EXPECT_EQ(AuthorFirstPlayCommand(true, true, true), AuthorCommand({0x30, 0x06, 0, 0, 0, 0x42, 0, 0}));
    EXPECT_EQ(AuthorFirstPlayCommand(false, true, true), AuthorCommand({0x30, 0x06, 0, 0x01, 0x01, 0x83, 0, 0}));
    EXPECT_EQ(AuthorFirstPlayCommand(false, false, true), AuthorCommand({0x30, 0x02, 0, 0, 0, 0x01, 0, 0}));
    EXPECT_EQ(AuthorFirstPlayCommand(false, true, false), AuthorCommand({0x30, 0x02, 0, 0, 0, 0x01, 0, 0}));
    AuthorMenuList menus;
    std::vector<AuthorCommand> many(98, AuthorFirstPlayCommand(false, false, true));
    LogRecorder log;
    EXPECT_THROW(IfoVideoManagerFile(many, menus, nullptr, {summary(10, {1})}), AuthorFatalError);
    many.pop_back(); // 97 commands still end inside the header sector
    Bytes ifo = IfoVideoManagerFile(many, menus, nullptr, {summary(10, {1})});
    EXPECT_EQ(Be32(ifo, 0x080), 0x400u + 0xEC + 8 * 97 + 7);
    EXPECT_LE(Be32(ifo, 0x080), 2047u);
}

class TocOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        video = temp.path() + "/VIDEO_TS";
        ASSERT_EQ(mkdir(video.c_str(), 0777), 0);
    }
    void writeTitleSet(int number) {
        auto group = MakeGroup(MakeSource(vobus(4, 1)));
        AuthorMenuList menus;
        IfoWorkBuffer work;
        Bytes ifo = IfoTitleSetFile(menus, nullptr, *group, work);
        char name[32];
        std::snprintf(name, sizeof name, "/VTS_%02d_0.IFO", number);
        std::ofstream(video + name, std::ios::binary).write(reinterpret_cast<const char*>(ifo.data()), ifo.size());
    }
    TempFolder temp;
    std::string video;
};

TEST_F(TocOnDisk, ReadsBackTheTitleSetsItWasGiven) {
    writeTitleSet(1);
    writeTitleSet(2);
    AuthorMenuList menus;
    std::vector<std::pair<int, int>> progress;
    AuthorRunOptions options;
    options.progress = [&](int phase, int percent) { progress.emplace_back(phase, percent); };
    LogRecorder log;
    CreateToc(nullptr, menus, temp.path(), 2, options);
    EXPECT_TRUE(log.contains("INFO: Scanning " + video + "/VTS_02_0.IFO\n"));
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{2, 100}}));
    Bytes ifo = ReadWholeFile(video + "/VIDEO_TS.IFO");
    EXPECT_EQ(ifo, ReadWholeFile(video + "/VIDEO_TS.BUP"));
    EXPECT_EQ(Be16(ifo, 0x03E), 2u);
    EXPECT_EQ(Be16(ifo, 2048), 2u);
    EXPECT_FALSE(FileExists(video + "/VIDEO_TS.VOB"));
}

TEST_F(TocOnDisk, RefusesFirstPlayWithMoreThanPreCommands) {
    writeTitleSet(1);
    AuthorMenuList menus;
    ProgramChain firstPlay;
    firstPlay.preCommands.push_back(AuthorFirstPlayCommand(false, false, true));
    firstPlay.postCommands.push_back(AuthorFirstPlayCommand(false, false, true));
    LogRecorder log;
    EXPECT_THROW(CreateToc(&firstPlay, menus, temp.path(), 1), AuthorFatalError);
    EXPECT_TRUE(log.contains("ERR:  FPC can ONLY contain prei commands, nothing else\n"));
    firstPlay.postCommands.clear();
    firstPlay.preCommands.push_back({0x20, 0xA4, 0, 0, 0, 0, 0, 0});
    CreateToc(&firstPlay, menus, temp.path(), 1);
    Bytes ifo = ReadWholeFile(video + "/VIDEO_TS.IFO");
    EXPECT_EQ(Be16(ifo, 0x4EC), 2u);
    EXPECT_EQ(Slice(ifo, 0x4FC, 8), Bytes({0x20, 0xA4, 0, 0, 0, 0, 0, 0}));
}

TEST_F(TocOnDisk, MissingOrBrokenTitleSetFilesAreFatal) {
    AuthorMenuList menus;
    {
        LogRecorder log;
        EXPECT_THROW(CreateToc(nullptr, menus, temp.path(), 0), AuthorFatalError);
        EXPECT_TRUE(log.contains("ERR:  No .IFO files to process\n"));
    }
    {
        LogRecorder log;
        EXPECT_THROW(CreateToc(nullptr, menus, temp.path(), 1), AuthorFatalError);
        EXPECT_TRUE(log.contains("ERR:  cannot open " + video + "/VTS_01_0.IFO: No such file or directory\n"));
    }
    std::ofstream(video + "/VTS_01_0.IFO") << "DVDVIDEO-VTS but far too short";
    LogRecorder log;
    EXPECT_THROW(CreateToc(nullptr, menus, temp.path(), 1), AuthorFatalError);
    EXPECT_TRUE(log.contains("is not a title set information file")) << log.all();
    EXPECT_FALSE(FileExists(video + "/VIDEO_TS.IFO"));
}

TEST_F(TocOnDisk, TitleCountsBeyondWhatTheTableOfContentsHoldsAreRefused) {
    writeTitleSet(1);
    const std::string path = video + "/VTS_01_0.IFO";
    const Bytes good = ReadWholeFile(path);
    ASSERT_EQ(Be16(good, 2048), 1u);
    AuthorMenuList menus;
    // Title count and chapter-table end of the title set's VTS_PTT_SRPT changed; the error text or "".
    auto tocWith = [&](uint32_t titles, uint32_t tableEnd) {
        Bytes ifo = good;
        ifo[2048] = static_cast<uint8_t>(titles >> 8);
        ifo[2049] = static_cast<uint8_t>(titles);
        for (int i = 0; i < 4; ++i)
            ifo[2048 + 4 + i] = static_cast<uint8_t>(tableEnd >> (24 - 8 * i));
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(ifo.data()), static_cast<std::streamsize>(ifo.size()));
        LogRecorder log;
        try {
            CreateToc(nullptr, menus, temp.path(), 1);
        } catch (const AuthorFatalError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    const std::string refused = path + " is not a title set information file";
    // The only title's chapters run from its offset (12) to the table's end + 1: 999 fit, 1000 do not
    // (the count would otherwise be cut to 16 bits in the title search table).
    EXPECT_EQ(tocWith(1, 12 + 4 * 999 - 1), "");
    EXPECT_EQ(Be16(ReadWholeFile(video + "/VIDEO_TS.IFO"), 2048 + 8 + 2), 999u);
    EXPECT_EQ(tocWith(1, 12 + 4 * 1000 - 1), refused);
    EXPECT_EQ(tocWith(1, 0x000C0000), refused);
    EXPECT_EQ(tocWith(100, 12 + 4 * 1 - 1), refused) << "a title set holds at most 99 titles";
}

TEST_F(TocOnDisk, InformationFileThatCannotBeWrittenIsReportedLikeOtherFileErrors) {
    writeTitleSet(1);
    AuthorMenuList menus;
    MemoryFiles files;
    files.failOpenContaining = "VIDEO_TS.BUP";
    AuthorRunOptions options;
    options.files = &files;
    LogRecorder log;
    try {
        CreateToc(nullptr, menus, temp.path(), 1, options);
        FAIL() << "no error";
    } catch (const AuthorFatalError& e) {
        EXPECT_EQ(std::string(e.what()), "Error opening " + video + "/VIDEO_TS.BUP: Permission denied");
    }
    files.failOpenContaining.clear();
    files.failWritesAfter = 4096; // the disk fills up inside the file
    EXPECT_THROW(CreateToc(nullptr, menus, temp.path(), 1, options), AuthorFatalError);
    EXPECT_TRUE(log.contains("ERR:  Error writing data to " + video + "/VIDEO_TS.")) << log.all();
}

} // namespace
