// The preview player of the main window, on a real RealVideo 2 + AC-3 movie played by libmpv.
#include "AppTestSupport.h"
#include "Folders.h"
#include "InfoDialogs.h"
#include "MainDlg.h"
#include "PictureButton.h"
#include "PreviewScreen.h"
#include "WindowFixture.h"
#include "XListCtrl.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QRegularExpression>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace {

constexpr int64_t kSecond = 10000000; // 100-ns units

// A 4-second RealVideo 2 movie with AC-3 sound, made once per run.
std::string FixtureMovie() {
    static std::string path;
    if (path.empty()) {
        const std::string folder = FreshFolder("fixture");
        const std::string out = folder + "movie.rm";
        const std::string cmd = "timeout 120 ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=176x144:rate=15 "
                                "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 4 -c:v rv20 -b:v 150k "
                                "-c:a ac3 -b:a 64k '" +
                                out + "'";
        if (std::system(cmd.c_str()) == 0 && FileExists(out)) {
            path = out;
        }
    }
    return path;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QTest::qWait(10);
    }
    return true;
}

class Preview : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        movie = FixtureMovie();
        ASSERT_FALSE(movie.empty()) << "ffmpeg could not make the fixture movie";
        fs::copy_file(std::string(QX_BIN_DIR) + "/ScreenBackground.bmp", companion + "ScreenBackground.bmp");
        Create();
    }
    // Adds copies of the fixture under the given names, in order.
    void AddCopies(const std::vector<std::string>& names) {
        std::vector<std::string> paths;
        for (const std::string& name : names) {
            paths.push_back(movies + name);
            fake.encoder->movies[name] = FakeMovie{FakeMovie::Probe::Answer, 4.0, 176, 144};
            fs::copy_file(movie, paths.back(), fs::copy_options::overwrite_existing);
        }
        prompts.QueueFiles(paths);
        Click("btnAddFiles");
        ASSERT_TRUE(dlg->WaitForAddFiles(10000));
        ASSERT_EQ(List()->GetItemCount(), static_cast<int>(names.size())) << prompts.BoxTexts().size();
    }
    // Plays row `row` and waits until the movie has visibly advanced.
    void PlayRow(int row) {
        List()->SelectItem(row);
        Click("btnPlay");
        ASSERT_EQ(dlg->PreviewStatus(), 2);
        ASSERT_TRUE(WaitUntil([&] { return Position() > kSecond / 5; }, 10000)) << "the movie does not advance";
    }
    int64_t Position() {
        int64_t rt = -1;
        return dlg->PreviewPlayer() && dlg->PreviewPlayer()->Position(&rt) == 0 ? rt : -1;
    }
    std::string PositionText() { return Find<QLabel>("lblPosition")->text().toStdString(); }
    QSlider* Slider() { return Find<QSlider>("sliderPosition"); }
    CPreviewScreen* Screen() { return Find<CPreviewScreen>("previewScreen"); }
    std::string PlayTip() { return Find<QWidget>("btnPlay")->toolTip().toStdString(); }
    std::string StillPath() { return qx::RuntimeFolder().value + "pause.bmp"; }
    // A drag of the slider to `percent`, ended by releasing it.
    void DragSliderTo(int percent) {
        Slider()->setSliderDown(true);
        Slider()->setSliderPosition(percent);
        Slider()->setSliderDown(false);
    }

    std::string movie;
};

} // namespace

TEST(PreviewRules, PositionTextAndSliderArithmetic) {
    EXPECT_EQ(PreviewPositionText(0), "Position:00:00:00");
    EXPECT_EQ(PreviewPositionText(3723 * kSecond + 9 * kSecond / 10), "Position:01:02:03");
    EXPECT_EQ(PreviewPositionText(59 * kSecond + 99 * kSecond / 100), "Position:00:00:59");
    EXPECT_EQ(PreviewPositionText(100 * 3600 * kSecond), "Position:100:00:00");
    EXPECT_EQ(PreviewSliderPercent(5 * kSecond, 0), 0);
    EXPECT_EQ(PreviewSliderPercent(3 * kSecond - 1, 6 * kSecond), 49);
    EXPECT_EQ(PreviewSliderPercent(6 * kSecond, 6 * kSecond), 100);
    // Hours-long movies: the product exceeds 32 bits.
    EXPECT_EQ(PreviewSliderPercent(3 * 3600 * kSecond, 4 * 3600 * kSecond), 75);
    EXPECT_EQ(PreviewSeekTarget(0, 80), 0);
    EXPECT_EQ(PreviewSeekTarget(4 * 3600 * kSecond, 50), 2 * 3600 * kSecond);
}

TEST_F(Preview, PlayAdvancesPauseHoldsWithAStillAndStopRewinds) {
    // Nothing selected: the play button does nothing.
    AddCopies({"one.rm"});
    List()->SelectItem(-1);
    Click("btnPlay");
    EXPECT_EQ(dlg->PreviewStatus(), 0);
    EXPECT_EQ(dlg->PreviewPlayer(), nullptr);
    const QImage background = Screen()->ScreenImage();
    ASSERT_EQ(background.size(), QSize(240, 180)) << "the background picture is shown at start";
    EXPECT_FALSE(Find<QWidget>("btnPause")->isVisible());

    PlayRow(0);
    EXPECT_EQ(dlg->PreviewItem(), 0);
    EXPECT_EQ(PlayTip(), "Pause");
    EXPECT_NEAR(static_cast<double>(dlg->PreviewDuration()), 4.0 * kSecond, 0.2 * kSecond);
    ASSERT_TRUE(WaitUntil([&] { return PositionText() == "Position:00:00:01"; }, 10000)) << PositionText();
    EXPECT_GT(Slider()->value(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Screen()->ShowingVideo() && !dlg->PreviewPlayer()->Frame().isNull(); }, 5000));
    // The test picture is colourful; a black frame means nothing was rendered.
    const QImage frame = Screen()->Grab();
    const QColor centre = frame.pixelColor(frame.width() / 2, frame.height() / 2);
    EXPECT_GT(centre.red() + centre.green() + centre.blue(), 60);
    SaveScreenshot(dlg.get(), "main_window_preview_playing");
    EXPECT_TRUE(prompts.BoxTexts().empty()) << "no box, also where no sound device exists";

    Click("btnPlay"); // the pause toggle
    EXPECT_EQ(dlg->PreviewStatus(), 1);
    EXPECT_EQ(PlayTip(), "Play");
    const int64_t held = Position();
    QTest::qWait(400);
    EXPECT_EQ(Position(), held);
    EXPECT_EQ(ReadFile(StillPath()).substr(0, 2), "BM");
    EXPECT_FALSE(Screen()->ShowingVideo());
    EXPECT_EQ(Screen()->ScreenImage().size(), QSize(176, 144)) << "the still picture is the screen image";
    Screen()->repaint();
    EXPECT_EQ(Screen()->ScreenImage().size(), QSize(176, 144));

    Click("btnPlay"); // running again
    EXPECT_EQ(dlg->PreviewStatus(), 2);
    ASSERT_TRUE(WaitUntil([&] { return Position() > held; }, 5000));

    Click("btnStopPreview");
    EXPECT_EQ(dlg->PreviewStatus(), 0);
    EXPECT_EQ(dlg->PreviewItem(), -1);
    EXPECT_EQ(PlayTip(), "Play");
    EXPECT_EQ(Slider()->value(), 0);
    EXPECT_EQ(PositionText(), "Position:00:00:00");
    EXPECT_EQ(Screen()->ScreenImage(), background);
    ASSERT_NE(dlg->PreviewPlayer(), nullptr) << "the movie stays loaded after a stop";
    SaveScreenshot(dlg.get(), "main_window_preview_stopped");
}

TEST_F(Preview, SliderSeeksAndRestoresTheStateItHadBeforeTheDrag) {
    AddCopies({"one.rm"});
    PlayRow(0);
    Click("btnPlay"); // paused
    const auto stillTime = fs::last_write_time(StillPath());
    const QImage stillBefore = Screen()->ScreenImage();

    DragSliderTo(50);
    EXPECT_TRUE(g_bSeekArmed);
    EXPECT_EQ(dlg->PreviewStatus(), 1);
    EXPECT_NEAR(static_cast<double>(Position()), dlg->PreviewDuration() / 2.0, 0.1 * kSecond);
    EXPECT_EQ(PositionText(), "Position:00:00:02");
    EXPECT_GE(fs::last_write_time(StillPath()), stillTime);
    EXPECT_NE(Screen()->ScreenImage(), stillBefore) << "the screen shows the frame sought to";
    QTest::qWait(300);
    EXPECT_NEAR(static_cast<double>(Position()), dlg->PreviewDuration() / 2.0, 0.1 * kSecond) << "still paused";

    // While running: paused for the drag, running again after it.
    Click("btnPlay");
    ASSERT_EQ(dlg->PreviewStatus(), 2);
    Slider()->setSliderDown(true);
    Slider()->setSliderPosition(10);
    Slider()->setSliderPosition(20);
    EXPECT_TRUE(dlg->PreviewPlayer()->Paused());
    EXPECT_EQ(g_fsBeforeSeek, 2);
    Slider()->setSliderDown(false);
    EXPECT_TRUE(g_bSeekArmed);
    EXPECT_FALSE(dlg->PreviewPlayer()->Paused());
    const int64_t target = dlg->PreviewDuration() / 5;
    ASSERT_TRUE(WaitUntil([&] { return Position() > target + kSecond / 10; }, 5000)) << "playing on from 20 %";
}

TEST_F(Preview, EndOfTheMovieStopsAndRewinds) {
    AddCopies({"one.rm"});
    PlayRow(0);
    DragSliderTo(90);
    ASSERT_EQ(dlg->PreviewStatus(), 2);
    ASSERT_TRUE(WaitUntil([&] { return dlg->PreviewStatus() == 0; }, 10000)) << "the end was not noticed";
    EXPECT_EQ(PlayTip(), "Play");
    EXPECT_EQ(Slider()->value(), 0);
    EXPECT_EQ(PositionText(), "Position:00:00:00");
    ASSERT_NE(dlg->PreviewPlayer(), nullptr);
    EXPECT_LT(Position(), kSecond / 10);
    // Played again from the start.
    PlayRow(0);
}

TEST_F(Preview, UnplayableFileOpensTheDecoderDialog) {
    const std::string junk = movies + "junk.rm";
    std::mt19937 random(13);
    std::string bytes(64 * 1024, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    std::ofstream(junk, std::ios::binary) << bytes;
    fake.encoder->movies["junk.rm"] = FakeMovie{};
    prompts.QueueFiles({junk});
    Click("btnAddFiles");
    ASSERT_TRUE(dlg->WaitForAddFiles(10000));
    List()->SelectItem(0);
    Click("btnPlay");
    EXPECT_EQ(dlg->PreviewStatus(), 0);
    EXPECT_EQ(dlg->PreviewPlayer(), nullptr);
    ASSERT_EQ(prompts.DialogTexts().size(), 1u);
    EXPECT_EQ(prompts.DialogTexts()[0].rfind(CDownloadDecoderDlg::kNoDecoderText, 0), 0u);
    EXPECT_EQ(PlayTip(), "Play");
}

TEST_F(Preview, SoundOnlyMoviePlaysWithoutPictureOrSlider) {
    const std::string sound = movies + "sound.rm";
    const std::string cmd = "timeout 120 ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100 "
                            "-t 2 -c:a ac3 -b:a 64k '" +
                            sound + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    fake.encoder->movies["sound.rm"] = FakeMovie{};
    prompts.QueueFiles({sound});
    Click("btnAddFiles");
    ASSERT_TRUE(dlg->WaitForAddFiles(10000));
    List()->SelectItem(0);
    Click("btnPlay");
    ASSERT_EQ(prompts.BoxTexts(), std::vector<std::string>{"This is an audio-only or MIDI file!"});
    EXPECT_EQ(dlg->PreviewStatus(), 2);
    EXPECT_FALSE(Slider()->isEnabled());
    EXPECT_EQ(PositionText(), "Can't be seeked!");
    ASSERT_TRUE(WaitUntil([&] { return Position() > kSecond / 5; }, 10000)) << "the sound plays";
    EXPECT_FALSE(Screen()->ShowingVideo());
    EXPECT_EQ(Screen()->ScreenImage().size(), QSize(240, 180)) << "the background stays";
}

TEST_F(Preview, ListEditsFollowThePreviewedMovie) {
    AddCopies({"a.rm", "b.rm", "c.rm"});
    PlayRow(1);
    ASSERT_EQ(dlg->PreviewItem(), 1);

    List()->SelectItem(1);
    Click("btnMoveUp"); // the previewed row moves up
    EXPECT_EQ(dlg->PreviewItem(), 0);
    List()->SelectItem(1);
    Click("btnMoveUp"); // the row above it moves down over it
    EXPECT_EQ(dlg->PreviewItem(), 1);
    List()->SelectItem(1);
    Click("btnMoveDown");
    EXPECT_EQ(dlg->PreviewItem(), 2);
    EXPECT_EQ(dlg->Sources()[2].strPath, movies + "b.rm");

    List()->SelectItem(0);
    Click("btnDelete"); // a row above it
    EXPECT_EQ(dlg->PreviewItem(), 1);
    EXPECT_EQ(dlg->PreviewStatus(), 2);
    EXPECT_EQ(dlg->Sources()[1].strPath, movies + "b.rm");

    Click("btnPlay"); // paused: still followed, and deleting it releases the player
    ASSERT_EQ(dlg->PreviewStatus(), 1);
    List()->SelectItem(1);
    Click("btnDelete");
    EXPECT_EQ(dlg->PreviewStatus(), 0);
    EXPECT_EQ(dlg->PreviewItem(), -1);
    EXPECT_EQ(dlg->PreviewPlayer(), nullptr);

    // The last row goes: the stopped player goes with it.
    PlayRow(0);
    Click("btnStopPreview");
    ASSERT_NE(dlg->PreviewPlayer(), nullptr);
    Click("btnDelete");
    EXPECT_EQ(List()->GetItemCount(), 0);
    EXPECT_EQ(dlg->PreviewPlayer(), nullptr);
}

TEST_F(Preview, StartingAJobStopsThePreviewAndLocksItsControls) {
    AddCopies({"a.rm"});
    PlayRow(0);
    int statusDuringJob = -1;
    bool controlsDuringJob = true;
    fake.encoder->onConvert = [&](int, const CSourceInfo&) {
        QMetaObject::invokeMethod(
            dlg.get(),
            [&] {
                statusDuringJob = dlg->PreviewStatus();
                controlsDuringJob = Find<QWidget>("btnPlay")->isEnabled() || Slider()->isEnabled();
            },
            Qt::BlockingQueuedConnection);
    };
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(statusDuringJob, 0);
    EXPECT_FALSE(controlsDuringJob);
    EXPECT_EQ(PositionText(), "Position:00:00:00");
    EXPECT_TRUE(Find<QWidget>("btnPlay")->isEnabled());
}
