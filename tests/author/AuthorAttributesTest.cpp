// Attribute record: merge rule, detection from video and audio headers, frame-rate tables, playback
// time, completing a group and the attribute block.
#include "AuthorError.h"
#include "AuthorStreamSupport.h"
#include "ProgramChain.h"

#include <gtest/gtest.h>

using namespace qxtest;

namespace {

void Detect(AuthorVideoAttributes& v, Bytes bytes) {
    bytes.resize(std::max<size_t>(bytes.size(), 8), 0);
    AuthorDetectVideo(v, bytes.data());
}

TEST(AttributesTest, PalWidescreenStreamGivesTheDocumentedVideoWord) {
    LogCapture log;
    AuthorVideoAttributes v;
    Detect(v, SequenceExtension());
    Bytes seq = SequenceHeader(720, 576, 3, 3);
    AuthorDetectVideo(v, seq.data());
    EXPECT_EQ(v.mpegFormat, MPEG_2);
    EXPECT_EQ(v.tvFormat, TV_PAL);
    EXPECT_EQ(v.resolution, RES_720_FULL);
    EXPECT_EQ(v.aspect, ASPECT_16_9);
    EXPECT_EQ(v.frameRate, 3);
    EXPECT_EQ(seq[7], 0x33);

    PgcGroup group;
    group.attributes.video = v;
    AuthorCompleteGroup(group, GROUP_TITLES);
    EXPECT_EQ(group.attributes.video.disallow, 0);
    uint8_t block[0x120] = {};
    AuthorWriteAttributeBlock(block, group.attributes);
    EXPECT_EQ((block[0] << 8) | block[1], 0x5C00);
    EXPECT_EQ(log.count("WARN"), 0) << log.all();
}

TEST(AttributesTest, SmallNtscMpeg1StreamIsHalfResolution) {
    LogCapture log;
    PgcGroup group;
    AuthorVideoAttributes& v = group.attributes.video;
    AuthorSetVideoWord(v, "mpeg1", ATTR_MPEG_FORMAT);
    Bytes seq = SequenceHeader(352, 240, 12, 4);
    AuthorDetectVideo(v, seq.data());
    EXPECT_EQ(v.resolution, RES_352_HALF);
    EXPECT_EQ(v.tvFormat, TV_NTSC);
    EXPECT_EQ(v.aspect, ASPECT_4_3);
    EXPECT_EQ(seq[7], 0xC4);
    AuthorCompleteGroup(group, GROUP_TITLE_MENUS);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"INFO: Generating VTSM with the following video attributes:\n",
                                                   "INFO: MPEG version: mpeg1\n", "INFO: TV standard: ntsc\n",
                                                   "INFO: Aspect ratio: 4:3\n", "INFO: Resolution: 352x240\n"}));
    EXPECT_EQ(v.disallow, 3);
}

TEST(AttributesTest, Mpeg1AspectIsRewrittenFromTheMergedValues) {
    LogCapture log;
    AuthorVideoAttributes v;
    AuthorSetVideoWord(v, "mpeg1", ATTR_MPEG_FORMAT);
    Bytes first = SequenceHeader(352, 288, 3, 3); // 16:9 PAL
    AuthorDetectVideo(v, first.data());
    Bytes second = SequenceHeader(352, 288, 8, 3); // says 4:3 PAL: the first value stays
    AuthorDetectVideo(v, second.data());
    EXPECT_EQ(second[7], 0x33);
    Bytes odd = SequenceHeader(352, 288, 5, 3);
    AuthorDetectVideo(v, odd.data());
    EXPECT_EQ(odd[7], 0x33);
    EXPECT_EQ(log.count("WARN: attempt to update aspect ratio from 16:9 to 4:3; skipping\n"), 1);
    EXPECT_EQ(log.count("WARN: unknown mpeg1 aspect ratio 5\n"), 1);
}

TEST(AttributesTest, Mpeg2AspectOfAnUndetectedStreamIsWrittenAs4By3) {
    // Square pixels (code 1) leave the aspect unset; the group then defaults to 4:3, and so does the
    // stream, instead of being marked 16:9 against its information file.
    LogCapture log;
    AuthorVideoAttributes v;
    AuthorSetVideoWord(v, "mpeg2", ATTR_MPEG_FORMAT);
    Bytes seq = SequenceHeader(720, 576, 1, 3);
    AuthorDetectVideo(v, seq.data());
    EXPECT_EQ(seq[7], 0x23);
    EXPECT_EQ(log.count("WARN: unknown mpeg2 aspect ratio 1\n"), 1);
}

TEST(AttributesTest, SequenceDisplayExtensionAndFrameRateSetTheTvFormat) {
    LogCapture log;
    AuthorVideoAttributes a;
    Detect(a, SequenceDisplayExtension(2));
    EXPECT_EQ(a.tvFormat, TV_NTSC);
    EXPECT_EQ(a.mpegFormat, MPEG_2);
    AuthorVideoAttributes b;
    Detect(b, SequenceDisplayExtension(1));
    EXPECT_EQ(b.tvFormat, TV_PAL);
    AuthorVideoAttributes c;
    Bytes film = SequenceHeader(720, 480, 2, 1); // 23.976: NTSC, but not a DVD frame rate
    AuthorDetectVideo(c, film.data());
    EXPECT_EQ(c.tvFormat, TV_NTSC);
    EXPECT_EQ(log.count("WARN: not a valid DVD frame rate: 24000.0/1001.0 (NTSC 3:2 pulldown converted FILM)\n"), 1);
    AuthorVideoAttributes d;
    Bytes rate5 = SequenceHeader(720, 480, 2, 5);
    AuthorDetectVideo(d, rate5.data());
    EXPECT_EQ(log.count("WARN: unknown frame rate 5\n"), 1);
    EXPECT_EQ(d.tvFormat, TV_NTSC) << "from the height";
}

TEST(AttributesTest, ConflictsAreLoggedOncePerNewValue) {
    LogCapture log;
    AuthorVideoAttributes v;
    EXPECT_FALSE(AuthorSetVideoWord(v, "NTSC", ATTR_TV_FORMAT)) << "names compare case-sensitively";
    EXPECT_TRUE(AuthorSetVideoWord(v, "ntsc", ATTR_TV_FORMAT));
    AuthorSetVideoWord(v, "pal", ATTR_TV_FORMAT);
    AuthorSetVideoWord(v, "pal", ATTR_TV_FORMAT);
    AuthorSetVideoWord(v, "ntsc", ATTR_TV_FORMAT);
    EXPECT_EQ(v.tvFormat, TV_NTSC);
    EXPECT_EQ(log.lines, std::vector<std::string>{"WARN: attempt to update tv format from ntsc to pal; skipping\n"});
    int current = 2, last = 0;
    EXPECT_TRUE(AuthorMergeAttr(current, 1, last, ATTR_MPEG_FORMAT));
    EXPECT_FALSE(AuthorMergeAttr(current, 2, last, ATTR_MPEG_FORMAT));
    EXPECT_FALSE(AuthorSetVideoWord(v, "48khz", ATTR_SAMPLING_RATE)) << "not a video attribute";
}

TEST(AttributesTest, ResolutionThresholdsAndTvFormatFromTheHeight) {
    struct Case {
        const char* text;
        int resolution;
        int tv;
    } cases[] = {
        {"720x576", RES_720_FULL, TV_PAL}, {"705x480", RES_720_FULL, TV_NTSC}, {"704x576", RES_704_FULL, TV_PAL},
        {"353x576", RES_704_FULL, TV_PAL}, {"352x576", RES_352_FULL, TV_PAL},  {"352x384", RES_352_FULL, 0},
        {"352x383", RES_352_HALF, 0},      {"352x288", RES_352_HALF, TV_PAL},  {"352x240", RES_352_HALF, TV_NTSC}};
    for (const Case& c : cases) {
        LogCapture log;
        AuthorVideoAttributes v;
        AuthorSetResolution(v, c.text);
        EXPECT_EQ(v.resolution, c.resolution) << c.text;
        EXPECT_EQ(v.tvFormat, c.tv) << c.text;
    }
}

TEST(AttributesTest, FrameRateTablesAndInvalidCodes) {
    const int clock[] = {90090, 90000, 90000, 90090, 90000, 90000, 90090, 90000};
    const int duration[] = {3753, 3750, 3600, 3003, 3000, 1800, 1501, 1500};
    for (int code = 1; code <= 8; ++code) {
        EXPECT_EQ(AuthorFrameClock(code), clock[code - 1]) << code;
        EXPECT_EQ(AuthorFrameDuration(code), duration[code - 1]) << code;
    }
    EXPECT_EQ(AuthorFrameDuration(0), 3003) << "unset counts as NTSC video";
    EXPECT_EQ(AuthorFrameDuration(12), 3003) << "never read beyond the table";
    EXPECT_EQ(AuthorSecondsToTicks(300, 3), 27000000);
    EXPECT_EQ(AuthorSecondsToTicks(300, 4), 27027000);
    EXPECT_EQ(AuthorTicksToSeconds(27026999, 4), 299);
    for (int code : {0, 9, 13, 15}) {
        LogCapture log;
        AuthorVideoAttributes v;
        Bytes seq = SequenceHeader(720, 576, 2, code);
        try {
            AuthorDetectVideo(v, seq.data());
            ADD_FAILURE() << "code " << code << " accepted";
        } catch (const AuthorFatalError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Invalid video frame rate code " + std::to_string(code) + " in sequence header");
            EXPECT_EQ(log.lines.back(),
                      "ERR:  Invalid video frame rate code " + std::to_string(code) + " in sequence header\n");
        }
        EXPECT_EQ(v.frameRate, 0);
    }
}

TEST(AttributesTest, PlaybackTimeEncoding) {
    EXPECT_EQ(AuthorPlaybackTime(90000, 3), 0x00000140u);
    EXPECT_EQ(AuthorPlaybackTime(89999, 4), 0x000001C0u);
    EXPECT_EQ(AuthorPlaybackTime(0, 3), 0x00000040u);
    // 1 h 2 min 3 s and 12 frames at 25 fps.
    EXPECT_EQ(AuthorPlaybackTime((3723LL * 25 + 12) * 3600, 3), 0x01020352u);
    // 10 min 59 s and 29 frames at 29.97: BCD of every field.
    EXPECT_EQ(AuthorPlaybackTime(659LL * 90090 + 29 * 3003, 4), 0x001059E9u);
    uint8_t bytes[4];
    AuthorWritePlaybackTime(bytes, 90000, 3);
    EXPECT_EQ(bytes[2], 0x01);
    EXPECT_EQ(bytes[3], 0x40);
}

TEST(AttributesTest, Ac3AndLpcmHeaders) {
    LogCapture log;
    AuthorAudioValues a;
    Bytes frame = Ac3Frame(0, 8, 7, 4, 0, true);
    AuthorDetectAc3(a, frame.data(), static_cast<int>(frame.size()));
    EXPECT_EQ(a.channels, 6);
    EXPECT_EQ(a.samplingRate, SAMPLING_48K);
    EXPECT_EQ(a.surround, 0);

    AuthorAudioValues b;
    frame = Ac3Frame(0, 6, 2, 0, 2, false);
    AuthorDetectAc3(b, frame.data(), static_cast<int>(frame.size()));
    EXPECT_EQ(b.channels, 2);
    EXPECT_EQ(b.surround, 1);

    AuthorAudioValues c;
    frame = Ac3Frame(1, 10, 1, 0, 0, false); // unknown rate, bsid 10 is not examined
    AuthorDetectAc3(c, frame.data(), static_cast<int>(frame.size()));
    EXPECT_EQ(c.samplingRate, SAMPLING_48K);
    EXPECT_EQ(c.channels, 0);
    EXPECT_EQ(log.count("WARN: Unknown AC3 sample rate: 1\n"), 1);

    AuthorAudioValues d;
    frame = Ac3Frame(0, 8, 5, 4, 0, false); // 3/1: centre and surround mix levels are skipped
    AuthorDetectAc3(d, frame.data(), static_cast<int>(frame.size()));
    EXPECT_EQ(d.channels, 4);

    AuthorAudioValues pcm;
    AuthorDetectLpcm(pcm, 0x91); // top bits 10: 24 bps; bit 4: 96 kHz; low bits 1: 2 channels
    EXPECT_EQ(pcm.quantization, QUANT_24);
    EXPECT_EQ(pcm.samplingRate, SAMPLING_96K);
    EXPECT_EQ(pcm.channels, 2);
    AuthorAudioValues pcm3;
    AuthorDetectLpcm(pcm3, 0xC5); // quantization 3 sets nothing
    EXPECT_EQ(pcm3.quantization, 0);
    EXPECT_EQ(pcm3.channels, 6);
    EXPECT_EQ(pcm3.samplingRate, SAMPLING_48K);
}

// A source whose channels have one timeline entry each, with the given detected values.
std::unique_ptr<AuthorSource> SourceWithChannels(std::initializer_list<std::pair<int, AuthorAudioValues>> channels) {
    auto source = std::make_unique<AuthorSource>();
    for (const auto& [channel, values] : channels) {
        source->channels[channel].entries.push_back(AuthorTimelineEntry{0, 100, 0});
        source->channels[channel].values = values;
    }
    return source;
}

TEST(AttributesTest, CompletingAGroupMatchesAudioStreamsAndBindsSubpictures) {
    LogCapture log;
    PgcGroup group;
    AuthorAudioValues sixChannels;
    sixChannels.channels = 6;
    AuthorAudioValues stereo;
    stereo.channels = 2;
    group.sources.push_back(SourceWithChannels({{AuthorAudioChannel(AUDIO_AC3, 2), sixChannels}, {33, {}}}));
    group.sources.push_back(SourceWithChannels({{AuthorAudioChannel(AUDIO_MP2, 1), stereo}, {32, {}}}));
    // Preset slots: an ac3 slot of 2 channels (does not fit 6), an unset slot, and a language.
    AuthorAttributes& a = group.attributes;
    a.numAudio = 2;
    a.audio[0].format = AUDIO_AC3;
    a.audio[0].values.channels = 2;
    a.audio[1].languageType = LANG_SET;
    a.audio[1].language[0] = 'd';
    a.audio[1].language[1] = 'e';
    a.numSubpicture = 1;
    AuthorCompleteGroup(group, GROUP_TITLES);

    // Pair order: stream 1 (ac3, mp2, ...) before stream 2: mp2 #1 takes slot 1 (slot 0's ac3 differs),
    // ac3 #2 with 6 channels fits no free slot and gets a new one.
    ASSERT_EQ(a.numAudio, 3);
    EXPECT_EQ(a.audio[0].streamNumber, 0);
    EXPECT_EQ(a.audio[1].format, AUDIO_MP2);
    EXPECT_EQ(a.audio[1].streamNumber, 1);
    EXPECT_EQ(a.audio[1].values.quantization, QUANT_20);
    EXPECT_EQ(a.audio[2].format, AUDIO_AC3);
    EXPECT_EQ(a.audio[2].streamNumber, 2);
    EXPECT_EQ(a.audio[2].values.channels, 6);
    EXPECT_EQ(a.audio[2].values.quantization, QUANT_DRC);
    ASSERT_EQ(a.numSubpicture, 2);
    EXPECT_EQ(a.subpicture[0].streamNumber, 1);
    EXPECT_EQ(a.subpicture[1].streamNumber, 2);

    std::vector<std::string> expected = {
        "WARN: video mpeg version was not autodetected\n",
        "WARN: video resolution was not autodetected\n",
        "WARN: video format was not autodetected\n",
        "WARN: aspect ratio was not autodetected\n",
        "INFO: Generating VTS with the following video attributes:\n",
        "INFO: MPEG version: mpeg2\n",
        "INFO: TV standard: ntsc\n",
        "INFO: Aspect ratio: 4:3\n",
        "INFO: Resolution: 720x480\n",
        "INFO: Audio ch 0 format: ac3/2ch, 48khz drc\n",
        "WARN: Audio ch 0 is not used!\n",
        "INFO: Audio ch 1 format: mp2/2ch, 48khz 20bps, 'de'\n",
        "INFO: Audio ch 2 format: ac3/6ch, 48khz drc\n",
    };
    EXPECT_EQ(log.lines, expected);
}

TEST(AttributesTest, AudioSlotsWithoutFormatGetMp2WithAWarning) {
    LogCapture log;
    PgcGroup group;
    group.attributes.numAudio = 1;
    AuthorSetVideoWord(group.attributes.video, "pal", ATTR_TV_FORMAT);
    AuthorCompleteGroup(group, GROUP_VMG_MENUS);
    EXPECT_EQ(group.attributes.audio[0].format, AUDIO_MP2);
    EXPECT_EQ(log.count("WARN: audio stream 0 was not autodetected\n"), 1);
    EXPECT_EQ(log.count("INFO: Generating VMGM with"), 1);
    EXPECT_EQ(log.count("INFO: Resolution: 720x576\n"), 1);
}

TEST(AttributesTest, AttributeBlockBytes) {
    AuthorAttributes a;
    a.video.mpegFormat = MPEG_2;
    a.video.tvFormat = TV_NTSC;
    a.video.aspect = ASPECT_4_3;
    a.video.disallow = 3;
    a.video.resolution = RES_352_HALF;
    a.numAudio = 2;
    a.audio[0].format = AUDIO_AC3;
    a.audio[0].values = AuthorAudioValues{QUANT_DRC, 1, 6, SAMPLING_48K};
    a.audio[0].languageType = LANG_SET;
    a.audio[0].language[0] = 'e';
    a.audio[0].language[1] = 'n';
    a.audio[1].format = AUDIO_PCM;
    a.audio[1].values = AuthorAudioValues{QUANT_24, 0, 2, SAMPLING_96K};
    a.numSubpicture = 2;
    a.subpicture[1].languageType = LANG_SET;
    a.subpicture[1].language[0] = 'f';
    a.subpicture[1].language[1] = 'r';
    Bytes block(0x120, 0xEE);
    AuthorWriteAttributeBlock(block.data(), a);
    EXPECT_EQ(Bytes(block.begin(), block.begin() + 4), (Bytes{0x43, 0x0C, 0x00, 0x02}));
    EXPECT_EQ(Bytes(block.begin() + 4, block.begin() + 12), (Bytes{0x06, 0xC5, 'e', 'n', 0, 0, 0, 0x08}));
    EXPECT_EQ(Bytes(block.begin() + 12, block.begin() + 20), (Bytes{0x80, 0x91, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(block[20], 0xEE) << "unused audio slots are left alone";
    EXPECT_EQ(Bytes(block.begin() + 84, block.begin() + 98), (Bytes{0, 2, 0, 0, 0, 0, 0, 0, 1, 0, 'f', 'r', 0, 0}));
    EXPECT_EQ(block[98], 0xEE);
}

} // namespace
