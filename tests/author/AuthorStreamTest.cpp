// The scanner on program streams made by ffmpeg's DVD muxer (PAL and NTSC, AC-3 and MPEG audio):
// navigation packs where the scanner expects them, VOBs equal to the input after re-timing, VOBU
// times, field counts, audio timelines and the completed attributes.
#include "AuthorError.h"
#include "AuthorScan.h"
#include "AuthorStreamSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace qxtest;

namespace {

const char kPal[] = "-f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i sine=frequency=300 -t 30 "
                    "-target pal-dvd -b:v 1000k -b:a 192k -aspect 16:9";
const char kNtsc[] = "-f lavfi -i testsrc2=size=720x480:rate=30000/1001 -f lavfi -i sine=frequency=300 -t 30 "
                     "-target ntsc-dvd -b:v 1000k -b:a 192k -aspect 4:3";
const char kPalMp2[] = "-f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi -i sine=frequency=300 -t 8 "
                       "-target pal-dvd -s 352x288 -b:v 500k -c:a mp2 -b:a 224k -aspect 4:3";

std::vector<size_t> NavPackSectors(const Bytes& stream) {
    std::vector<size_t> navs;
    for (size_t i = 0; i + 1 <= stream.size() / kSector; ++i) {
        const uint8_t* s = stream.data() + i * kSector;
        if (s[14] == 0 && s[15] == 0 && s[16] == 1 && s[17] == 0xBB)
            navs.push_back(i);
    }
    return navs;
}

// PTS (90 kHz) of the first video packet and the number of video packets, as ffprobe's demuxer reads them.
std::pair<long long, int> ProbeVideo(const std::string& path) {
    std::string command = "ffprobe -v error -select_streams v:0 -show_entries packet=pts -of csv=p=0 '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {-1, -1};
    long long first = -1;
    int packets = 0;
    char line[64];
    while (std::fgets(line, sizeof line, pipe)) {
        if (packets++ == 0)
            first = std::atoll(line);
    }
    pclose(pipe);
    return {first, packets};
}

struct Scanned {
    PgcGroup group{GROUP_TITLES};
    LogCapture log;
    std::string error;
};

// Scans `paths` as one title group into real files below `dir` and completes the attributes.
void ScanFiles(Scanned& out, const std::vector<std::string>& paths, const TempDir& dir) {
    for (const std::string& path : paths) {
        auto pgc = std::make_unique<ProgramChain>();
        AuthorSourceRef ref;
        ref.path = path;
        ref.cells.push_back(AuthorCellSpec());
        pgc->sources.push_back(ref);
        out.group.pgcs.push_back(std::move(pgc));
    }
    std::vector<ProgramChain*> all;
    AuthorCollectSources(out.group, all);
    try {
        ScanGroup(dir.file("VTS_01"), out.group, GROUP_TITLES);
        AuthorCompleteGroup(out.group, GROUP_TITLES);
    } catch (const AuthorFatalError& e) {
        out.error = e.what();
    }
}

void ExpectContiguousVobus(const AuthorSource& source, int frameDuration) {
    const auto& v = source.vobus;
    int fields = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        EXPECT_TRUE(v[i].hasVideo) << "VOBU " << i;
        EXPECT_GE(v[i].numRefEnds, 1) << "VOBU " << i;
        EXPECT_LT(v[i].vobuStart, v[i].vobuEnd) << "VOBU " << i;
        EXPECT_EQ(v[i].firstSector, i == 0 ? v[0].firstSector : v[i - 1].lastSector + 1) << "VOBU " << i;
        for (int r = 0; r < v[i].numRefEnds; ++r) {
            EXPECT_GE(v[i].refEnds[r], v[i].firstSector);
            EXPECT_LE(v[i].refEnds[r], v[i].lastSector);
        }
        if (i + 1 < v.size()) {
            EXPECT_EQ(v[i].vobuEnd, v[i + 1].vobuStart) << "VOBU " << i;
        }
        fields += v[i].totalFields;
    }
    // Every frame picture counts two fields: the VOBUs together last as long as their fields.
    EXPECT_EQ(v.back().vobuEnd - v.front().vobuStart, static_cast<long long>(fields) * frameDuration / 2);
}

TEST(StreamTest, TheDvdMuxerPutsNavPacksWhereTheScannerLooks) {
    std::string pal = FfmpegFixture("pal30.mpg", kPal);
    ASSERT_FALSE(pal.empty()) << "ffmpeg could not make the PAL fixture";
    Bytes stream = ReadFile(pal);
    std::vector<size_t> navs = NavPackSectors(stream);
    ASSERT_GE(navs.size(), 40u);
    EXPECT_EQ(navs[0], 0u);
    for (size_t n : navs) {
        const uint8_t* s = stream.data() + n * kSector;
        ASSERT_EQ((s[18] << 8) | s[19], 18) << "system header length at sector " << n;
        const uint8_t pci[] = {0x00, 0x00, 0x01, 0xBF, 0x03, 0xD4, 0x00};
        const uint8_t dsi[] = {0x00, 0x00, 0x01, 0xBF, 0x03, 0xFA, 0x01};
        ASSERT_EQ(std::memcmp(s + 38, pci, sizeof pci), 0) << "PCI at byte 38 of sector " << n;
        ASSERT_EQ(std::memcmp(s + 1024, dsi, sizeof dsi), 0) << "DSI at byte 1024 of sector " << n;
    }
}

TEST(StreamTest, PalStreamCutBeforeANavPackScansIntoARetimedCopy) {
    std::string pal = FfmpegFixture("pal30.mpg", kPal);
    ASSERT_FALSE(pal.empty());
    Bytes stream = ReadFile(pal);
    std::vector<size_t> navs = NavPackSectors(stream);
    ASSERT_GE(navs.size(), 4u);
    // Start two sectors before the third nav pack: those are dropped and the times start again at 0.
    TempDir dir;
    Bytes cut(stream.begin() + static_cast<long>((navs[2] - 2) * kSector), stream.end());
    WriteFile(dir.file("cut.mpg"), cut);
    Scanned scan;
    ScanFiles(scan, {dir.file("cut.mpg")}, dir);
    ASSERT_EQ(scan.error, "");

    Bytes vob = ReadFile(dir.file("VTS_01_1.VOB"));
    Bytes expected = ExpectedVob(cut);
    ASSERT_EQ(vob.size(), expected.size());
    ASSERT_EQ(vob.size(), cut.size() - 2 * kSector);
    for (size_t i = 0; i < vob.size() / kSector; ++i)
        ASSERT_EQ(std::memcmp(vob.data() + i * kSector, expected.data() + i * kSector, kSector), 0) << "sector " << i;
    EXPECT_EQ(ScrOf(vob.data()), 0u);
    EXPECT_EQ(scan.log.count("WARN: Skipping sector, waiting for first VOBU...\n"), 2);
    EXPECT_EQ(scan.log.count("Discontinuity"), 0);
    EXPECT_EQ(scan.log.count("moves backwards"), 0);

    const AuthorSource& source = *scan.group.sources[0];
    EXPECT_EQ(source.vobus.size(), navs.size() - 2);
    ExpectContiguousVobus(source, 3600);
    const AuthorAttributes& a = scan.group.attributes;
    EXPECT_EQ(a.video.mpegFormat, MPEG_2);
    EXPECT_EQ(a.video.tvFormat, TV_PAL);
    EXPECT_EQ(a.video.aspect, ASPECT_16_9);
    EXPECT_EQ(a.video.resolution, RES_720_FULL);
    EXPECT_EQ(a.video.frameRate, 3);
    EXPECT_EQ(a.video.disallow, 0);
    ASSERT_EQ(a.numAudio, 1);
    EXPECT_EQ(a.audio[0].format, AUDIO_AC3);
    EXPECT_EQ(a.audio[0].streamNumber, 1);
    EXPECT_EQ(a.audio[0].values.channels, 1) << "the sine source is mono";
    EXPECT_EQ(a.audio[0].values.samplingRate, SAMPLING_48K);
    // AC-3 packets follow each other without gaps and cover the VOBUs' time.
    const auto& audio = source.channels[0].entries;
    ASSERT_GT(audio.size(), 100u);
    for (size_t i = 0; i + 1 < audio.size(); ++i)
        ASSERT_EQ(audio[i].end, audio[i + 1].start) << "entry " << i;
    EXPECT_NEAR(static_cast<double>(audio.back().end), static_cast<double>(source.vobus.back().vobuEnd), 90000.0);
    // An independent demuxer sees the re-timed stream: its first picture at the first VOBU's video PTS.
    auto [firstPts, packets] = ProbeVideo(dir.file("VTS_01_1.VOB"));
    EXPECT_EQ(firstPts, source.vobus[0].firstVideoPts);
    EXPECT_LT(firstPts, 90000);
    EXPECT_GE(packets, 28 * 25);
}

TEST(StreamTest, NtscStreamAndAWholePalStreamInOneGroup) {
    std::string ntsc = FfmpegFixture("ntsc30.mpg", kNtsc);
    std::string pal = FfmpegFixture("pal30.mpg", kPal);
    ASSERT_FALSE(ntsc.empty());
    ASSERT_FALSE(pal.empty());
    TempDir dir;
    Scanned scan;
    ScanFiles(scan, {ntsc, pal}, dir);
    ASSERT_EQ(scan.error, "");
    Bytes ntscBytes = ReadFile(ntsc);
    Bytes palBytes = ReadFile(pal);
    // The PAL source's 16:9 is not the group's 4:3: its aspect nibbles are rewritten, nothing else.
    Bytes vob = ReadFile(dir.file("VTS_01_1.VOB"));
    Bytes expected = Concat({ExpectedVob(ntscBytes), ExpectedVob(palBytes)});
    ASSERT_EQ(vob.size(), expected.size());
    size_t differences = 0;
    for (size_t i = 0; i < vob.size(); ++i) {
        if (vob[i] == expected[i])
            continue;
        ++differences;
        ASSERT_GE(i, ntscBytes.size()) << "byte " << i << " of the NTSC source";
        ASSERT_EQ(expected[i] >> 4, 3) << "only 16:9 aspect nibbles change, byte " << i;
        ASSERT_EQ(vob[i], (2 << 4) | (expected[i] & 0x0F));
        ASSERT_EQ(std::memcmp(vob.data() + i - 7, "\x00\x00\x01\xB3", 4), 0) << "inside a sequence header";
    }
    EXPECT_EQ(differences, NavPackSectors(palBytes).size()) << "one sequence header per GOP";
    EXPECT_EQ(scan.log.count("WARN: attempt to update tv format from ntsc to pal; skipping\n"), 1);

    const AuthorAttributes& a = scan.group.attributes;
    EXPECT_EQ(a.video.tvFormat, TV_NTSC);
    EXPECT_EQ(a.video.aspect, ASPECT_4_3);
    EXPECT_EQ(a.video.disallow, 3);
    EXPECT_EQ(a.video.frameRate, 4);
    ASSERT_EQ(scan.group.sources.size(), 2u);
    const AuthorSource& first = *scan.group.sources[0];
    const AuthorSource& second = *scan.group.sources[1];
    ExpectContiguousVobus(first, 3003);
    EXPECT_EQ(second.vobId, 2);
    EXPECT_EQ(second.vobus[0].firstSector, first.vobus.back().lastSector + 1);
    EXPECT_LT(second.vobus[0].vobuStart, 90000) << "each source starts again near 0";
    EXPECT_NE(scan.log.all().find("INFO: Resolution: 720x480\n"), std::string::npos);
    EXPECT_NE(scan.log.all().find("INFO: Audio ch 0 format: ac3/1ch, 48khz drc\n"), std::string::npos);
}

TEST(StreamTest, MpegAudioTimelineIsContinuousAcrossPackets) {
    std::string path = FfmpegFixture("pal8mp2.mpg", kPalMp2);
    ASSERT_FALSE(path.empty());
    TempDir dir;
    Scanned scan;
    ScanFiles(scan, {path}, dir);
    ASSERT_EQ(scan.error, "");
    EXPECT_EQ(scan.log.count("Discontinuity"), 0);
    const auto& audio = scan.group.sources[0]->channels[8].entries;
    ASSERT_GT(audio.size(), 10u);
    for (size_t i = 0; i + 1 < audio.size(); ++i)
        ASSERT_EQ(audio[i].end, audio[i + 1].start) << "entry " << i;
    // 8 seconds of 1152-sample frames at 48 kHz: every frame counted once.
    long long frames = (audio.back().end - audio.front().start) / 2160;
    EXPECT_EQ((audio.back().end - audio.front().start) % 2160, 0);
    EXPECT_NEAR(static_cast<double>(frames), 8.0 * 48000 / 1152, 2.0);
    const AuthorAttributes& a = scan.group.attributes;
    ASSERT_EQ(a.numAudio, 1);
    EXPECT_EQ(a.audio[0].format, AUDIO_MP2);
    EXPECT_EQ(a.audio[0].values.quantization, QUANT_20);
    EXPECT_EQ(a.video.resolution, RES_352_HALF) << "288 lines are half height";
    EXPECT_EQ(a.video.aspect, ASPECT_4_3);
}

} // namespace
