// A job told to end (SIGINT, SIGTERM) in the middle of authoring or burning: the step stops through
// its own stop within a bound, an interrupted authoring leaves no DVD folder of its own, an
// interrupted burn ends "cancelled" with the DVD folder kept and no half image, and the program
// ends with 128 + the signal. Console front-end and window program alike.
#include "Folders.h"
#include "ProfileIni.h"
#include "ProgressDlg.h"
#include "QuilvoVidrevoApp.h"
#include "QuitOnSignal.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The stop must come well inside the programs' own 30-second bound.
constexpr qint64 kStopBoundMs = 20000;

struct CliRun {
    std::string out;
    int exitCode = -1;
    bool signalled = false;
    qint64 stopMs = -1; // from the signal to the program's end
};

class Interrupt : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        images = FreshFolder("images");
        ASSERT_TRUE(MakeRealMediaMovie(movies + "movie.rm", "testsrc2", 8));
        fs::remove(WritersIni());
    }
    void TearDown() override {
        fs::remove(WritersIni());
        WindowTest::TearDown();
    }
    static std::string WritersIni() { return qx::ConfigFolder() + "writers.ini"; }
    std::string Image() const { return images + "disc.iso"; }
    // One blank DVD-R that writes at 1x (its lowest speed): about four seconds for this disc.
    void DefineSlowWriter() {
        fs::create_directories(qx::ConfigFolder());
        std::ofstream(WritersIni()) << "[Writer 1]\nname=Virtual DVD-R\nimage=" << Image()
                                    << "\nmedia=5\ncapacity=2295104\nstate=blank\nspeeds=1385\nfail=none\n";
    }
    std::vector<std::string> Leftovers(const std::string& folder, const std::string& part) const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().filename().string().find(part) != std::string::npos) {
                found.push_back(entry.path().filename().string());
            }
        }
        return found;
    }
    // Runs the console front-end on the movie (or, for a writer operation, on `args` alone) and
    // sends SIGINT once a line of its output starts with `when`.
    CliRun RunCli(QStringList args, const std::string& when) {
        CliRun run;
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QX_AUTHOR_TEST_PACE_MS", "60"); // about 12 s of authoring for this movie
        cli.setProcessEnvironment(env);
        // Progress and log lines on standard error, results on standard output: read both as one.
        cli.setProcessChannelMode(QProcess::MergedChannels);
        if (!args.contains("--burn-folder")) {
            args << "--work" << QString::fromStdString(work) << "--tv"
                 << "pal" << QString::fromStdString(movies + "movie.rm");
        }
        cli.start(QString(QX_BIN_DIR) + "/qxmoviedisc-cli", args);
        EXPECT_TRUE(cli.waitForStarted());
        QElapsedTimer sinceSignal;
        QElapsedTimer overall;
        overall.start();
        while (cli.state() == QProcess::Running && overall.elapsed() < 240000) {
            cli.waitForReadyRead(100);
            while (cli.canReadLine()) {
                const std::string line = cli.readLine().toStdString();
                run.out += line;
                if (!run.signalled && line.rfind(when, 0) == 0) {
                    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
                    run.signalled = true;
                    sinceSignal.start();
                }
            }
        }
        EXPECT_TRUE(cli.state() == QProcess::NotRunning || cli.waitForFinished(1000)) << run.out;
        run.stopMs = run.signalled ? sinceSignal.elapsed() : -1;
        run.out += cli.readAll().toStdString();
        run.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
        return run;
    }
    std::string images;
};

} // namespace

TEST_F(Interrupt, AConsoleJobInterruptedWhileAuthoringRemovesOnlyTheFoldersItMade) {
    // A working folder without a DVD folder: none is left.
    CliRun run = RunCli({}, "progress: DVD authoring: Generating");
    ASSERT_TRUE(run.signalled) << run.out;
    EXPECT_EQ(run.exitCode, 128 + SIGINT) << run.out;
    EXPECT_LT(run.stopMs, kStopBoundMs);
    EXPECT_NE(run.out.find("Interrupted: stopping the authoring"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Interrupted: the DVD files and folders the job made were removed.\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("DVD folder: "), std::string::npos) << run.out;
    EXPECT_FALSE(FileExists(work + "DVD Movie")) << run.out;
    EXPECT_TRUE(Leftovers(work, ".vob").empty());

    // A DVD folder that was there before, with a file of the user's: both stay, the job's
    // VIDEO_TS and AUDIO_TS go.
    fs::create_directories(work + "DVD Movie");
    std::ofstream(work + "DVD Movie/notes.txt") << "the user's";
    run = RunCli({}, "progress: DVD authoring: Fixing");
    ASSERT_TRUE(run.signalled) << run.out;
    EXPECT_EQ(run.exitCode, 128 + SIGINT) << run.out;
    EXPECT_LT(run.stopMs, kStopBoundMs);
    EXPECT_EQ(ReadFile(work + "DVD Movie/notes.txt"), "the user's");
    EXPECT_FALSE(FileExists(work + "DVD Movie/VIDEO_TS")) << run.out;
    EXPECT_FALSE(FileExists(work + "DVD Movie/AUDIO_TS")) << run.out;
    EXPECT_TRUE(Leftovers(work, ".vob").empty());
}

TEST_F(Interrupt, AConsoleJobInterruptedWhileBurningEndsCancelledWithTheFolderKept) {
    DefineSlowWriter();
    const CliRun run = RunCli({"--writer", "0"}, "progress: Burning Disc...: Writing Data");
    ASSERT_TRUE(run.signalled) << run.out;
    EXPECT_EQ(run.exitCode, 128 + SIGINT) << run.out;
    EXPECT_LT(run.stopMs, kStopBoundMs);
    EXPECT_NE(run.out.find("Interrupted: cancelling the burn.\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nBurn: cancelled\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Interrupted: the burn ended cancelled; the DVD folder is kept.\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("Mission accomplished!"), std::string::npos) << run.out;
    EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));
    EXPECT_FALSE(FileExists(Image()));
    EXPECT_TRUE(Leftovers(images, ".part-").empty()) << Leftovers(images, ".part-").front();
    EXPECT_EQ(qx::GetPrivateProfileString("Writer 1", "state", "", WritersIni()), "blank");
    EXPECT_TRUE(Leftovers(work, ".vob").empty());

    // The folder burned on its own (--burn-folder) ends the same way.
    const CliRun again = RunCli({"--burn-folder", QString::fromStdString(work + "DVD Movie"), "--writer", "0"},
                                "progress: Burning Disc...: Writing Data");
    ASSERT_TRUE(again.signalled) << again.out;
    EXPECT_EQ(again.exitCode, 128 + SIGINT) << again.out;
    EXPECT_LT(again.stopMs, kStopBoundMs);
    EXPECT_NE(again.out.find("\noutcome: cancelled\n"), std::string::npos) << again.out;
    EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));
    EXPECT_FALSE(FileExists(Image()));
    EXPECT_TRUE(Leftovers(images, ".part-").empty()) << Leftovers(images, ".part-").front();
}

// The window program: a session's logout sends SIGTERM. The step the job is in stops, no box waits
// for an answer, the computer stays on, and the program ends with 143; without a job it ends at once.
struct WindowRun {
    int status = -1;
    bool signalled = false;
    BurnOutcome outcome = BurnOutcome::Done;
    std::vector<std::string> log;
    int shutdowns = -1;
    int answer = -1; // of the question open when the signal came
};

class WindowInterrupt : public Interrupt {
protected:
    void SetUp() override {
        Interrupt::SetUp();
        DefineSlowWriter();
        UseRealEncoderAndAuthoring();
        fake.parts.buildInCore.reset();
    }
    // Runs the window program on the movie with burning ticked; SIGTERM goes to the process at the
    // first status of the progress window `title` that starts with `text` (at once when `title` is
    // empty, with no job started).
    WindowRun Run(const QString& title, const QString& text) {
        WindowRun run;
        FakeLog* log = fake.log; // both live as long as the window
        FakePower* power = fake.power;
        std::function<void()> drive = [&] {
            CQuilvoVidrevoDlg* window = nullptr;
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                window = window ? window : qobject_cast<CQuilvoVidrevoDlg*>(widget);
            }
            if (!window || window->AddingFiles() || window->Sources().empty()) {
                QTimer::singleShot(50, qApp, drive);
                return;
            }
            if (title.isEmpty()) {
                // A question is open when the signal comes: it is answered with its escape button.
                run.signalled = true;
                ::kill(::getpid(), SIGTERM);
                QMessageBox box(QMessageBox::Question, "Query", "Open question", QMessageBox::Yes | QMessageBox::No);
                box.setEscapeButton(QMessageBox::No);
                run.answer = box.exec();
                return;
            }
            window->findChild<QLineEdit*>("editTempFolder")->setText(QString::fromStdString(work));
            QCheckBox* burn = window->findChild<QCheckBox*>("chkBurn");
            ASSERT_TRUE(burn->isEnabled());
            if (!burn->isChecked()) {
                burn->click();
            }
            QObject::connect(window, &CQuilvoVidrevoDlg::progressChanged,
                             [&run, title, text](const QString& shownTitle, const QString& shown, int) {
                                 if (!run.signalled && shownTitle == title && shown.startsWith(text)) {
                                     run.signalled = true;
                                     ::kill(::getpid(), SIGTERM);
                                 }
                             });
            QObject::connect(window, &CQuilvoVidrevoDlg::jobFinished, [&run, log, power, window] {
                run.log = log->Lines();
                run.shutdowns = power->shutdowns;
                run.outcome = window->LastBurnOutcome();
                if (!run.signalled) {
                    window->close(); // the step was missed: the test fails without waiting
                }
            });
            window->OnBtnStartconvert();
        };
        QTimer::singleShot(0, qApp, drive);
        run.status = CQuilvoVidrevoApp().InitInstance(std::move(fake.parts), {movies + "movie.rm"});
        qx::DefaultTermination();
        return run;
    }
    static size_t Count(const std::vector<std::string>& lines, const std::string& part) {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.find(part) != std::string::npos; });
    }
};

TEST_F(WindowInterrupt, SigtermWhileBurningCancelsTheBurnAndKeepsTheFolder) {
    const WindowRun run = Run("Burning Disc...", "Writing Data");
    EXPECT_TRUE(run.signalled);
    EXPECT_EQ(run.status, 128 + SIGTERM);
    EXPECT_TRUE(prompts.BoxTexts().empty()) << prompts.BoxTexts().front();
    EXPECT_EQ(run.outcome, BurnOutcome::Cancelled);
    EXPECT_EQ(Count(run.log, "Burn DVD cancelled"), 1u);
    EXPECT_EQ(run.shutdowns, 0);
    EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));
    EXPECT_FALSE(FileExists(Image()));
    EXPECT_TRUE(Leftovers(images, ".part-").empty());
    EXPECT_TRUE(Leftovers(work, ".vob").empty());
}

TEST_F(WindowInterrupt, SigtermWhileAuthoringLeavesNoDvdFolderAndNothingIsBurned) {
    ::setenv("QX_AUTHOR_TEST_PACE_MS", "30", 1);
    const WindowRun run = Run("DVD authoring", "Generating");
    ::unsetenv("QX_AUTHOR_TEST_PACE_MS");
    EXPECT_TRUE(run.signalled);
    EXPECT_EQ(run.status, 128 + SIGTERM);
    EXPECT_TRUE(prompts.BoxTexts().empty()) << prompts.BoxTexts().front();
    EXPECT_EQ(Count(run.log, "DVD Author stopped"), 1u);
    EXPECT_EQ(Count(run.log, "Begin Burn DVD"), 0u);
    EXPECT_EQ(run.outcome, BurnOutcome::Refused); // never started
    EXPECT_FALSE(FileExists(work + "DVD Movie"));
    EXPECT_FALSE(FileExists(Image()));
    EXPECT_TRUE(Leftovers(work, ".vob").empty());
}

TEST_F(WindowInterrupt, SigtermWhileConvertingStopsWithoutAQuestionAndRemovesTheStreams) {
    const WindowRun run = Run("Converting " + QString::fromStdString(movies + "movie.rm"), "Total time");
    EXPECT_TRUE(run.signalled);
    EXPECT_EQ(run.status, 128 + SIGTERM);
    EXPECT_TRUE(prompts.Records().empty());
    EXPECT_EQ(Count(run.log, "Begin DVD Author"), 0u);
    EXPECT_FALSE(FileExists(work + "DVD Movie"));
    EXPECT_TRUE(Leftovers(work, ".vob").empty());
}

TEST_F(WindowInterrupt, SigtermWithoutAJobClosesTheWindowAndAnswersTheOpenQuestion) {
    const WindowRun run = Run({}, {});
    EXPECT_TRUE(run.signalled);
    EXPECT_EQ(run.status, 128 + SIGTERM);
    EXPECT_EQ(run.answer, QMessageBox::No);
    EXPECT_TRUE(prompts.BoxTexts().empty());
}
