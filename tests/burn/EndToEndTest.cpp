// Whole burns through the built-in core onto virtual writers: a folder authored by the real engine
// is streamed through the disc image and libburn into an image file that libdvdread and libudfread
// (with the layout check) accept; erase first, failed blank, cancel, injected failures, the
// exact-fit check, and the read-back after the write.
#include "BuildInCore.h"
#include "EndToEndFixture.h"

#include "QtPromptService.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

using namespace burntest;

namespace {

class BurnEndToEnd : public EndToEndFixture<CBuildInCore> {
protected:
    BurnEndToEnd() : EndToEndFixture("QX TEST", "e2e") {}
    void SetUp() override {
        EndToEndFixture::SetUp();
        ASSERT_TRUE(m_core->InitBurnCore());
    }
    VirtualWriter Writer(const std::string& media, const std::string& name = "disc.iso") {
        VirtualWriter w;
        w.media = media;
        w.image = m_dir + name;
        return w;
    }
    BurnOutcome Burn(const std::vector<VirtualWriter>& writers, int writer = 0) {
        EXPECT_EQ(List(writers).size(), writers.size());
        const BurnOutcome outcome = m_core->BurnDVDFolder(nullptr, writer, s_video, "QX TEST");
        m_trail += Trail();
        for (const std::string& box : m_prompts.BoxTexts()) {
            m_trail += "box: " + box + "\n";
        }
        return outcome;
    }
    static void WriteData(const std::string& path) {
        std::ofstream(path, std::ios::binary) << DiscImageBytes(1 << 20, 'o');
    }

    std::string m_trail; // the log lines and boxes of the burns, shown when a test fails
};

} // namespace

TEST_F(BurnEndToEnd, ABurnedImageIsAcceptedByIndependentReadersWithEveryLineInOrder) {
    EngineMessages messages;
    const VirtualWriter w = Writer("5");
    ASSERT_EQ(Burn({w}), BurnOutcome::Done) << m_trail;
    ExpectPlayableImage(w.image);
    EXPECT_TRUE(m_log.InOrder(
        {"StarBurn check dvd disk volume and dvd file volume ok!\n", "StarBurn Begin Write Data Progress!\n",
         "Started\n", "Testing unit ready...\n", "Unit is ready!\n", "Probing supported write modes...\n",
         "CDevice::BurnDVDVideo(): Track-At-Once: Yes, Session-At-Once: Yes, Disc-At-Once PQ: "
         "No, Disc-At-Once raw P-W: No\n",
         "CDevice::BurnDVDVideo(): Burning " + std::to_string(ReadFile(w.image).size()) +
             " UCHARs of DVD-Video image\n",
         "CDevice::BurnDVDVideo(): BUP (Buffer Underrun Protection) Enabled: Yes, Supported: Yes\n",
         "Enabling BUP successfully!\n", "Setting speed: 16.0x!\n", "Setting speed OK\n", "Start real wite data OK\n",
         "Complete burnning\n", "StarBurn Complete Write Data Progress:1!\n"}));
    EXPECT_TRUE(messages.status.InOrder(
        {"Started", "Testing unit ready...", "Unit is ready!", "Probing supported write modes...",
         "Track-At-Once is supported!", "Getting BUP (Buffer Underrun Protection) support...",
         "Getting BUP successfully!", "Enabling BUP (Buffer Underrun Protection)...", "Enabling BUP successfully!",
         "Sending OPC (Optimum Power Calibration)...", "Sending OPC successfully.", "Cache is Full.", "Burning...",
         "Closing session...", "Closing session success!", "Burning Complete!"}));
    EXPECT_TRUE(messages.errorStatus.All().empty());
    EXPECT_TRUE(messages.trace.InOrder({"CDevice::DVDVideoBurnCallback(): TARGET_FILE_ANALYZE_BEGIN\n",
                                        "CDevice::DVDVideoBurnCallback(): TARGET_FILE_ANALYZE_END\n",
                                        "CDevice::DVDVideoBurnCallback(): WAIT_CACHE_FULL_BEGIN\n"}));
    EXPECT_EQ(m_core->Device(0)->ProgressPercent(), 100);
    EXPECT_TRUE(m_prompts.Records().empty());
    // The disc now holds data: the description says so.
    DVDDeviceInfo info;
    ASSERT_EQ(m_core->GetWriterInfo(0, &info), 1);
    EXPECT_FALSE(info.isEmpty);
}

TEST_F(BurnEndToEnd, ARewritableDiscHoldingDataIsErasedFirstAndAFailedBlankWritesNothing) {
    VirtualWriter rw = Writer("8", "rw.iso");
    rw.state = "written";
    VirtualWriter failing = Writer("8", "failing.iso");
    failing.state = "written";
    failing.fail = "blank";
    WriteData(rw.image);
    WriteData(failing.image);
    ASSERT_EQ(Burn({rw, failing}, 0), BurnOutcome::Done) << m_trail;
    EXPECT_TRUE(m_log.InOrder({"StarBurn Begin Erase Progress!\n", "StarBurn Complete Erase Progress!\n",
                               "StarBurn check dvd disk volume and dvd file volume ok!\n",
                               "StarBurn Complete Write Data Progress:1!\n"}));
    ExpectPlayableImage(rw.image);

    ASSERT_EQ(Burn({rw, failing}, 1), BurnOutcome::Failed);
    EXPECT_EQ(ReadFile(failing.image), DiscImageBytes(1 << 20, 'o'));
    const auto lines = m_log.All();
    const size_t erases = std::count(lines.begin(), lines.end(), std::string("StarBurn Begin Erase Progress!\n"));
    const size_t writes = std::count(lines.begin(), lines.end(), std::string("StarBurn Begin Write Data Progress!\n"));
    EXPECT_EQ(erases, 2u);
    EXPECT_EQ(writes, 1u); // only the first burn wrote
    // Why the erase failed reaches the log file, not only the diagnostic print.
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& l) { return l.rfind("StarBurn Erase failed: blanking failed: ", 0) == 0; }),
        1)
        << m_trail;
    EXPECT_TRUE(FilesStartingWith(m_dir, "failing.iso.part-").empty());
}

TEST_F(BurnEndToEnd, CancelDuringTheWriteEndsCancelledWithoutCloseEjectOrImage) {
    EngineMessages messages;
    VirtualWriter slow = Writer("5");
    slow.speeds = "1385";
    bool asked = false;
    bool listedDuringBurn = false;
    std::vector<std::string> lines;
    m_core->onProgressLine = [&](const ProgressLine& line) {
        lines.push_back(line.text);
        if (!asked && line.percent > 0) {
            asked = true;
            m_core->ListWriters(nullptr, [&](std::vector<std::string>) { listedDuringBurn = true; });
            m_prompts.QueueAnswer(qx::PromptAnswer::Yes);
            m_core->RequestStopBurn();
            m_core->RequestStopBurn(); // confirmed already: no second question
        }
    };
    ASSERT_EQ(Burn({slow}), BurnOutcome::Cancelled);
    EXPECT_TRUE(asked);
    EXPECT_FALSE(listedDuringBurn);
    EXPECT_EQ(m_prompts.CountText("Do you really want to stop burning"), 1u);
    EXPECT_TRUE(m_core->StopRequested());
    EXPECT_FALSE(messages.status.Has("Closing session..."));
    EXPECT_FALSE(messages.status.Has("Burning Complete!"));
    EXPECT_TRUE(m_log.Has("StarBurn Complete Write Data Progress:1!\n"));
    EXPECT_FALSE(m_log.Has("Complete burnning\n"));
    EXPECT_FALSE(burntest::FileExists(slow.image));
    EXPECT_TRUE(FilesStartingWith(m_dir, "disc.iso").empty());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().rfind("Writing Data; Total time:", 0), 0u) << lines.front();
}

// A stop question still open when the write ends closes by itself: the burn ends done, as it did,
// instead of waiting for an answer and then calling a finished burn stopped.
TEST_F(BurnEndToEnd, AStopQuestionTheWriteOvertakesClosesByItself) {
    qx::QtPromptService windows;
    qx::SetPrompts(&windows);
    VirtualWriter slow = Writer("5");
    slow.speeds = "1385";
    bool asked = false;
    bool boxSeen = false;
    m_core->onProgressLine = [&](const ProgressLine& line) {
        if (!asked && line.percent > 0) {
            asked = true;
            // Asked from the event loop, as the progress window's Cancel does.
            QTimer::singleShot(0, [this] { m_core->RequestStopBurn(); });
        }
    };
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout,
                     [&] { boxSeen = boxSeen || qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); });
    watch.start(20);
    // Should the box stay, the test says Yes after a while and fails instead of waiting for ever.
    QTimer::singleShot(60000, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->button(QMessageBox::Yes)->click();
        }
    });
    const BurnOutcome outcome = Burn({slow});
    qx::SetPrompts(&m_prompts);
    EXPECT_TRUE(boxSeen);
    EXPECT_EQ(outcome, BurnOutcome::Done) << m_trail;
    EXPECT_FALSE(m_core->StopRequested());
    ExpectPlayableImage(slow.image);
}

// The cancel of a program told to end: no question, and it holds whichever step it comes in, also
// between two steps, before the burner handle of the next one exists.
TEST_F(BurnEndToEnd, CancelWithoutQuestionStopsTheEraseOrTheWriteThatComesNext) {
    VirtualWriter rewritable = Writer("8");
    rewritable.state = "written";
    WriteData(rewritable.image);
    m_onLog = [this](const std::string& line) {
        if (line == "StarBurn Begin Erase Progress!\n") {
            m_core->CancelBurn();
        }
    };
    ASSERT_EQ(Burn({rewritable}), BurnOutcome::Cancelled) << m_trail;
    EXPECT_FALSE(m_log.Has("StarBurn Begin Write Data Progress!\n")) << m_trail;
    EXPECT_EQ(ReadFile(rewritable.image), DiscImageBytes(1 << 20, 'o')) << "the disc is left as it was";

    EngineMessages messages;
    VirtualWriter blank = Writer("5", "blank.iso");
    m_onLog = [this](const std::string& line) {
        if (line == "Started\n") { // the write's own burner handle is made after this
            m_core->CancelBurn();
        }
    };
    ASSERT_EQ(Burn({blank}), BurnOutcome::Cancelled) << m_trail;
    EXPECT_TRUE(m_prompts.BoxTexts().empty());
    EXPECT_EQ(m_prompts.CountText("Do you really want to stop burning"), 0u);
    EXPECT_FALSE(messages.status.Has("Closing session..."));
    EXPECT_FALSE(burntest::FileExists(blank.image));
    EXPECT_TRUE(FilesStartingWith(m_dir, "blank.iso").empty());

    // The next burn is not cancelled by the last one's request.
    m_onLog = nullptr;
    ASSERT_EQ(Burn({blank}), BurnOutcome::Done) << m_trail;
    ExpectPlayableImage(blank.image);
}

TEST_F(BurnEndToEnd, InjectedFailuresGiveTheirStatusAndLogLines) {
    EngineMessages messages;
    VirtualWriter failing = Writer("5");
    failing.fail = "write:50";
    ASSERT_EQ(Burn({failing}), BurnOutcome::Failed);
    EXPECT_TRUE(messages.errorStatus.Has("Burning Error!"));
    const auto lines = m_log.All();
    const auto error = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("Burning Error: StarBurn_CdvdBurnerGrabber_TrackAtOnceFromTree() failed, exception 9, status 0, "
                       "text 'the data stopped at sector ",
                       0) == 0;
    });
    EXPECT_NE(error, lines.end());
    EXPECT_TRUE(m_log.Has("StarBurn Complete Write Data Progress:0!\n"));
    EXPECT_LE(m_core->Device(0)->ProgressPercent(), 50);
    EXPECT_FALSE(messages.status.Has("Closing session..."));
    EXPECT_FALSE(burntest::FileExists(failing.image));
    EXPECT_TRUE(FilesStartingWith(m_dir, "disc.iso").empty());

    // A unit that is not ready: the erase stops at its test, the burn at the capacity check.
    VirtualWriter notReady = Writer("8", "nr.iso");
    notReady.state = "written";
    notReady.fail = "notready";
    WriteWriters({notReady});
    m_core->ListWriters(nullptr, [](std::vector<std::string>) {});
    EXPECT_EQ(m_core->EraseDisc(nullptr, 0), BurnOutcome::Failed);
    EXPECT_TRUE(messages.errorStatus.Has("Unit is not ready!"));
    VirtualWriter notReadyR = Writer("5", "nr5.iso");
    notReadyR.fail = "notready";
    m_prompts.Clear();
    EXPECT_EQ(Burn({notReadyR}), BurnOutcome::Refused);
    ASSERT_EQ(m_prompts.BoxTexts().size(), 1u);
    EXPECT_EQ(m_prompts.BoxTexts()[0].rfind("Inserted dvd disk volume:0M is lower then video dvd file volume:", 0), 0u);
}

TEST_F(BurnEndToEnd, TheImageMustFitTheDiscToTheSector) {
    std::string error;
    auto image = qx::discimage::DvdVideoImage::Create(s_video, TestDescriptor("QX TEST"), &error);
    ASSERT_TRUE(image) << error;
    const uint64_t sectors = image->SizeInSectors();
    VirtualWriter shortDisc = Writer("5", "short.iso");
    shortDisc.capacity = std::to_string(sectors - 1);
    ASSERT_EQ(Burn({shortDisc}), BurnOutcome::Refused);
    ASSERT_EQ(m_prompts.BoxTexts().size(), 1u);
    EXPECT_EQ(m_prompts.BoxTexts()[0].rfind("Inserted dvd disk volume:", 0), 0u);
    EXPECT_TRUE(m_log.Has("CDevice::BurnDVDVideo(): the image needs " + std::to_string(sectors) +
                          " sectors, the disc has " + std::to_string(sectors - 1) + " free\n"));
    EXPECT_FALSE(burntest::FileExists(shortDisc.image));

    VirtualWriter exact = Writer("5", "exact.iso");
    exact.capacity = std::to_string(sectors);
    m_prompts.Clear();
    ASSERT_EQ(Burn({exact}), BurnOutcome::Done);
    EXPECT_TRUE(m_prompts.BoxTexts().empty());
    EXPECT_EQ(ReadFile(exact.image).size(), sectors * 2048);
}

// The read-back after the write, a phase of its own: a sound disc is done with the verification in the
// log; a byte the writer changed silently fails the burn, naming its sector; a disc whose end cannot be
// read fails too; the stop question stops the read-back as it stops the write.
class VerifyEndToEnd : public BurnEndToEnd {
protected:
    void SetUp() override {
        BurnEndToEnd::SetUp();
        m_core->verifyAfterBurn = true;
    }
    void TearDown() override {
        unsetenv("QX_VERIFY_TEST_PACE_MS");
        unsetenv("QX_VERIFY_TEST_SHORTEN_AT");
        BurnEndToEnd::TearDown();
    }
    std::string LogLineStarting(const std::string& start) const {
        for (const std::string& line : m_log.All()) {
            if (line.rfind(start, 0) == 0) {
                return line;
            }
        }
        return {};
    }
};

TEST_F(VerifyEndToEnd, ASoundDiscIsReadBackAndDone) {
    EngineMessages messages;
    setenv("QX_VERIFY_TEST_PACE_MS", "1000", 1); // 1 s a megabyte
    std::vector<ProgressLine> lines;
    m_core->onProgressLine = [&](const ProgressLine& line) { lines.push_back(line); };
    const VirtualWriter w = Writer("5");
    ASSERT_EQ(Burn({w}), BurnOutcome::Done) << m_trail;
    ExpectPlayableImage(w.image);
    EXPECT_TRUE(m_core->VerifyFailure().empty());
    EXPECT_TRUE(m_log.InOrder({"Complete burnning\n", "StarBurn Complete Write Data Progress:1!\n",
                               "StarBurn Begin Verify Data Progress!\n", "Verifying Data...\n",
                               "Verify Data OK: every sector reads back as it was written\n",
                               "StarBurn Complete Verify Data Progress:1!\n"}))
        << m_trail;
    EXPECT_TRUE(messages.status.InOrder(
        {"Closing session success!", "Verifying...", "Verifying success!", "Burning Complete!"}));
    // Its own phase in the progress window: "Verifying Data; " lines whose percentages start again.
    const auto verifying = std::find_if(lines.begin(), lines.end(), [](const ProgressLine& l) {
        return l.text.rfind("Verifying Data; Total time:", 0) == 0;
    });
    ASSERT_NE(verifying, lines.end()) << m_trail;
    EXPECT_NE(verifying->text.find("; Elapsed Time:"), std::string::npos) << verifying->text;
    EXPECT_LT(verifying->percent, 100);
    EXPECT_EQ(m_core->Device(0)->ProgressPercent(), 100);
}

TEST_F(VerifyEndToEnd, ASilentlyChangedByteFailsTheBurnAndNamesItsSector) {
    EngineMessages messages;
    VirtualWriter w = Writer("5");
    w.fail = "corrupt:50";
    ASSERT_EQ(Burn({w}), BurnOutcome::Failed) << m_trail;
    const uint64_t sectors = ReadFile(w.image).size() / 2048;
    const std::string sector = "sector " + std::to_string(sectors * 50 / 100) + " ";
    EXPECT_EQ(m_core->VerifyFailure().rfind(sector + "does not read back as it was written: byte ", 0), 0u)
        << m_core->VerifyFailure();
    EXPECT_EQ(LogLineStarting("Verify Error: "), "Verify Error: " + m_core->VerifyFailure() + "\n") << m_trail;
    EXPECT_TRUE(m_log.Has("StarBurn Complete Verify Data Progress:0!\n"));
    EXPECT_TRUE(messages.errorStatus.Has("Verify Error!"));
    EXPECT_FALSE(messages.status.Has("Burning Complete!"));

    // Without the read-back the same writer's burn is done, as it always was.
    m_core->verifyAfterBurn = false;
    w.image = m_dir + "unchecked.iso";
    ASSERT_EQ(Burn({w}), BurnOutcome::Done) << m_trail;
    EXPECT_TRUE(m_core->VerifyFailure().empty());
}

TEST_F(VerifyEndToEnd, ADiscWhoseEndCannotBeReadFails) {
    setenv("QX_VERIFY_TEST_SHORTEN_AT", "50", 1);
    const VirtualWriter w = Writer("5");
    ASSERT_EQ(Burn({w}), BurnOutcome::Failed) << m_trail;
    const uint64_t left = ReadFile(w.image).size() / 2048;
    EXPECT_EQ(m_core->VerifyFailure(), "sector " + std::to_string(left) + " could not be read back: nothing: the " +
                                           "disc image " + w.image + " ends after " + std::to_string(left) +
                                           " sectors");
    EXPECT_TRUE(m_log.Has("Verify Error: " + m_core->VerifyFailure() + "\n"));
}

TEST_F(VerifyEndToEnd, TheStopQuestionStopsTheReadBack) {
    EngineMessages messages;
    StopWhenVerifying();
    const VirtualWriter w = Writer("5");
    ASSERT_EQ(Burn({w}), BurnOutcome::Cancelled) << m_trail;
    EXPECT_TRUE(m_stopAsked);
    EXPECT_EQ(m_prompts.CountText("Do you really want to stop burning"), 1u);
    EXPECT_TRUE(m_log.Has("Verify Data cancelled\n"));
    EXPECT_TRUE(m_log.Has("StarBurn Complete Verify Data Progress:0!\n"));
    EXPECT_TRUE(m_core->VerifyFailure().empty());
    EXPECT_FALSE(messages.status.Has("Burning Complete!"));
}
