// The rebuilt navigation packs: addresses, times, search pointers with their flags, synchronisation
// words, and the in-place rewrite of the VOB files.
#include "AuthorError.h"
#include "IfoProbeSupport.h"
#include "MemoryFilesSupport.h"
#include "NavPackFix.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr long long kHalf = 45000; // half a second in ticks

Bytes packOf(const PgcGroup& group, int index, int source = 0) {
    Bytes pack(2048, 0xEE);
    AuthorBuildNavPack(pack.data(), group, *group.sources[source], index);
    return pack;
}

uint32_t forward(const Bytes& p, int step) {
    return Be32(p, 0x4F5 + 4 * (18 - step));
} // step 0 = 0.5 s
uint32_t backward(const Bytes& p, int step) {
    return Be32(p, 0x549 + 4 * step);
}

// One cell of `count` VOBUs of half a second each, 10 sectors apart.
std::vector<TestVobu> evenVobus(int count, int cell = 1, int firstIndex = 0) {
    std::vector<TestVobu> v;
    for (int i = firstIndex; i < firstIndex + count; ++i)
        v.push_back({10 * i, 10 * i + 9, i * kHalf, (i + 1) * kHalf, true, cell});
    return v;
}

TEST(NavPack, HeadersAddressesAndTimes) {
    std::vector<TestVobu> vobus = evenVobus(3, 1);
    auto more = evenVobus(3, 2, 3);
    vobus.insert(vobus.end(), more.begin(), more.end());
    auto group = MakeGroup(MakeSource(vobus, 2));
    VobuInfo& v = group->sources[0]->vobus[4];
    // An MPEG-2 pack header whose clock is 0x12345678.
    const long long scr = 0x12345678;
    const uint8_t header[5] = {0, 0, 1, 0xBA, 0};
    std::memcpy(v.navHeader, header, 4);
    v.navHeader[4] = static_cast<uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 3));
    v.navHeader[5] = static_cast<uint8_t>(scr >> 20);
    v.navHeader[6] = static_cast<uint8_t>(((scr >> 12) & 0xF8) | 4 | ((scr >> 13) & 3));
    v.navHeader[7] = static_cast<uint8_t>(scr >> 5);
    v.navHeader[8] = static_cast<uint8_t>(((scr << 3) & 0xF8) | 4);
    v.navHeader[37] = 0x5A;
    v.hasSequenceEnd = true;
    v.videoEnd = 123456;
    v.refEnds[0] = 41;
    v.refEnds[1] = 43;
    v.numRefEnds = 2;

    Bytes p = packOf(*group, 4);
    EXPECT_EQ(Slice(p, 0, 38), Bytes(v.navHeader, v.navHeader + 38));
    EXPECT_EQ(Slice(p, 0x26, 7), Bytes({0, 0, 1, 0xBF, 0x03, 0xD4, 0x00}));
    EXPECT_EQ(Slice(p, 0x400, 7), Bytes({0, 0, 1, 0xBF, 0x03, 0xFA, 0x01}));
    EXPECT_EQ(Be32(p, 0x02D), 40u);
    EXPECT_EQ(Be32(p, 0x039), static_cast<uint32_t>(4 * kHalf));
    EXPECT_EQ(Be32(p, 0x03D), static_cast<uint32_t>(5 * kHalf));
    EXPECT_EQ(Be32(p, 0x041), 123456u);     // the VOBU ends a sequence
    EXPECT_EQ(Be32(p, 0x045), 0x00000053u); // 0.5 s into cell 2 at 25 fps: 12.5 frames round to 13
    EXPECT_EQ(Be32(p, 0x407), 0x12345678u);
    EXPECT_EQ(Be32(p, 0x40B), 40u);
    EXPECT_EQ(Be32(p, 0x40F), 9u);
    EXPECT_EQ(Be32(p, 0x413), 1u);
    EXPECT_EQ(Be32(p, 0x417), 3u);
    EXPECT_EQ(Be32(p, 0x41B), 0u);
    EXPECT_EQ(Be16(p, 0x41F), 2u);
    EXPECT_EQ(p[0x422], 2);
    EXPECT_EQ(Be32(p, 0x423), Be32(p, 0x045));
    EXPECT_EQ(Be32(p, 0x433), 0u);
    EXPECT_EQ(Be32(p, 0x437), static_cast<uint32_t>(6 * kHalf));
    EXPECT_TRUE(AllZero(p, 0x049, 0x400 - 0x049)); // highlight and the rest of the PCI stay 0
    EXPECT_TRUE(AllZero(p, 0x5A9, 0x800 - 0x5A9)); // no subpicture streams
    EXPECT_EQ(Be32(packOf(*group, 0), 0x041), 0u); // no sequence end code
}

TEST(NavPack, SearchPointersForEveryStepWithTheIntermediateVideoFlag) {
    auto group = MakeGroup(MakeSource(evenVobus(30)));
    Bytes first = packOf(*group, 0);
    for (int step = 0; step < 15; ++step) // 0.5 s .. 7.5 s reach VOBU step + 1, 10 sectors each
        EXPECT_EQ(forward(first, step), 0x80000000u | (10u * (step + 1))) << "step " << step;
    EXPECT_EQ(forward(first, 15), 0xC0000000u | 200u); // 10 s skips VOBUs with video after the 7.5 s target
    EXPECT_EQ(forward(first, 16), 0x7FFFFFFFu);        // 30 s lies past the cell: default, but still flagged
    EXPECT_EQ(forward(first, 17), 0x3FFFFFFFu);        // same target as the step before: no flag
    EXPECT_EQ(forward(first, 18), 0x3FFFFFFFu);
    for (int step = 0; step < 19; ++step)
        EXPECT_EQ(backward(first, step), 0x3FFFFFFFu) << "step " << step;
    EXPECT_EQ(Be32(first, 0x545), 0x3FFFFFFFu); // first VOBU of the source: no previous VOBU
    EXPECT_EQ(Be32(first, 0x595), 0xBFFFFFFFu);
    EXPECT_EQ(Be32(first, 0x541), 0x8000000Au);
    EXPECT_EQ(Be32(first, 0x4F1), 0x8000000Au);

    Bytes last = packOf(*group, 29);
    for (int step = 0; step < 15; ++step)
        EXPECT_EQ(backward(last, step), 0x80000000u | (10u * (step + 1))) << "step " << step;
    EXPECT_EQ(backward(last, 15), 0xC0000000u | 200u);
    EXPECT_EQ(backward(last, 16), 0x7FFFFFFFu);
    EXPECT_EQ(backward(last, 17), 0x3FFFFFFFu);
    // The last VOBU of a cell: every forward pointer and the next VOBU at the default.
    for (int step = 0; step < 19; ++step)
        EXPECT_EQ(forward(last, step), 0x3FFFFFFFu) << "step " << step;
    EXPECT_EQ(Be32(last, 0x541), 0x3FFFFFFFu);
    EXPECT_EQ(Be32(last, 0x4F1), 0xBFFFFFFFu);
}

TEST(NavPack, TargetsInAnotherCellAreNotAddressed) {
    auto vobus = evenVobus(4, 1);
    auto second = evenVobus(4, 2, 4);
    vobus.insert(vobus.end(), second.begin(), second.end());
    auto group = MakeGroup(MakeSource(vobus));
    Bytes p = packOf(*group, 3); // last VOBU of cell 1
    EXPECT_EQ(Be32(p, 0x541), 0x3FFFFFFFu);
    EXPECT_EQ(Be32(p, 0x545), 0x8000000Au);
    Bytes q = packOf(*group, 4); // first VOBU of cell 2
    EXPECT_EQ(Be32(q, 0x545), 0x3FFFFFFFu);
    EXPECT_EQ(Be32(q, 0x595), 0xBFFFFFFFu);
    EXPECT_EQ(backward(q, 0), 0x3FFFFFFFu);
    EXPECT_EQ(Be32(q, 0x045), 0x00000040u); // elapsed time restarts with the cell
}

TEST(NavPack, VideoBitsFollowTheTargetsVideo) {
    std::vector<TestVobu> vobus = {{0, 9, 0, kHalf, true},
                                   {10, 14, kHalf, 2 * kHalf, false},
                                   {15, 19, 2 * kHalf, 3 * kHalf, false},
                                   {20, 29, 3 * kHalf, 4 * kHalf, true}};
    auto group = MakeGroup(MakeSource(vobus));
    Bytes p = packOf(*group, 1);
    EXPECT_EQ(Be32(p, 0x541), 5u);          // next VOBU has no video
    EXPECT_EQ(Be32(p, 0x545), 0x8000000Au); // previous VOBU, 10 sectors back, has video
    EXPECT_EQ(Be32(p, 0x4F1), 0x8000000Au); // next VOBU with video skips the one without
    EXPECT_EQ(Be32(p, 0x595), 0x8000000Au);
    Bytes q = packOf(*group, 3);
    EXPECT_EQ(Be32(q, 0x595), 0x80000014u); // 20 sectors back to the last VOBU with video
}

TEST(NavPack, AudioSynchronisationWords) {
    auto group = MakeGroup(MakeSource(evenVobus(4)));
    AuthorSource& source = *group->sources[0];
    group->attributes.numAudio = 4;
    group->attributes.audio[0].format = AUDIO_AC3;
    group->attributes.audio[0].streamNumber = 1;
    group->attributes.audio[1].format = AUDIO_MP2;
    group->attributes.audio[1].streamNumber = 1;
    group->attributes.audio[2].format = AUDIO_AC3; // a stream not bound to any channel
    group->attributes.audio[3].format = AUDIO_AC3;
    group->attributes.audio[3].streamNumber = 2;
    // AC-3 channel 0: a packet at sector 15 that starts before VOBU 2 (sectors 20..29), one at 31.
    source.channels[0].entries = {{0, kHalf, 3}, {kHalf + 100, 2 * kHalf + 100, 15}, {3 * kHalf, 4 * kHalf, 31}};
    // MPEG audio channel 8: one packet far away.
    source.channels[8].entries = {{kHalf / 2, kHalf, 9000}};
    // AC-3 channel 1: nothing before VOBU 3.
    source.channels[1].entries = {{3 * kHalf + 5, 4 * kHalf, 33}};

    LogRecorder log;
    Bytes p = packOf(*group, 2);
    EXPECT_EQ(Be16(p, 0x599), 0x8005u); // 5 sectors before the VOBU
    EXPECT_EQ(Be16(p, 0x59B), 0u);      // out of range
    EXPECT_TRUE(log.contains("\nWARN: audio sector out of range: 8980 (vobu #2, pts 90000)\n")) << log.all();
    EXPECT_EQ(Be16(p, 0x59D), 0x3FFFu); // unbound stream
    EXPECT_EQ(Be16(p, 0x59F), 0x3FFFu); // its first packet starts after this VOBU ends
    EXPECT_EQ(Be16(p, 0x5A1), 0u);      // beyond the group's streams
    Bytes q = packOf(*group, 3);
    EXPECT_EQ(Be16(q, 0x599), 1u);
    EXPECT_EQ(Be16(q, 0x59F), 3u);
    EXPECT_EQ(Be16(packOf(*group, 0), 0x599), 3u);
}

TEST(NavPack, SubpictureSynchronisationFollowsTheStreamsChannel) {
    auto group = MakeGroup(MakeSource(evenVobus(4)));
    AuthorSource& source = *group->sources[0];
    group->attributes.numSubpicture = 1;
    group->attributes.subpicture[0].streamNumber = 2; // the only subpicture stream is channel 33
    source.channels[33].entries = {{kHalf + 10, 3 * kHalf, 12}};
    EXPECT_EQ(Be32(packOf(*group, 2), 0x5A9), 0x8000000Au); // shown since VOBU 1: 10 sectors back
    EXPECT_EQ(Be32(packOf(*group, 1), 0x5A9), 0u);          // its own VOBU, no video bit
    EXPECT_EQ(Be32(packOf(*group, 0), 0x5A9), 0u);          // starts only when this VOBU has ended
    EXPECT_EQ(Be32(packOf(*group, 3), 0x5A9), 0x80000014u); // still on screen when VOBU 3 starts
    source.channels[33].entries.clear();
    EXPECT_EQ(Be32(packOf(*group, 2), 0x5A9), 0u);
}

TEST(FixNavPacks, RewritesEachPackInPlaceAcrossVobFiles) {
    auto group = MakeGroup(MakeSource(evenVobus(6)));
    AuthorSource& source = *group->sources[0];
    for (int i = 3; i < 6; ++i) { // VOBUs 3..5 went to the second VOB file
        source.vobus[i].vobNumber = 2;
        source.vobus[i].vobSector = source.vobus[i].firstSector - 30;
    }
    MemoryFiles files;
    files.files["out/VTS_01_1.VOB"] = Bytes(30 * 2048, 0x11);
    files.files["out/VTS_01_2.VOB"] = Bytes(30 * 2048, 0x22);
    std::vector<std::pair<int, int>> progress;
    AuthorNavFixOptions options;
    options.files = &files;
    options.progress = [&](int phase, int percent) { progress.emplace_back(phase, percent); };
    LogRecorder log;
    FixNavPacks("out/VTS_01", *group, GROUP_TITLES, options);

    EXPECT_EQ(files.opened, std::vector<std::string>({"out/VTS_01_1.VOB", "out/VTS_01_2.VOB"}));
    for (int i = 0; i < 6; ++i) {
        const Bytes& vob = files.files[i < 3 ? "out/VTS_01_1.VOB" : "out/VTS_01_2.VOB"];
        ASSERT_EQ(vob.size(), 30u * 2048);
        size_t at = static_cast<size_t>(source.vobus[i].vobSector) * 2048;
        EXPECT_EQ(Slice(vob, at, 2048), packOf(*group, i)) << "VOBU " << i;
        EXPECT_EQ(vob[at + 2048], i < 3 ? 0x11 : 0x22); // the sector after the pack is untouched
    }
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{1, 0}, {1, 16}, {1, 33}, {1, 50}, {1, 66}, {1, 83}}));
    EXPECT_TRUE(log.contains("STAT: fixing VOBU at 0MB (1/6, 0%)\r"));
    EXPECT_TRUE(log.contains("STAT: fixed 6 VOBUS                         "));
}

TEST(FixNavPacks, OpenAndWriteFailuresStopWithTheErrorText) {
    auto group = MakeGroup(MakeSource(evenVobus(2)));
    MemoryFiles files;
    AuthorNavFixOptions options;
    options.files = &files;
    {
        LogRecorder log;
        try {
            FixNavPacks("out/VTS_01", *group, GROUP_TITLES, options); // the VOB was never written
            FAIL() << "no error";
        } catch (const AuthorFatalError& e) {
            EXPECT_STREQ(e.what(), "Error opening out/VTS_01_1.VOB: No such file or directory");
        }
        EXPECT_TRUE(log.contains("\nERR:  Error opening out/VTS_01_1.VOB: No such file or directory\n"));
    }
    files.files["out/VTS_01_1.VOB"] = Bytes(20 * 2048, 0);
    files.failWritesAfter = 2048 + 100; // the second pack does not fit on the disk
    LogRecorder log;
    EXPECT_THROW(FixNavPacks("out/VTS_01", *group, GROUP_TITLES, options), AuthorFatalError);
    EXPECT_TRUE(log.contains("ERR:  Error writing data to out/VTS_01_1.VOB: ")) << log.all();
}

} // namespace
