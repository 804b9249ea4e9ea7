// What movies from phones, cameras, television and the web bring: turned pictures, fields, deep
// and wide colour, varying picture rates, many or no sound tracks, every kind of sound. Each is a
// small movie made with the ffmpeg program, converted and read back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "Convert.h"
#include "DvdWriter.h"
#include "EncoderTestSupport.h"
#include "FfmpegUtil.h"
#include "Probe.h"

using namespace qx::enc;
using namespace qxtest;

namespace {

ConvertRequest Request(const std::string& in, const std::string& name, TvStandard tv, int width = 720, int height = 0) {
    ConvertRequest r;
    r.input = in;
    r.output = TestRoot() + name;
    r.tv = tv;
    r.pictureWidth = width;
    r.pictureHeight = height != 0 || width == 0 ? height : FrameLines(tv);
    return r;
}

ConvertResult Convert(const ConvertRequest& r) {
    const ProbeAnswer a = ProbeMovie(r.input);
    EXPECT_TRUE(a.supported) << r.input << ": " << a.reason;
    ConvertRequest withProbe = r;
    withProbe.probeA = a.probeA;
    withProbe.probeB = a.probeB;
    ConvertResult res = ConvertMovie(withProbe, nullptr, nullptr);
    EXPECT_TRUE(res.ok) << r.input << ": " << res.error;
    return res;
}

// A white box in the top-left corner of a black 320x240 picture, with a beep and a flash at 1 s.
std::string CornerMovie() {
    return Fixture("corner.mp4", "-f lavfi -i \"color=black:s=320x240:r=25:d=2,drawbox=x=0:y=0:w=80:h=60:c=white:"
                                 "t=fill\" -c:v libx264 -preset ultrafast -an");
}

// Pixels whose line differs from both neighbours the same way: the teeth of woven fields.
int CombTeeth(const std::vector<uint8_t>& y, int w, int h) {
    int teeth = 0;
    for (int row = 1; row + 1 < h; ++row)
        for (int x = 0; x < w; ++x) {
            const int here = y[row * w + x], up = y[(row - 1) * w + x], down = y[(row + 1) * w + x];
            teeth += (here - up) * (here - down) > 60 * 60 ? 1 : 0;
        }
    return teeth;
}

// The picture coding extensions of the picture stream: how many say progressive_frame, and how
// many say top field first.
struct Coding {
    int pictures = 0, progressive = 0, topFirst = 0;
};
Coding ReadCoding(const std::string& path) {
    const std::string d = ReadFile(path);
    Coding c;
    for (size_t i = 0; i + 9 < d.size(); ++i) {
        if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1 || static_cast<uint8_t>(d[i + 3]) != 0xB5 ||
            (static_cast<uint8_t>(d[i + 4]) >> 4) != 8)
            continue;
        ++c.pictures;
        c.topFirst += (static_cast<uint8_t>(d[i + 7]) & 0x80) ? 1 : 0;
        c.progressive += (static_cast<uint8_t>(d[i + 8]) & 0x80) ? 1 : 0;
    }
    return c;
}

// Sound packets whose time is not a whole number of AC-3 frames after the first one's.
int SoundTimesOffTheFrameGrid(const std::string& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return -1;
    InputPtr fmt(raw);
    avformat_find_stream_info(fmt.get(), nullptr);
    const int sound = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    PacketPtr pkt(av_packet_alloc());
    int64_t first = AV_NOPTS_VALUE;
    int off = 0;
    while (av_read_frame(fmt.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == sound && pkt->pts != AV_NOPTS_VALUE) {
            const int64_t ticks = av_rescale_q(pkt->pts, fmt->streams[sound]->time_base, AVRational{1, 90000});
            if (first == AV_NOPTS_VALUE)
                first = ticks;
            off += (ticks - first) % 2880 != 0 ? 1 : 0; // 1536 samples at 48 kHz
        }
        av_packet_unref(pkt.get());
    }
    return off;
}

void ExpectDiscStream(const std::string& out, TvStandard tv) {
    int nav = 0;
    EXPECT_EQ(CheckPacks(out, &nav), "") << out;
    const std::vector<GopFacts> gops = ReadGops(out);
    ASSERT_FALSE(gops.empty()) << out;
    for (const GopFacts& g : gops) {
        EXPECT_TRUE(g.afterNavPack) << out;
        EXPECT_TRUE(g.closed) << out;
    }
    EXPECT_EQ(CheckVideoBuffer(gops, av_q2d(DvdFrameRate(tv)), 9800000, 1835008), "") << out;
}

} // namespace

TEST(AnyMovie, EveryCommonKindOfMovieConvertsWholeWithItsSound) {
    // Two seconds with a flash and a beep at 1 s, in the codecs each container usually carries.
    const std::string source =
        "-f lavfi -i \"color=black:s=160x120:r=25:d=2,drawbox=c=white:t=fill:enable='gte(t,1)'\" "
        "-f lavfi -i \"aevalsrc='if(gte(t,1),0.8*sin(2*PI*440*t),0)':s=44100:d=2\" ";
    const char* kinds[][2] = {
        {"h264.mp4", "-c:v libx264 -preset ultrafast -c:a aac"},
        {"vp8.webm", "-c:v libvpx -deadline realtime -c:a libvorbis"},
        {"mpeg4.avi", "-c:v mpeg4 -c:a libmp3lame"},
        {"mjpeg.mov", "-c:v mjpeg -c:a pcm_s16le"},
        {"wmv2.wmv", "-c:v wmv2 -c:a wmav2"},
        {"flv1.flv", "-c:v flv1 -c:a libmp3lame -ar 44100"},
        {"mpeg2.mpg", "-c:v mpeg2video -c:a mp2"},
        {"mpeg2.ts", "-c:v mpeg2video -c:a mp2"},
        {"h264.3gp", "-c:v libx264 -preset ultrafast -c:a aac -ac 1"},
        {"theora.ogv", "-c:v libtheora -c:a libvorbis"},
    };
    for (const auto& kind : kinds) {
        const std::string movie = Fixture(std::string("kind-") + kind[0], source + kind[1]);
        const ConvertRequest r = Request(movie, "kind.vob", TvStandard::Pal);
        const ConvertResult res = Convert(r);
        ASSERT_TRUE(res.ok) << movie;
        // Every picture, the last ones too (some containers start the picture a frame or two after
        // the sound, as ffmpeg writes them).
        EXPECT_GE(res.seconds, 2.0 - 0.001) << movie;
        EXPECT_LE(res.seconds, 2.1) << movie;
        EXPECT_NEAR(FirstBrightPicture(r.output), 1.02, 0.041) << movie;
        EXPECT_NEAR(FirstLoudSound(r.output) - FirstBrightPicture(r.output), 0.0, 0.04) << movie;
        int nav = 0;
        EXPECT_EQ(CheckPacks(r.output, &nav), "") << movie;
    }
}

TEST(AnyMovie, PhoneMoviesTurnedAQuarterStandUpright) {
    // The display matrix of a phone held upright; the corner box shows where the top left went.
    struct Case {
        const char* rotate;
        bool boxAtLeft, boxAtTop;
    } cases[] = {{"90", true, false}, {"270", false, true}};
    for (const Case& c : cases) {
        const std::string movie = Fixture(std::string("phone") + c.rotate + ".mp4",
                                          "-i '" + CornerMovie() + "' -c copy -metadata:s:v:0 rotate=" + c.rotate);
        const ProbeAnswer a = ProbeMovie(movie);
        ASSERT_TRUE(a.supported) << a.reason;
        EXPECT_EQ(a.width, 240) << c.rotate;
        EXPECT_EQ(a.height, 320) << c.rotate;
        EXPECT_NEAR(a.aspect, 0.75, 0.001) << c.rotate;
        const ConvertRequest r = Request(movie, "phone.vob", TvStandard::Pal, 0, 0); // its own 240x320, centred
        ASSERT_TRUE(Convert(r).ok);
        int w = 0, h = 0;
        const std::vector<uint8_t> y = DecodeLuma(r.output, 10, &w, &h);
        ASSERT_EQ(w, 720);
        // The picture spans 240..479 x 128..447; the box is 60 wide and 80 high once turned.
        auto at = [&](int x, int yy) { return y[static_cast<size_t>(yy) * w + x]; };
        const int boxX = c.boxAtLeft ? 250 : 469, boxY = c.boxAtTop ? 138 : 437;
        const int otherX = c.boxAtLeft ? 469 : 250, otherY = c.boxAtTop ? 437 : 138;
        EXPECT_GT(at(boxX, boxY), 200) << c.rotate;
        EXPECT_LT(at(otherX, boxY), 40) << c.rotate;
        EXPECT_LT(at(boxX, otherY), 40) << c.rotate;
        EXPECT_LT(at(230, 288), 40) << c.rotate << ": outside the upright picture";
    }
}

TEST(AnyMovie, FieldsAreWovenBeforeScalingUnlessTheDiscKeepsThem) {
    // 576 lines at 25 pictures of two fields each, top first: a white bar that moves between fields.
    const std::string movie =
        Fixture("fields.mpg", "-f lavfi -i \"color=black:s=720x576:r=50[bg];color=white:s=40x576:r=50[bar];"
                              "[bg][bar]overlay=x='mod(n*16,640)':y=0,tinterlace=mode=interleave_top,setfield=tff\" "
                              "-t 2 -c:v mpeg2video -b:v 8M -flags +ildct+ilme -top 1");
    // A PAL disc of the same lines keeps the fields: coded as fields, top first, still toothed.
    const ConvertRequest kept = Request(movie, "fields-kept.vob", TvStandard::Pal);
    ASSERT_TRUE(Convert(kept).ok);
    const Coding keptCoding = ReadCoding(kept.output);
    ASSERT_GT(keptCoding.pictures, 40);
    EXPECT_EQ(keptCoding.progressive, 0);
    EXPECT_EQ(keptCoding.topFirst, keptCoding.pictures);
    int w = 0, h = 0;
    const std::vector<uint8_t> keptPicture = DecodeLuma(kept.output, 20, &w, &h);
    const int keptTeeth = CombTeeth(keptPicture, w, h);
    EXPECT_GT(keptTeeth, 5000);
    ExpectDiscStream(kept.output, TvStandard::Pal);
    // An NTSC disc scales to 480 lines at another rate: the fields are woven first.
    const ConvertRequest woven = Request(movie, "fields-woven.vob", TvStandard::Ntsc);
    ASSERT_TRUE(Convert(woven).ok);
    const Coding wovenCoding = ReadCoding(woven.output);
    EXPECT_EQ(wovenCoding.progressive, wovenCoding.pictures);
    const std::vector<uint8_t> wovenPicture = DecodeLuma(woven.output, 20, &w, &h);
    const int wovenTeeth = CombTeeth(wovenPicture, w, h);
    EXPECT_LT(wovenTeeth, keptTeeth / 20) << keptTeeth;
    ExpectDiscStream(woven.output, TvStandard::Ntsc);
}

TEST(AnyMovie, DeepWideAndFullRangeColoursComeOutAsTheDiscsOwn) {
    // Red in 10-bit 4:2:2 with HD colours, and white in full range (as phones write it): on the
    // disc red has the SD luma 81 (HD colours read as SD would give 63), white the TV range's 235.
    struct Case {
        std::string movie;
        int luma;
    } cases[] = {
        {Fixture("red-10bit-422.mkv", "-f lavfi -i color=c=red:s=320x240:r=25:d=1 -vf "
                                      "scale=out_color_matrix=bt709:out_range=tv,format=yuv422p10le -colorspace bt709 "
                                      "-color_primaries bt709 -color_trc bt709 -c:v libx264 -preset ultrafast -qp 0"),
         81},
        {Fixture("white-full.mp4", "-f lavfi -i color=c=white:s=320x240:r=25:d=1 -vf "
                                   "scale=out_range=full,format=yuvj420p -color_range pc -c:v libx264 -preset "
                                   "ultrafast -qp 0"),
         235},
    };
    for (const Case& c : cases) {
        const ConvertRequest r = Request(c.movie, "colours.vob", TvStandard::Pal);
        ASSERT_TRUE(Convert(r).ok);
        int w = 0, h = 0;
        const std::vector<uint8_t> y = DecodeLuma(r.output, 10, &w, &h);
        ASSERT_EQ(h, 576);
        EXPECT_NEAR(y[288 * w + 360], c.luma, 3) << c.movie;
    }
}

TEST(AnyMovie, VaryingPictureRateKeepsSoundInStepFromStartToEnd) {
    // Six minutes of a tiny picture whose pictures come irregularly (a second missing every ten),
    // flashes and beeps at 1 s and 357 s: the timestamps place every picture.
    const std::string movie = Fixture(
        "vfr.mp4", "-f lavfi -i \"color=black:s=64x48:r=30:d=360,drawbox=c=white:t=fill:enable='between(t,1,1.2)+"
                   "between(t,357,357.2)',select='not(eq(mod(n\\,7)\\,3))*not(eq(mod(n\\,11)\\,5))*"
                   "not(between(mod(n\\,300)\\,100\\,130))'\" -f lavfi -i \"aevalsrc='if(between(t,1,1.2)+"
                   "between(t,357,357.2),0.8*sin(2*PI*440*t),0)':s=8000:d=360\" -fps_mode vfr -c:v libx264 "
                   "-preset ultrafast -c:a aac -b:a 24k");
    setenv("QX_ENCODER_ONE_PASS", "1", 1); // the look at the movie is not what this is about
    setenv("QX_ENCODER_QUANTISER", "non-linear", 1);
    const ConvertRequest r = Request(movie, "vfr.vob", TvStandard::Pal);
    const ConvertResult res = Convert(r);
    unsetenv("QX_ENCODER_ONE_PASS");
    unsetenv("QX_ENCODER_QUANTISER");
    ASSERT_TRUE(res.ok);
    EXPECT_NEAR(res.seconds, 360.0, 0.1);
    const std::vector<double> pictures = BrightPictureTimes(r.output);
    const std::vector<double> sounds = LoudSoundTimes(r.output);
    ASSERT_EQ(pictures.size(), 2u);
    ASSERT_EQ(sounds.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(pictures[i], i == 0 ? 1.0 : 357.0, 0.04) << i;
        EXPECT_NEAR(sounds[i] - pictures[i], 0.0, 0.04) << i;
    }
}

TEST(AnyMovie, TheDefaultSoundTrackIsTakenElseTheFirstAndSilenceWithoutOne) {
    // Three tracks: only the second is loud.
    const std::string tracks =
        "-f lavfi -i color=black:s=160x120:r=25:d=2 -f lavfi -i anullsrc=r=48000:cl=stereo "
        "-f lavfi -i 'aevalsrc=0.8*sin(2*PI*440*t):s=48000' -f lavfi -i anullsrc=r=48000:cl=mono -map 0:v "
        "-map 1:a -map 2:a -map 3:a -t 2 -c:v mpeg4 -c:a aac ";
    struct Case {
        std::string movie;
        int track;         // 1-based among the sound tracks; 0 none
        const char* sound; // the log line's start
    } cases[] = {
        {Fixture("marked.mkv", tracks + "-disposition:a:0 0 -disposition:a:1 default -disposition:a:2 0"), 2,
         "track 2 of 3 (marked default)"},
        {Fixture("unmarked.mkv", tracks + "-disposition:a:0 0 -disposition:a:1 0 -disposition:a:2 0"), 1,
         "track 1 of 3 (the first; none is marked default)"},
        {Fixture("mute.mp4", "-f lavfi -i color=black:s=160x120:r=25:d=2 -c:v mpeg4 -an"), 0, "none"},
    };
    for (const Case& c : cases) {
        const ProbeAnswer a = ProbeMovie(c.movie);
        ASSERT_TRUE(a.supported) << c.movie << ": " << a.reason;
        EXPECT_EQ(ProbeAAudioIndex(a.probeA), c.track == 0 ? -1 : c.track) << c.movie; // stream 0 is the picture
        EXPECT_EQ(a.sound.rfind(c.sound, 0), 0u) << a.sound;
        ProbeAnswer back;
        ASSERT_TRUE(ParseProbeLines(FormatProbeLines(a), &back));
        EXPECT_EQ(back.sound, a.sound);
        // Converting takes that track, whether it is told (probe values) or chooses again.
        for (bool told : {true, false}) {
            ConvertRequest r = Request(c.movie, "tracks.vob", TvStandard::Pal);
            if (told) {
                r.probeA = a.probeA;
                r.probeB = a.probeB;
            }
            ASSERT_TRUE(ConvertMovie(r, nullptr, nullptr).ok);
            const StreamFacts f = ReadStreamFacts(r.output);
            EXPECT_EQ(f.audioCodec, "ac3");
            EXPECT_NEAR(f.audioSeconds, f.videoSeconds, 0.1) << c.movie;
            EXPECT_EQ(FirstLoudSound(r.output) >= 0, c.track == 2) << c.movie << " told " << told;
        }
    }
}

TEST(AnyMovie, EverySoundBecomesStereoAc3At48kHzInStep) {
    // A flash and a beep at 1 s; 7.1 carries its beep in the centre, which the stereo mix keeps.
    const std::string flash = "-f lavfi -i \"color=black:s=160x120:r=25:d=3,drawbox=c=white:t=fill:"
                              "enable='between(t,1,1.3)'\" ";
    const std::string beep = "if(between(t,1,1.3),0.8*sin(2*PI*440*t),0)";
    const std::string movies[] = {
        Fixture("mono8k.mkv", flash + "-f lavfi -i \"aevalsrc='" + beep + "':s=8000:d=3\" -c:v mpeg4 -c:a pcm_s16le"),
        Fixture("71-96k.mkv",
                flash + "-f lavfi -i \"aevalsrc='0|0|" + beep + "|0|0|0|0|0':s=96000:d=3:c=7.1\" -c:v mpeg4 -c:a flac"),
        Fixture("ac3-44k.mkv",
                flash + "-f lavfi -i \"aevalsrc='" + beep + "':s=44100:d=3:c=5.1\" -c:v mpeg4 -c:a ac3 -b:a 384k"),
    };
    for (const std::string& movie : movies) {
        const ConvertRequest r = Request(movie, "sound.vob", TvStandard::Ntsc);
        ASSERT_TRUE(Convert(r).ok);
        const StreamFacts f = ReadStreamFacts(r.output);
        EXPECT_EQ(f.audioCodec, "ac3") << movie;
        EXPECT_EQ(f.sampleRate, 48000) << movie;
        EXPECT_EQ(f.channels, 2) << movie;
        EXPECT_NEAR(f.audioSeconds, f.videoSeconds, 0.1) << movie;
        EXPECT_NEAR(FirstLoudSound(r.output) - FirstBrightPicture(r.output), 0.0, 0.034) << movie;
    }
}

TEST(AnyMovie, Ac3ThatFitsTheDiscIsKeptFrameForFrame) {
    // 5.1 at 48 kHz and 384 kbit/s, starting late (the gap becomes silent frames), beep at 1 s.
    const std::string movie = Fixture(
        "ac3-51.mkv", "-f lavfi -i \"color=black:s=160x120:r=25:d=4,drawbox=c=white:t=fill:enable='between(t,1,1.3)'\" "
                      "-itsoffset 0.5 -f lavfi -i \"aevalsrc='if(between(t,0.5,0.8),0.8*sin(2*PI*440*t),0)':s=48000:"
                      "d=3.5:c=5.1\" -c:v mpeg4 -c:a ac3 -b:a 384k");
    const ConvertRequest r = Request(movie, "ac3-51.vob", TvStandard::Pal);
    const ConvertResult res = Convert(r);
    ASSERT_TRUE(res.ok);
    const StreamFacts f = ReadStreamFacts(r.output);
    EXPECT_EQ(f.audioCodec, "ac3");
    EXPECT_EQ(f.channels, 6);
    EXPECT_EQ(f.sampleRate, 48000);
    EXPECT_NEAR(f.audioSeconds, f.videoSeconds, 0.05);
    EXPECT_NEAR(FirstLoudSound(r.output) - FirstBrightPicture(r.output), 0.0, 0.034);
    // The movie's frames are all there, in order, byte for byte.
    const std::string source = TestRoot() + "ac3-51.ac3";
    ASSERT_EQ(Shell("ffmpeg -nostdin -y -loglevel error -i '" + movie + "' -map 0:a -c copy -f ac3 '" + source + "'"),
              0);
    const std::string kept = TestRoot() + "ac3-51-kept.ac3";
    ASSERT_EQ(Shell("ffmpeg -nostdin -y -loglevel error -i '" + r.output + "' -map 0:a -c copy -f ac3 '" + kept + "'"),
              0);
    const std::string frames = ReadFile(source), onDisc = ReadFile(kept);
    ASSERT_GT(frames.size(), 100000u);
    EXPECT_NE(onDisc.find(frames), std::string::npos);
    // Silent frames (the late start, the end) and the movie's frames lie on one grid of frame times.
    EXPECT_EQ(SoundTimesOffTheFrameGrid(r.output), 0);
    ConvertRequest again = r;
    again.output = TestRoot() + "ac3-51-again.vob";
    ASSERT_TRUE(Convert(again).ok);
    EXPECT_TRUE(ReadFile(again.output) == ReadFile(r.output)) << "the same movie gives the same bytes";
    EXPECT_NEAR(res.bytes / res.seconds / kTargetBytesPerSecond, 1.0, 0.12) << "the picture gives way to the sound";
    ExpectDiscStream(r.output, TvStandard::Pal);
}
