// The job against a stand-in encoder program that speaks the real protocol through the encoder
// channel: small streams, crashes, stops, leftovers and the size and free-space questions.
#include "ProgressDlg.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QTimer>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

class DoubleJob : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        fake.parts.encoder.reset();
        fake.encoder = nullptr;
        fake.parts.encoderProgram = std::string(QX_BIN_DIR) + "/qx_encoder_double";
    }
    // Presses Cancel in the progress window once the given movie is being converted.
    void CancelDuring(const std::string& title) {
        auto* timer = new QTimer(dlg.get());
        QObject::connect(timer, &QTimer::timeout, timer, [timer, title] {
            if (g_pProgressDlg && g_pProgressDlg->windowTitle().toStdString() == title) {
                timer->stop();
                g_pProgressDlg->OnCancel();
            }
        });
        timer->start(20);
    }
};

} // namespace

TEST_F(DoubleJob, SmallStreamAndCrashFailOnlyTheirMovies) {
    Create();
    AddMovies({"one.rm", "crash.rm", "small.rm"});
    ASSERT_EQ(dlg->Sources().size(), 3u);
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(Status(0), "Completed");
    EXPECT_EQ(Status(1), "Failed");
    EXPECT_EQ(Status(2), "Failed");
    EXPECT_EQ(fake.log->Count("1 Convert file:" + movies + "crash.rm make Encoderproxy crashed\n"), 1u);
    EXPECT_EQ(fake.log->Count("1 Convert file:" + movies + "small.rm compete and size too small, so failed\n"), 1u);
    ASSERT_EQ(fake.authoring->titleContents.size(), 3u);
    EXPECT_EQ(fake.authoring->titleContents[0], std::string(20000, 'e'));
    EXPECT_EQ(fake.authoring->titleContents[1], std::string(30000, 'd')); // default.vob
    EXPECT_EQ(fake.authoring->titleContents[2], std::string(30000, 'd'));
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 1u);
    EXPECT_FALSE(FileExists(work + "one.vob"));
    EXPECT_FALSE(FileExists(work + "crash.vob"));
}

TEST_F(DoubleJob, CrashOfTheMiddleMovieLeavesTheThirdToANewEncoder) {
    Create();
    AddMovies({"a.rm", "crash.rm", "c.rm"});
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(Status(0), "Completed");
    EXPECT_EQ(Status(1), "Failed");
    EXPECT_EQ(Status(2), "Completed");
    EXPECT_EQ(fake.log->Count("make Encoderproxy crashed"), 1u);
    EXPECT_EQ(fake.authoring->titleContents[2], std::string(20000, 'e'));
}

TEST_F(DoubleJob, ProbeCrashIsARefusedFile) {
    Create();
    AddMovies({"probecrash.rm", "unsupported.rm", "fine.rm"});
    EXPECT_EQ(dlg->Sources().size(), 1u);
    EXPECT_EQ(fake.log->Count("1 Add File:" + movies + "probecrash.rm Failed encoder proxy crashed\n"), 1u);
    EXPECT_EQ(fake.log->Count("0 Add File:" + movies + "unsupported.rm Failed the file is not supported\n"), 1u);
    EXPECT_EQ(prompts.DialogTexts().size(), 2u);
    EXPECT_EQ(List()->GetItemText(0, 1), "Dimension:320X240 File size:2.0M   Duration:00:01:00 Frame rate:25.00 ");
}

TEST_F(DoubleJob, StopDuringTheSecondMovieYes) {
    Create();
    AddMovies({"a.rm", "slow.rm", "c.rm"});
    prompts.Answer("Do you really want to stop convert process?", qx::PromptAnswer::Yes);
    CancelDuring("Converting " + movies + "slow.rm");
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(prompts.CountText("Do you really want to stop convert process?"), 1u);
    EXPECT_EQ(fake.log->Count("Begin convert file:" + movies + "c.rm"), 0u);
    EXPECT_EQ(fake.log->Lines().back(), "0 User stopped convert process\n");
    EXPECT_EQ(Status(0), "Completed");
    EXPECT_EQ(Status(1), "Ready");
    EXPECT_EQ(fake.authoring->runs, 0);
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 0u);
    for (const char* name : {"a.vob", "slow.vob", "slow.vob.part1", "c.vob"}) {
        EXPECT_FALSE(FileExists(work + name)) << name;
    }
}

TEST_F(DoubleJob, StopDuringTheSecondMovieNo) {
    Create();
    AddMovies({"a.rm", "slow.rm", "c.rm"});
    prompts.Answer("Do you really want to stop convert process?", qx::PromptAnswer::No);
    CancelDuring("Converting " + movies + "slow.rm");
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(prompts.CountText("Do you really want to stop convert process?"), 1u);
    EXPECT_EQ(Status(1), "Completed");
    EXPECT_EQ(Status(2), "Completed");
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 1u);
}

TEST_F(DoubleJob, ProgressRecordsReachTheProgressWindow) {
    Create();
    AddMovies({"slow.rm"});
    std::string seen;
    auto* timer = new QTimer(dlg.get());
    QObject::connect(timer, &QTimer::timeout, timer, [&seen] {
        if (g_pProgressDlg && g_pProgressDlg->StatusText().find("Finished") != std::string::npos) {
            if (seen.empty()) {
                SaveScreenshot(g_pProgressDlg, "progress_converting");
            }
            seen = g_pProgressDlg->StatusText();
        }
    });
    timer->start(10);
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(seen.rfind("Total time:", 0), 0u) << seen;
}

TEST_F(DoubleJob, LeftoverFolderCancelThenOk) {
    const std::string videoTs = work + "DVD Movie/VIDEO_TS/";
    fs::create_directories(videoTs);
    WriteFile(videoTs + "VIDEO_TS.IFO", 10);
    Create();
    AddMovies({"a.rm"});
    prompts.QueueAnswer(qx::PromptAnswer::Cancel);
    Click("btnStart");
    EXPECT_FALSE(dlg->JobRunning());
    EXPECT_TRUE(FileExists(videoTs + "VIDEO_TS.IFO"));
    prompts.Answer("Found vob or ifo files in folder", qx::PromptAnswer::Ok);
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(prompts.CountText("Found vob or ifo files in folder " + videoTs + " ,delete all of them?"), 2u);
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 1u);
}

TEST_F(DoubleJob, SizeAndFreeSpaceQuestions) {
    fake.buildIn->writers = {"D: Writer"};
    fake.buildIn->info.DiscIsInserted = fake.buildIn->info.CanSupport = fake.buildIn->info.isEmpty = true;
    fake.buildIn->info.m_bD9 = true;
    fake.buildIn->info.totalSpaceMB = 9000;
    Create();
    // Four hours on a single-layer target: 4 x 1402 MB.
    AddMovies({"hour1.rm", "hour2.rm", "hour3.rm", "hour4.rm"});
    ASSERT_EQ(dlg->TotalSizeMB(), 5608);
    prompts.Answer("over DVD-D5 size. Do you want to continue?", qx::PromptAnswer::Yes);
    prompts.Answer("Please Set Output Format to DVD-D9?", qx::PromptAnswer::Ok);
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(fake.log->Count("0 traget is DVD5 prespace is over it but user want continue\n"), 1u);
    EXPECT_EQ(fake.log->Count("0 traget is DVD5 prespace is over, output format is dvd-d5. Convert quit\n"), 1u);
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 1u);

    // Far beyond the free space of the working folder: asked, and No refuses.
    List()->SelectItem(0);
    for (int i = 0; i < 4; ++i) {
        Click("btnDelete");
    }
    Click("chkBurn");
    AddMovies({"endless.rm"});
    Click("btnStart");
    size_t asked = 0;
    for (const std::string& text : prompts.BoxTexts()) {
        asked += text.find("does not have enough free space") != std::string::npos;
    }
    EXPECT_EQ(asked, 1u);
    EXPECT_FALSE(dlg->JobRunning());
}

TEST_F(DoubleJob, WithoutTheLogProgramTheJobStillRuns) {
    fake.parts.log.reset();
    fake.log = nullptr;
    fake.parts.logProgram = "/nonexistent/QXLog";
    Create();
    EXPECT_EQ(prompts.CountText("Error on Create QX Log App,\nPlease reinstalled this software, or contact Support."),
              1u);
    AddMovies({"a.rm"});
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(prompts.CountText("Error on Create QX Log App,\nPlease reinstalled this software, or contact Support."),
              1u);
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 1u);
}

TEST_F(DoubleJob, AMissingEncoderProgramStopsTheInitialisation) {
    fake.parts.encoderProgram = "/nonexistent/EncoderProxy";
    dlg = std::make_unique<CQuilvoVidrevoDlg>(std::move(fake.parts));
    EXPECT_FALSE(dlg->OnInitDialog());
    EXPECT_EQ(
        prompts.CountText("Error on Create Encoder Proxy,\nPlease reinstalled this software, or contact Support."), 1u);
    Click("btnAddFiles");
    EXPECT_EQ(prompts.CountText("EncoderProxy setup error!\nPlease reinstalled this software, or contact Support."),
              1u);
}
