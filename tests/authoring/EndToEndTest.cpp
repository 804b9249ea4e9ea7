// qxauthor authors generated PAL and NTSC streams; libdvdread and libdvdnav judge the result, and the
// fields players rely on are checked byte by byte.
#include "DvdReaderCheck.h"
#include "FixtureSupport.h"
#include "IfoProbeSupport.h"

#include "AplAuthor.h"
#include "AuthorFolderLock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

const std::string kQxAuthor = std::string(QX_BIN_DIR) + "/qxauthor";

// One authored folder per suite, made once.
struct Authored {
    std::unique_ptr<TempFolder> temp;
    std::string folder;
    std::string video;
    ProgramResult run;
};

Authored authorStreams(const std::vector<std::string>& streams, const std::vector<std::string>& options = {}) {
    Authored a;
    a.temp = std::make_unique<TempFolder>();
    a.folder = a.temp->path() + "/DVD Movie";
    a.video = a.folder + "/VIDEO_TS/";
    std::vector<std::string> argv = {kQxAuthor, "-o", a.folder};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), streams.begin(), streams.end());
    a.run = RunProgram(argv);
    return a;
}

// The sectors of the VOBU address map of a title-set information file.
std::vector<uint32_t> vobuSectors(const Bytes& ifo) {
    size_t map = Be32(ifo, 0x0E4) * 2048;
    uint32_t end = Be32(ifo, map);
    std::vector<uint32_t> sectors;
    for (size_t at = map + 4; at + 3 <= map + end; at += 4)
        sectors.push_back(Be32(ifo, at));
    return sectors;
}

struct CellAddress {
    uint32_t vobId, cellId, first, last;
};

std::vector<CellAddress> cellAddresses(const Bytes& ifo) {
    size_t table = Be32(ifo, 0x0E0) * 2048;
    std::vector<CellAddress> cells;
    for (uint32_t i = 0; i < Be16(ifo, table); ++i) {
        size_t at = table + 8 + 12 * i;
        cells.push_back({Be16(ifo, at), ifo[at + 2], Be32(ifo, at + 4), Be32(ifo, at + 8)});
    }
    return cells;
}

class ThreePalTitles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_streams = {FixtureStream(TvStandard::Pal, 301), FixtureStream(TvStandard::Pal, 700),
                     FixtureStream(TvStandard::Pal, 40)};
        s_authored = new Authored(authorStreams(s_streams));
    }
    static void TearDownTestSuite() {
        delete s_authored;
        s_authored = nullptr;
    }
    void SetUp() override { ASSERT_EQ(s_authored->run.exitStatus, 0) << s_authored->run.output; }
    static const Authored& dvd() { return *s_authored; }
    static Bytes vtsIfo() { return ReadWholeFile(dvd().video + "VTS_01_0.IFO"); }
    static Bytes vmgIfo() { return ReadWholeFile(dvd().video + "VIDEO_TS.IFO"); }

    static std::vector<std::string> s_streams;
    static Authored* s_authored;
};
std::vector<std::string> ThreePalTitles::s_streams;
Authored* ThreePalTitles::s_authored = nullptr;

TEST_F(ThreePalTitles, WritesTheDriversLayout) {
    for (const char* name : {"VIDEO_TS.IFO", "VIDEO_TS.BUP", "VTS_01_0.IFO", "VTS_01_0.BUP", "VTS_01_1.VOB"})
        EXPECT_TRUE(FileExists(dvd().video + name)) << name;
    EXPECT_FALSE(FileExists(dvd().video + "VIDEO_TS.VOB"));
    EXPECT_FALSE(FileExists(dvd().video + "VTS_01_0.VOB"));
    EXPECT_FALSE(FileExists(dvd().video + "VTS_01_2.VOB"));
    ASSERT_TRUE(FileExists(dvd().folder + "/AUDIO_TS"));
    EXPECT_TRUE(ReadTree(dvd().folder + "/AUDIO_TS").empty());
    EXPECT_EQ(ReadWholeFile(dvd().video + "VTS_01_0.IFO"), ReadWholeFile(dvd().video + "VTS_01_0.BUP"));
    EXPECT_EQ(ReadWholeFile(dvd().video + "VIDEO_TS.IFO"), ReadWholeFile(dvd().video + "VIDEO_TS.BUP"));
    // Engine messages reach standard error as the diagnostic print writes them.
    EXPECT_NE(dvd().run.output.find("++ WARN: [???] INFO: QX DVD Author creating VTS"), std::string::npos);
    EXPECT_NE(dvd().run.output.find("STAT: fixed "), std::string::npos);
}

TEST_F(ThreePalTitles, LibdvdreadSeesTitlesChaptersAndDurations) {
    DvdReadReport report = ReadDvdFolder(dvd().folder);
    ASSERT_TRUE(report.opened);
    EXPECT_TRUE(report.complaints.empty()) << ::testing::PrintToString(report.complaints);
    EXPECT_EQ(report.titleSets, 1);
    ASSERT_EQ(report.titles.size(), 3u);
    const int chapters[3] = {2, 3, 1};
    const double seconds[3] = {301, 700, 40};
    for (int t = 0; t < 3; ++t) {
        SCOPED_TRACE("title " + std::to_string(t + 1));
        const DvdTitleSummary& title = report.titles[t];
        EXPECT_EQ(title.titleSet, 1);
        EXPECT_EQ(title.titleInSet, t + 1);
        EXPECT_EQ(title.chapters, chapters[t]);
        EXPECT_EQ(title.chaptersInSet, chapters[t]);
        EXPECT_EQ(title.programs, chapters[t]);
        EXPECT_EQ(title.cells, chapters[t]);
        EXPECT_NEAR(title.seconds, seconds[t], 0.1);
    }
}

TEST_F(ThreePalTitles, LsdvdListsTheSameTitles) {
    ProgramResult lsdvd = RunProgram({"lsdvd", "-x", dvd().folder}, 120);
    ASSERT_EQ(lsdvd.exitStatus, 0) << lsdvd.output;
    for (const char* line : {"Title: 01, Length: 00:05:01.000 Chapters: 02, Cells: 02, Audio streams: 01",
                             "Title: 02, Length: 00:11:40.000 Chapters: 03, Cells: 03, Audio streams: 01",
                             "Title: 03, Length: 00:00:40.000 Chapters: 01, Cells: 01, Audio streams: 01",
                             "Format: PAL, Aspect ratio: 4/3", "Format: ac3, Frequency: 48000"})
        EXPECT_NE(lsdvd.output.find(line), std::string::npos) << line << "\n" << lsdvd.output;
}

TEST_F(ThreePalTitles, PostCommandsChainTheTitles) {
    DvdReadReport report = ReadDvdFolder(dvd().folder);
    ASSERT_EQ(report.titles.size(), 3u);
    EXPECT_EQ(report.titles[0].firstPostCommand, Bytes({0x30, 0x03, 0, 0, 0, 0x02, 0, 0}));
    EXPECT_EQ(report.titles[1].firstPostCommand, Bytes({0x30, 0x03, 0, 0, 0, 0x03, 0, 0}));
    EXPECT_EQ(report.titles[2].firstPostCommand, Bytes(8, 0));
    ASSERT_EQ(report.firstPlayCommands.size(), 1u);
    EXPECT_EQ(report.firstPlayCommands[0], Bytes({0x30, 0x02, 0, 0, 0, 0x01, 0, 0}));
}

TEST_F(ThreePalTitles, LibdvdnavPlaysFromFirstPlayThroughEveryTitle) {
    DvdPlayReport play = PlayDvdFolder(dvd().folder, 2000000);
    EXPECT_TRUE(play.complaints.empty()) << ::testing::PrintToString(play.complaints);
    EXPECT_TRUE(play.reachedStop);
    EXPECT_EQ(play.titleOrder, std::vector<int>({1, 2, 3}));
    EXPECT_EQ(play.partsSeen, std::vector<int>({1001, 1002, 2001, 2002, 2003, 3001}));
    // Every sector of the title VOB is delivered exactly once: nav packs as events, the rest as blocks.
    long long vobSectors = static_cast<long long>(ReadWholeFile(dvd().video + "VTS_01_1.VOB").size() / 2048);
    EXPECT_EQ(play.blocks + play.navPackets, vobSectors);
}

TEST_F(ThreePalTitles, ChaptersStartAtTheCutPoints) {
    std::vector<double> starts;
    double duration = 0;
    ASSERT_TRUE(DescribeTitleChapters(dvd().folder, 2, starts, duration));
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_NEAR(starts[0], 0, 0.01);
    EXPECT_NEAR(starts[1], 300, 0.7); // the VOBU nearest to the cut, VOBUs are 0.6 s long
    EXPECT_NEAR(starts[2], 600, 0.7);
    EXPECT_NEAR(duration, 700, 0.1);
}

TEST_F(ThreePalTitles, TitleSetHeaderPlacesTablesWithoutMenus) {
    Bytes ifo = vtsIfo();
    ASSERT_GE(ifo.size(), 2048u * 6);
    EXPECT_EQ(std::string(ifo.begin(), ifo.begin() + 12), "DVDVIDEO-VTS");
    const uint32_t ifoSectors = static_cast<uint32_t>(ifo.size() / 2048);
    const uint32_t vobSectors = static_cast<uint32_t>(ReadWholeFile(dvd().video + "VTS_01_1.VOB").size() / 2048);
    EXPECT_EQ(Be32(ifo, 0x00C), 2 * ifoSectors + vobSectors - 1);
    EXPECT_EQ(Be32(ifo, 0x01C), ifoSectors - 1);
    EXPECT_EQ(ifo[0x021], 0x11);
    EXPECT_EQ(Be32(ifo, 0x080), 2047u);
    EXPECT_EQ(Be32(ifo, 0x0C0), 0u);
    EXPECT_EQ(Be32(ifo, 0x0C4), ifoSectors);
    EXPECT_EQ(Be32(ifo, 0x0C8), 1u);
    EXPECT_EQ(Be32(ifo, 0x0CC), 2u);
    EXPECT_EQ(Be32(ifo, 0x0D0), 0u);
    EXPECT_EQ(Be32(ifo, 0x0D4), 3u);
    EXPECT_EQ(Be32(ifo, 0x0D8), 0u);
    EXPECT_EQ(Be32(ifo, 0x0DC), 0u);
    EXPECT_GT(Be32(ifo, 0x0E0), 3u);
    EXPECT_GT(Be32(ifo, 0x0E4), Be32(ifo, 0x0E0));
    EXPECT_LT(Be32(ifo, 0x0E4), ifoSectors);
    EXPECT_TRUE(AllZero(ifo, 0x100, 0x100)); // no menu attributes without menus
    // MPEG-2, PAL, 4:3 with letterbox and pan-scan disallowed, 352x288.
    EXPECT_EQ(Be16(ifo, 0x200), 0x530Cu);
    EXPECT_EQ(Be16(ifo, 0x202), 1u); // one audio stream: AC-3, 48 kHz, mono, "drc"
    EXPECT_EQ(ifo[0x204], 0x00);
    EXPECT_EQ(ifo[0x205], 0xC0);
}

TEST_F(ThreePalTitles, ChapterTableNamesProgramsOfEachTitle) {
    Bytes ifo = vtsIfo();
    size_t ptt = 2048;
    ASSERT_EQ(Be16(ifo, ptt), 3u);
    const uint32_t offsets[3] = {Be32(ifo, ptt + 8), Be32(ifo, ptt + 12), Be32(ifo, ptt + 16)};
    EXPECT_EQ(offsets[0], 20u);
    EXPECT_EQ(offsets[1], 28u);
    EXPECT_EQ(offsets[2], 40u);
    EXPECT_EQ(Be32(ifo, ptt + 4), 43u); // last byte
    const uint32_t expected[6][2] = {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {2, 3}, {3, 1}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(Be16(ifo, ptt + 20 + 4 * i), expected[i][0]) << i;
        EXPECT_EQ(Be16(ifo, ptt + 22 + 4 * i), expected[i][1]) << i;
    }
}

TEST_F(ThreePalTitles, TimeMapsPointAtVobusOfTheRightCells) {
    Bytes ifo = vtsIfo();
    std::vector<uint32_t> vobus = vobuSectors(ifo);
    size_t table = Be32(ifo, 0x0D4) * 2048;
    ASSERT_EQ(Be16(ifo, table), 3u);
    EXPECT_EQ(Be32(ifo, table + 4) + 1, Be32(ifo, table + 16) + 4 + 4 * 40); // end address: last map ends the table
    const uint32_t expectedEntries[3] = {301, 700, 40};
    const int cellChanges[3] = {1, 2, 0};
    for (int t = 0; t < 3; ++t) {
        SCOPED_TRACE("title " + std::to_string(t + 1));
        size_t map = table + Be32(ifo, table + 8 + 4 * t);
        EXPECT_EQ(ifo[map], 1); // whole seconds: under 2040 s
        ASSERT_EQ(Be16(ifo, map + 2), expectedEntries[t]);
        uint32_t previous = 0;
        int changes = 0;
        for (uint32_t k = 0; k < expectedEntries[t]; ++k) {
            uint32_t entry = Be32(ifo, map + 4 + 4 * k);
            uint32_t sector = entry & 0x7FFFFFFF;
            changes += entry >> 31;
            EXPECT_TRUE(std::binary_search(vobus.begin(), vobus.end(), sector)) << "entry " << k;
            EXPECT_GE(sector, previous) << "entry " << k;
            previous = sector;
        }
        EXPECT_EQ(changes, cellChanges[t]);
    }
}

TEST_F(ThreePalTitles, NavigationPacksAgreeWithTheAddressTables) {
    Bytes ifo = vtsIfo();
    std::vector<uint32_t> vobus = vobuSectors(ifo);
    std::vector<CellAddress> cells = cellAddresses(ifo);
    ASSERT_EQ(cells.size(), 6u);
    const std::string vob = dvd().video + "VTS_01_1.VOB";
    Bytes all = ReadWholeFile(vob);
    auto pack = [&](uint32_t sector) { return Slice(all, sector * 2048, 2048); };
    for (const CellAddress& cell : cells) {
        SCOPED_TRACE("vob " + std::to_string(cell.vobId) + " cell " + std::to_string(cell.cellId));
        auto first = std::find(vobus.begin(), vobus.end(), cell.first);
        ASSERT_NE(first, vobus.end());
        auto lastStart = std::upper_bound(vobus.begin(), vobus.end(), cell.last) - 1;
        for (auto it = first; it <= lastStart; ++it) {
            Bytes p = pack(*it);
            ASSERT_EQ(Be32(p, 0x026), 0x000001BFu);
            ASSERT_EQ(Be32(p, 0x400), 0x000001BFu);
            EXPECT_EQ(Be32(p, 0x02D), *it);                                                 // PCI: this pack's sector
            EXPECT_EQ(Be32(p, 0x40B), *it);                                                 // DSI: this pack's sector
            EXPECT_EQ(Be16(p, 0x41F), cell.vobId);                                          // VOB id
            EXPECT_EQ(p[0x422], cell.cellId);                                               // cell id
            EXPECT_EQ(Be32(p, 0x40F), (it == lastStart ? cell.last : *(it + 1) - 1) - *it); // VOBU end address
            EXPECT_LE(Be32(p, 0x039), Be32(p, 0x03D));                                      // start <= end time
            if (it == first) {
                EXPECT_EQ(Be32(p, 0x545), 0x3FFFFFFFu); // nothing before the first VOBU of a cell
            } else {
                EXPECT_EQ(Be32(p, 0x545), 0x80000000u | (*it - *(it - 1))); // previous VOBU, with video
            }
            if (it != lastStart) {
                EXPECT_EQ(Be32(p, 0x541), 0x80000000u | (*(it + 1) - *it));
            }
        }
        // The last VOBU of a cell points nowhere forward: its targets lie in the next cell.
        Bytes last = pack(*lastStart);
        EXPECT_EQ(Be32(last, 0x541), 0x3FFFFFFFu);
        for (int step = 0; step < 19; ++step)
            EXPECT_EQ(Be32(last, 0x4F5 + 4 * step), 0x3FFFFFFFu) << "forward step " << step;
        EXPECT_EQ(Be32(last, 0x4F1), 0xBFFFFFFFu);
    }
    // Elapsed time within a cell restarts at the start of each cell.
    EXPECT_EQ(Be32(pack(cells[1].first), 0x045), 0x00000040u);
    EXPECT_EQ(Be32(pack(cells[1].first), 0x423), 0x00000040u);
}

TEST_F(ThreePalTitles, TableOfContentsListsEveryTitle) {
    Bytes vmg = vmgIfo();
    Bytes vts = vtsIfo();
    ASSERT_GE(vmg.size(), 3u * 2048);
    EXPECT_EQ(std::string(vmg.begin(), vmg.begin() + 12), "DVDVIDEO-VMG");
    const uint32_t ifoSectors = static_cast<uint32_t>(vmg.size() / 2048);
    EXPECT_EQ(Be32(vmg, 0x00C), 2 * ifoSectors - 1);
    EXPECT_EQ(Be16(vmg, 0x026), 1u);
    EXPECT_EQ(Be16(vmg, 0x028), 1u);
    EXPECT_EQ(vmg[0x02A], 1);
    EXPECT_EQ(Be16(vmg, 0x03E), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&vmg[0x40])), "QX DVD Author");
    EXPECT_EQ(Be32(vmg, 0x084), 0x400u);
    EXPECT_EQ(Be32(vmg, 0x080), 0x400u + 0xEC + 15);
    for (size_t field : {0x0C0, 0x0C8, 0x0D8, 0x0DC})
        EXPECT_EQ(Be32(vmg, field), 0u) << std::hex << field;
    // First-play PGC: no programs or cells, one pre-command jumping to title 1.
    EXPECT_EQ(vmg[0x407], 0xC0);
    EXPECT_EQ(Be16(vmg, 0x400 + 0xE4), 0xECu);
    EXPECT_EQ(Slice(vmg, 0x4EC, 8), Bytes({0, 1, 0, 0, 0, 0, 0, 15}));
    EXPECT_EQ(Slice(vmg, 0x4F4, 8), Bytes({0x30, 0x02, 0, 0, 0, 0x01, 0, 0}));

    size_t search = Be32(vmg, 0x0C4) * 2048;
    ASSERT_EQ(search, 2048u);
    EXPECT_EQ(Be16(vmg, search), 3u);
    EXPECT_EQ(Be32(vmg, search + 4), 8u + 36 - 1);
    const uint32_t chapters[3] = {2, 3, 1};
    for (uint32_t t = 0; t < 3; ++t) {
        size_t at = search + 8 + 12 * t;
        EXPECT_EQ(Slice(vmg, at, 8), Bytes({0x3C, 1, 0, static_cast<unsigned char>(chapters[t]), 0, 0, 1,
                                            static_cast<unsigned char>(t + 1)}));
        EXPECT_EQ(Be32(vmg, at + 8), 2 * ifoSectors); // title set 1 follows VIDEO_TS.IFO and .BUP
    }

    size_t atrt = Be32(vmg, 0x0D0) * 2048;
    EXPECT_EQ(Be16(vmg, atrt), 1u);
    EXPECT_EQ(Be32(vmg, atrt + 4), 787u);
    EXPECT_EQ(Be32(vmg, atrt + 8), 12u);
    EXPECT_EQ(Be32(vmg, atrt + 12), 775u);
    EXPECT_EQ(Slice(vmg, atrt + 20, 768), Slice(vts, 0x100, 768));
}

TEST_F(ThreePalTitles, TheJudgesNoticeABrokenTable) {
    // The same disc with the program chain table pointing past the end of the information file: the
    // checks above would be worthless if the readers let that pass.
    TempFolder copy;
    std::filesystem::copy(dvd().folder, copy.path() + "/dvd", std::filesystem::copy_options::recursive);
    for (const char* name : {"VTS_01_0.IFO", "VTS_01_0.BUP"}) {
        std::fstream file(copy.path() + "/dvd/VIDEO_TS/" + name, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(0x0CC);
        file.write("\x00\x00\x10\x00", 4);
    }
    DvdReadReport report = ReadDvdFolder(copy.path() + "/dvd");
    EXPECT_FALSE(report.complaints.empty());
}

TEST_F(ThreePalTitles, AuthoringTwiceGivesTheSameBytes) {
    Authored again = authorStreams(s_streams);
    ASSERT_EQ(again.run.exitStatus, 0) << again.run.output;
    auto first = ReadTree(dvd().folder);
    auto second = ReadTree(again.folder);
    ASSERT_EQ(first.size(), second.size());
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].first, second[i].first);
        EXPECT_TRUE(first[i].second == second[i].second) << first[i].first << " differs";
    }
}

TEST(SinglePalTitle, EndsWithoutPostCommandAndPlaysToTheEnd) {
    Authored a = authorStreams({FixtureStream(TvStandard::Pal, 40)});
    ASSERT_EQ(a.run.exitStatus, 0) << a.run.output;
    DvdReadReport report = ReadDvdFolder(a.folder);
    EXPECT_TRUE(report.complaints.empty()) << ::testing::PrintToString(report.complaints);
    ASSERT_EQ(report.titles.size(), 1u);
    EXPECT_EQ(report.titles[0].chapters, 1);
    EXPECT_EQ(report.titles[0].firstPostCommand, Bytes(8, 0));
    DvdPlayReport play = PlayDvdFolder(a.folder, 200000);
    EXPECT_TRUE(play.reachedStop);
    EXPECT_EQ(play.titleOrder, std::vector<int>({1}));
}

TEST(NtscTitle, ChaptersEveryTwentySecondsAtNtscRates) {
    Authored a = authorStreams({FixtureStream(TvStandard::Ntsc, 65)}, {"--chapter-seconds", "20"});
    ASSERT_EQ(a.run.exitStatus, 0) << a.run.output;
    DvdReadReport report = ReadDvdFolder(a.folder);
    EXPECT_TRUE(report.complaints.empty()) << ::testing::PrintToString(report.complaints);
    ASSERT_EQ(report.titles.size(), 1u);
    EXPECT_EQ(report.titles[0].chapters, 4); // 0, 20, 40, 60 of a stream measured at 64.998 s
    EXPECT_NEAR(report.titles[0].seconds, 65, 0.2);
    DvdPlayReport play = PlayDvdFolder(a.folder, 500000);
    EXPECT_TRUE(play.complaints.empty()) << ::testing::PrintToString(play.complaints);
    EXPECT_TRUE(play.reachedStop);
    EXPECT_EQ(play.partsSeen, std::vector<int>({1001, 1002, 1003, 1004}));

    Bytes ifo = ReadWholeFile(a.video + "VTS_01_0.IFO");
    EXPECT_EQ(Be16(ifo, 0x200), 0x430Cu); // MPEG-2, NTSC, 4:3, both disallowed, 352x240
    size_t pgcit = Be32(ifo, 0x0CC) * 2048;
    size_t pgc = pgcit + Be32(ifo, pgcit + 12);
    EXPECT_EQ(ifo[pgcit + 8], 0x81);      // entry PGC of title 1
    EXPECT_EQ(ifo[pgc + 7] & 0xC0, 0xC0); // playback time carries the 30 fps flag
}

TEST(QxAuthorFaults, UnwritableOutputFolderFailsWithAMessage) {
    TempFolder temp;
    std::string blocker = temp.path() + "/not-a-folder";
    { std::ofstream(blocker) << "x"; }
    ProgramResult run = RunProgram({kQxAuthor, "-o", blocker + "/DVD Movie", FixtureStream(TvStandard::Pal, 40)});
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_NE(run.output.find("cannot create"), std::string::npos) << run.output;
}

TEST(QxAuthorFaults, MissingStreamFailsBeforeWritingAnything) {
    TempFolder temp;
    ProgramResult run = RunProgram({kQxAuthor, "-o", temp.path() + "/out", temp.path() + "/missing.mpg"});
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_NE(run.output.find("missing.mpg: No such file or directory"), std::string::npos) << run.output;
    EXPECT_FALSE(FileExists(temp.path() + "/out"));
}

TEST(QxAuthorFaults, RefusesAFolderHoldingAnEarlierDiscUnlessAskedToReplaceIt) {
    Authored a = authorStreams({FixtureStream(TvStandard::Pal, 40)});
    ASSERT_EQ(a.run.exitStatus, 0) << a.run.output;
    Bytes before = ReadWholeFile(a.video + "VIDEO_TS.IFO");
    ProgramResult again = RunProgram({kQxAuthor, "-o", a.folder, FixtureStream(TvStandard::Pal, 40)});
    EXPECT_EQ(again.exitStatus, 1);
    EXPECT_NE(again.output.find("already holds DVD files"), std::string::npos) << again.output;
    EXPECT_EQ(ReadWholeFile(a.video + "VIDEO_TS.IFO"), before);
    ProgramResult replaced = RunProgram({kQxAuthor, "-o", a.folder, "--replace", FixtureStream(TvStandard::Pal, 301)});
    EXPECT_EQ(replaced.exitStatus, 0) << replaced.output;
    DvdReadReport report = ReadDvdFolder(a.folder);
    ASSERT_EQ(report.titles.size(), 1u);
    EXPECT_EQ(report.titles[0].chapters, 2);
}

TEST(QxAuthorFaults, ReplaceNeverDeletesItsOwnInput) {
    Authored a = authorStreams({FixtureStream(TvStandard::Pal, 40)});
    ASSERT_EQ(a.run.exitStatus, 0) << a.run.output;
    const Bytes input = ReadWholeFile(a.video + "VTS_01_1.VOB");
    ProgramResult run = RunProgram({kQxAuthor, "-o", a.folder, "--replace", a.video + "VTS_01_1.VOB"});
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_NE(run.output.find("lies inside the output folder"), std::string::npos) << run.output;
    EXPECT_EQ(ReadWholeFile(a.video + "VTS_01_1.VOB"), input);
}

TEST(QxAuthorFaults, OneRunAtATimePerOutputFolder) {
    TempFolder temp;
    const std::string out = temp.path() + "/out";
    std::string error;
    ASSERT_TRUE(AuthorCreateFolderPath(out, error)) << error;
    AuthorFolderLock other;
    ASSERT_TRUE(other.Acquire(out, error)) << error;
    ProgramResult run = RunProgram({kQxAuthor, "-o", out, FixtureStream(TvStandard::Pal, 40)});
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_NE(run.output.find("another authoring run"), std::string::npos) << run.output;
    EXPECT_FALSE(FileExists(out + "/VIDEO_TS/VTS_01_1.VOB"));
}

TEST(QxAuthorFaults, AGapInThePartFilesIsRefused) {
    TempFolder temp;
    const std::string stream = temp.path() + "/p.vob";
    std::filesystem::copy_file(FixtureStream(TvStandard::Pal, 40), stream);
    std::filesystem::copy_file(FixtureStream(TvStandard::Pal, 40), stream + ".part2");
    ProgramResult run = RunProgram({kQxAuthor, "-o", temp.path() + "/out", "--parts", stream});
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_NE(run.output.find("p.vob.part1 does not"), std::string::npos) << run.output;
    EXPECT_FALSE(FileExists(temp.path() + "/out"));
}

TEST(QxAuthorFaults, NotAProgramStreamIsRefused) {
    TempFolder temp;
    std::string junk = temp.path() + "/junk.mpg";
    { std::ofstream(junk) << std::string(100000, 'j'); }
    ProgramResult run = RunProgram({kQxAuthor, "-o", temp.path() + "/out", junk});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.output.find("no MPEG program stream timestamps found"), std::string::npos) << run.output;
}

TEST(QxAuthorFaults, UsageErrorsExitWithTwo) {
    EXPECT_EQ(RunProgram({kQxAuthor}).exitStatus, 2);
    EXPECT_EQ(RunProgram({kQxAuthor, "-o", "/tmp/x"}).exitStatus, 2);
    EXPECT_EQ(RunProgram({kQxAuthor, "-o", "/tmp/x", "--chapter-seconds", "ten", "a.mpg"}).exitStatus, 2);
    EXPECT_EQ(RunProgram({kQxAuthor, "--help"}).exitStatus, 0);
}

} // namespace
