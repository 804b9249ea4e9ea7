// Layouts beyond the driver's everyday one: menus in the title set and the video manager, title VOBs
// split across files, and sources continued in part files.
#include "AplAuthor.h"
#include "AuthorTitleSet.h"
#include "AuthorToc.h"
#include "DvdReaderCheck.h"
#include "FixtureSupport.h"
#include "IfoProbeSupport.h"
#include "MemoryFilesSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

std::unique_ptr<PgcGroup> groupPlaying(int kind, const std::string& stream, unsigned entries,
                                       const AuthorCommand* post) {
    auto group = std::make_unique<PgcGroup>(kind);
    auto pgc = std::make_unique<ProgramChain>();
    AuthorSourceRef ref;
    ref.path = stream;
    ref.cells.push_back(AuthorCellSpec());
    pgc->sources.push_back(ref);
    pgc->entries = entries;
    if (post)
        pgc->postCommands.push_back(*post);
    group->pgcs.push_back(std::move(pgc));
    return group;
}

TEST(Menus, TitleSetAndVideoManagerMenusAreWrittenAndReadable) {
    TempFolder temp;
    const std::string out = temp.path() + "/dvd";
    const std::string movie = FixtureStream(TvStandard::Pal, 40);
    const std::string menu = FixtureStream(TvStandard::Pal, 6);
    const AuthorCommand playTitle1 = {0x30, 0x02, 0, 0, 0, 0x01, 0, 0};
    LogRecorder log;

    AuthorMenuList setMenus;
    setMenus.AddLanguage("en", groupPlaying(GROUP_TITLE_MENUS, menu, 1u << ENTRY_ROOT, &playTitle1));
    auto titles = groupPlaying(GROUP_TITLES, movie, 0, nullptr);
    ASSERT_EQ(CreateTitleSet(setMenus, *titles, out), 1);
    AuthorMenuList managerMenus;
    managerMenus.AddLanguage("en", groupPlaying(GROUP_VMG_MENUS, menu, 1u << ENTRY_TITLE, &playTitle1));
    CreateToc(nullptr, managerMenus, out, 1);

    const std::string video = out + "/VIDEO_TS/";
    for (const char* name : {"VIDEO_TS.VOB", "VTS_01_0.VOB", "VTS_01_1.VOB"})
        EXPECT_TRUE(FileExists(video + name)) << name;
    Bytes vts = ReadWholeFile(video + "VTS_01_0.IFO");
    EXPECT_EQ(vts, ReadWholeFile(video + "VTS_01_0.BUP"));
    const uint32_t ifoSectors = static_cast<uint32_t>(vts.size() / 2048);
    const uint32_t menuSectors = static_cast<uint32_t>(ReadWholeFile(video + "VTS_01_0.VOB").size() / 2048);
    const uint32_t titleSectors = static_cast<uint32_t>(ReadWholeFile(video + "VTS_01_1.VOB").size() / 2048);
    EXPECT_EQ(Be32(vts, 0x00C), 2 * ifoSectors + menuSectors + titleSectors - 1);
    EXPECT_EQ(Be32(vts, 0x0C0), ifoSectors);
    EXPECT_EQ(Be32(vts, 0x0C4), ifoSectors + menuSectors);
    EXPECT_EQ(Be32(vts, 0x0D0), 3u); // menus by language follow the title program chains
    EXPECT_EQ(Be32(vts, 0x0D4), 4u);
    EXPECT_EQ(Be32(vts, 0x0D8), 5u);
    EXPECT_EQ(Be32(vts, 0x0DC), 6u);
    EXPECT_EQ(Be32(vts, 0x0E0), 7u);
    EXPECT_EQ(Be16(vts, 0x100), Be16(vts, 0x200)); // menu and titles share the video coding
    size_t languages = 3 * 2048;
    EXPECT_EQ(Slice(vts, languages, 2), Bytes({0, 1}));
    EXPECT_EQ(Slice(vts, languages + 8, 4), Bytes({'e', 'n', 0, 0x80}));
    size_t unit = languages + Be32(vts, languages + 12);
    EXPECT_EQ(vts[unit + 8], 0x83); // root menu entry

    Bytes vmg = ReadWholeFile(video + "VIDEO_TS.IFO");
    EXPECT_EQ(vmg, ReadWholeFile(video + "VIDEO_TS.BUP"));
    const uint32_t vmgSectors = static_cast<uint32_t>(vmg.size() / 2048);
    const uint32_t vmgMenuSectors = static_cast<uint32_t>(ReadWholeFile(video + "VIDEO_TS.VOB").size() / 2048);
    EXPECT_EQ(Be32(vmg, 0x0C0), vmgSectors);
    EXPECT_EQ(Be32(vmg, 0x00C), 2 * vmgSectors + vmgMenuSectors - 1);
    EXPECT_NE(Be32(vmg, 0x0C8), 0u);
    EXPECT_NE(Be32(vmg, 0x0D8), 0u);
    EXPECT_NE(Be32(vmg, 0x0DC), 0u);
    EXPECT_EQ(Slice(vmg, 0x4F4, 8), Bytes({0x30, 0x06, 0, 0, 0, 0x42, 0, 0})); // to the video manager's menu
    EXPECT_EQ(Be32(vmg, 2048 + 16), 2 * vmgSectors + vmgMenuSectors);          // title set 1 after the menu VOB

    DvdReadReport report = ReadDvdFolder(out);
    EXPECT_TRUE(report.complaints.empty()) << ::testing::PrintToString(report.complaints);
    EXPECT_EQ(report.managerMenuPgcs, 1);
    EXPECT_EQ(report.titleSetMenuPgcs, std::vector<int>({1}));
    ASSERT_EQ(report.titles.size(), 1u);
    EXPECT_EQ(report.titles[0].firstPostCommand.size(), 0u); // no post-command: the title ends in a still
    // The player starts in the video manager's menu, which plays title 1, which ends the disc.
    DvdPlayReport play = PlayDvdFolder(out, 200000);
    EXPECT_TRUE(play.complaints.empty()) << ::testing::PrintToString(play.complaints);
    EXPECT_TRUE(play.reachedStop);
    EXPECT_EQ(play.titleOrder, std::vector<int>({1}));
}

TEST(Menus, AnotherTitleSetNumberWhenTheFirstIsTaken) {
    TempFolder temp;
    const std::string video = temp.path() + "/VIDEO_TS";
    std::string error;
    ASSERT_TRUE(AuthorCreateFolderPath(video, error)) << error;
    std::ofstream(video + "/vts_01_0.ifo") << "an earlier title set, in lower case";
    AuthorMenuList menus;
    auto titles = groupPlaying(GROUP_TITLES, FixtureStream(TvStandard::Pal, 6), 0, nullptr);
    LogRecorder log;
    EXPECT_EQ(CreateTitleSet(menus, *titles, temp.path()), 2);
    EXPECT_TRUE(log.contains("STAT: Picking VTS 02\n"));
    EXPECT_TRUE(FileExists(video + "/VTS_02_0.IFO"));
    EXPECT_TRUE(FileExists(video + "/VTS_02_1.VOB"));
}

TEST(VobSplit, TitleVobsContinueInTheNextFileAndStillPlay) {
    TempFolder temp;
    const std::string stream = FixtureStream(TvStandard::Pal, 40);
    AplAuthor author;
    ASSERT_TRUE(author.SetOutputFolder(temp.path()));
    ASSERT_TRUE(author.BeginTitleSet());
    ASSERT_TRUE(author.AddTitle(stream, 15, 40, AUTHOR_POST_NONE));
    author.EndTitleSet();
    author.SetVobSectorLimit(400);
    LogRecorder log;
    ASSERT_TRUE(author.CreateDVD()) << author.LastError();

    const std::string video = temp.path() + "/VIDEO_TS/";
    size_t total = 0;
    int files = 0;
    for (int k = 1; FileExists(video + "VTS_01_" + std::to_string(k) + ".VOB"); ++k, ++files) {
        size_t size = ReadWholeFile(video + "VTS_01_" + std::to_string(k) + ".VOB").size();
        if (FileExists(video + "VTS_01_" + std::to_string(k + 1) + ".VOB")) {
            EXPECT_EQ(size, 400u * 2048) << k;
        }
        total += size;
    }
    EXPECT_GE(files, 3);
    EXPECT_EQ(total / 2048, ReadWholeFile(stream).size() / 2048);
    // Every VOBU of the map carries its own group sector in the file it landed in.
    Bytes ifo = ReadWholeFile(video + "VTS_01_0.IFO");
    size_t map = Be32(ifo, 0x0E4) * 2048;
    for (size_t at = map + 4; at < map + Be32(ifo, map); at += 4) {
        uint32_t sector = Be32(ifo, at);
        Bytes pack = ReadSector(video + "VTS_01_" + std::to_string(sector / 400 + 1) + ".VOB", sector % 400);
        ASSERT_EQ(Be32(pack, 0x02D), sector);
        ASSERT_EQ(Be32(pack, 0x40B), sector);
    }
    DvdReadReport report = ReadDvdFolder(temp.path());
    EXPECT_TRUE(report.complaints.empty()) << ::testing::PrintToString(report.complaints);
    ASSERT_EQ(report.titles.size(), 1u);
    EXPECT_EQ(report.titles[0].chapters, 3);
    DvdPlayReport play = PlayDvdFolder(temp.path(), 200000);
    EXPECT_TRUE(play.reachedStop);
    EXPECT_EQ(play.blocks + play.navPackets, static_cast<long>(total / 2048));
}

TEST(PartFiles, ASourceSplitIntoPartFilesAuthorsLikeTheWholeOne) {
    TempFolder temp;
    const std::string whole = FixtureStream(TvStandard::Pal, 40);
    Bytes bytes = ReadWholeFile(whole);
    const std::string split = temp.path() + "/movie.mpg";
    size_t third = bytes.size() / 3 / 2048 * 2048;
    auto write = [&](const std::string& name, size_t from, size_t to) {
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data() + from), to - from);
    };
    write(split, 0, third);
    write(split + ".part1", third, 2 * third);
    write(split + ".part2", 2 * third, bytes.size());

    const std::string qxauthor = std::string(QX_BIN_DIR) + "/qxauthor";
    ProgramResult a = RunProgram({qxauthor, "-o", temp.path() + "/a", whole});
    ProgramResult b = RunProgram({qxauthor, "-o", temp.path() + "/b", "--parts", split});
    ASSERT_EQ(a.exitStatus, 0) << a.output;
    ASSERT_EQ(b.exitStatus, 0) << b.output;
    for (const char* name : {"VTS_01_1.VOB", "VTS_01_0.IFO", "VIDEO_TS.IFO"})
        EXPECT_TRUE(ReadWholeFile(temp.path() + "/a/VIDEO_TS/" + name) ==
                    ReadWholeFile(temp.path() + "/b/VIDEO_TS/" + name))
            << name;
    // Without the flag only the first part is authored.
    ProgramResult c = RunProgram({qxauthor, "-o", temp.path() + "/c", split});
    ASSERT_EQ(c.exitStatus, 0) << c.output;
    EXPECT_EQ(ReadWholeFile(temp.path() + "/c/VIDEO_TS/VTS_01_1.VOB").size(), third);
}

} // namespace
