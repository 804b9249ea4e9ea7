// The progress window driven through its widgets by object name: modes and what Cancel, the close
// box and Escape do, owner disabling, the one-window rule, minimise and restore; and the burn
// status lines.
#include "NeroAPI.h"
#include "ProgressDlg.h"
#include "ProgressText.h"
#include "TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        qxtest::EnsureApp();
        CProgressDlg::ResetMainShowState();
        main = std::make_unique<QWidget>();
        main->setWindowTitle("main");
        main->resize(600, 400);
        main->show();
    }
    void TearDown() override {
        DestroyProgressDlg();
        CProgressDlg::ResetMainShowState();
    }
    static QPushButton* Cancel(CProgressDlg* d) { return d->findChild<QPushButton*>("CancelButton"); }
    static QProgressBar* Bar(CProgressDlg* d) { return d->findChild<QProgressBar*>("ProgressBar"); }
    static QLabel* Text(CProgressDlg* d) { return d->findChild<QLabel*>("ProgressText"); }
    std::unique_ptr<QWidget> main;
};

} // namespace

TEST_F(ProgressTest, StartShowsTheTitledWindowAndDisablesOwnerAndMainWindow) {
    CProgressDlg* dlg = OpenProgressDlg("Converting /movies/holiday.rm", CProgressDlg::ModeConvert, main.get());
    ASSERT_EQ(g_pProgressDlg, dlg);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Converting /movies/holiday.rm");
    EXPECT_FALSE(main->isEnabled());
    EXPECT_TRUE(dlg->OwnerDisabled());
    // The window itself stays usable although its owner is disabled.
    ASSERT_NE(Cancel(dlg), nullptr);
    EXPECT_TRUE(Cancel(dlg)->isEnabled());
    EXPECT_EQ(Cancel(dlg)->text().toStdString(), "Cancel");
    EXPECT_EQ(Bar(dlg)->minimum(), 1);
    EXPECT_EQ(Bar(dlg)->maximum(), 100);
    EXPECT_EQ(dlg->BarPosition(), 0);
    EXPECT_EQ(Text(dlg)->text().toStdString(), "");

    dlg->SetProgress(45, "Converting 45%");
    EXPECT_EQ(Bar(dlg)->value(), 45);
    EXPECT_EQ(dlg->StatusText(), "Converting 45%");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg));
    EXPECT_TRUE(qxtest::SaveScreenshot(dlg, "progress_convert"));

    dlg->CloseProgress();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_TRUE(main->isEnabled());
    EXPECT_TRUE(main->isVisible());
}

TEST_F(ProgressTest, BarStaysInItsRangeWhateverThePercentage) {
    CProgressDlg* dlg = OpenProgressDlg("Erase Disc...", CProgressDlg::ModeBurn, main.get());
    dlg->SetProgress(150, "Erasing Disc; Finished 150.00%;");
    EXPECT_EQ(dlg->BarPosition(), 100);
    EXPECT_EQ(dlg->StatusText(), "Erasing Disc; Finished 150.00%;");
    dlg->SetProgress(0, "Erasing Disc; ");
    EXPECT_EQ(dlg->BarPosition(), 0);
    dlg->SetProgress(-3, "x");
    EXPECT_EQ(dlg->BarPosition(), 0);
    dlg->SetProgress(1, "y");
    EXPECT_EQ(dlg->BarPosition(), 1);
}

TEST_F(ProgressTest, CancelCloseBoxAndEscapeSendTheStopMessageOfTheModeAndKeepTheWindowOpen) {
    struct Case {
        int mode;
        std::vector<int> expected;
    };
    const Case cases[] = {{CProgressDlg::ModeAuthoring, {}},
                          {CProgressDlg::ModeBurn, {1135, 1135, 1135}},
                          {CProgressDlg::ModeConvert, {5119, 5119, 5119}}};
    for (const Case& c : cases) {
        CProgressDlg* dlg = OpenProgressDlg("job", c.mode, main.get());
        std::vector<int> handled, signalled;
        dlg->SetStopHandler([&](int m) { handled.push_back(m); });
        QObject::connect(dlg, &CProgressDlg::stopRequested, [&](int m) { signalled.push_back(m); });
        QTest::mouseClick(Cancel(dlg), Qt::LeftButton);
        dlg->close();
        QTest::keyClick(dlg, Qt::Key_Escape);
        EXPECT_EQ(handled, c.expected) << "mode " << c.mode;
        EXPECT_EQ(signalled, c.expected) << "mode " << c.mode;
        EXPECT_TRUE(dlg->isVisible()) << "mode " << c.mode;
        EXPECT_FALSE(main->isEnabled());
    }
}

TEST_F(ProgressTest, ANewWindowReplacesTheOldOneAndDestroyingReenablesTheOwners) {
    QPointer<CProgressDlg> first = OpenProgressDlg("Converting a", CProgressDlg::ModeConvert, main.get());
    QPointer<CProgressDlg> second = OpenProgressDlg("Converting b", CProgressDlg::ModeConvert, main.get());
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(g_pProgressDlg, second.data());
    EXPECT_FALSE(main->isEnabled()); // disabled again by the new window

    EXPECT_EQ(OnProgressText("Converting 10%", 10), 0);
    EXPECT_EQ(second->StatusText(), "Converting 10%");

    // Deleting the window without CloseProgress must not leave the main window dead.
    delete second.data();
    EXPECT_EQ(g_pProgressDlg, nullptr);
    EXPECT_TRUE(main->isEnabled());
    EXPECT_EQ(OnProgressText("dropped", 20), 0); // no window: dropped

    OpenProgressDlg("DVD authoring", CProgressDlg::ModeAuthoring, main.get());
    DestroyProgressDlg();
    EXPECT_EQ(g_pProgressDlg, nullptr);
    EXPECT_TRUE(main->isEnabled());
}

TEST_F(ProgressTest, AnOwnerBelowTheMainWindowIsDisabledWithIt) {
    QWidget dialog(main.get(), Qt::Dialog);
    dialog.show();
    CProgressDlg* dlg = OpenProgressDlg("Burning Disc...", CProgressDlg::ModeBurn, &dialog);
    EXPECT_EQ(dlg->MainWindow(), main.get());
    EXPECT_EQ(dlg->Owner(), &dialog);
    EXPECT_FALSE(dialog.isEnabled());
    EXPECT_FALSE(main->isEnabled());
    EXPECT_TRUE(Cancel(dlg)->isEnabled());
    // Minimising a window owned by another dialog leaves the main window alone.
    dlg->showMinimized();
    EXPECT_FALSE(main->isMinimized());
    EXPECT_EQ(CProgressDlg::MainShowState(), CProgressDlg::kShowStateShown);
    dlg->CloseProgress();
    EXPECT_TRUE(dialog.isEnabled());
    EXPECT_TRUE(main->isEnabled());
}

TEST_F(ProgressTest, MinimisingCarriesTheMainWindowAndRestoringBringsItBack) {
    CProgressDlg* dlg = OpenProgressDlg("Burning Disc...", CProgressDlg::ModeBurn, main.get());
    dlg->showMinimized();
    EXPECT_EQ(CProgressDlg::MainShowState(), CProgressDlg::kShowStateMinimised);
    EXPECT_TRUE(main->isMinimized());

    // The next window of the job is not shown while the main window is minimised.
    dlg = OpenProgressDlg("Converting b", CProgressDlg::ModeConvert, main.get());
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_FALSE(main->isEnabled());

    // Closing it does not pop the minimised main window up.
    dlg->CloseProgress();
    EXPECT_TRUE(main->isMinimized());

    CProgressDlg::ResetMainShowState();
    main->showNormal();
    dlg = OpenProgressDlg("Converting c", CProgressDlg::ModeConvert, main.get());
    EXPECT_TRUE(dlg->isVisible());
    dlg->showMinimized();
    EXPECT_TRUE(main->isMinimized());
    dlg->showNormal();
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(main->isMinimized());
    EXPECT_EQ(CProgressDlg::MainShowState(), CProgressDlg::kShowStateShown);
}

TEST(ProgressLines, TimesAreHoursMinutesSecondsWithoutAnHourLimit) {
    EXPECT_EQ(FormatProgressTime(0), "00:00:00");
    EXPECT_EQ(FormatProgressTime(3661), "01:01:01");
    EXPECT_EQ(FormatProgressTime(360000 + 59), "100:00:59");
    EXPECT_EQ(FormatProgressTime(-5), "00:00:00");
}

TEST(ProgressLines, BuiltInEngine) {
    EXPECT_FALSE(BuiltInProgressLine(0, 5000, 40, 0));
    EXPECT_FALSE(BuiltInProgressLine(2, 5000, 0, 0)); // writing at 0 %: nothing yet
    auto w = BuiltInProgressLine(2, 30999, 25, 0);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->text, "Writing Data; Total time:00:02:00; Elapsed Time:00:00:30; Finished 25.00%;");
    EXPECT_EQ(w->percent, 25);
    auto e = BuiltInProgressLine(1, 30000, 25, 120);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->text, "Erasing Disc; Total time:00:02:00; Elapsed Time:00:00:30; Finished 25.00%;");
    EXPECT_EQ(e->percent, 25);
}

// The read-back after a burn, either engine: its own line, nothing until the first percentage.
TEST(ProgressLines, VerifyingIsAPhaseOfItsOwnInBothEngines) {
    EXPECT_FALSE(BuiltInProgressLine(3, 5000, 0, 0));
    auto v = BuiltInProgressLine(3, 30999, 25, 0);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->text, "Verifying Data; Total time:00:02:00; Elapsed Time:00:00:30; Finished 25.00%;");
    EXPECT_EQ(v->percent, 25);
    SecondEngineProgress nero;
    nero.phase = 3;
    nero.majorPhase = NERO_PHASE_VERIFYING;
    nero.current = 25;
    nero.lastShown = 100; // the write showed 100 % before: the read-back still shows its own
    auto n = SecondEngineProgressLine(nero, 30999);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->text, v->text);
}

TEST(ProgressLines, SecondEngineErase) {
    SecondEngineProgress s;
    s.phase = 1;
    auto unknown = SecondEngineProgressLine(s, 42000);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->text, "Erasing Disc; ");
    EXPECT_EQ(unknown->percent, 0);
    s.eraseEstimateSeconds = 100;
    auto over = SecondEngineProgressLine(s, 150000);
    ASSERT_TRUE(over);
    EXPECT_EQ(over->text, "Erasing Disc; Total time:00:01:40; Elapsed Time:00:02:30; Finished 150.00%;");
    EXPECT_EQ(over->percent, 150); // not capped; the bar keeps itself in range
}

TEST(ProgressLines, SecondEngineWriteShowsOneHundredOnceAndThenStops) {
    SecondEngineProgress s;
    s.phase = 2;
    s.majorPhase = 12;
    s.current = 40;
    EXPECT_FALSE(SecondEngineProgressLine(s, 10000)); // not in the writing phase
    s.majorPhase = kSecondEngineWritingPhase;
    s.current = 0;
    EXPECT_FALSE(SecondEngineProgressLine(s, 10000));
    s.current = 40;
    auto l = SecondEngineProgressLine(s, 20000);
    ASSERT_TRUE(l);
    EXPECT_EQ(l->text, "Writing Data; Total time:00:00:50; Elapsed Time:00:00:20; Finished 40%;");
    EXPECT_EQ(s.lastShown, 40);
    s.current = 97;
    auto done = SecondEngineProgressLine(s, 60000);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->text, "Writing Data; Total time:00:01:00; Elapsed Time:00:01:00; Finished 100%;");
    EXPECT_EQ(done->percent, 100);
    EXPECT_EQ(s.current, 100);
    EXPECT_FALSE(SecondEngineProgressLine(s, 61000));
}

TEST(ProgressTimerTest, TicksDeliverBuiltLinesUntilStopped) {
    qxtest::EnsureApp();
    CProgressTimer timer;
    int built = 0;
    std::vector<ProgressLine> delivered;
    timer.Start(
        [&]() -> std::optional<ProgressLine> {
            ++built;
            if (built == 1)
                return std::nullopt; // e.g. writing at 0 %
            return ProgressLine{"line " + std::to_string(built), built};
        },
        [&](const ProgressLine& l) { delivered.push_back(l); });
    EXPECT_TRUE(timer.IsRunning());
    timer.Tick();
    timer.Tick();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].text, "line 2");
    // And by itself, every half second.
    for (int i = 0; i < 400 && built < 3; ++i)
        QTest::qWait(10);
    EXPECT_GE(built, 3);
    timer.Stop();
    EXPECT_FALSE(timer.IsRunning());
}
