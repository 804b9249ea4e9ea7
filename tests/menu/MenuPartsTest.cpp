// The menu's parts on their own: the layout of up to 99 movies, the subpicture unit read back by
// FFmpeg's decoder, the checks on button highlights, the picture taken a tenth into a movie, the
// builder's own folder, and the same menu built twice giving the same bytes.
#include "AuthorHighlight.h"
#include "MenuBuilder.h"
#include "MenuDiscSupport.h"
#include "MenuPicture.h"
#include "MovieFrame.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace {

bool overlap(const MenuRect& a, const MenuRect& b) {
    return a.x < b.right() && b.x < a.right() && a.y < b.bottom() && b.y < a.bottom();
}

TEST(MenuLayout, PagesHoldSixMoviesWithPlayAllAndPageButtonsInsideTheSafeArea) {
    for (DisplayAspect aspect : {DisplayAspect::Standard4x3, DisplayAspect::Wide16x9}) {
        for (TvStandard tv : {TvStandard::Pal, TvStandard::Ntsc}) {
            const MenuLayout layout = LayOutMenu(99, tv, aspect, true);
            const MenuGeometry& g = layout.geometry;
            ASSERT_EQ(layout.pages.size(), 17u);
            int next = 1;
            for (size_t p = 0; p < layout.pages.size(); ++p) {
                const MenuPage& page = layout.pages[p];
                SCOPED_TRACE("page " + std::to_string(p + 1));
                EXPECT_EQ(page.Find(MenuButtonKind::Previous) != 0, p > 0);
                EXPECT_EQ(page.Find(MenuButtonKind::Next) != 0, p + 1 < layout.pages.size());
                EXPECT_NE(page.Find(MenuButtonKind::PlayAll), 0);
                for (size_t i = 0; i < page.buttons.size(); ++i) {
                    const MenuButton& b = page.buttons[i];
                    if (b.kind == MenuButtonKind::Movie) {
                        EXPECT_EQ(b.title, next++); // titles in order, row by row
                    }
                    // Inside the part every screen shows, and apart from every other button.
                    EXPECT_GE(b.area.x, g.displayWidth / 20);
                    EXPECT_LE(b.area.right(), g.displayWidth - g.displayWidth / 20);
                    EXPECT_GE(b.area.y, g.displayHeight / 20);
                    EXPECT_LE(b.area.bottom(), g.displayHeight - g.displayHeight / 20);
                    for (size_t j = i + 1; j < page.buttons.size(); ++j)
                        EXPECT_FALSE(overlap(b.area, page.buttons[j].area)) << i << " and " << j;
                    // Stored and letterboxed places lie inside the picture, and inside its band.
                    const MenuRect stored = g.Stored(b.area);
                    EXPECT_LE(stored.right(), 720);
                    EXPECT_LE(stored.bottom(), g.storedHeight);
                    const MenuRect boxed = g.Letterboxed(stored);
                    EXPECT_GE(boxed.y, g.storedHeight / 8);
                    EXPECT_LE(boxed.bottom(), g.storedHeight - g.storedHeight / 8);
                }
            }
            EXPECT_EQ(next, 100);
            int page = 0, button = 0;
            ASSERT_TRUE(layout.Locate(98, &page, &button));
            EXPECT_EQ(page, 17);
            EXPECT_EQ(button, 2);
        }
    }
}

TEST(MenuLayout, ArrowsFollowTheDrawnOrderAndTheRows) {
    const MenuLayout layout = LayOutMenu(8, TvStandard::Pal, DisplayAspect::Wide16x9, false);
    const std::vector<MenuButton>& b = layout.pages[0].buttons; // movies 1-3, 4-6, then Play all, Next
    ASSERT_EQ(b.size(), 8u);
    for (size_t i = 0; i < b.size(); ++i) {
        EXPECT_EQ(b[i].right, static_cast<int>((i + 1) % b.size() + 1));
        EXPECT_EQ(b[(i + 1) % b.size()].left, static_cast<int>(i + 1));
    }
    EXPECT_EQ(b[0].down, 4);                  // movie 1 -> movie 4
    EXPECT_EQ(b[4].down, 7);                  // movie 5 (the middle) -> Play all (the middle)
    EXPECT_EQ(b[5].down, 8);                  // movie 6 -> Next
    EXPECT_EQ(b[6].up, 5);                    // Play all -> movie 5
    EXPECT_EQ(b[6].down, 2);                  // round to the top row
    EXPECT_EQ(b[1].up, 7);                    // and back
    const MenuPage& second = layout.pages[1]; // movies 7, 8; Previous, Play all
    ASSERT_EQ(second.buttons.size(), 4u);
    EXPECT_EQ(second.Find(MenuButtonKind::Previous), 3);
    EXPECT_EQ(second.buttons[2].up, 1);
}

TEST(MenuSubpicture, FfmpegsDecoderReadsBackEveryPixel) {
    SubpictureBitmap bitmap(720, 576);
    bitmap.Frame({100, 50, 300, 200}, 4, 1);
    bitmap.Frame({0, 570, 720, 6}, 3, 3); // reaching the last column and line
    std::mt19937 random(7);
    for (int y = 300; y < 340; ++y) // runs of every length class, values 0..3
        for (int x = 0; x < 720;) {
            const int run = 1 + static_cast<int>(random() % 300);
            const uint8_t value = static_cast<uint8_t>(random() % 4);
            for (int i = 0; i < run && x < 720; ++i, ++x)
                bitmap.pixels[static_cast<size_t>(y) * 720 + x] = value;
        }
    std::string error;
    const std::vector<uint8_t> unit = EncodeSubpictureUnit(bitmap, {0, 2, 3, 4}, {0, 15, 8, 15}, &error);
    ASSERT_FALSE(unit.empty()) << error;
    EXPECT_EQ(unit[0] << 8 | unit[1], static_cast<int>(unit.size()));
    const size_t control = unit[2] << 8 | unit[3];
    EXPECT_EQ(unit[control + 4], 0x00);                            // shown whether subtitles are on or off
    EXPECT_EQ(unit[control + 6] << 8 | unit[control + 7], 0x4320); // colours of values 3, 2, 1, 0

    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVD_SUBTITLE);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    ASSERT_EQ(avcodec_open2(decoder, codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    ASSERT_EQ(av_new_packet(packet, static_cast<int>(unit.size())), 0);
    std::copy(unit.begin(), unit.end(), packet->data);
    AVSubtitle sub{};
    int got = 0;
    ASSERT_GE(avcodec_decode_subtitle2(decoder, &sub, &got, packet), 0);
    ASSERT_TRUE(got);
    ASSERT_EQ(sub.num_rects, 1u);
    const AVSubtitleRect* r = sub.rects[0];
    ASSERT_EQ(r->w, 720);
    ASSERT_EQ(r->h, 576);
    int differing = 0;
    for (int y = 0; y < 576; ++y)
        for (int x = 0; x < 720; ++x)
            differing += r->data[0][y * r->linesize[0] + x] != bitmap.At(x, y);
    EXPECT_EQ(differing, 0);
    avsubtitle_free(&sub);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);

    // Noise cannot be coded small enough: refused, not cut.
    for (uint8_t& p : bitmap.pixels)
        p = static_cast<uint8_t>(random() % 4);
    EXPECT_TRUE(EncodeSubpictureUnit(bitmap, {0, 1, 2, 3}, {0, 15, 15, 15}, &error).empty());
    EXPECT_NE(error.find("53220"), std::string::npos) << error;
}

TEST(MenuHighlight, ButtonsThatCannotBeWrittenAreNamed) {
    AuthorHighlight h;
    EXPECT_NE(AuthorHighlightProblem(h, 720, 576).find("1 to 3 button groups"), std::string::npos);
    AuthorButton ok;
    ok.left = 10, ok.top = 10, ok.right = 100, ok.bottom = 100;
    ok.up = ok.down = ok.toLeft = ok.toRight = 1;
    h.groups = {{BUTTONS_WIDE, {ok}}, {BUTTONS_LETTERBOX, {ok}}};
    EXPECT_EQ(AuthorHighlightProblem(h, 720, 576), "");
    h.groups[1].buttons.push_back(ok);
    EXPECT_NE(AuthorHighlightProblem(h, 720, 576).find("group 2 has 2 buttons"), std::string::npos);
    h.groups[1].buttons.pop_back();
    h.groups[0].buttons[0].bottom = 500;
    EXPECT_NE(AuthorHighlightProblem(h, 720, 480).find("outside the 720x480 picture"), std::string::npos);
    h.groups[0].buttons[0].bottom = 100;
    h.groups[0].buttons[0].toRight = 2;
    EXPECT_NE(AuthorHighlightProblem(h, 720, 576).find("missing button 2"), std::string::npos);
    h.groups[0].buttons.assign(19, ok); // two groups share 36 entries: 18 each
    h.groups[1].buttons.assign(19, ok);
    EXPECT_NE(AuthorHighlightProblem(h, 720, 576).find("1 to 18 buttons"), std::string::npos);
}

TEST(MenuThumbnail, ThePictureComesFromATenthIntoTheMovie) {
    TempFolder temp;
    // Red for 0.8 seconds, then green, then from 1.6 seconds blue: a tenth of 10 seconds is green.
    const std::string movie = temp.path() + "/colours.mpg";
    ProgramResult made = RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                     "color=red:s=352x288:r=25:d=0.8,format=yuv420p[a];"
                                     "color=green:s=352x288:r=25:d=0.8,format=yuv420p[b];"
                                     "color=blue:s=352x288:r=25:d=8.4,format=yuv420p[c];[a][b][c]concat=n=3",
                                     "-target", "pal-dvd", "-s", "352x288", "-an", "-g", "5", "-f", "dvd", movie});
    ASSERT_EQ(made.exitStatus, 0) << made.output;
    std::string error;
    const QImage picture = DecodeMovieFrame(movie, 10 * kMenuThumbnailShare, 160, 90, &error);
    ASSERT_FALSE(picture.isNull()) << error;
    EXPECT_EQ(picture.size(), QSize(160, 90));
    const QColor middle = picture.pixelColor(80, 45);
    EXPECT_GT(middle.green(), 100) << middle.name().toStdString();
    EXPECT_LT(middle.red(), 60);
    EXPECT_LT(middle.blue(), 60);
    EXPECT_EQ(picture.pixelColor(2, 45), QColor(Qt::black)); // 4:3 kept in a 16:9 box: bars at the sides

    EXPECT_TRUE(DecodeMovieFrame(temp.path() + "/missing.mpg", 1, 160, 90, &error).isNull());
    EXPECT_NE(error.find("missing.mpg"), std::string::npos);
}

TEST(MenuBuild, TheSameMenuTwiceGivesTheSameBytesAndItsFolderKeepsWhatItDidNotMake) {
    EnsureGuiApp();
    TempFolder temp;
    MenuRequest request;
    request.tv = TvStandard::Ntsc;
    request.aspect = DisplayAspect::Wide16x9;
    request.label = "SAME";
    const std::string stream = FixtureStream(TvStandard::Ntsc, kMenuTestTitleSeconds);
    request.movies = {{"one", stream, kMenuTestTitleSeconds}, {"two (no picture)", temp.path() + "/gone.mpg", 60}};
    std::vector<std::vector<unsigned char>> built;
    for (int run = 0; run < 2; ++run) {
        std::string error;
        request.folder = MakeMenuFolder(temp.path(), &error);
        ASSERT_FALSE(request.folder.empty()) << error;
        EXPECT_EQ(fs::status(request.folder).permissions() & fs::perms::all, fs::perms::owner_all);
        MenuDisc disc;
        ASSERT_TRUE(BuildDvdMenu(request, &disc, &error)) << error;
        ASSERT_EQ(disc.warnings.size(), 1u); // a movie without a picture gets a placeholder
        EXPECT_NE(disc.warnings[0].find("two (no picture)"), std::string::npos);
        built.push_back(ReadWholeFile(disc.pageStreams.at(0)));
        const std::string foreign = request.folder + "/not-the-menus.txt";
        std::ofstream(foreign) << "kept";
        RemoveMenuFolder(request.folder);
        EXPECT_FALSE(fs::exists(disc.pageStreams[0]));
        EXPECT_FALSE(fs::exists(disc.rootStream));
        EXPECT_TRUE(fs::exists(foreign));
    }
    EXPECT_GT(built[0].size(), 0u);
    EXPECT_TRUE(built[0] == built[1]);

    // A build told to stop says so.
    std::string error;
    request.folder = MakeMenuFolder(temp.path(), &error);
    request.progress = [](int percent) { return percent < 50; };
    MenuDisc disc;
    EXPECT_FALSE(BuildDvdMenu(request, &disc, &error));
    EXPECT_NE(error.find("stopped"), std::string::npos);
    request.movies.clear();
    EXPECT_FALSE(BuildDvdMenu(request, &disc, &error));
    EXPECT_NE(error.find("1 to 99 movies"), std::string::npos);
}

} // namespace
