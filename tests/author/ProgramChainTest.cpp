// Program chains after a scan: group checks, sources, colour tables, cell building, programs and
// chapters, the audio-gap rule and the PGCI record, on sources with hand-made VOBU records.
#include "ProgramChain.h"
#include "AuthorError.h"
#include "AuthorStreamSupport.h"

#include <gtest/gtest.h>

using namespace qxtest;

namespace {

// `count` VOBUs of `duration` ticks from `start`, 10 sectors each from `firstSector`.
void FillVobus(AuthorSource& source, int count, long long start, long long duration, int firstSector = 0) {
    for (int i = 0; i < count; ++i) {
        VobuInfo v;
        v.firstSector = firstSector + 10 * i;
        v.lastSector = v.firstSector + 9;
        v.hasVideo = true;
        v.vobuStart = v.videoStart = start + i * duration;
        v.vobuEnd = v.videoEnd = v.vobuStart + duration;
        source.vobus.push_back(v);
    }
}

AuthorCellSpec Cell(double start, double end, int mark = 1, int pause = 0) {
    AuthorCellSpec c;
    c.start = static_cast<long long>(start * 90000);
    c.end = end < 0 ? -89999 : static_cast<long long>(end * 90000);
    c.chapterMark = mark;
    c.pause = pause;
    return c;
}

AuthorCommand Jump(int title) {
    return AuthorCommand{0x30, 0x03, 0, 0, 0, static_cast<uint8_t>(title), 0, 0};
}

// A group with one PGC per entry of `pgcs`, each a list of (source path, cells).
struct Group {
    explicit Group(int kind = GROUP_TITLES) : group(kind) {}
    ProgramChain& Add(std::vector<std::pair<std::string, std::vector<AuthorCellSpec>>> refs) {
        auto pgc = std::make_unique<ProgramChain>();
        for (auto& [path, cells] : refs) {
            AuthorSourceRef ref;
            ref.path = path;
            ref.cells = cells;
            pgc->sources.push_back(ref);
        }
        pgc->postCommands.push_back(Jump(1));
        group.pgcs.push_back(std::move(pgc));
        return *group.pgcs.back();
    }
    // Resolves the sources and gives source i the VOBU records made by `fill`, as a scan would.
    void Resolve(const std::function<void(AuthorSource&, int)>& fill) {
        AuthorCollectSources(group, all);
        for (size_t i = 0; i < group.sources.size(); ++i) {
            group.sources[i]->vobId = static_cast<int>(i) + 1;
            fill(*group.sources[i], static_cast<int>(i));
        }
    }
    std::string BuildFatal() {
        try {
            AuthorBuildCells(group);
        } catch (const AuthorFatalError& e) {
            return e.what();
        }
        return "";
    }
    PgcGroup group;
    std::vector<ProgramChain*> all;
    LogCapture log;
};

int CellStartOf(const AuthorSource& source, int cellId) {
    return source.cells.at(cellId - 1).firstVobu;
}

TEST(ProgramChainTest, AThousandSecondMovieHasFourChaptersAtTheNearestVobus) {
    Group g;
    ProgramChain& pgc = g.Add({{"movie", {Cell(0, 300), Cell(300, 600), Cell(600, 900), Cell(900, -1)}}});
    // VOBUs of 0.52 s from 0.54 s: 300 s lies 3600 ticks before VOBU 577, closer than VOBU 576's start.
    g.Resolve([](AuthorSource& s, int) { FillVobus(s, 1924, 48600, 46800); });
    ASSERT_EQ(g.BuildFatal(), "");
    const AuthorSource& source = *g.group.sources[0];
    ASSERT_EQ(source.cells.size(), 4u);
    EXPECT_EQ(CellStartOf(source, 1), 0);
    EXPECT_EQ(CellStartOf(source, 2), 577);
    EXPECT_EQ(CellStartOf(source, 3), 1154);
    EXPECT_EQ(CellStartOf(source, 4), 1731);
    EXPECT_EQ(source.cells[3].lastVobu, 1923);
    EXPECT_EQ(source.vobus[600].cellKey, 256 + 2);
    EXPECT_EQ(source.vobus[600].cellFirstVobu, 577);
    EXPECT_EQ(source.vobus[600].cellLastVobu, 1153);
    EXPECT_EQ(pgc.numPrograms, 4);
    EXPECT_EQ(pgc.numChapters, 4);
    EXPECT_EQ(pgc.numCells, 4);
    EXPECT_EQ(pgc.sources[0].cells[3].firstCell, 4);
    EXPECT_EQ(pgc.sources[0].cells[3].endCell, 5);
    EXPECT_EQ(AuthorPgcDuration(pgc), 1924LL * 46800);
}

TEST(ProgramChainTest, NearestVobuSearchBoundaries) {
    AuthorSource s;
    FillVobus(s, 4, 1000, 100); // starts 1000, 1100, 1200, 1300; ends at 1400
    EXPECT_EQ(AuthorFindVobu(s, -1), -1);
    EXPECT_EQ(AuthorFindVobu(s, 0), 0);
    EXPECT_EQ(AuthorFindVobu(s, 49), 0);
    EXPECT_EQ(AuthorFindVobu(s, 50), 0) << "a tie stays with the earlier VOBU";
    EXPECT_EQ(AuthorFindVobu(s, 51), 1);
    EXPECT_EQ(AuthorFindVobu(s, 399), 3);
    EXPECT_EQ(AuthorFindVobu(s, 400), 4) << "at the end of the last VOBU: past the end";
    AuthorSource empty;
    EXPECT_EQ(AuthorFindVobu(empty, 0), -1);
}

TEST(ProgramChainTest, SpecificationsResolvingToTheSameVobuAreEmpty) {
    Group g;
    ProgramChain& pgc = g.Add({{"movie", {Cell(0, 10), Cell(10, 10.1), Cell(10.1, -1, 2)}}});
    g.Resolve([](AuthorSource& s, int) { FillVobus(s, 60, 0, 45000); });
    ASSERT_EQ(g.BuildFatal(), "");
    EXPECT_EQ(g.group.sources[0]->cells.size(), 2u);
    EXPECT_EQ(pgc.numCells, 2);
    EXPECT_EQ(pgc.numPrograms, 2) << "the empty specification adds no program";
    EXPECT_EQ(pgc.numChapters, 1) << "the last specification is a program without a chapter";
    EXPECT_EQ(pgc.sources[0].cells[1].firstCell, pgc.sources[0].cells[1].endCell);
}

TEST(ProgramChainTest, GopNotClosedWarningOnlyWhereACellStartsAnew) {
    Group g;
    g.Add({{"movie", {Cell(0, 5), Cell(5, -1)}}, {"movie", {Cell(12, -1)}}});
    g.Resolve([](AuthorSource& s, int) {
        FillVobus(s, 40, 0, 45000);
        for (VobuInfo& v : s.vobus)
            v.leadingFields = 4;
    });
    ASSERT_EQ(g.BuildFatal(), "");
    // Cell 2 continues where cell 1 ended; the second reference starts a new run at VOBU 24.
    EXPECT_EQ(g.log.count("WARN: GOP is not closed on cell 1 of source movie of pgc 1\n"), 2);
    EXPECT_EQ(g.log.count("WARN: GOP is not closed on cell 2"), 0);
}

TEST(ProgramChainTest, CheckingAGroupMendsChaptersAndPausesAndReportsEntryErrors) {
    {
        Group g;
        ProgramChain& a = g.Add({{"one", {}}, {"two", {Cell(0, 10, 0), Cell(10, -1, 0)}}});
        a.postCommands.clear();
        ProgramChain& b = g.Add({{"three", {Cell(0, -1)}}});
        AuthorCheckGroup(g.group);
        EXPECT_EQ(a.sources[1].cells[0].chapterMark, 1);
        EXPECT_EQ(a.sources[1].cells[1].chapterMark, 0);
        EXPECT_EQ(a.sources[1].cells[1].pause, 255) << "no post-command: an infinite still at the end";
        EXPECT_EQ(b.sources[0].cells[0].pause, 0);
        EXPECT_EQ(g.log.lines, (std::vector<std::string>{
                                   "WARN: Source has no cells (one) in PGC 0\n",
                                   "WARN: First cell is not marked as a chapter in PGC 0, setting chapter flag\n"}));
    }
    {
        Group g(GROUP_TITLE_MENUS);
        g.Add({}).entries = (1u << ENTRY_ROOT) | (1u << ENTRY_PTT);
        g.Add({}).entries = (1u << ENTRY_ROOT) | (1u << ENTRY_TITLE);
        try {
            AuthorCheckGroup(g.group);
            ADD_FAILURE() << "accepted";
        } catch (const AuthorFatalError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Entry title is not allowed for menu type VTSM Multiple definitions for entry root, 2nd "
                      "occurance in PGC #1");
        }
        EXPECT_EQ(g.log.lines, (std::vector<std::string>{"ERR:  Entry title is not allowed for menu type VTSM\n",
                                                         "ERR:  Multiple definitions for entry root, 2nd occurance "
                                                         "in PGC #1\n"}));
        EXPECT_EQ(g.group.numEntries, 3);
    }
    {
        Group g(GROUP_VMG_MENUS);
        g.Add({}).entries = 1u << ENTRY_TITLE;
        AuthorCheckGroup(g.group);
        EXPECT_EQ(g.group.numEntries, 1);
    }
}

TEST(ProgramChainTest, SourcesAreSharedByPathAndColourTablesByTheirSources) {
    Group g;
    ProgramChain& a = g.Add({{"x", {Cell(0, -1)}}});
    ProgramChain& b = g.Add({{"y", {Cell(0, -1)}}, {"x", {Cell(0, -1)}}});
    ProgramChain& c = g.Add({{"z", {Cell(0, -1)}}});
    ProgramChain& d = g.Add({{"y", {Cell(0, -1)}}});
    ProgramChain& e = g.Add({{"X", {Cell(0, -1)}}});
    AuthorColorTable red;
    red.fill(0x51F05A);
    AuthorColorTable blue;
    blue.fill(0x29F06E);
    a.colors = red;
    d.colors = blue;
    AuthorCollectSources(g.group, g.all);
    ASSERT_EQ(g.group.sources.size(), 4u) << "paths compare case-sensitively";
    EXPECT_EQ(b.sources[1].source, a.sources[0].source);
    EXPECT_EQ(g.group.sources[1]->path, "y");
    AuthorResolveColors(g.all);
    EXPECT_EQ(*b.colors, red);
    EXPECT_EQ(*d.colors, blue);
    EXPECT_EQ((*c.colors)[0], AUTHOR_DEFAULT_COLOR);
    EXPECT_EQ((*e.colors)[0], AUTHOR_DEFAULT_COLOR);
    EXPECT_EQ(g.log.lines, std::vector<std::string>{"WARN: Conflict in colormap between PGC 1 and 3\n"});
}

TEST(ProgramChainTest, LimitsOnCellsAndPrograms) {
    {
        Group g;
        std::vector<AuthorCellSpec> cells;
        for (int i = 0; i < 255; ++i) // 255 specifications: their ends start a 256th cell
            cells.push_back(Cell(i, i + 1));
        g.Add({{"many", cells}});
        g.Resolve([](AuthorSource& s, int) { FillVobus(s, 600, 0, 45000); });
        EXPECT_EQ(g.BuildFatal(), "VOB many has too many cells (256, 256 allowed)");
        EXPECT_EQ(g.log.lines.back(), "ERR:  VOB many has too many cells (256, 256 allowed)\n");
    }
    {
        Group g;
        std::vector<AuthorCellSpec> cells;
        for (int i = 0; i < 128; ++i)
            cells.push_back(Cell(i, i + 1));
        g.Add({{"a", cells}, {"b", cells}});
        g.Resolve([](AuthorSource& s, int) { FillVobus(s, 300, 0, 45000); });
        EXPECT_EQ(g.BuildFatal(), "PGC 1 has too many programs (256, 256 allowed)");
    }
    {
        // 255 programs are fine, but 300 cells do not fit the PGCI's one-byte cell count.
        Group g;
        std::vector<AuthorCellSpec> cells;
        for (int i = 0; i < 150; ++i)
            cells.push_back(Cell(i, i + 1, i < 120 ? 1 : 0));
        g.Add({{"a", cells}, {"b", cells}});
        g.Resolve([](AuthorSource& s, int) { FillVobus(s, 400, 0, 45000); });
        EXPECT_EQ(g.BuildFatal(), "PGC 1 has too many cells (300, 255 allowed)");
    }
}

// Two sources with one cell each (and source 0 with a second cell), both with VOBUs of 1 s.
struct GapGroup : Group {
    GapGroup(bool audioA, bool audioB, long long startB) {
        Add({{"a", {Cell(0, 5), Cell(5, -1)}}, {"b", {Cell(0, -1)}}});
        Resolve([&](AuthorSource& s, int i) {
            FillVobus(s, 10, i == 0 ? 0 : startB, 90000, i * 100);
            bool audio = i == 0 ? audioA : audioB;
            if (audio)
                s.channels[0].entries.push_back(AuthorTimelineEntry{0, 1000, 0});
        });
        AuthorBuildCells(group);
        group.attributes.numAudio = 1;
        group.attributes.audio[0].format = AUDIO_AC3;
        group.attributes.audio[0].streamNumber = 1;
    }
};

TEST(ProgramChainTest, AudioGapBetweenCells) {
    {
        GapGroup g(true, true, 10 * 90000); // b's first VOBU starts where a's last one ends
        EXPECT_FALSE(AuthorAudioGap(g.group, 0x101, 0x102));
        EXPECT_FALSE(AuthorAudioGap(g.group, 0x102, 0x201));
        EXPECT_FALSE(AuthorAudioGap(g.group, 0, 0x201)) << "no previous cell";
        EXPECT_TRUE(g.log.lines.empty());
        EXPECT_TRUE(AuthorAudioGap(g.group, 0x102, 0x101));
        EXPECT_EQ(g.log.lines, std::vector<std::string>{
                                   "WARN: Do not know how to compute the audio gap, assuming discontinuity.\n"});
        EXPECT_TRUE(AuthorAudioGap(g.group, 0x101, 0x201)) << "a's first cell is not its last";
    }
    {
        GapGroup g(true, true, 0); // each source re-timed to 0: a real discontinuity
        EXPECT_TRUE(AuthorAudioGap(g.group, 0x102, 0x201));
    }
    {
        GapGroup g(true, false, 0);
        EXPECT_FALSE(AuthorAudioGap(g.group, 0x102, 0x201)) << "no audio after the transition";
    }
    {
        GapGroup g(false, true, 10 * 90000);
        EXPECT_TRUE(AuthorAudioGap(g.group, 0x102, 0x201));
        EXPECT_EQ(g.log.lines,
                  std::vector<std::string>{"WARN: Transition from non-audio to audio VOB; assumjing discontinuity.\n"});
    }
}

uint32_t Be32(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(b[at] << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]);
}
int Be16(const Bytes& b, size_t at) {
    return b[at] << 8 | b[at + 1];
}

TEST(ProgramChainTest, PgciRecordLayout) {
    Group g;
    ProgramChain& pgc = g.Add({{"a", {Cell(0, 4), Cell(4, 6, 0, 10), Cell(6, -1, 2)}}, {"b", {Cell(0, -1)}}});
    pgc.preCommands.push_back(AuthorCommand{0x71, 0, 0, 1, 0, 0, 0, 0});
    pgc.pause = 7;
    AuthorColorTable colors;
    colors.fill(AUTHOR_DEFAULT_COLOR);
    colors[1] = 0x51F05A;
    pgc.colors = colors;
    g.Resolve([](AuthorSource& s, int i) { FillVobus(s, 8, i == 0 ? 0 : 5 * 90000, 90000, 100 * i); });
    AuthorBuildCells(g.group);
    AuthorAttributes& a = g.group.attributes;
    a.video.frameRate = 3;
    a.numAudio = 2;
    a.audio[0].format = AUDIO_AC3;
    a.audio[0].streamNumber = 1;
    a.audio[1].format = AUDIO_MP2;
    a.audio[1].streamNumber = 3;
    a.numSubpicture = 1;
    a.subpicture[0].streamNumber = 2;

    Bytes b(5, 0xAA); // the record is appended after what is already there
    AuthorAppendPgci(b, g.group, pgc);
    Bytes r(b.begin() + 5, b.end());
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 5), Bytes(5, 0xAA));
    EXPECT_EQ(r[0x02], 3) << "programs";
    EXPECT_EQ(r[0x03], 4) << "cells";
    EXPECT_EQ(Be32(r, 0x04), 0x00001640u) << "16 s at 25 fps";
    EXPECT_EQ(Bytes(r.begin() + 0x0C, r.begin() + 0x10), (Bytes{0x80, 0, 0x82, 0}));
    EXPECT_EQ(Bytes(r.begin() + 0x1C, r.begin() + 0x20), (Bytes{0x81, 1, 1, 1}));
    EXPECT_EQ(r[0xA3], 7);
    EXPECT_EQ(Be32(r, 0xA4), 0x108080u);
    EXPECT_EQ(Be32(r, 0xA8), 0x51F05Au);
    EXPECT_EQ(Be16(r, 0xE4), 0xEC);
    EXPECT_EQ(Bytes(r.begin() + 0xEC, r.begin() + 0xF4), (Bytes{0, 1, 0, 1, 0, 0, 0, 23}));
    EXPECT_EQ(r[0xF4], 0x71);
    EXPECT_EQ(Bytes(r.begin() + 0xFC, r.begin() + 0x104), (Bytes{0x30, 0x03, 0, 0, 0, 1, 0, 0}));
    const size_t map = 0x104;
    EXPECT_EQ(Be16(r, 0xE6), static_cast<int>(map));
    // Programs start at cells 1 (chapter), 3 (program only, after the continuing cell 2) and 4.
    EXPECT_EQ(Bytes(r.begin() + map, r.begin() + map + 4), (Bytes{1, 3, 4, 0}));
    const size_t play = map + 4;
    EXPECT_EQ(Be16(r, 0xE8), static_cast<int>(play));
    const size_t pos = play + 4 * 24;
    EXPECT_EQ(Be16(r, 0xEA), static_cast<int>(pos));
    ASSERT_EQ(r.size(), pos + 4 * 4);
    // Cell 1: first of the PGC (2, never seamless); cell 2 follows seamlessly (8) and carries the
    // still time of its specification; cell 3 follows a still: not seamless; cell 4 begins source b,
    // whose VOB has no audio to show a gap.
    const uint8_t flags[] = {0x02, 0x08, 0x00, 0x0A};
    const uint8_t still[] = {0, 10, 0, 0};
    const uint32_t first[] = {0, 40, 60, 100};
    const uint32_t last[] = {30, 50, 70, 170};
    for (int c = 0; c < 4; ++c) {
        const size_t e = play + 24 * c;
        EXPECT_EQ(r[e], flags[c]) << "cell " << c + 1;
        EXPECT_EQ(r[e + 2], still[c]) << "cell " << c + 1;
        EXPECT_EQ(Be32(r, e + 8), first[c]) << "cell " << c + 1;
        EXPECT_EQ(Be32(r, e + 16), last[c]) << "cell " << c + 1;
        EXPECT_EQ(Be32(r, e + 20), last[c] + 9) << "cell " << c + 1;
    }
    EXPECT_EQ(Be32(r, play + 4), 0x00000440u) << "cell 1 lasts 4 s";
    EXPECT_EQ(Be32(r, play + 24 * 3 + 4), 0x00000840u) << "cell 4 lasts 8 s";
    EXPECT_EQ(Bytes(r.begin() + pos, r.end()), (Bytes{0, 1, 0, 1, 0, 1, 0, 2, 0, 1, 0, 3, 0, 2, 0, 1}));
    EXPECT_EQ(g.log.count("Do not know how"), 0);
}

TEST(ProgramChainTest, PgciWithoutSourcesEndsAfterItsCommands) {
    PgcGroup group;
    ProgramChain pgc;
    pgc.preCommands.push_back(AuthorCommand{0x30, 0x02, 0, 0, 0, 1, 0, 0});
    Bytes r;
    AuthorAppendPgci(r, group, pgc);
    ASSERT_EQ(r.size(), 0xF4u + 8);
    EXPECT_EQ(Be16(r, 0xE6), 0);
    EXPECT_EQ(Be16(r, 0xE8), 0);
    EXPECT_EQ(Be16(r, 0xEA), 0);
    EXPECT_EQ(Be16(r, 0xF2), 15);
    EXPECT_EQ(Be32(r, 0xA4 + 60), 0x108080u) << "a PGC without a table writes black";
}

TEST(ProgramChainTest, MenuLanguagesAreTwoLetters) {
    LogCapture log;
    AuthorMenuList menus;
    menus.AddLanguage("EN", std::make_unique<PgcGroup>(GROUP_TITLE_MENUS));
    EXPECT_STREQ(menus.languages[0].language, "en");
    try {
        menus.AddLanguage("eng", std::make_unique<PgcGroup>(GROUP_TITLE_MENUS));
        ADD_FAILURE() << "accepted";
    } catch (const AuthorFatalError& e) {
        EXPECT_STREQ(e.what(), "Menu language 'eng' is not two letters.");
    }
    EXPECT_EQ(log.lines.back(), "ERR:  Menu language 'eng' is not two letters.\n");
    EXPECT_EQ(menus.languages.size(), 1u);
}

} // namespace
