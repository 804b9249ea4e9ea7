// The disc job with the real authoring engine, the built-in burn engine on a virtual writer and the
// disc-image writer; only the encoder is a stand-in that hands over a real DVD program stream.
#include "JobTestSupport.h"

#include "Folders.h"
#include "TestProgram.h"

#include <algorithm>
#include <csignal>
#include <fstream>

namespace {

class RealJobParts : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        stream = movies + "real.mpg";
        const qxtest::ProgramRun made =
            qxtest::RunProgram("ffmpeg",
                               {"-y", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=352x288:rate=25", "-f",
                                "lavfi", "-i", "sine=sample_rate=48000", "-t", "6", "-target", "pal-dvd", "-b:v",
                                "2500k", QString::fromStdString(stream)},
                               60000, true);
        ASSERT_EQ(made.status, 0) << made.out;
        encoder->movies["one.rm"].outputFrom = stream;
        parts.authoring = CreateAuthoringLink();
        parts.buildInCore.reset();
        CompleteJobParts(parts, [this](const std::string& line) { engineLog.push_back(line); });
        images = FreshFolder("images");
        ASSERT_TRUE(qx::MakeFolderPath(qx::ConfigFolder()).ok());
        std::ofstream(qx::ConfigFolder() + "writers.ini")
            << "[Writer 1]\nname=Virtual DVD-R\nimage=" << images << "disc.iso\nmedia=5\ncapacity=2295104\n"
            << "state=blank\nspeeds=1385,2770\n";
        ASSERT_TRUE(parts.buildInCore->InitBurnCore());
    }
    DiscJobParams OneMovie() {
        DiscJobParams spec;
        spec.movies = {Movie("one.rm", 6)};
        spec.workFolder = work;
        spec.tv = TvStandard::Pal;
        spec.label = "JOB TEST";
        return spec;
    }
    std::string stream, images;
    std::vector<std::string> engineLog;
};

std::string VolumeId(const std::string& iso) {
    return ReadFile(iso).substr(16 * 2048 + 1, 5) + " " + ReadFile(iso).substr(16 * 2048 + 40, 8);
}

} // namespace

TEST_F(RealJobParts, AJobBurnsToAVirtualWriterWithTheEnginesProgress) {
    DiscJobParams spec = OneMovie();
    spec.burn = true;
    spec.burnTarget = {0, 0};
    ASSERT_TRUE(Run(spec));
    EXPECT_EQ(observer.outcome.burnOutcome, BurnOutcome::Done) << ::testing::PrintToString(observer.log);
    EXPECT_TRUE(observer.outcome.accomplished);
    EXPECT_EQ(VolumeId(images + "disc.iso"), "CD001 JOB_TEST");
    bool writing = false;
    for (const std::string& line : observer.progress) {
        writing = writing || line.find("Writing Data") != std::string::npos;
    }
    EXPECT_TRUE(writing) << "the engine's status lines reach the observer";
    EXPECT_FALSE(engineLog.empty());
}

TEST_F(RealJobParts, TheImageStepWritesTheFoldersImageAndStopsCleanlyWhenInterrupted) {
    DiscJobParams spec = OneMovie();
    spec.imageFile = images + "job.iso";
    ASSERT_TRUE(Run(spec));
    EXPECT_TRUE(observer.outcome.imageWritten) << observer.outcome.imageError;
    EXPECT_EQ(observer.outcome.imageBytes, static_cast<uint64_t>(qxtest::FileSize(spec.imageFile)));
    EXPECT_EQ(VolumeId(spec.imageFile), "CD001 JOB_TEST");
    EXPECT_EQ(observer.boxes, std::vector<std::string>{"Mission accomplished!\nThe disc image is " + spec.imageFile});

    // Interrupted while the image is written: no half image, the earlier one untouched, no box but
    // the question about the first job's DVD folder.
    const std::string before = ReadFile(spec.imageFile);
    observer.boxes.clear();
    observer.actAt = JobStep::Imaging;
    observer.actAtBegin = true;
    observer.act = [this] { job->Interrupt(SIGINT); };
    spec.label = "SECOND";
    observer.Answer("Found vob or ifo files", qx::PromptAnswer::Ok);
    ASSERT_TRUE(Run(spec));
    EXPECT_FALSE(observer.outcome.imageWritten);
    EXPECT_EQ(observer.outcome.interruptSignal, SIGINT);
    ASSERT_EQ(observer.boxes.size(), 1u);
    EXPECT_EQ(observer.boxes[0].rfind("Found vob or ifo files", 0), 0u);
    EXPECT_TRUE(ReadFile(spec.imageFile) == before) << "the earlier image is untouched";
    EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO")) << "the DVD folder was complete: it stays";
}

// A DVD-RW that holds an earlier disc reports only that session's size; once the user agrees to
// erase it, the job judges the blank disc it becomes and burns.
TEST_F(RealJobParts, AWrittenRewritableDiscIsJudgedAsTheBlankDiscItBecomes) {
    DiscJobParams first = OneMovie();
    first.imageFile = images + "old.iso";
    ASSERT_TRUE(Run(first));
    ASSERT_TRUE(observer.outcome.imageWritten);
    std::ofstream(qx::ConfigFolder() + "writers.ini")
        << "[Writer 1]\nname=Virtual DVD-RW\nimage=" << images << "old.iso\nmedia=7\ncapacity=2295104\n"
        << "state=written\nspeeds=1385,2770\n";
    observer = RecordingObserver();
    observer.Answer("Found vob or ifo files", qx::PromptAnswer::Ok);
    DiscJobParams spec = OneMovie();
    spec.burn = true;
    spec.burnTarget = {0, 0};
    spec.discType = DISC_TYPE_D5;
    // No: nothing is erased and nothing starts.
    EXPECT_FALSE(job->Start(spec));
    EXPECT_EQ(observer.boxes.back().rfind("The inserted media is rewritable disk, and is not blank!", 0), 0u);

    observer.Answer("The inserted media is rewritable disk", qx::PromptAnswer::Yes);
    ASSERT_TRUE(Run(spec));
    for (const std::string& box : observer.boxes) {
        EXPECT_EQ(box.find("is lower then video dvd file volume"), std::string::npos) << box;
    }
    EXPECT_EQ(observer.outcome.burnOutcome, BurnOutcome::Done) << ::testing::PrintToString(observer.log);
    EXPECT_EQ(VolumeId(images + "old.iso"), "CD001 JOB_TEST");
}

// The burn reads the disc back: a byte the writer changed silently fails the job with the first bad
// sector in its box and its log, keeps the DVD folder and never shuts down; with the read-back off the
// same burn is done as it always was.
TEST_F(RealJobParts, ADiscThatDoesNotReadBackFailsTheJobAndNamesTheSector) {
    std::ofstream(qx::ConfigFolder() + "writers.ini")
        << "[Writer 1]\nname=Virtual DVD-R\nimage=" << images << "disc.iso\nmedia=5\nfail=corrupt:50\n"
        << "[Writer 2]\nname=Virtual DVD-R\nimage=" << images << "unchecked.iso\nmedia=5\nfail=corrupt:50\n";
    DiscJobParams spec = OneMovie();
    spec.burn = true;
    spec.burnTarget = {0, 0};
    spec.shutdown = true;
    spec.deleteTempFiles = true;
    ASSERT_TRUE(Run(spec));
    EXPECT_EQ(observer.outcome.burnOutcome, BurnOutcome::Failed);
    EXPECT_FALSE(observer.outcome.accomplished);
    EXPECT_EQ(power->shutdowns, 0);
    const uint64_t sectors = static_cast<uint64_t>(qxtest::FileSize(images + "disc.iso")) / 2048;
    const std::string sector = "sector " + std::to_string(sectors / 2) + " does not read back as it was written";
    EXPECT_EQ(observer.outcome.verifyFailure.rfind(sector, 0), 0u) << observer.outcome.verifyFailure;
    ASSERT_EQ(observer.boxes.size(), 1u);
    EXPECT_EQ(observer.boxes[0].rfind("Verifying the disc failed! The disc does not read back as it was written:\n" +
                                          observer.outcome.verifyFailure + "\nSee the log for details",
                                      0),
              0u)
        << observer.boxes[0];
    EXPECT_NE(observer.boxes[0].find("\nThe DVD folder is kept in " + work + "DVD Movie/VIDEO_TS/"), std::string::npos);
    EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));
    EXPECT_NE(std::find(observer.log.begin(), observer.log.end(),
                        "1 Burn DVD verify failed: " + observer.outcome.verifyFailure + "\n"),
              observer.log.end())
        << ::testing::PrintToString(observer.log);
    EXPECT_NE(std::find(engineLog.begin(), engineLog.end(), "Verify Error: " + observer.outcome.verifyFailure + "\n"),
              engineLog.end());

    spec.verify = false;
    spec.shutdown = false;
    spec.burnTarget = {0, 1};
    observer.Answer("Found vob or ifo files", qx::PromptAnswer::Ok);
    observer.boxes.clear();
    ASSERT_TRUE(Run(spec));
    EXPECT_EQ(observer.outcome.burnOutcome, BurnOutcome::Done);
    EXPECT_TRUE(observer.outcome.accomplished);
    EXPECT_TRUE(observer.outcome.verifyFailure.empty());
}
