// Subtitles in the encoder program: their text's character set, where they are found, how a cue is
// drawn into a 4-colour subpicture (read back by FFmpeg's DVD subtitle decoder), bad cues, and the
// converted stream's subpicture packets placed ahead of their display time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>

#include "Convert.h"
#include "EncoderTestSupport.h"
#include "MovieSubtitles.h"
#include "Probe.h"
#include "SubtitleSources.h"
#include "SubtitleText.h"

extern "C" {
#include <libavutil/opt.h>
}

using namespace qx::enc;
using namespace qxtest;

namespace {

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Srt(const std::vector<std::tuple<std::string, std::string, std::string>>& cues) {
    std::string text;
    int n = 0;
    for (const auto& [from, to, words] : cues)
        text += std::to_string(++n) + "\n" + from + " --> " + to + "\n" + words + "\n\n";
    return text;
}

SubtitleCues CuesOf(const std::string& srtText) {
    SubtitleCues cues;
    std::vector<std::string> notes;
    std::string error;
    EXPECT_TRUE(ParseSubtitleText(srtText, "cues.srt", &cues, &notes, &error)) << error;
    return cues;
}

SubpictureFrame Frame(TvStandard tv, bool wide, double seconds = 60) {
    SubpictureFrame f;
    f.tv = tv;
    f.wide = wide;
    f.pictureHeight = FrameLines(tv);
    f.movieSeconds = seconds;
    return f;
}

std::set<uint8_t> Values(const Subpicture& sp) {
    return std::set<uint8_t>(sp.pixels.begin(), sp.pixels.end());
}

} // namespace

TEST(SubtitleText, CharacterSetsAreFoundAndConvertedToUtf8) {
    struct Case {
        std::string bytes, charset, utf8;
    };
    const Case cases[] = {
        {"\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F"
         "e",
         "UTF-8",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         "UTF-8",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {std::string("\xFF\xFEH\0\xE9\0", 6), "UTF-16LE", "H\xC3\xA9"},
        {std::string("\xFE\xFF\0H\0\xE9", 6), "UTF-16BE", "H\xC3\xA9"},
        {"Gr\xFC\xDF"
         "e aus K\xF6ln",
         "WINDOWS-1252",
         "Gr\xC3\xBC\xC3\x9F"
         "e aus K\xC3\xB6ln"},
        {"\xCF\xF0\xE8\xE2\xE5\xF2", "WINDOWS-1251", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
    };
    for (const Case& c : cases) {
        SubtitleText text;
        std::string error;
        ASSERT_TRUE(DecodeSubtitleBytes(c.bytes, &text, &error)) << c.charset << ": " << error;
        EXPECT_EQ(text.charset, c.charset);
        EXPECT_EQ(text.utf8, c.utf8) << c.charset;
    }
    SubtitleText text;
    std::string error;
    EXPECT_FALSE(DecodeSubtitleBytes("\xEF\xBB\xBF\xC3", &text, &error)) << "a broken UTF-8 file with its mark";
    EXPECT_FALSE(ReadSubtitleFile(TestRoot() + "no-such.srt", &text, &error));
}

TEST(SubtitleSources, TracksComeFirstThenTheFilesNamedLikeTheMovie) {
    const std::string dir = TestRoot() + "beside/";
    ASSERT_EQ(Shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "'"), 0);
    const std::string cue = Srt({{"00:00:00,500", "00:00:01,500", "Hallo"}});
    Write(dir + "track.srt", cue);
    ASSERT_EQ(Shell("ffmpeg -v error -y -f lavfi -i testsrc2=size=160x120:rate=25 -i '" + dir +
                    "track.srt' -t 2 -map 0:v -map 1:s -c:v mpeg4 -c:s srt -metadata:s:s:0 language=ger '" + dir +
                    "Movie.mkv'"),
              0);
    Write(dir + "Movie.srt", cue);
    Write(dir + "Movie.en.srt", cue);
    Write(dir + "Movie.eng.ass", "[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\nFormat: Name, Fontsize\n"
                                 "Style: Default,20\n\n[Events]\nFormat: Layer, Start, End, Style, Text\n"
                                 "Dialogue: 0,0:00:00.50,0:00:01.50,Default,Hi\n");
    Write(dir + "Movie.fr.vtt", "WEBVTT\n\n00:00.500 --> 00:01.500\nSalut\n");
    Write(dir + "Movie.xx.srt", "");                                      // empty
    Write(dir + "Movie.bad.srt", "this is not a subtitle file at all\n"); // no cue
    Write(dir + "Movie.a-much-too-long-tag.srt", cue);                    // name too long for the record
    Write(dir + "Movie.txt", cue);                                        // not a subtitle type
    Write(dir + "Other.srt", cue);                                        // another movie's

    std::string error;
    InputPtr movie = OpenMovie(dir + "Movie.mkv", &error);
    ASSERT_TRUE(movie) << error;
    std::vector<std::string> notes;
    const std::vector<SubtitleSource> list = ListSubtitles(movie.get(), dir + "Movie.mkv", &notes);
    std::vector<std::string> seen;
    for (const SubtitleSource& s : list)
        seen.push_back(qx::DescribeSubtitle(s.info, dir + "Movie.mkv"));
    EXPECT_EQ(seen, (std::vector<std::string>{"de (track 2)", "en (Movie.en.srt)", "en (Movie.eng.ass)",
                                              "fr (Movie.fr.vtt)", "Movie.srt"}));
    std::string all;
    for (const std::string& n : notes)
        all += n + "\n";
    for (const char* leftOut : {"Movie.xx.srt left out", "Movie.bad.srt left out", "a-much-too-long-tag.srt left out"})
        EXPECT_NE(all.find(leftOut), std::string::npos) << leftOut << " in\n" << all;

    // The probe lists them in its answer lines and the record, both ways.
    ProbeAnswer a = ProbeMovie(dir + "Movie.mkv");
    ASSERT_TRUE(a.supported) << a.reason;
    ProbeAnswer back;
    ASSERT_TRUE(ParseProbeLines(FormatProbeLines(a), &back));
    ASSERT_EQ(back.subtitles.size(), 5u);
    EXPECT_EQ(back.subtitles[1].suffix, ".en.srt");
    EXPECT_EQ(back.subtitles[0].track, 2);
    auto record = qx::EncoderRecord::Blank<qx::EncProbeResultRecord>(qx::ENC_PROBE_RESULT);
    qx::PutSubtitleEntries(&record, back.subtitles);
    const std::vector<qx::SubtitleInfo> fromRecord = qx::GetSubtitleEntries(record);
    ASSERT_EQ(fromRecord.size(), 5u);
    for (size_t i = 0; i < fromRecord.size(); ++i) {
        EXPECT_EQ(fromRecord[i].language, back.subtitles[i].language);
        EXPECT_EQ(fromRecord[i].suffix, back.subtitles[i].suffix);
        EXPECT_EQ(fromRecord[i].kind, back.subtitles[i].kind);
    }
    EXPECT_EQ(qx::SubtitleLanguageLetters("ger"), "de");
    EXPECT_EQ(qx::SubtitleLanguageLetters("pt-BR"), "pt");
    EXPECT_EQ(qx::SubtitleLanguageLetters("und"), "");
}

// A known cue drawn the same way every time: white text with a black outline (and grey between)
// on transparent, centred low in the title-safe area, on picture boundaries; read back by FFmpeg.
TEST(SubpictureRender, AKnownCueBecomesAFourColourSubpictureInTheTitleSafeArea) {
    const SubtitleCues cues = CuesOf(Srt({{"00:00:01,000", "00:00:02,520", "Hello World"}}));
    ASSERT_EQ(cues.text.size(), 1u);
    std::vector<std::string> notes;
    const std::vector<Subpicture> pal = RenderTextCues(cues, Frame(TvStandard::Pal, false), &notes);
    ASSERT_EQ(pal.size(), 1u);
    const Subpicture& sp = pal[0];
    EXPECT_EQ(sp.start, 90000);
    EXPECT_EQ(sp.end, 63 * 3600) << "2.52 s is picture 63";
    EXPECT_EQ(Values(sp), (std::set<uint8_t>{SP_BACKGROUND, SP_TEXT, SP_OUTLINE, SP_EDGE}));
    const SafeArea safe = TitleSafeArea(TvStandard::Pal);
    EXPECT_GE(sp.x, safe.x);
    EXPECT_GE(sp.y, safe.y);
    EXPECT_LE(sp.x + sp.width, safe.x + safe.width);
    EXPECT_LE(sp.y + sp.height, safe.y + safe.height);
    EXPECT_NEAR(sp.x + sp.width / 2.0, 360, 6) << "centred";
    EXPECT_GT(sp.y, 576 * 3 / 4) << "at the bottom";
    EXPECT_GT(sp.width, 100);
    EXPECT_GT(sp.height, 14);
    EXPECT_LT(sp.height, 60);
    // Outline around the text: the text's pixels never touch the transparent background.
    for (int y = 1; y + 1 < sp.height; ++y) {
        for (int x = 1; x + 1 < sp.width; ++x) {
            if (sp.pixels[y * sp.width + x] != SP_TEXT)
                continue;
            for (int d : {-1, 1, -sp.width, sp.width}) {
                ASSERT_NE(sp.pixels[y * sp.width + x + d], SP_BACKGROUND) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(RenderTextCues(cues, Frame(TvStandard::Pal, false), &notes)[0].pixels, sp.pixels) << "deterministic";

    // 16:9: drawn narrower by 3/4, so that the wide picture does not stretch it; NTSC: its frame and time.
    const std::vector<Subpicture> wide = RenderTextCues(cues, Frame(TvStandard::Pal, true), &notes);
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_NEAR(static_cast<double>(wide[0].width) / sp.width, 0.75, 0.06);
    EXPECT_NEAR(wide[0].height, sp.height, 2);
    const std::vector<Subpicture> ntsc = RenderTextCues(cues, Frame(TvStandard::Ntsc, false), &notes);
    ASSERT_EQ(ntsc.size(), 1u);
    EXPECT_EQ(ntsc[0].start % 3003, 0);
    EXPECT_EQ(ntsc[0].end % 3003, 0);
    EXPECT_LE(ntsc[0].y + ntsc[0].height, TitleSafeArea(TvStandard::Ntsc).y + TitleSafeArea(TvStandard::Ntsc).height);

    // Coded, then decoded by FFmpeg with the disc's colours: same place, same size, same pixels.
    SubpictureEncoder encoder;
    std::string error;
    ASSERT_TRUE(encoder.Open(TvStandard::Pal, &error)) << error;
    std::vector<uint8_t> data;
    ASSERT_TRUE(encoder.Encode(sp, &data, &error)) << error;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVD_SUBTITLE);
    CodecPtr dec(avcodec_alloc_context3(codec));
    av_opt_set(dec->priv_data, "palette", qx::SubtitlePaletteOption().c_str(), 0);
    ASSERT_GE(avcodec_open2(dec.get(), codec, nullptr), 0);
    PacketPtr pkt(av_packet_alloc());
    ASSERT_GE(av_new_packet(pkt.get(), static_cast<int>(data.size())), 0);
    std::copy(data.begin(), data.end(), pkt->data);
    AVSubtitle sub{};
    int got = 0;
    ASSERT_GE(avcodec_decode_subtitle2(dec.get(), &sub, &got, pkt.get()), 0);
    ASSERT_TRUE(got);
    ASSERT_EQ(sub.num_rects, 1u);
    const AVSubtitleRect* r = sub.rects[0];
    EXPECT_EQ(r->x, sp.x);
    EXPECT_EQ(r->y, sp.y);
    EXPECT_EQ(r->w, sp.width);
    EXPECT_GE(r->h, sp.height); // rows evened out
    EXPECT_NEAR(sub.end_display_time, (sp.end - sp.start) / 90, 12);
    const auto* palette = reinterpret_cast<const uint32_t*>(r->data[1]);
    const uint32_t expected[4] = {0, 0xFFFFFFFF, 0xFF000000, 0xFF808080};
    int wrong = 0;
    for (int y = 0; y < sp.height; ++y)
        for (int x = 0; x < sp.width; ++x) {
            const uint32_t argb = palette[r->data[0][y * r->linesize[0] + x]];
            const uint32_t want = expected[sp.pixels[y * sp.width + x]];
            wrong += (argb >> 24 == 0 && want == 0) || argb == want ? 0 : 1;
        }
    EXPECT_EQ(wrong, 0);
    avsubtitle_free(&sub);
}

TEST(SubpictureRender, BadCuesAreWrappedClippedOrLeftOutButNeverFail) {
    const SafeArea safe = TitleSafeArea(TvStandard::Pal);
    std::vector<std::string> notes;
    // A line far longer than the screen is wrapped inside the title-safe area.
    std::string words;
    for (int i = 0; i < 40; ++i)
        words += "wrapping ";
    const std::vector<Subpicture> wrapped =
        RenderTextCues(CuesOf(Srt({{"00:00:01,000", "00:00:02,000", words}})), Frame(TvStandard::Pal, false), &notes);
    ASSERT_EQ(wrapped.size(), 1u);
    EXPECT_GT(wrapped[0].height, 60) << "several lines";
    EXPECT_LE(wrapped[0].width, safe.width);

    // Overlapping cues: both shown while they overlap, each alone before and after.
    const std::vector<Subpicture> overlap = RenderTextCues(
        CuesOf(Srt({{"00:00:01,000", "00:00:04,000", "First"}, {"00:00:02,000", "00:00:03,000", "Second"}})),
        Frame(TvStandard::Pal, false), &notes);
    ASSERT_EQ(overlap.size(), 3u);
    EXPECT_EQ(overlap[1].start, 2 * 90000);
    EXPECT_GT(overlap[1].height, overlap[0].height + 10);
    EXPECT_EQ(overlap[0].pixels, overlap[2].pixels);

    // Past the movie's end: cut at the end, or left out when it starts later.
    notes.clear();
    const std::vector<Subpicture> late =
        RenderTextCues(CuesOf(Srt({{"00:00:04,000", "00:00:08,000", "Cut"}, {"00:00:09,000", "00:00:10,000", "Gone"}})),
                       Frame(TvStandard::Pal, false, 5.0), &notes);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].end, 5 * 90000);
    ASSERT_EQ(notes.size(), 2u);

    // 10,000 cues are all drawn.
    std::vector<std::tuple<std::string, std::string, std::string>> many;
    for (int i = 0; i < 10000; ++i) {
        auto at = [](int ms) {
            char t[32];
            std::snprintf(t, sizeof t, "%02d:%02d:%02d,%03d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
            return std::string(t);
        };
        many.emplace_back(at(i * 500), at(i * 500 + 320), "Cue " + std::to_string(i));
    }
    const SubtitleCues manyCues = CuesOf(Srt(many));
    EXPECT_EQ(manyCues.text.size(), 10000u);
    EXPECT_EQ(RenderTextCues(manyCues, Frame(TvStandard::Pal, false, 5001), &notes).size(), 10000u);
}

// Picture subtitles keep their place on the movie's active picture and are reduced to the four colours.
TEST(SubpictureRender, PictureCuesAreScaledOntoThePictureInFourColours) {
    SubtitleCues cues;
    cues.picture = true;
    PictureCue c;
    c.startMs = 1000;
    c.endMs = 2000;
    c.canvasWidth = 360;
    c.canvasHeight = 288;
    c.x = 90;
    c.y = 200;
    c.width = 180;
    c.height = 20;
    for (int i = 0; i < c.width * c.height; ++i) {
        const uint32_t colours[4] = {0x00000000, 0xFFFFFF00, 0xFF101010, 0xFF7F7F7F}; // yellow counts as bright
        c.argb.push_back(colours[i == c.width * 10 + 90 ? 0 : 1 + i % 3]);
    }
    cues.pictures.push_back(c);
    c.startMs = 1500; // replaces the first one
    c.y = 100;
    cues.pictures.push_back(c);
    std::vector<std::string> notes;
    const std::vector<Subpicture> out = RenderPictureCues(cues, Frame(TvStandard::Pal, false), &notes);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].end, out[1].start);
    EXPECT_EQ(out[0].x, 180);
    EXPECT_EQ(out[0].y, 400);
    EXPECT_EQ(out[0].width, 360);
    EXPECT_EQ(Values(out[0]), (std::set<uint8_t>{SP_BACKGROUND, SP_TEXT, SP_OUTLINE, SP_EDGE}));
}

namespace {

// Every subpicture packet of the stream: its pack's SCR and its PTS (90 kHz), and its substream.
struct SubpicturePlace {
    int64_t scr = 0, pts = -1;
    int substream = 0;
};
std::vector<SubpicturePlace> SubpicturePlaces(const std::string& path) {
    std::vector<SubpicturePlace> places;
    const std::string bytes = ReadFile(path);
    for (size_t at = 0; at + 2048 <= bytes.size(); at += 2048) {
        const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + at);
        if (p[0] || p[1] || p[2] != 1 || p[3] != 0xBA)
            continue;
        const int64_t scr = (int64_t(p[4] & 0x38) << 27) | (int64_t(p[4] & 0x03) << 28) | (int64_t(p[5]) << 20) |
                            (int64_t(p[6] & 0xF8) << 12) | (int64_t(p[6] & 0x03) << 13) | (int64_t(p[7]) << 5) |
                            (p[8] >> 3);
        size_t i = 14 + (p[13] & 7);
        while (i + 9 < 2048 && p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            const int id = p[i + 3];
            const size_t length = (p[i + 4] << 8) | p[i + 5];
            if (id == 0xBD) {
                const size_t payload = i + 9 + p[i + 8];
                if (payload < 2048 && p[payload] >= 0x20 && p[payload] <= 0x3F) {
                    SubpicturePlace place;
                    place.scr = scr;
                    place.substream = p[payload];
                    if (p[i + 7] & 0x80) {
                        const uint8_t* t = p + i + 9;
                        place.pts = (int64_t(t[0] & 0x0E) << 29) | (int64_t(t[1]) << 22) |
                                    (int64_t(t[2] & 0xFE) << 14) | (int64_t(t[3]) << 7) | (t[4] >> 1);
                    }
                    places.push_back(place);
                }
            }
            i += 6 + length;
        }
    }
    return places;
}

} // namespace

// A converted movie carries its subtitles as DVD subpicture substreams (the picture track of a
// Matroska movie too), each packet in a pack whose clock is ahead of the packet's display time.
TEST(SubtitleConvert, SubpicturePacketsPrecedeTheirDisplayTimeInTheirSubstreams) {
    const std::string dir = TestRoot() + "convert-subs/";
    ASSERT_EQ(Shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "'"), 0);
    const std::string movie = dir + "Movie.mp4";
    ASSERT_EQ(Shell("ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine -t 6 -c:v mpeg4 "
                    "-c:a aac '" +
                    movie + "'"),
              0);
    Write(dir + "Movie.en.srt", Srt({{"00:00:00,000", "00:00:01,000", "At once"},
                                     {"00:00:02,000", "00:00:03,000", "Two"},
                                     {"00:00:04,000", "00:00:09,000", "Past the end"}}));
    Write(dir + "Movie.de.srt", Srt({{"00:00:01,000", "00:00:02,000", "Eins"}}));
    ConvertRequest r;
    r.input = movie;
    r.output = dir + "text.vob";
    r.pictureWidth = 720;
    r.pictureHeight = 576;
    r.subtitleStreams = {0x21, 0x23}; // de (first by name), en; 0x20 and 0x22 stay empty
    ConvertResult result = ConvertMovie(r, nullptr, nullptr);
    ASSERT_TRUE(result.ok) << result.error;
    const std::vector<SubpicturePlace> places = SubpicturePlaces(r.output);
    std::set<int> substreams;
    for (const SubpicturePlace& p : places) {
        substreams.insert(p.substream);
        if (p.pts >= 0) {
            EXPECT_LT(p.scr, p.pts) << "substream " << p.substream;
        }
    }
    EXPECT_EQ(substreams, (std::set<int>{0x21, 0x23}));
    int navPacks = 0;
    EXPECT_EQ(CheckPacks(r.output, &navPacks), "");
    const std::string probe = dir + "probe.txt";
    ASSERT_EQ(Shell("ffprobe -v error -show_entries stream=codec_name,id -of csv '" + r.output + "' > '" + probe + "'"),
              0);
    EXPECT_NE(ReadFile(probe).find("dvd_subtitle,0x21"), std::string::npos) << ReadFile(probe);
    EXPECT_NE(ReadFile(probe).find("dvd_subtitle,0x23"), std::string::npos) << ReadFile(probe);

    // Picture subtitles: the DVD subtitle track of a Matroska movie made from that stream, and the
    // same pictures as DVB subtitles in a transport stream.
    const std::string text = r.output;
    for (const std::string& name : {std::string("Pictures.mkv"), std::string("Dvb.ts")}) {
        const std::string pictures = dir + name;
        const std::string codec = name == "Dvb.ts" ? "dvbsub" : "copy";
        ASSERT_EQ(Shell("ffmpeg -v error -y -i '" + text + "' -map 0:v -map 0:s:0 -c:v copy -c:s " + codec + " '" +
                        pictures + "'"),
                  0);
        r.input = pictures;
        r.output = dir + name + ".vob";
        r.subtitleStreams = {0x20};
        result = ConvertMovie(r, nullptr, nullptr);
        ASSERT_TRUE(result.ok) << result.error;
        substreams.clear();
        for (const SubpicturePlace& p : SubpicturePlaces(r.output))
            substreams.insert(p.substream);
        EXPECT_EQ(substreams, (std::set<int>{0x20})) << name;
    }

    // No subtitles asked for: no substream at all.
    r.subtitleStreams.clear();
    r.output = dir + "none.vob";
    ASSERT_TRUE(ConvertMovie(r, nullptr, nullptr).ok);
    EXPECT_TRUE(SubpicturePlaces(r.output).empty());
}
