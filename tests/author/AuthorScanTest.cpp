// The program-stream scanner on hand-built sectors: dropped sectors, SCR checks, re-timing, VOBUs, VOB
// splitting, padding repair, part files, write failures, video and audio timing.
#include "AuthorScan.h"
#include "AuthorError.h"
#include "AuthorStreamSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

using namespace qxtest;

namespace {

const uint32_t kBase = 900000; // first SCR of most test sources (10 s)

// A GOP of pictures (temporal reference, type) as one video payload: sequence header, extension, GOP
// header, then every picture with its coding extension and a little picture data.
Bytes GopPayload(std::vector<std::pair<int, int>> pictures, int aspect = 3, int rate = 3) {
    Bytes p = Concat({SequenceHeader(720, 576, aspect, rate), SequenceExtension(), GopHeader()});
    for (auto [ref, type] : pictures) {
        Bytes data(40, 0x55);
        p = Concat({p, PictureHeader(ref, type), PictureCodingExtension(3, false), data});
    }
    return p;
}

// One VOBU: navigation pack and one video sector (I picture) at `scr`, PTS 0.2 s later.
std::vector<Bytes> Vobu(uint32_t scr, uint32_t pts) {
    return {NavPack(scr), PesSector(scr + 100, 0xE0, GopPayload({{0, 1}}), pts)};
}

struct Scan {
    explicit Scan(int kind = 0) : group(kind) { options.files = &files; }
    void AddSource(const std::string& path) {
        auto pgc = std::make_unique<ProgramChain>();
        AuthorSourceRef ref;
        ref.path = path;
        ref.cells.push_back(AuthorCellSpec());
        pgc->sources.push_back(ref);
        group.pgcs.push_back(std::move(pgc));
    }
    void Run(const std::string& base = "VTS_01") {
        std::vector<ProgramChain*> all;
        AuthorCollectSources(group, all);
        ScanGroup(base, group, group.kind, options);
    }
    // The fatal error's message, or "" when the scan succeeded.
    std::string RunFatal(const std::string& base = "VTS_01") {
        try {
            Run(base);
        } catch (const AuthorFatalError& e) {
            return e.what();
        }
        return "";
    }
    AuthorSource& source(size_t i = 0) { return *group.sources.at(i); }
    PgcGroup group;
    MemoryFiles files;
    AuthorScanOptions options;
    LogCapture log;
};

class ScannerTest : public ::testing::Test {
protected:
    std::string Source(const std::string& name, const std::vector<Bytes>& sectors) {
        std::string path = dir.file(name);
        WriteFile(path, Join(sectors));
        return path;
    }
    TempDir dir;
};

TEST_F(ScannerTest, SectorsBeforeTheFirstNavPackAreDroppedAndTheSourceIsRetimedByItsScr) {
    std::vector<Bytes> sectors = {PaddingSector(kBase - 2000),
                                  PesSector(kBase - 1000, 0xC0, MpegAudioFrame(11), kBase)};
    for (const Bytes& s : Vobu(kBase, kBase + 18000))
        sectors.push_back(s);
    Scan scan;
    scan.AddSource(Source("a.mpg", sectors));
    scan.Run();

    EXPECT_EQ(scan.log.count("WARN: Skipping sector, waiting for first VOBU...\n"), 2);
    const Bytes& vob = scan.files.files.at("VTS_01_1.VOB");
    ASSERT_EQ(vob.size(), 2u * kSector) << "the two leading sectors are not written";
    EXPECT_EQ(vob, ExpectedVob(Join(sectors)));
    EXPECT_EQ(ScrOf(vob.data()), 0u);
    EXPECT_EQ(ScrOf(vob.data() + kSector), 100u);
    EXPECT_EQ(PtsOf(vob.data() + kSector), 18000);
    ASSERT_EQ(scan.source().vobus.size(), 1u);
    const VobuInfo& v = scan.source().vobus[0];
    EXPECT_EQ(v.firstSector, 0);
    EXPECT_EQ(v.lastSector, 1);
    EXPECT_EQ(v.firstVideoPts, 18000);
    EXPECT_EQ(std::memcmp(v.navHeader, vob.data(), 38), 0) << "the saved nav pack start is the re-timed one";
    EXPECT_TRUE(scan.source().channels[8].entries.empty()) << "dropped audio leaves no timeline entry";
}

TEST_F(ScannerTest, ScrMovingBackwardsIsFatalAndLeaksNoDescriptor) {
    std::vector<Bytes> sectors = Vobu(kBase, kBase + 18000);
    sectors.push_back(PaddingSector(kBase + 50)); // smaller than the video sector's SCR
    std::string path = Source("back.mpg", sectors);
    int before = OpenDescriptors();
    Scan scan;
    scan.AddSource(path);
    EXPECT_EQ(scan.RunFatal(), "SCR moves backwards, remultiplex input.");
    EXPECT_EQ(scan.log.lines.back(), "ERR:  SCR moves backwards, remultiplex input.\n");
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(ScannerTest, EqualScrIsAccepted) {
    std::vector<Bytes> sectors = Vobu(kBase, kBase + 18000);
    sectors.push_back(PaddingSector(kBase + 100));
    Scan scan;
    scan.AddSource(Source("same.mpg", sectors));
    EXPECT_EQ(scan.RunFatal(), "");
}

TEST_F(ScannerTest, SystemHeaderWithoutPciAndDsiIsAnOrdinarySector) {
    std::vector<Bytes> sectors = Vobu(kBase, kBase + 18000);
    sectors.push_back(NavPack(kBase + 200, false));
    Scan scan;
    scan.AddSource(Source("sys.mpg", sectors));
    scan.Run();
    EXPECT_EQ(scan.log.count("WARN: System header found, but PCI/DSI information is not where expected\n"
                             "\t(make sure your system header is 18 bytes!)\n"),
              1);
    ASSERT_EQ(scan.source().vobus.size(), 1u);
    EXPECT_EQ(scan.source().vobus[0].lastSector, 2);
    EXPECT_EQ(scan.files.files.at("VTS_01_1.VOB").size(), 3u * kSector);
}

TEST_F(ScannerTest, EndCodeAfterPaddingBecomesPartOfThePadding) {
    std::vector<Bytes> sectors = Vobu(kBase, kBase + 18000);
    Bytes last = PaddingSector(kBase + 300);
    last[18] = static_cast<uint8_t>((2048 - 14 - 6 - 4) >> 8);
    last[19] = static_cast<uint8_t>(2048 - 14 - 6 - 4);
    last[2044] = 0x00, last[2045] = 0x00, last[2046] = 0x01, last[2047] = 0xB9;
    sectors.push_back(last);
    // An end code after an audio packet stays where it is.
    Bytes audio = PesSector(kBase + 400, 0xBD, PrivatePayload(0x88, 1, 1, Bytes(2048 - 14 - 14 - 4 - 4, 0)), kBase);
    audio[2044] = 0x00, audio[2045] = 0x00, audio[2046] = 0x01, audio[2047] = 0xB9;
    sectors.push_back(audio);
    Scan scan;
    scan.AddSource(Source("end.mpg", sectors));
    scan.Run();
    const Bytes& vob = scan.files.files.at("VTS_01_1.VOB");
    const uint8_t* padded = vob.data() + 2 * kSector;
    EXPECT_EQ((padded[18] << 8) | padded[19], 2048 - 14 - 6);
    EXPECT_EQ(padded[2044] | padded[2045] | padded[2046] | padded[2047], 0);
    const uint8_t* kept = vob.data() + 3 * kSector;
    EXPECT_EQ(kept[2047], 0xB9);
    EXPECT_EQ(vob, ExpectedVob(Join(sectors)));
}

TEST_F(ScannerTest, MpegAudioFramesStraddlingPacketsAreCountedOnceWhereTheirHeaderBegins) {
    // 224 kbit/s frames of 672 bytes; packet payloads cut so that frame 3's header is split 2 + 2 bytes
    // and frame 5 starts exactly at a packet start.
    Bytes stream;
    for (int i = 0; i < 7; ++i)
        stream = Concat({stream, MpegAudioFrame(11)});
    const size_t cuts[] = {0, 1346, 2688, stream.size()};
    const int firstFrame[] = {0, 3, 4}; // frame whose header begins first in each packet
    std::vector<Bytes> sectors = Vobu(kBase, kBase + 18000);
    for (int k = 0; k < 3; ++k) {
        Bytes payload(stream.begin() + static_cast<long>(cuts[k]), stream.begin() + static_cast<long>(cuts[k + 1]));
        sectors.push_back(PesSector(kBase + 200 + 10 * k, 0xC0, payload, kBase + 9000 + 2160 * firstFrame[k]));
    }
    Scan scan;
    scan.AddSource(Source("mp2.mpg", sectors));
    scan.Run();
    const auto& entries = scan.source().channels[8].entries;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].start, 9000);
    EXPECT_EQ(entries[0].end, 9000 + 3 * 2160) << "frames 0, 1 and the split frame 2";
    EXPECT_EQ(entries[1].start, 9000 + 3 * 2160);
    EXPECT_EQ(entries[1].end, 9000 + 4 * 2160) << "frame 3 only";
    EXPECT_EQ(entries[2].end, 9000 + 7 * 2160);
    EXPECT_EQ(entries[0].sector, 2);
    EXPECT_EQ(entries[2].sector, 4);
    EXPECT_EQ(scan.log.count("Discontinuity"), 0);
    EXPECT_EQ(scan.group.attributes.audio[0].format, 0) << "streams are bound only when the group is completed";
    EXPECT_EQ(scan.source().channels[8].values.samplingRate, SAMPLING_48K);
}

TEST_F(ScannerTest, AudioGapsAndBackwardStepsAreReportedAndMended) {
    std::vector<Bytes> sectors = Vobu(kBase, kBase + 18000);
    Bytes ac3 = PrivatePayload(0x80, 2, 1, Ac3Frame(0, 8, 7, 4, 0, true));
    sectors.push_back(PesSector(kBase + 200, 0xBD, ac3, kBase + 90000));     // 1.000 .. 1.064
    sectors.push_back(PesSector(kBase + 300, 0xBD, ac3, kBase + 90000 * 2)); // gap
    sectors.push_back(PesSector(kBase + 400, 0xBD, ac3, kBase + 90000 * 2)); // overlaps: backwards
    Scan scan;
    scan.AddSource(Source("gap.mpg", sectors));
    scan.Run();
    EXPECT_EQ(scan.log.count("WARN: Discontinuity in audio channel 0; please remultiplex input.\n"
                             "WARN: Previous sector: 1.000 - 1.064\nWARN: Current sector: 2.000 - 2.064\n"),
              1);
    EXPECT_EQ(scan.log.count("WARN: Audio pts for channel 0 moves backwards; please remultiplex input.\n"
                             "WARN: Previous sector: 2.000 - 2.064\nWARN: Current sector: 2.000 - 2.064\n"),
              1);
    const auto& entries = scan.source().channels[0].entries;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].end, 180000) << "a gap closes at the next packet's start";
    EXPECT_EQ(entries[1].end, 180000) << "an overlap is cut back";
    EXPECT_EQ(scan.source().channels[0].values.channels, 6);
}

TEST_F(ScannerTest, TitleVobsSplitAtTheLimitAndCountSectorsFromEachFile) {
    std::vector<Bytes> sectors;
    for (int v = 0; v < 9; ++v) {
        for (const Bytes& s : Vobu(kBase + v * 1000, kBase + 18000 + v * 3600))
            sectors.push_back(s);
        for (int k = 0; k < 3; ++k)
            sectors.push_back(PaddingSector(kBase + v * 1000 + 200 + k));
    }
    Scan scan;
    scan.options.vobSectorLimit = 20;
    scan.AddSource(Source("long.mpg", sectors)); // 45 sectors
    scan.Run();
    EXPECT_EQ(scan.files.opened, (std::vector<std::string>{"VTS_01_1.VOB", "VTS_01_2.VOB", "VTS_01_3.VOB"}));
    EXPECT_EQ(scan.files.files.at("VTS_01_1.VOB").size(), 20u * kSector);
    EXPECT_EQ(scan.files.files.at("VTS_01_2.VOB").size(), 20u * kSector);
    EXPECT_EQ(scan.files.files.at("VTS_01_3.VOB").size(), 5u * kSector);
    Bytes joined =
        Join({scan.files.files["VTS_01_1.VOB"], scan.files.files["VTS_01_2.VOB"], scan.files.files["VTS_01_3.VOB"]});
    EXPECT_EQ(joined, ExpectedVob(Join(sectors)));
    const auto& vobus = scan.source().vobus;
    ASSERT_EQ(vobus.size(), 9u);
    EXPECT_EQ(vobus[4].firstSector, 20);
    EXPECT_EQ(vobus[4].vobNumber, 2);
    EXPECT_EQ(vobus[4].vobSector, 0);
    EXPECT_EQ(vobus[5].vobSector, 5);
    EXPECT_EQ(vobus[8].vobNumber, 3);
    EXPECT_EQ(vobus[8].lastSector, 44);
    EXPECT_EQ(AuthorGroupSectors(scan.group), 45);
}

TEST_F(ScannerTest, MenuGroupsMayNotReachTheLimit) {
    std::vector<Bytes> sectors;
    for (int v = 0; v < 6; ++v)
        for (const Bytes& s : Vobu(kBase + v * 1000, kBase + 18000 + v * 3600))
            sectors.push_back(s);
    std::string path = Source("menu.mpg", sectors);
    {
        Scan scan(GROUP_TITLE_MENUS);
        scan.options.vobSectorLimit = 12;
        scan.AddSource(path);
        EXPECT_EQ(scan.RunFatal(), "Menu VOB reached 1gb");
        EXPECT_EQ(scan.log.lines.back(), "\nERR:  Menu VOB reached 1gb\n");
        EXPECT_EQ(scan.files.opened, std::vector<std::string>{"VTS_01_0.VOB"});
    }
    {
        Scan scan(GROUP_VMG_MENUS);
        scan.options.vobSectorLimit = 13;
        scan.AddSource(path);
        EXPECT_EQ(scan.RunFatal("out/VIDEO_TS.VOB"), "");
        EXPECT_EQ(scan.files.opened, std::vector<std::string>{"out/VIDEO_TS.VOB"});
        EXPECT_EQ(scan.source().vobus[0].vobNumber, -1);
    }
}

TEST_F(ScannerTest, TheRealLimitIs524272SectorsPerVob) {
    // A sparse source: one VOBU, then zero sectors that all belong to it. Output is only counted.
    const long long total = AUTHOR_VOB_SECTORS + 3;
    std::string path = Source("sparse.mpg", Vobu(kBase, kBase + 18000));
    ASSERT_EQ(truncate(path.c_str(), total * kSector), 0);
    Scan scan;
    scan.files.discard = true;
    scan.AddSource(path);
    scan.Run();
    EXPECT_EQ(scan.files.sizes.at("VTS_01_1.VOB"), 524272LL * kSector);
    EXPECT_EQ(scan.files.sizes.at("VTS_01_2.VOB"), 3LL * kSector);
    EXPECT_EQ(scan.source().vobus[0].lastSector, total - 1);
}

TEST_F(ScannerTest, PartFilesContinueTheSourceWhenAllowed) {
    std::vector<Bytes> a = Vobu(kBase, kBase + 18000);
    std::vector<Bytes> b = Vobu(kBase + 1000, kBase + 21600);
    std::vector<Bytes> c = Vobu(kBase + 2000, kBase + 25200);
    std::string path = Source("movie.mpg", a);
    Source("movie.mpg.part1", b);
    Source("movie.mpg.part2", c);
    Source("movie.mpg.part3", Vobu(kBase + 3000, kBase + 28800));
    {
        Scan scan;
        scan.options.partFiles = true;
        std::vector<int> progress;
        scan.options.progress = [&](int phase, int percent) {
            EXPECT_EQ(phase, 0);
            progress.push_back(percent);
        };
        scan.AddSource(path);
        scan.Run();
        EXPECT_EQ(scan.source().vobus.size(), 3u) << "the third part file is never read";
        EXPECT_EQ(scan.files.files.at("VTS_01_1.VOB"), ExpectedVob(Join({Join(a), Join(b), Join(c)})));
        // Six sectors in all: progress is counted against the main file and both part files.
        EXPECT_EQ(progress.front(), 0);
        EXPECT_EQ(progress.back(), 100);
        EXPECT_EQ(progress[5], 5 * 100 / 6);
    }
    {
        Scan scan;
        scan.AddSource(path);
        scan.Run();
        EXPECT_EQ(scan.source().vobus.size(), 1u) << "without the flag part files are ignored";
    }
}

TEST_F(ScannerTest, EachSourceIsRetimedByItsOwnScrAndNumbered) {
    Scan scan;
    std::vector<Bytes> one = Vobu(kBase, kBase + 18000);
    // The second source starts with a sector to drop: it lies between kept sectors in the buffer.
    std::vector<Bytes> two = {PaddingSector(5 * kBase - 10)};
    for (const Bytes& s : Vobu(5 * kBase, 5 * kBase + 18000))
        two.push_back(s);
    scan.AddSource(Source("one.mpg", one));
    scan.AddSource(Source("two.mpg", two));
    scan.Run();
    EXPECT_EQ(scan.files.files.at("VTS_01_1.VOB"), Concat({ExpectedVob(Join(one)), ExpectedVob(Join(two))}));
    ASSERT_EQ(scan.group.sources.size(), 2u);
    EXPECT_EQ(scan.source(0).vobId, 1);
    EXPECT_EQ(scan.source(1).vobId, 2);
    EXPECT_EQ(scan.source(1).vobus[0].firstSector, 2);
    EXPECT_EQ(scan.source(1).vobus[0].firstVideoPts, 18000);
    EXPECT_EQ(scan.source(1).vobus[0].vobuStart, 18000);
    EXPECT_NE(scan.log.all().find("\nSTAT: Processing " + dir.file("two.mpg") + "...\n"), std::string::npos);
    EXPECT_EQ(scan.log.lines.back(), "STAT: VOBU 2 at 0MB, 2 PGCS\r\n");
}

TEST_F(ScannerTest, WriteAndOpenFailuresAreFatalWithTheirMessages) {
    std::vector<Bytes> sectors;
    for (int v = 0; v < 10; ++v)
        for (const Bytes& s : Vobu(kBase + v * 1000, kBase + 18000 + v * 3600))
            sectors.push_back(s);
    std::string path = Source("ok.mpg", sectors);
    {
        Scan scan;
        scan.files.writeBudget = 10 * kSector; // the disk fills at the first 16-sector block
        scan.AddSource(path);
        EXPECT_EQ(scan.RunFatal(), "Error writing data to VTS_01_1.VOB: the data did not reach the file");
        EXPECT_EQ(scan.log.lines.back(), "ERR:  Error writing data to VTS_01_1.VOB: the data did not reach the file\n");
    }
    {
        Scan scan;
        scan.files.writeBudget = 19 * kSector; // the last, partial block comes up short
        scan.AddSource(path);
        EXPECT_EQ(scan.RunFatal().rfind("Error writing data to VTS_01_1.VOB", 0), 0u);
    }
    {
        Scan scan;
        scan.files.failOpen = "VTS_01_1.VOB";
        scan.AddSource(path);
        EXPECT_EQ(scan.RunFatal(), "Error opening VTS_01_1.VOB: No space left on device");
    }
    {
        Scan scan;
        scan.AddSource(dir.file("missing.mpg"));
        EXPECT_EQ(scan.RunFatal(), "Error opening " + dir.file("missing.mpg") + ": No such file or directory");
        EXPECT_EQ(scan.log.lines.back(),
                  "ERR:  Error opening " + dir.file("missing.mpg") + ": No such file or directory\n");
    }
}

TEST_F(ScannerTest, RealFilesAreWrittenAndTheirFailuresReported) {
    std::string path = Source("real.mpg", Vobu(kBase, kBase + 18000));
    Scan scan;
    scan.options.files = nullptr;
    scan.AddSource(path);
    scan.Run(dir.file("VTS_01"));
    EXPECT_EQ(ReadFile(dir.file("VTS_01_1.VOB")), ExpectedVob(ReadFile(path)));

    Scan failing;
    failing.options.files = nullptr;
    failing.AddSource(path);
    EXPECT_EQ(failing.RunFatal(dir.file("no/such/folder/VTS_01")),
              "Error opening " + dir.file("no/such/folder/VTS_01_1.VOB") + ": No such file or directory");
    if (access("/dev/full", W_OK) == 0) {
        // The output name is a device that is always full.
        Scan full(GROUP_VMG_MENUS);
        full.options.files = nullptr;
        full.AddSource(path);
        // The reason is the system's own, not only that writing failed.
        EXPECT_EQ(full.RunFatal("/dev/full"), "Error writing data to /dev/full: No space left on device");
    }
}

TEST_F(ScannerTest, PartialLastSectorIsDroppedWithAWarning) {
    Bytes data = Join(Vobu(kBase, kBase + 18000));
    data.resize(data.size() + 700, 0);
    std::string path = dir.file("partial.mpg");
    WriteFile(path, data);
    Scan scan;
    scan.AddSource(path);
    scan.Run();
    EXPECT_EQ(scan.files.files.at("VTS_01_1.VOB").size(), 2u * kSector);
    EXPECT_EQ(scan.log.count("WARN: Dropping 700 bytes at the end of " + path + " (not a whole sector)\n"), 1);
}

TEST_F(ScannerTest, SourceWithoutNavPacksIsRefused) {
    Scan scan;
    scan.AddSource(Source("plain.mpg", {PaddingSector(kBase), PaddingSector(kBase + 10)}));
    EXPECT_EQ(scan.RunFatal(),
              "No navigation packs found in " + dir.file("plain.mpg") + "; a source must be a DVD program stream");
}

TEST_F(ScannerTest, FrameRateCodesOutsideTheTableAreRefused) {
    for (int code : {0, 9, 15}) {
        Scan scan;
        scan.AddSource(Source(
            "rate.mpg", {NavPack(kBase), PesSector(kBase + 10, 0xE0, GopPayload({{0, 1}}, 3, code), kBase + 9000)}));
        EXPECT_EQ(scan.RunFatal(), "Invalid video frame rate code " + std::to_string(code) + " in sequence header");
    }
}

TEST_F(ScannerTest, VobuTimesFollowVideoFieldsAndAudioForVobusWithoutVideo) {
    // VOBU 0: an open GOP I(2) B(0) B(1) P(5): two leading pictures, 8 fields. VOBU 1: audio only.
    // VOBU 2: video again. VOBU 3: no audio and no video at the end.
    std::vector<Bytes> sectors = {
        NavPack(kBase),      PesSector(kBase + 10, 0xE0, GopPayload({{2, 1}, {0, 3}, {1, 3}, {5, 2}}), kBase + 18000),
        NavPack(kBase + 20), PesSector(kBase + 30, 0xC0, MpegAudioFrame(11), kBase + 30000),
        NavPack(kBase + 40), PesSector(kBase + 50, 0xE0, GopPayload({{0, 1}}), kBase + 50000),
        NavPack(kBase + 60)};
    Scan scan;
    scan.AddSource(Source("times.mpg", sectors));
    scan.Run();
    const auto& v = scan.source().vobus;
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[0].leadingFields, 4);
    EXPECT_EQ(v[0].totalFields, 8);
    EXPECT_EQ(v[0].videoStart, 18000 - 2 * 3600);
    EXPECT_EQ(v[0].videoEnd, 18000 - 2 * 3600 + 4 * 3600);
    // Audio at 30000 rounded up to whole frames after VOBU 0's start (10800): 10800 + 6 * 3600.
    EXPECT_EQ(v[1].vobuStart, 32400);
    EXPECT_EQ(v[0].vobuEnd, 32400) << "the next start closes the previous VOBU";
    EXPECT_EQ(v[1].vobuEnd, 50000) << "ends where the next VOBU's video starts";
    EXPECT_EQ(v[2].vobuStart, 50000);
    EXPECT_EQ(
        scan.log.count("WARN: Cannot detect pts for VOBU if there is no audio or video\nWARN: Using SCR instead.\n"),
        1);
    // VOBU 3 falls back to its SCR (60) + 588, which lies before VOBU 2's video: it starts where that
    // video ends (50000 + 2 fields) instead, and, the audio having ended earlier, lasts one frame.
    EXPECT_EQ(v[3].vobuStart, 53600);
    EXPECT_EQ(v[2].vobuEnd, 53600);
    EXPECT_EQ(v[3].vobuEnd, 53600 + 3600);
    EXPECT_NE(scan.log.all().find("\nINFO: Video pts = 0.120 .. 0.595\nINFO: Audio[8] pts = 0.333 .. 0.357\n"),
              std::string::npos)
        << scan.log.all();
}

TEST_F(ScannerTest, FirstVobuWithoutVideoIsRefused) {
    Scan scan;
    scan.AddSource(
        Source("novideo.mpg", {NavPack(kBase), PesSector(kBase + 30, 0xC0, MpegAudioFrame(11), kBase + 3000)}));
    EXPECT_EQ(scan.RunFatal(), "Cannot infer pts for VOBU if there is no audio or video and it is the first VOBU.");
    EXPECT_EQ(scan.log.lines.back(),
              "ERR:  Cannot infer pts for VOBU if there is no audio or video and it is the\nERR:  first VOBU.\n");
}

TEST_F(ScannerTest, ReferencePictureEndsAcrossPacketsAndTheCarryOver) {
    // I picture in sectors 1..2, P picture starting in sector 2, and a B picture whose start code is
    // split over the end of sector 3 and the start of sector 4: it ends the P picture in sector 3.
    Bytes head = GopPayload({{0, 1}});
    Bytes second = Concat({Bytes(100, 0x55), PictureHeader(3, 2), PictureCodingExtension(3, false), Bytes(100, 0x55)});
    Bytes third = Concat({Bytes(200, 0x55), Bytes{0x00, 0x00}});
    Bytes fourth =
        Concat({Bytes{0x01, 0x00, 0x00, 0x58, 0xFF, 0xF8}, PictureCodingExtension(3, true), Bytes(50, 0x55)});
    std::vector<Bytes> sectors = {NavPack(kBase),
                                  PesSector(kBase + 10, 0xE0, head, kBase + 18000),
                                  PesSector(kBase + 20, 0xE0, second),
                                  PesSector(kBase + 30, 0xE0, third),
                                  PesSector(kBase + 40, 0xE0, fourth, kBase + 25200),
                                  PesSector(kBase + 50, 0xE0, {}),
                                  NavPack(kBase + 60),
                                  PesSector(kBase + 70, 0xE0, GopPayload({{0, 1}}), kBase + 28800)};
    Scan scan;
    scan.AddSource(Source("refs.mpg", sectors));
    scan.Run();
    const VobuInfo& v = scan.source().vobus[0];
    ASSERT_EQ(v.numRefEnds, 2);
    EXPECT_EQ(v.refEnds[0], 2) << "the I picture ends where the P picture starts";
    EXPECT_EQ(v.refEnds[1], 3) << "a start code begun in the previous packet is charged to it";
    EXPECT_EQ(v.totalFields, 2 + 2 + 3);
    EXPECT_EQ(v.firstVideoPts, 18000);
    EXPECT_EQ(v.lastSector, 5);
    EXPECT_TRUE(v.hasVideo);
    EXPECT_EQ(scan.source().vobus[1].numRefEnds, 1) << "the pending I picture is closed with the VOBU";
    EXPECT_EQ(scan.source().vobus[1].refEnds[0], 7);
}

TEST_F(ScannerTest, SequenceEndIsMarkedAndMpeg2AspectFollowsTheFirstValue) {
    std::vector<Bytes> sectors = {
        NavPack(kBase), PesSector(kBase + 10, 0xE0, GopPayload({{0, 1}}, 3), kBase + 18000), NavPack(kBase + 20),
        PesSector(kBase + 30, 0xE0, Concat({GopPayload({{0, 1}}, 2), SequenceEnd()}), kBase + 21600)};
    Scan scan;
    scan.AddSource(Source("aspect.mpg", sectors));
    scan.Run();
    EXPECT_EQ(scan.group.attributes.video.aspect, ASPECT_16_9);
    EXPECT_EQ(scan.log.count("WARN: attempt to update aspect ratio from 16:9 to 4:3; skipping\n"), 1);
    const Bytes& vob = scan.files.files.at("VTS_01_1.VOB");
    // The second sequence header (aspect code 2) is rewritten to 16:9 like the first.
    const uint8_t* seq = vob.data() + 3 * kSector + 23 + 5;
    ASSERT_EQ(seq[3], 0xB3);
    EXPECT_EQ(seq[7], 0x33);
    EXPECT_FALSE(scan.source().vobus[0].hasSequenceEnd);
    EXPECT_TRUE(scan.source().vobus[1].hasSequenceEnd);
}

TEST_F(ScannerTest, Mpeg1StreamsCountTwoFieldsPerPictureAndRewriteTheirAspect) {
    // No sequence extension: the stream is MPEG-1. Aspect code 12 is 4:3 NTSC; the picture after it
    // is parsed again once the format is known.
    Bytes payload = Concat({SequenceHeader(352, 240, 12, 4), GopHeader(), PictureHeader(0, 1), Bytes(30, 0x55),
                            PictureHeader(1, 2), Bytes(30, 0x55)});
    Scan scan;
    scan.AddSource(Source("mpeg1.mpg", {NavPack(kBase), PesSector(kBase + 10, 0xE0, payload, kBase + 18000)}));
    scan.Run();
    const AuthorVideoAttributes& v = scan.group.attributes.video;
    EXPECT_EQ(v.mpegFormat, MPEG_1);
    EXPECT_EQ(v.tvFormat, TV_NTSC);
    EXPECT_EQ(v.aspect, ASPECT_4_3);
    EXPECT_EQ(v.resolution, RES_352_HALF);
    const VobuInfo& vobu = scan.source().vobus[0];
    EXPECT_EQ(vobu.totalFields, 4) << "counted once although the packet was parsed twice";
    ASSERT_EQ(vobu.numRefEnds, 2) << "the I picture ends at the P picture, the P picture with the VOBU";
    EXPECT_EQ(vobu.refEnds[1], 1);
    const uint8_t* seq = scan.files.files.at("VTS_01_1.VOB").data() + kSector + 23 + 5;
    EXPECT_EQ(seq[7], 0xC4);
}

TEST_F(ScannerTest, GarbageAfterTheFirstNavPackNeitherCrashesNorHangs) {
    // Pack headers with random packets behind them: random stream ids, lengths, header lengths,
    // substreams and payloads. The scan must end, and only with its own errors.
    std::mt19937 random(1234);
    const uint8_t ids[] = {0xBD, 0xBE, 0xC0, 0xC3, 0xE0, 0xBB, 0xB9, 0x42};
    for (int round = 0; round < 10; ++round) {
        std::vector<Bytes> sectors = Vobu(kBase, kBase + 18000);
        for (int i = 0; i < 200; ++i) {
            Bytes s = PaddingSector(kBase + 1000 + i);
            for (size_t k = 14; k < s.size(); ++k)
                s[k] = static_cast<uint8_t>(random() % 4 == 0 ? 0 : random());
            s[14] = 0, s[15] = 0, s[16] = 1, s[17] = ids[random() % sizeof ids];
            s[20] = static_cast<uint8_t>(0x80 | (random() & 0x3F));
            if (random() % 3 == 0)
                s[23] = static_cast<uint8_t>(0x20 | (random() & 0x0F)) | 1; // a plausible PTS prefix
            sectors.push_back(s);
        }
        Scan scan;
        scan.AddSource(Source("garbage.mpg", sectors));
        std::string error = scan.RunFatal();
        EXPECT_TRUE(error.empty() || error.find("frame rate code") != std::string::npos ||
                    error.find("SCR") != std::string::npos)
            << error;
    }
}

} // namespace
