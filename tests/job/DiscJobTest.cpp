// The disc job driven through its observer, with stand-ins for the encoder, the authoring engine and
// the burn core: the order of what it reports, failed movies, questions, stopping and interrupting.
#include "JobTestSupport.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <csignal>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Runs `call` on the job's thread soon (from the conversion thread, where the job may not be touched).
void SoonOnJobThread(std::function<void()> call) {
    QMetaObject::invokeMethod(qApp, std::move(call), Qt::QueuedConnection);
}

} // namespace

TEST_F(JobTest, TwoMoviesBecomeADvdFolderAndTheJobReportsEachStepInOrder) {
    DiscJobParams spec = TwoMovies();
    spec.workFolder.pop_back(); // the start adds the trailing '/'
    ASSERT_TRUE(Run(spec));
    const std::vector<std::string> expected = {"status 0 Ready",
                                               "status 1 Ready",
                                               "folder " + work,
                                               "accepted",
                                               "controls off",
                                               "begin 0 Converting " + movies + "one.rm",
                                               "status 0 Completed",
                                               "result 0 converted",
                                               "end 0",
                                               "begin 1 Converting " + movies + "two.rm",
                                               "status 1 Completed",
                                               "result 1 converted",
                                               "end 1",
                                               "all converted",
                                               "step DVD authoring",
                                               "step end",
                                               "controls on",
                                               "finished"};
    EXPECT_EQ(observer.events, expected);
    EXPECT_EQ(observer.boxes, std::vector<std::string>{"Mission accomplished!"});
    const JobOutcome& outcome = observer.outcome;
    EXPECT_TRUE(outcome.accomplished);
    EXPECT_EQ(outcome.failedMovies, 0);
    EXPECT_EQ(outcome.dvdFolder, work + "DVD Movie/VIDEO_TS/");
    ASSERT_EQ(authoring->titles.size(), 2u);
    EXPECT_EQ(authoring->titles[0].vobFile, work + "one.vob");
    EXPECT_EQ(authoring->titles[1].vobFile, work + "two.vob");
    EXPECT_EQ(authoring->outFolder, work + "DVD Movie");
    EXPECT_EQ(encoder->lastJob.tv, TvStandard::Pal);
    EXPECT_EQ(encoder->lastJob.workFolder, work);
    EXPECT_FALSE(FileExists(work + "one.vob")) << "the converted streams are the job's and go";
    EXPECT_EQ(job->Spec().movies[1].strStatus, "Completed");
    EXPECT_EQ(observer.LogCount("Begin DVD Author"), 1u);
    EXPECT_EQ(observer.LogCount("Complete All Work"), 1u);
    EXPECT_EQ(encoder->starts(), 3) << "a fresh encoder at the start and for the next job";
    EXPECT_FALSE(job->Running());

    // The same job object runs the next job (over the first one's DVD folder).
    observer.Answer("Found vob or ifo files", qx::PromptAnswer::Ok);
    observer.events.clear();
    observer.boxes.clear();
    ASSERT_TRUE(Run(TwoMovies()));
    EXPECT_EQ(observer.boxes.back(), "Mission accomplished!");
}

TEST_F(JobTest, AFailedMovieIsReplacedByTheSubstituteOfTheJobsStandardAndCounted) {
    WriteFile(companion + "default_pal_16x9.vob", 20000, 'p');
    DiscJobParams spec = TwoMovies();
    spec.aspect = DisplayAspect::Wide16x9;
    encoder->movies["two.rm"].crashWhileConverting = true;
    ASSERT_TRUE(Run(spec));
    EXPECT_EQ(job->Spec().movies[0].strStatus, "Completed");
    EXPECT_EQ(job->Spec().movies[1].strStatus, "Failed");
    ASSERT_EQ(authoring->titleContents.size(), 2u);
    EXPECT_EQ(authoring->titleContents[1], std::string(20000, 'p'));
    EXPECT_EQ(observer.outcome.failedMovies, 1);
    // The disc is made all the same; the count tells a front-end that it holds a substitute.
    EXPECT_TRUE(observer.outcome.accomplished);
    EXPECT_EQ(observer.LogCount("1 Convert File:" + movies + "two.rm to VOB Failed"), 1u);
}

TEST_F(JobTest, LeftoverDvdFilesAreDeletedOnlyWhenTheUserSaysOk) {
    fs::create_directories(work + "DVD Movie/VIDEO_TS");
    WriteFile(work + "DVD Movie/VIDEO_TS/VTS_01_1.VOB", 10, 'u');
    // Cancel (the default): nothing starts and the files stay.
    EXPECT_FALSE(job->Start(TwoMovies()));
    ASSERT_EQ(observer.boxes.size(), 1u);
    EXPECT_EQ(observer.boxes[0],
              "Found vob or ifo files in folder " + work + "DVD Movie/VIDEO_TS/ ,delete all of them?");
    EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS/VTS_01_1.VOB"));
    EXPECT_FALSE(job->Running());
    EXPECT_EQ(encoder->ConvertedSources().size(), 0u);

    observer.Answer("Found vob or ifo files", qx::PromptAnswer::Ok);
    ASSERT_TRUE(Run(TwoMovies()));
    EXPECT_TRUE(observer.outcome.accomplished);
    EXPECT_NE(ReadFile(work + "DVD Movie/VIDEO_TS/VTS_01_1.VOB"), std::string(10, 'u'));
}

TEST_F(JobTest, TheStopQuestionStopsTheConversionOnYesAndNotOnNo) {
    encoder->movies["one.rm"].holdUntilStopped = true;
    encoder->movies["one.rm"].holdPasses = 200;
    // The first movie of each job asks to stop (the fake counts requests over both jobs).
    encoder->onConvert = [this](int index, const CSourceInfo&) {
        if (index % 2 == 0) {
            SoonOnJobThread([this] { job->StopConvert(); });
        }
    };
    observer.Answer("Do you really want to stop convert process?", qx::PromptAnswer::No);
    ASSERT_TRUE(Run(TwoMovies()));
    EXPECT_TRUE(observer.outcome.accomplished) << "No: the job goes on";
    EXPECT_EQ(encoder->stops(), 0);

    observer = RecordingObserver();
    observer.Answer("Found vob or ifo files", qx::PromptAnswer::Ok);
    observer.Answer("Do you really want to stop convert process?", qx::PromptAnswer::Yes);
    observer.boxes.clear();
    observer.events.clear();
    ASSERT_TRUE(Run(TwoMovies()));
    EXPECT_TRUE(observer.outcome.stopped);
    EXPECT_FALSE(observer.outcome.accomplished);
    EXPECT_EQ(observer.boxes.back(), "Do you really want to stop convert process?");
    EXPECT_EQ(std::count(observer.events.begin(), observer.events.end(), "step DVD authoring"), 0);
    EXPECT_EQ(authoring->runs, 1) << "only the first job authored";
    EXPECT_FALSE(FileExists(work + "one.vob"));
    EXPECT_EQ(observer.events.back(), "finished");
}

TEST_F(JobTest, AnInterruptedConversionEndsWithoutQuestionsOrANewEncoder) {
    encoder->movies["one.rm"].holdUntilStopped = true;
    encoder->onConvert = [this](int index, const CSourceInfo&) {
        if (index == 0) {
            SoonOnJobThread([this] { job->Interrupt(SIGTERM); });
        }
    };
    DiscJobParams spec = TwoMovies();
    spec.shutdown = true;
    ASSERT_TRUE(Run(spec));
    EXPECT_EQ(observer.outcome.interruptSignal, SIGTERM);
    EXPECT_FALSE(observer.outcome.stopped) << "interrupted, not stopped by the user";
    EXPECT_TRUE(observer.boxes.empty());
    EXPECT_EQ(authoring->runs, 0);
    EXPECT_EQ(power->shutdowns, 0);
    EXPECT_EQ(encoder->starts(), 2) << "no encoder for a next job";
    EXPECT_EQ(observer.LogCount("1 Job interrupted by signal 15"), 1u);
}

TEST_F(JobTest, AnInterruptedAuthoringRemovesTheFoldersTheRunMadeAndBurnsNothing) {
    authoring->holdUntilStopped = true;
    observer.actAt = JobStep::Authoring;
    observer.act = [this] { job->Interrupt(SIGINT); };
    DiscJobParams spec = TwoMovies();
    spec.burn = true;
    spec.burnTarget = {0, 0};
    ASSERT_TRUE(Run(spec));
    EXPECT_TRUE(observer.outcome.authorFailed);
    EXPECT_EQ(observer.outcome.interruptSignal, SIGINT);
    EXPECT_TRUE(observer.boxes.empty());
    EXPECT_TRUE(core->burned.empty());
    EXPECT_FALSE(FileExists(work + "DVD Movie")) << "the run made it, the run takes it away";
    EXPECT_TRUE(observer.outcome.dvdFolder.empty());
}

TEST_F(JobTest, AnInterruptedBurnIsCancelledByTheEngineAndKeepsTheFolder) {
    core->duringBurn = [this] { job->Interrupt(SIGTERM); };
    DiscJobParams spec = TwoMovies();
    spec.burn = true;
    spec.burnTarget = {0, 0};
    spec.shutdown = true;
    spec.deleteTempFiles = true;
    ASSERT_TRUE(Run(spec));
    EXPECT_EQ(core->cancels, 1);
    EXPECT_TRUE(observer.outcome.burnTried);
    EXPECT_EQ(observer.outcome.burnOutcome, BurnOutcome::Cancelled);
    EXPECT_TRUE(observer.boxes.empty());
    EXPECT_EQ(power->shutdowns, 0);
    EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));
    EXPECT_EQ(observer.LogCount("1 Burn DVD cancelled"), 1u);
}

TEST_F(JobTest, AnInterruptionAsTheBurnBeginsIsNotLostBeforeTheEngineRuns) {
    observer.actAt = JobStep::Burning;
    observer.actAtBegin = true;
    observer.act = [this] { job->Interrupt(SIGTERM); };
    DiscJobParams spec = TwoMovies();
    spec.burn = true;
    spec.burnTarget = {0, 0};
    ASSERT_TRUE(Run(spec));
    EXPECT_TRUE(core->burned.empty()) << "nothing may be written once the program was told to end";
    EXPECT_EQ(observer.outcome.burnOutcome, BurnOutcome::Cancelled);
    EXPECT_TRUE(observer.boxes.empty());
}

TEST_F(JobTest, ABurnThatFailsKeepsTheFolderAndNeverShutsDown) {
    core->burnResult = BurnOutcome::Failed;
    DiscJobParams spec = TwoMovies();
    spec.burn = true;
    spec.burnTarget = {0, 0};
    spec.shutdown = true;
    spec.deleteTempFiles = true;
    spec.label = "HOLIDAY";
    ASSERT_TRUE(Run(spec));
    EXPECT_EQ(core->labels, std::vector<std::string>{"HOLIDAY"});
    EXPECT_EQ(power->shutdowns, 0);
    ASSERT_EQ(observer.boxes.size(), 1u);
    EXPECT_EQ(observer.boxes[0],
              "Burning failed! The disc is not complete. See the log for details.\nThe DVD folder is "
              "kept in " +
                  work + "DVD Movie/VIDEO_TS/");
    EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));

    // A done burn with both completion options: the folder's files go and the computer is asked to
    // power off instead of the success box.
    core->burnResult = BurnOutcome::Done;
    observer.Answer("Found vob or ifo files", qx::PromptAnswer::Ok);
    observer.boxes.clear();
    ASSERT_TRUE(Run(spec));
    EXPECT_EQ(power->shutdowns, 1);
    EXPECT_EQ(observer.boxes, std::vector<std::string>{"Found vob or ifo files in folder " + work +
                                                       "DVD Movie/VIDEO_TS/ ,delete all of them?"});
    EXPECT_TRUE(observer.outcome.shutDown);
    EXPECT_FALSE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));
    EXPECT_TRUE(observer.outcome.dvdFolder.empty());
}

TEST_F(JobTest, AnOutputThatWouldDestroyAMovieIsRefusedBeforeAnythingIsWritten) {
    DiscJobParams image = TwoMovies();
    image.imageFile = image.movies[1].strPath; // --iso two.rm two.rm
    const std::string movie = ReadFile(image.imageFile);
    EXPECT_FALSE(job->Start(image));
    ASSERT_FALSE(observer.boxes.empty());
    EXPECT_NE(observer.boxes.back().find("destroy"), std::string::npos) << observer.boxes.back();
    EXPECT_EQ(ReadFile(image.imageFile), movie);
    EXPECT_EQ(encoder->ConvertedSources().size(), 0u);

    // A movie kept inside the DVD folder the job replaces.
    DiscJobParams inside = TwoMovies();
    fs::create_directories(work + "DVD Movie/VIDEO_TS");
    inside.movies[0].strPath = work + "DVD Movie/VIDEO_TS/VTS_01_1.VOB";
    WriteFile(inside.movies[0].strPath, 100, 'm');
    observer.boxes.clear();
    EXPECT_FALSE(job->Start(inside));
    ASSERT_FALSE(observer.boxes.empty());
    EXPECT_NE(observer.boxes.back().find("destroy"), std::string::npos) << observer.boxes.back();
    EXPECT_EQ(ReadFile(inside.movies[0].strPath), std::string(100, 'm'));
}
