// Probing and converting in process: what the worker runs. Streams are read back with
// libavformat/libavcodec and checked byte by byte for their packs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "Convert.h"
#include "DvdWriter.h"
#include "EncoderTestSupport.h"
#include "PartFileOutput.h"
#include "Probe.h"
#include "QuantiserLook.h"

using namespace qx::enc;
using namespace qxtest;

namespace {

ConvertRequest Request(const std::string& in, const std::string& out, TvStandard tv, bool wide) {
    ConvertRequest r;
    r.input = in;
    r.output = out;
    r.tv = tv;
    r.wide = wide;
    r.pictureWidth = 720;
    r.pictureHeight = FrameLines(tv);
    return r;
}

std::string Out(const std::string& name) {
    return TestRoot() + name;
}

// Cellular noise: too busy for the linear quantiser to hold its share.
std::string CellsMovie() {
    return Fixture("cells.rm", "-f lavfi -i cellauto=size=320x240:rate=25:rule=110:random_fill_ratio=0.5:"
                               "random_seed=1:scroll=1,format=yuv420p -t 8 -c:v rv20 -b:v 400k -qmin 3 -g 50");
}

// Sets or clears the quantiser the encoder is made to take, for one scope.
class ForcedQuantiser {
public:
    explicit ForcedQuantiser(const char* name) {
        if (name)
            setenv("QX_ENCODER_QUANTISER", name, 1);
        else
            unsetenv("QX_ENCODER_QUANTISER");
    }
    ~ForcedQuantiser() { unsetenv("QX_ENCODER_QUANTISER"); }
};

// The VOBUs of a stream: the picture time at which each one starts (the first picture time
// after its nav pack), the GOPs of the picture stream and where it ends.
struct Vobus {
    std::vector<double> starts;
    int gops = 0;
    double end = 0;
};

Vobus ReadVobus(const std::string& path) {
    const std::string d = ReadFile(path);
    auto u8 = [&](size_t i) { return static_cast<uint8_t>(d[i]); };
    Vobus v;
    std::string video;
    bool opened = false;
    for (size_t at = 0; at + 2048 <= d.size(); at += 2048) {
        const size_t pes = at + 14 + (u8(at + 13) & 7);
        if (u8(pes + 3) == 0xBB) {
            opened = true;
            continue;
        }
        if (u8(pes + 3) != 0xE0)
            continue;
        const size_t end = pes + 6 + ((u8(pes + 4) << 8) | u8(pes + 5));
        const size_t payload = pes + 9 + u8(pes + 8);
        if (u8(pes + 7) & 0x80) {
            const double pts = ((static_cast<int64_t>(u8(pes + 9) & 0x0E) << 29) | (u8(pes + 10) << 22) |
                                ((u8(pes + 11) >> 1) << 15) | (u8(pes + 12) << 7) | (u8(pes + 13) >> 1)) /
                               90000.0;
            if (opened)
                v.starts.push_back(pts);
            opened = false;
            v.end = std::max(v.end, pts);
        }
        video.append(d, payload, std::min(end, at + 2048) - payload);
    }
    for (size_t i = 0; i + 3 < video.size(); ++i)
        v.gops += video.compare(i, 4, std::string("\0\0\1\xB8", 4)) == 0 ? 1 : 0;
    return v;
}

} // namespace

TEST(Probe, RealMediaMoviesAreSupported) {
    for (const std::string& movie : {Rv20Ac3Movie(), Rv10Real144Movie()}) {
        ProbeAnswer a = ProbeMovie(movie);
        ASSERT_TRUE(a.supported) << movie << ": " << a.reason;
        ExpectFixtureMovieProbe(a, movie);
        EXPECT_NEAR(a.sizeKb, FileSize(movie) / 1024.0, 0.01);
        EXPECT_EQ(ProbeAVideoIndex(a.probeA), 0);
        EXPECT_EQ(ProbeAAudioIndex(a.probeA), 1);
        EXPECT_FLOAT_EQ(a.probeB, static_cast<float>(a.duration));
    }
}

TEST(Probe, WhatCannotBeDecodedIsNotSupported) {
    std::string text = Out("notes.rm");
    Shell("echo 'not a movie at all' > '" + text + "'");
    std::string empty = Out("empty.rm");
    Shell(": > '" + empty + "'");
    std::string truncated = Out("truncated.rm");
    Shell("head -c 3000 '" + Rv20Ac3Movie() + "' > '" + truncated + "'");
    for (const std::string& bad : {text, empty, truncated, Out("missing.rm"), TestRoot()}) {
        ProbeAnswer a = ProbeMovie(bad);
        EXPECT_FALSE(a.supported) << bad;
        EXPECT_FALSE(a.reason.empty()) << bad;
    }
}

TEST(Probe, LinesRoundTripAndMalformedLinesAreRefused) {
    ProbeAnswer a = ProbeMovie(Rv20Ac3Movie());
    ProbeAnswer back;
    ASSERT_TRUE(ParseProbeLines(FormatProbeLines(a), &back));
    EXPECT_EQ(back.supported, a.supported);
    EXPECT_EQ(back.path, a.path);
    EXPECT_DOUBLE_EQ(back.duration, a.duration);
    EXPECT_FLOAT_EQ(back.aspect, a.aspect);
    EXPECT_EQ(back.probeA, a.probeA);
    // Names keep every byte, a newline or one that is not UTF-8 among them.
    ProbeAnswer odd = a;
    odd.path = "/movies/two\nlines \\ and \xff\xfe.rm";
    odd.reason = "cannot open\r\nat all";
    ASSERT_TRUE(ParseProbeLines(FormatProbeLines(odd), &back));
    EXPECT_EQ(back.path, odd.path);
    EXPECT_EQ(back.reason, odd.reason);
    EXPECT_EQ(back.width, odd.width);
    EXPECT_FALSE(ParseProbeLines("supported=1\npath=a\\\n", &back)) << "an escape cut short";
    EXPECT_FALSE(ParseProbeLines("supported=1\nduration=nan\n", &back));
    EXPECT_FALSE(ParseProbeLines("width=320\n", &back)) << "no supported line";
    EXPECT_FALSE(ParseProbeLines("supported=1\nwidth=abc\n", &back));
    EXPECT_FALSE(ParseProbeLines("supported=1\ngarbage\n", &back));
}

TEST(Convert, PalWideStreamHasDvdParametersAndNavPacks) {
    std::string out = Out("pal169.vob");
    ConvertRequest r = Request(Rv20Ac3Movie(), out, TvStandard::Pal, true);
    r.pictureWidth = 539;
    std::vector<double> progress;
    ConvertResult res = ConvertMovie(
        r, [&](double f) { progress.push_back(f); }, nullptr);
    ASSERT_TRUE(res.ok) << res.error;
    StreamFacts f = ReadStreamFacts(out);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.videoCodec, "mpeg2video");
    EXPECT_EQ(f.width, 720);
    EXPECT_EQ(f.height, 576);
    EXPECT_EQ(f.darNum, 16);
    EXPECT_EQ(f.darDen, 9);
    EXPECT_NEAR(f.frameRate, 25.0, 0.01);
    EXPECT_LE(f.maxGop, 15);
    EXPECT_GT(f.maxGop, 1);
    EXPECT_EQ(f.audioCodec, "ac3");
    EXPECT_EQ(f.sampleRate, 48000);
    EXPECT_EQ(f.channels, 2);
    EXPECT_NEAR(f.videoSeconds, 4.0, 0.15);
    EXPECT_NEAR(f.audioSeconds, f.videoSeconds, 0.1);
    int nav = 0;
    EXPECT_EQ(CheckPacks(out, &nav), "");
    EXPECT_GE(nav, 6) << "a nav pack opens every VOBU (about two a second)";
    // Progress rises to 1.
    ASSERT_FALSE(progress.empty());
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_GE(progress[i], progress[i - 1]);
    EXPECT_EQ(static_cast<int64_t>(res.bytes), FileSize(out));
}

namespace {

struct SequenceFacts {
    int headers = 0, width = 0, height = 0, aspectCode = 0, rateCode = 0, bitRateValue = 0, vbvValue = 0;
    int gops = 0, openGops = 0;
};

// Reads the picture stream's sequence and GOP headers straight from the bytes of the file.
SequenceFacts ReadSequenceHeaders(const std::string& path) {
    std::string d = ReadFile(path);
    SequenceFacts f;
    auto u = [&](size_t i) { return static_cast<unsigned>(static_cast<uint8_t>(d[i])); };
    for (size_t i = 0; i + 12 < d.size(); ++i) {
        if (u(i) != 0 || u(i + 1) != 0 || u(i + 2) != 1)
            continue;
        if (u(i + 3) == 0xB3) {
            ++f.headers;
            f.width = (u(i + 4) << 4) | (u(i + 5) >> 4);
            f.height = ((u(i + 5) & 0xF) << 8) | u(i + 6);
            f.aspectCode = u(i + 7) >> 4;
            f.rateCode = u(i + 7) & 0xF;
            f.bitRateValue = (u(i + 8) << 10) | (u(i + 9) << 2) | (u(i + 10) >> 6);
            f.vbvValue = ((u(i + 10) & 0x1F) << 5) | (u(i + 11) >> 3);
        } else if (u(i + 3) == 0xB8) {
            ++f.gops;
            // time code (25 bits), then closed_gop
            if (!(u(i + 7) & 0x40))
                ++f.openGops;
        }
    }
    return f;
}

} // namespace

TEST(Convert, SequenceAndGopHeadersCarryTheDvdLimits) {
    struct Case {
        TvStandard tv;
        bool wide;
        int height, aspectCode, rateCode;
    } cases[] = {{TvStandard::Pal, false, 576, 2, 3}, {TvStandard::Ntsc, true, 480, 3, 4}};
    for (const Case& c : cases) {
        std::string out = Out("headers.vob");
        ASSERT_TRUE(ConvertMovie(Request(Rv20Ac3Movie(), out, c.tv, c.wide), nullptr, nullptr).ok);
        SequenceFacts f = ReadSequenceHeaders(out);
        ASSERT_GT(f.headers, 0);
        EXPECT_EQ(f.headers, f.gops) << "every GOP starts with a sequence header";
        EXPECT_EQ(f.width, 720);
        EXPECT_EQ(f.height, c.height);
        EXPECT_EQ(f.aspectCode, c.aspectCode);
        EXPECT_EQ(f.rateCode, c.rateCode);
        // What the multiplex can bring the picture, within the DVD's 9.8 Mbit/s.
        EXPECT_EQ(f.bitRateValue, kBufferFillBitrate / 400);
        EXPECT_LE(f.bitRateValue, 9800000 / 400);
        EXPECT_EQ(f.vbvValue, 1835008 / 16384) << "VBV buffer 1835008 bits";
        EXPECT_EQ(f.openGops, 0);
    }
}

TEST(Convert, NtscStreamWithRealAudioSound) {
    std::string out = Out("ntsc43.vob");
    ConvertResult res = ConvertMovie(Request(Rv10Real144Movie(), out, TvStandard::Ntsc, false), nullptr, nullptr);
    ASSERT_TRUE(res.ok) << res.error;
    StreamFacts f = ReadStreamFacts(out);
    EXPECT_EQ(f.width, 720);
    EXPECT_EQ(f.height, 480);
    EXPECT_EQ(f.darNum, 4);
    EXPECT_EQ(f.darDen, 3);
    EXPECT_NEAR(f.frameRate, 29.97, 0.01);
    EXPECT_LE(f.maxGop, 18);
    EXPECT_EQ(f.audioCodec, "ac3");
    EXPECT_EQ(f.sampleRate, 48000);
    EXPECT_EQ(f.channels, 2);
    int nav = 0;
    EXPECT_EQ(CheckPacks(out, &nav), "");
}

// Players seek by VOBU and the time map points at them: whatever sound the movie has, every GOP
// gets its nav pack and no VOBU lasts past a second. RealAudio 1.0 in .rm carries one time for a
// whole block of sound, which once let the picture run ahead and its nav packs fall away (and lost
// the sound of the first seconds).
TEST(Convert, EveryGopStartsAVobuWhateverTheSound) {
    const std::string noSound = Fixture("rv20-silent.rm", "-f lavfi -i testsrc2=size=320x240:rate=25 -t 4 "
                                                          "-c:v rv20 -b:v 300k -an");
    const std::string real144 =
        Fixture("rv20-real144-8k.rm", "-f lavfi -i testsrc2=size=320x240:rate=25 "
                                      "-f lavfi -i sine=frequency=700:sample_rate=8000 "
                                      "-t 14 -af volume=4 -c:v rv20 -b:v 300k -c:a real_144 -ac 1 -ar 8000");
    for (const std::string& movie : {Rv20Ac3Movie(), Rv10Real144Movie(), real144, noSound}) {
        const std::string out = Out("vobus.vob");
        ConvertResult res = ConvertMovie(Request(movie, out, TvStandard::Pal, false), nullptr, nullptr);
        ASSERT_TRUE(res.ok) << movie << ": " << res.error;
        const Vobus v = ReadVobus(out);
        ASSERT_GT(v.gops, 5) << movie;
        EXPECT_EQ(static_cast<int>(v.starts.size()), v.gops) << movie << ": a nav pack before every GOP";
        for (size_t i = 1; i < v.starts.size(); ++i) {
            EXPECT_GE(v.starts[i] - v.starts[i - 1], 0.4 - 1e-6) << movie << " VOBU " << i;
            EXPECT_LE(v.starts[i] - v.starts[i - 1], 1.0 + 1e-6) << movie << " VOBU " << i;
        }
        if (!v.starts.empty()) {
            EXPECT_LE(v.end - v.starts.back(), 1.0) << movie;
        }
        if (movie == real144) { // a loud tone from the first instant
            const double sound = FirstLoudSound(out);
            EXPECT_GE(sound, 0) << movie << ": the sound was lost";
            EXPECT_LT(sound, 0.2) << movie;
        }
    }
}

TEST(Convert, SizeFollowsTheBudgetRateForBusyAndForStillMovies) {
    std::string still = Fixture("still.rm", "-f lavfi -i color=black:size=320x240:rate=25 -t 8 -c:v rv20");
    std::string busy = Fixture("busy.rm", "-f lavfi -i testsrc2=size=320x240:rate=25 -t 8 -c:v rv20 -b:v 300k");
    // A still picture of fine detail: its P pictures cost nothing at the I picture's step and as much
    // as an I picture at a finer one (it once overran its share by a quarter).
    std::string detail = Fixture("detail.mkv", "-f lavfi -i testsrc2=size=720x576:rate=25,noise=alls=60,"
                                               "trim=end_frame=1,loop=loop=200:size=1,setpts=N/25/TB "
                                               "-t 8 -c:v mpeg4 -q:v 2");
    for (const std::string& movie : {still, busy, detail}) {
        std::string out = Out("rate.vob");
        ConvertResult res = ConvertMovie(Request(movie, out, TvStandard::Pal, false), nullptr, nullptr);
        ASSERT_TRUE(res.ok) << res.error;
        double perSecond = FileSize(out) / res.seconds;
        // 399 KB a second; short movies carry the start-up of the rate control, so a wider band.
        EXPECT_NEAR(perSecond / kTargetBytesPerSecond, 1.0, 0.12) << movie;
    }
}

TEST(Convert, GopsAreClosedVobusWithinTheDvdRatesWithEitherQuantiser) {
    struct Case {
        const char* quantiser;
        std::string movie;
        TvStandard tv;
    } cases[] = {{"linear", Rv20Ac3Movie(), TvStandard::Pal},
                 {"linear", Rv20Ac3Movie(), TvStandard::Ntsc},
                 {"non-linear", CellsMovie(), TvStandard::Pal},
                 {nullptr, CellsMovie(), TvStandard::Ntsc}};
    for (const Case& c : cases) {
        ForcedQuantiser forced(c.quantiser);
        std::string out = Out("gops.vob");
        ASSERT_TRUE(ConvertMovie(Request(c.movie, out, c.tv, false), nullptr, nullptr).ok);
        std::string what = std::string(c.quantiser ? c.quantiser : "chosen") + " " + c.movie;
        const double fps = c.tv == TvStandard::Pal ? 25.0 : 30000.0 / 1001.0;
        std::vector<GopFacts> gops = ReadGops(out);
        ASSERT_GE(gops.size(), 2u) << what;
        size_t pictures = 0;
        for (size_t i = 0; i < gops.size(); ++i) {
            const GopFacts& g = gops[i];
            SCOPED_TRACE(what + ", GOP " + std::to_string(i) + " " + g.types);
            EXPECT_TRUE(g.afterNavPack) << "every GOP opens a VOBU";
            EXPECT_TRUE(g.closed);
            ASSERT_FALSE(g.types.empty());
            EXPECT_EQ(g.types[0], 'I');
            double seconds = g.types.size() / fps;
            EXPECT_LE(seconds, 1.0);
            if (i + 1 < gops.size()) {
                EXPECT_GE(seconds, 0.4);
            }
            // Pictures of a GOP show each of its times once: none lost or doubled in reordering.
            std::vector<int> shown = g.temporalReferences;
            std::sort(shown.begin(), shown.end());
            for (size_t k = 0; k < shown.size(); ++k)
                EXPECT_EQ(shown[k], static_cast<int>(k));
            pictures += g.types.size();
        }
        EXPECT_EQ(static_cast<int>(pictures), ReadStreamFacts(out).pictures) << what;
        EXPECT_EQ(CheckVideoBuffer(gops, fps, 9800000, 1835008), "") << what;
        EXPECT_EQ(CheckPictureArrival(out, fps), "") << what;
    }
}

TEST(Convert, BusyMovieKeepsItsShareOnlyWithTheQuantiserChosenForIt) {
    ConvertRequest r = Request(CellsMovie(), Out("cells.vob"), TvStandard::Pal, false);
    QuantiserLook look = LookAtMovie(r, 0, 8.0);
    EXPECT_EQ(look.quantiser, Quantiser::NonLinear) << look.linearDemand;
    EXPECT_GE(look.pictures, 12) << "the start of a GOP at two places of a short movie";
    ConvertResult chosen = ConvertMovie(r, nullptr, nullptr);
    ASSERT_TRUE(chosen.ok) << chosen.error;
    EXPECT_NEAR(chosen.bytes / chosen.seconds / kTargetBytesPerSecond, 1.0, 0.05);
    // The linear quantiser cannot reach steps coarse enough for this movie.
    ForcedQuantiser forced("linear");
    ConvertResult linear = ConvertMovie(r, nullptr, nullptr);
    ASSERT_TRUE(linear.ok) << linear.error;
    EXPECT_GT(linear.bytes / linear.seconds / kTargetBytesPerSecond, 1.08);
}

TEST(Convert, CalmMoviesGetTheLinearQuantiserAndUnreadableOnesTheSafeOne) {
    std::string still = Fixture("still.rm", "-f lavfi -i color=black:size=320x240:rate=25 -t 8 -c:v rv20");
    for (const std::string& movie : {still, Rv20Ac3Movie()}) {
        ConvertRequest r = Request(movie, Out("look.vob"), TvStandard::Ntsc, true);
        QuantiserLook look = LookAtMovie(r, 0, movie == still ? 8.0 : 0.0);
        EXPECT_EQ(look.quantiser, Quantiser::Linear) << movie;
        EXPECT_GE(look.pictures, movie == still ? 12 : 6) << movie;
        EXPECT_GT(look.linearDemand, 0) << movie;
    }
    for (int stream : {-1, 1, 7}) {
        QuantiserLook look = LookAtMovie(Request(Rv20Ac3Movie(), Out("look.vob"), TvStandard::Pal, false), stream, 4.0);
        EXPECT_EQ(look.quantiser, Quantiser::NonLinear) << stream;
        EXPECT_EQ(look.pictures, 0) << stream;
    }
    QuantiserLook none = LookAtMovie(Request(Out("missing.rm"), Out("look.vob"), TvStandard::Pal, false), 0, 4.0);
    EXPECT_EQ(none.quantiser, Quantiser::NonLinear);
}

TEST(Convert, CalmScenesLeaveTheirBitsToTheBusyScenesThatFollowAndTheSizeHolds) {
    std::string movie = CalmBusyMovie();
    for (TvStandard tv : {TvStandard::Pal, TvStandard::Ntsc}) {
        std::string out = Out("calm-busy.vob");
        ConvertResult res = ConvertMovie(Request(movie, out, tv, false), nullptr, nullptr);
        ASSERT_TRUE(res.ok) << res.error;
        EXPECT_NEAR(res.bytes / res.seconds / kTargetBytesPerSecond, 1.0, 0.05);
        std::vector<GopFacts> gops = ReadGops(out);
        ASSERT_GE(gops.size(), 10u);
        double calm = 0, busy = 0;
        for (size_t i = 0; i < gops.size(); ++i)
            for (int64_t bytes : gops[i].pictureBytes)
                (i < gops.size() / 2 ? calm : busy) += static_cast<double>(bytes);
        // Before, the calm half was padded up to the average as it passed.
        EXPECT_GT(busy, 4 * calm) << "calm " << calm << " busy " << busy;
        const double fps = tv == TvStandard::Pal ? 25.0 : 30000.0 / 1001.0;
        EXPECT_EQ(CheckVideoBuffer(gops, fps, 9800000, 1835008), "");
        EXPECT_EQ(CheckPictureArrival(out, fps), "");
    }
}

TEST(Convert, PictureIsScaledToTheRequestAndCentredOnBlack) {
    std::string white = Fixture("white.rm", "-f lavfi -i color=white:size=320x240:rate=25 -t 1 -c:v rv20");
    std::string out = Out("centred.vob");
    ConvertRequest r = Request(white, out, TvStandard::Pal, false);
    r.pictureWidth = 360;
    r.pictureHeight = 288;
    ASSERT_TRUE(ConvertMovie(r, nullptr, nullptr).ok);
    int w = 0, h = 0;
    std::vector<uint8_t> y = DecodeLuma(out, 5, &w, &h);
    ASSERT_EQ(w, 720);
    ASSERT_EQ(h, 576);
    auto at = [&](int x, int yy) { return y[static_cast<size_t>(yy) * w + x]; };
    // The white box spans 180..539 x 144..431.
    EXPECT_GT(at(360, 288), 200);
    EXPECT_GT(at(190, 154), 200);
    EXPECT_GT(at(529, 421), 200);
    EXPECT_LT(at(170, 288), 40);
    EXPECT_LT(at(550, 288), 40);
    EXPECT_LT(at(360, 134), 40);
    EXPECT_LT(at(360, 441), 40);

    // 0 x 0: the movie's own 320 x 240, centred.
    r.pictureWidth = r.pictureHeight = 0;
    ASSERT_TRUE(ConvertMovie(r, nullptr, nullptr).ok);
    y = DecodeLuma(out, 5, &w, &h);
    EXPECT_GT(at(360, 288), 200);
    EXPECT_GT(at(210, 178), 200);
    EXPECT_LT(at(190, 288), 40);
    EXPECT_LT(at(530, 288), 40);
    EXPECT_LT(at(360, 158), 40);
}

TEST(Convert, SoundStaysInStepWithThePictureWhenTheMovieStartsLate) {
    // A flash and a beep at 2 s, in a file whose clock starts at 3 s, with the sound track
    // starting half a second after the picture.
    std::string movie =
        Fixture("late.mkv",
                "-f lavfi -i \"color=black:s=320x240:r=25:d=4,drawbox=c=white:t=fill:enable='between(t,2,2.3)'\" "
                "-itsoffset 0.5 -f lavfi -i \"aevalsrc='if(between(t,1.5,1.8),0.8*sin(2*PI*440*t),0)':s=44100:d=3.5\" "
                "-c:v mpeg4 -c:a ac3 -output_ts_offset 3");
    ProbeAnswer a = ProbeMovie(movie);
    ASSERT_TRUE(a.supported);
    EXPECT_NEAR(a.startTime, 3.0, 0.05);
    std::string out = Out("late.vob");
    ASSERT_TRUE(ConvertMovie(Request(movie, out, TvStandard::Pal, false), nullptr, nullptr).ok);
    double picture = FirstBrightPicture(out);
    double sound = FirstLoudSound(out);
    ASSERT_GE(picture, 0);
    ASSERT_GE(sound, 0);
    EXPECT_NEAR(sound - picture, 0.0, 0.045);
    StreamFacts f = ReadStreamFacts(out);
    EXPECT_NEAR(f.videoSeconds, 4.0, 0.15) << "the movie's late start is not added as a pause";
}

TEST(Convert, MovieWithoutSoundGetsASilentTrack) {
    std::string mute = Fixture("mute.rm", "-f lavfi -i testsrc2=size=320x240:rate=25 -t 3 -c:v rv20 -an");
    std::string out = Out("mute.vob");
    ASSERT_TRUE(ConvertMovie(Request(mute, out, TvStandard::Pal, false), nullptr, nullptr).ok);
    StreamFacts f = ReadStreamFacts(out);
    EXPECT_EQ(f.audioCodec, "ac3");
    EXPECT_EQ(f.sampleRate, 48000);
    EXPECT_NEAR(f.audioSeconds, f.videoSeconds, 0.1);
    EXPECT_LT(FirstLoudSound(out), 0) << "the track is silent";
}

TEST(Convert, StopEndsWithAValidShorterStream) {
    std::string out = Out("stopped.vob");
    std::atomic<bool> stop{false};
    ConvertResult res = ConvertMovie(
        Request(LongMovie(), out, TvStandard::Pal, false),
        [&](double f) {
            if (f > 0.2)
                stop = true;
        },
        &stop);
    ASSERT_TRUE(res.ok) << res.error;
    EXPECT_TRUE(res.stopped);
    EXPECT_LT(res.seconds, 15.0);
    StreamFacts f = ReadStreamFacts(out);
    EXPECT_EQ(f.videoCodec, "mpeg2video");
    int nav = 0;
    EXPECT_EQ(CheckPacks(out, &nav), "");
}

TEST(Convert, PartFilesSplitOnPackBoundaries) {
    std::string out = Out("parts.vob");
    ConvertRequest r = Request(Rv20Ac3Movie(), out, TvStandard::Pal, false);
    r.partFiles = true;
    r.partLimit = 600000; // rounded down to 598016 = 292 packs
    ConvertResult res = ConvertMovie(r, nullptr, nullptr);
    ASSERT_TRUE(res.ok) << res.error;
    EXPECT_EQ(FileSize(out), 598016);
    EXPECT_EQ(FileSize(out + ".part1"), 598016);
    ASSERT_GT(FileSize(out + ".part2"), 0) << "the last part takes the rest, past the limit if need be";
    EXPECT_EQ(FileSize(out) + FileSize(out + ".part1") + FileSize(out + ".part2"), static_cast<int64_t>(res.bytes));
    // Joined, the parts are the one stream.
    std::string joined = Out("joined.vob");
    Shell("cat '" + out + "' '" + out + ".part1' '" + out + ".part2' > '" + joined + "'");
    int nav = 0;
    EXPECT_EQ(CheckPacks(joined, &nav), "");
    EXPECT_EQ(ReadStreamFacts(joined).width, 720);
    // Without the flag one file; files named like parts are not this conversion's to touch.
    r.partFiles = false;
    ASSERT_TRUE(ConvertMovie(r, nullptr, nullptr).ok);
    EXPECT_EQ(FileSize(out + ".part1"), 598016);
    // With it, a shorter run removes the tail an earlier, longer one left.
    r.partFiles = true;
    r.partLimit = 100 * 1024 * 1024;
    ASSERT_TRUE(ConvertMovie(r, nullptr, nullptr).ok);
    EXPECT_EQ(FileSize(out + ".part1"), -1);
    EXPECT_EQ(FileSize(out + ".part2"), -1);
}

TEST(Convert, SameMovieSameBytes) {
    std::string a = Out("det-a.vob"), b = Out("det-b.vob");
    ASSERT_TRUE(ConvertMovie(Request(Rv20Ac3Movie(), a, TvStandard::Ntsc, true), nullptr, nullptr).ok);
    ASSERT_TRUE(ConvertMovie(Request(Rv20Ac3Movie(), b, TvStandard::Ntsc, true), nullptr, nullptr).ok);
    EXPECT_TRUE(ReadFile(a) == ReadFile(b));
}

namespace {

// A disk that fills up after `room` bytes.
class FullDisk : public OutputFile {
public:
    explicit FullDisk(size_t room) : room_(room) {}
    bool Write(const uint8_t*, size_t size, std::string* error) override {
        if (size > room_) {
            *error = "No space left on device";
            return false;
        }
        room_ -= size;
        return true;
    }
    bool Close(std::string*) override { return true; }

private:
    size_t room_;
};

} // namespace

TEST(Convert, FullDiskFailsAndLeavesNothingBehind) {
    std::string out = Out("full.vob");
    ConvertRequest r = Request(Rv20Ac3Movie(), out, TvStandard::Pal, false);
    // The real file is made (so Discard has something to remove) but its bytes go to a full disk.
    OutputFileOpener opener = [](const std::string& path, std::string* error) -> std::unique_ptr<OutputFile> {
        auto real = OpenPosixOutputFile(path, error);
        if (!real)
            return nullptr;
        return std::make_unique<FullDisk>(300000);
    };
    ConvertResult res = ConvertMovie(r, nullptr, nullptr, opener);
    EXPECT_FALSE(res.ok);
    EXPECT_NE(res.error.find("No space left"), std::string::npos) << res.error;
    EXPECT_EQ(FileSize(out), -1) << "a half-written stream must not pass for a converted movie";
}

TEST(Convert, BadRequestsAreRefusedWithAReason) {
    std::string out = Out("bad.vob");
    ConvertRequest r = Request(Rv20Ac3Movie(), out, TvStandard::Ntsc, false);
    r.pictureHeight = 576; // taller than an NTSC frame
    ConvertResult res = ConvertMovie(r, nullptr, nullptr);
    EXPECT_FALSE(res.ok);
    EXPECT_NE(res.error.find("720x480"), std::string::npos) << res.error;
    // An earlier stream at the output is not left to pass for this movie's result.
    Shell("head -c 50000 /dev/zero > '" + out + "'; echo old > '" + out + ".part1'");
    ConvertRequest parts = Request(TestRoot() + "nothing.rm", out, TvStandard::Pal, false);
    parts.partFiles = true;
    res = ConvertMovie(parts, nullptr, nullptr);
    EXPECT_FALSE(res.ok);
    EXPECT_FALSE(res.error.empty());
    EXPECT_EQ(FileSize(out), -1);
    EXPECT_EQ(FileSize(out + ".part1"), -1);
}

// The output never destroys what it must not: the movie itself, a device, a folder, a FIFO, or
// part files when none are asked for; the stream appears under its name only when complete.
TEST(Convert, OutputThatIsNotOursIsRefusedAndLeftAlone) {
    const std::string folder = Out("outputs/");
    Shell("rm -rf '" + folder + "'; mkdir -p '" + folder + "empty.vob'; mkfifo '" + folder + "fifo.vob'");
    const std::string movie = folder + "movie.rm";
    Shell("cp '" + Rv20Ac3Movie() + "' '" + movie + "'");
    const int64_t movieSize = FileSize(movie);
    for (const std::string& out : {movie, folder + "empty.vob", folder + "fifo.vob"}) {
        ConvertResult res = ConvertMovie(Request(movie, out, TvStandard::Pal, false), nullptr, nullptr);
        EXPECT_FALSE(res.ok) << out;
        EXPECT_NE(res.error.find(out), std::string::npos) << res.error;
    }
    EXPECT_EQ(FileSize(movie), movieSize);
    EXPECT_EQ(Shell("test -d '" + folder + "empty.vob' && test -p '" + folder + "fifo.vob'"), 0);
    // A hard link to the movie is the movie as well.
    Shell("ln '" + movie + "' '" + folder + "same.vob'");
    EXPECT_FALSE(ConvertMovie(Request(movie, folder + "same.vob", TvStandard::Pal, false), nullptr, nullptr).ok);
    EXPECT_EQ(FileSize(movie), movieSize);

    // Without part files, files named like them are not ours to touch.
    const std::string out = folder + "x.vob";
    Shell("echo mine > '" + out + ".part1'");
    std::atomic<bool> sawFinalName{false};
    ConvertResult res = ConvertMovie(
        Request(movie, out, TvStandard::Pal, false),
        [&](double f) {
            if (f < 1.0 && FileSize(out) >= 0)
                sawFinalName = true;
        },
        nullptr);
    ASSERT_TRUE(res.ok) << res.error;
    EXPECT_FALSE(sawFinalName) << "a stream still being written must not carry the output's name";
    EXPECT_EQ(ReadFile(out + ".part1"), "mine\n");
    EXPECT_EQ(FileSize(PartFileOutput::WritingName(out)), -1);
    EXPECT_GT(FileSize(out), 10240);

    const ConvertResult sub = WriteSubstitute(TvStandard::Pal, false, folder + "fifo.vob", 1.0);
    EXPECT_FALSE(sub.ok);
    EXPECT_EQ(Shell("test -p '" + folder + "fifo.vob'"), 0);
}

TEST(Substitute, BlackStreamsForEveryDisc) {
    struct Case {
        TvStandard tv;
        bool wide;
        int lines, darNum, darDen;
    } cases[] = {{TvStandard::Pal, false, 576, 4, 3}, {TvStandard::Ntsc, true, 480, 16, 9}};
    for (const Case& c : cases) {
        std::string out = Out("substitute.vob");
        ConvertResult res = WriteSubstitute(c.tv, c.wide, out, 2.0);
        ASSERT_TRUE(res.ok) << res.error;
        StreamFacts f = ReadStreamFacts(out);
        EXPECT_EQ(f.height, c.lines);
        EXPECT_EQ(f.darNum, c.darNum);
        EXPECT_EQ(f.darDen, c.darDen);
        EXPECT_EQ(f.audioCodec, "ac3");
        EXPECT_NEAR(f.videoSeconds, 2.0, 0.1);
        EXPECT_GE(FileSize(out), 10240) << "a substitute must itself count as a converted stream";
        EXPECT_LT(FirstBrightPicture(out), 0);
        EXPECT_LT(FirstLoudSound(out), 0);
        int nav = 0;
        EXPECT_EQ(CheckPacks(out, &nav), "");
    }
}

TEST(Substitute, TheBuildPutsOnePerDiscKindBesideTheProgram) {
    for (const char* name : {"default_pal_4x3.vob", "default_pal_16x9.vob", "default_ntsc_4x3.vob",
                             "default_ntsc_16x9.vob", "default.vob"}) {
        std::string path = std::string(QX_BIN_DIR) + "/" + name;
        StreamFacts f = ReadStreamFacts(path);
        ASSERT_TRUE(f.opened) << path;
        EXPECT_EQ(f.height, std::string(name).find("ntsc") != std::string::npos ? 480 : 576) << name;
        EXPECT_EQ(f.darNum, std::string(name).find("16x9") != std::string::npos ? 16 : 4) << name;
    }
}
