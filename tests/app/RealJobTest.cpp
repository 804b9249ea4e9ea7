// A whole job through the window with the real encoder program, log program and authoring engine,
// on two generated RealMedia movies; the result is judged by libdvdread and libdvdnav.
#include "DvdReaderCheck.h"
#include "Folders.h"
#include "InstanceLock.h"
#include "ProfileIni.h"
#include "QuilvoVidrevoApp.h"
#include "WindowFixture.h"

#include <QComboBox>
#include <QProcess>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class RealJob : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        UseRealPartsButBurningAndPower();
    }
};

} // namespace

TEST_F(RealJob, TwoMoviesBecomeTwoChainedTitles) {
    ASSERT_TRUE(MakeRealMediaMovie(movies + "first.rm", "testsrc2"));
    ASSERT_TRUE(MakeRealMediaMovie(movies + "second.rm", "smptebars"));
    Create();
    Click("radioPal");
    Find<QComboBox>("comboAspect")->setCurrentIndex(0);
    std::vector<std::string> paths = {movies + "first.rm", movies + "second.rm"};
    prompts.QueueFiles(paths);
    Click("btnAddFiles");
    ASSERT_TRUE(dlg->WaitForAddFiles(60000));
    ASSERT_EQ(dlg->Sources().size(), 2u) << "probe failed";
    EXPECT_EQ(List()->GetItemText(0, 1).rfind("Dimension:320X240 ", 0), 0u) << List()->GetItemText(0, 1);
    SaveScreenshot(dlg.get(), "main_window_real_job_ready");

    ASSERT_TRUE(RunJob());
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 1u);
    for (const std::string& text : prompts.BoxTexts()) {
        EXPECT_EQ(text, "Mission accomplished!");
    }
    EXPECT_EQ(Status(0), "Completed");
    EXPECT_EQ(Status(1), "Completed");
    SaveScreenshot(dlg.get(), "main_window_real_job_done");

    // The converted streams are gone; the DVD folder is the product.
    EXPECT_FALSE(FileExists(work + "first.vob"));
    EXPECT_FALSE(FileExists(work + "second.vob"));
    EXPECT_FALSE(FileExists(work + "first.vob.part1"));
    const std::string dvd = work + "DVD Movie";
    const DvdReadReport report = ReadDvdFolder(dvd);
    ASSERT_TRUE(report.opened);
    EXPECT_TRUE(report.complaints.empty()) << report.complaints.front();
    ASSERT_EQ(report.titles.size(), 2u);
    EXPECT_EQ(report.titleSets, 1);
    EXPECT_EQ(report.titles[0].firstPostCommand, std::vector<unsigned char>({0x30, 0x03, 0, 0, 0, 0x02, 0, 0}));
    EXPECT_EQ(report.titles[1].firstPostCommand, std::vector<unsigned char>(8, 0));
    EXPECT_NEAR(report.titles[0].seconds, 5.0, 0.6);
    const DvdPlayReport play = PlayDvdFolder(dvd, 200000);
    EXPECT_TRUE(play.reachedStop);
    EXPECT_EQ(play.titleOrder, std::vector<int>({1, 2}));

    // The choices were kept.
    EXPECT_EQ(qx::GetPrivateProfileString("TMPFLD", "temp folder", "", settingsFile), work);
    EXPECT_EQ(qx::GetPrivateProfileString("TVMODE", "TV Mode", "", settingsFile), "PAL");
    EXPECT_EQ(qx::GetPrivateProfileString("ASP", "ASPECT", "", settingsFile), "0");
    EXPECT_EQ(qx::GetPrivateProfileString("ASP", "KEEP ASPECT", "", settingsFile), "1");

    // The log program received the course of the job.
    dlg.reset();
    const std::string logText = ReadFile(qx::StateFolder() + "QXLog.log");
    EXPECT_NE(logText.find("Complete All Work"), std::string::npos);
    EXPECT_NE(logText.find("Convert File:" + movies + "second.rm to VOB Successful"), std::string::npos);
    // Which sound track each movie gives the disc.
    EXPECT_NE(logText.find("Sound of " + movies + "first.rm: track 1 of 1"), std::string::npos);
}

// The demonstration works in a private folder of its own: a folder another user planted under a
// guessable name (here a link to someone's DVD folder) is never used, and the demonstration's folder
// never becomes the working folder the console front-end remembers.
TEST_F(RealJob, TheConsoleFrontEndRunsTheDemoInAPrivateFolder) {
    const std::string temp = FreshFolder("demo-tmp");
    const std::string victim = FreshFolder("victim");
    fs::create_directories(victim + "DVD Movie/VIDEO_TS");
    WriteFile(victim + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO", 10, 'v');
    fs::create_directory_symlink(victim, temp + "qxmoviedisc-demo-" + std::to_string(getuid()));
    const std::string cliSettings = qx::ConfigFolder() + "settings-cli.ini";
    qx::WritePrivateProfileString("TMPFLD", "temp folder", work, cliSettings);

    QProcess cli;
    const std::string iso = work + "demo.iso";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", QString::fromStdString(temp));
    // The console front-end needs no display and no window platform.
    env.remove("QT_QPA_PLATFORM");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    cli.setProcessEnvironment(env);
    cli.setProcessChannelMode(QProcess::SeparateChannels);
    cli.start(QString(QX_BIN_DIR) + "/qxmoviedisc-cli",
              {"--demo", "--tv", "pal", "--label", "Demo Disc", "--iso", QString::fromStdString(iso)});
    ASSERT_TRUE(cli.waitForFinished(240000));
    // Results on standard output; the course of the job on standard error, without the engines'
    // diagnostic trace unless asked for.
    const std::string out = cli.readAllStandardOutput().toStdString();
    const std::string err = cli.readAllStandardError().toStdString();
    EXPECT_EQ(cli.exitCode(), 0) << out << err;
    EXPECT_EQ(out.find("log: "), std::string::npos) << out;
    EXPECT_EQ(out.find("progress: "), std::string::npos) << out;
    EXPECT_EQ(err.find("DEBUG:"), std::string::npos) << err;
    EXPECT_EQ(err.find("WARN: [???]"), std::string::npos) << err;

    const std::string marker = "DVD folder: ";
    const size_t at = out.find(marker);
    ASSERT_NE(at, std::string::npos) << out;
    const std::string dvdFolder = out.substr(at + marker.size(), out.find('\n', at) - at - marker.size());
    const std::string demo = dvdFolder.substr(0, dvdFolder.find("DVD Movie/VIDEO_TS"));
    EXPECT_EQ(demo.rfind(temp + "qxmoviedisc-demo-", 0), 0u) << demo;
    struct stat st {};
    ASSERT_EQ(lstat(demo.c_str(), &st), 0) << demo;
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_NE(err.find("log: Begin convert file:" + demo + "demo-source/demo.rm"), std::string::npos) << err;
    EXPECT_NE(err.find("progress: DVD authoring: "), std::string::npos) << err;
    EXPECT_NE(out.find("QX Movie Disc: Mission accomplished!"), std::string::npos) << out;
    EXPECT_TRUE(ReadDvdFolder(demo + "DVD Movie").opened);
    // The disc image of that folder, labelled as asked.
    EXPECT_NE(out.find("qxmoviedisc-cli: wrote " + iso), std::string::npos) << out;
    DvdReadReport image = ReadDvdFolder(iso);
    EXPECT_TRUE(image.opened);
    EXPECT_EQ(image.titles.size(), 1u);
    EXPECT_EQ(ReadFile(iso).substr(16 * 2048 + 40, 10), "DEMO_DISC ");

    EXPECT_EQ(ReadFile(victim + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"), std::string(10, 'v'));
    EXPECT_EQ(qx::GetPrivateProfileString("TMPFLD", "temp folder", "", cliSettings), work);
    fs::remove_all(demo);
}

TEST_F(RealJob, TheConsoleFrontEndFailsOnRefusedMovies) {
    WriteFile(movies + "garbage.rm", 5000, 'g');
    QProcess cli;
    cli.start(QString(QX_BIN_DIR) + "/qxmoviedisc-cli",
              {"--work", QString::fromStdString(work), QString::fromStdString(movies + "garbage.rm")});
    ASSERT_TRUE(cli.waitForFinished(120000));
    const std::string err = cli.readAllStandardError().toStdString();
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_EQ(cli.readAllStandardOutput().toStdString(), "");
    EXPECT_NE(err.find("Information: Can not support file:\n" + movies + "garbage.rm"), std::string::npos) << err;
    EXPECT_NE(err.find("No movie was added."), std::string::npos) << err;
}

// An image named like the movie it is made from is refused before anything is written.
TEST_F(RealJob, TheConsoleFrontEndNeverWritesItsImageOverAMovie) {
    ASSERT_TRUE(MakeRealMediaMovie(movies + "holiday.rm", "testsrc2", 1));
    const std::string before = ReadFile(movies + "holiday.rm");
    QProcess cli;
    cli.start(QString(QX_BIN_DIR) + "/qxmoviedisc-cli",
              {"--work", QString::fromStdString(work), "--iso", QString::fromStdString(movies + "holiday.rm"),
               QString::fromStdString(movies + "holiday.rm")});
    ASSERT_TRUE(cli.waitForFinished(120000));
    const std::string err = cli.readAllStandardError().toStdString();
    EXPECT_EQ(cli.exitCode(), 1) << err;
    EXPECT_NE(err.find("would destroy"), std::string::npos) << err;
    EXPECT_TRUE(ReadFile(movies + "holiday.rm") == before) << "the movie is untouched";
    EXPECT_FALSE(FileExists(work + "holiday.vob"));
}

// A German locale writes numbers with a decimal comma; numbers that travel between the programs
// and the lines the job prints keep their '.' whatever the user's locale.
TEST_F(RealJob, AJobUnderADecimalCommaLocale) {
    const std::string locales = FreshFolder("locales");
    if (std::system(("localedef -i de_DE -f UTF-8 '" + locales + "de_DE.UTF-8' >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "no de_DE locale could be made with localedef (the locales package)";
    ASSERT_TRUE(MakeRealMediaMovie(movies + "film.rm", "testsrc2"));
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LOCPATH", QString::fromStdString(locales));
    env.insert("LC_ALL", "de_DE.UTF-8");
    env.insert("LANG", "de_DE.UTF-8");
    cli.setProcessEnvironment(env);
    cli.start(QString(QX_BIN_DIR) + "/qxmoviedisc-cli",
              {"--work", QString::fromStdString(work), "--tv", "pal", QString::fromStdString(movies + "film.rm")});
    ASSERT_TRUE(cli.waitForFinished(240000));
    const std::string out = cli.readAllStandardOutput().toStdString();
    const std::string err = cli.readAllStandardError().toStdString();
    EXPECT_EQ(cli.exitCode(), 0) << out << err;
    EXPECT_EQ(err.find("Can not support file:"), std::string::npos) << err;
    EXPECT_NE(err.find("Finished 100.00%;"), std::string::npos) << err;
    EXPECT_NE(out.find("QX Movie Disc: Mission accomplished!"), std::string::npos) << out;
    EXPECT_NEAR(ReadDvdFolder(work + "DVD Movie").titles.at(0).seconds, 5.0, 0.6);
}

// Every movie failed and was replaced: the job still ends with "Mission accomplished!", but the
// exit status and a summary line tell a script that the disc holds black substitutes. The
// console shows only the job's lines, no notes of the off-screen platform.
TEST_F(RealJob, TheConsoleFrontEndSaysWhenMoviesWereReplaced) {
    // A name with a newline and bytes that are not UTF-8 is a fine movie all the same.
    const std::string odd = movies + "a\nb\xff.rm";
    ASSERT_TRUE(MakeRealMediaMovie(movies + "a.rm", "testsrc2"));
    fs::rename(movies + "a.rm", odd);
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QX_ENCODER_TEST_CRASH", "convert");
    cli.setProcessEnvironment(env);
    cli.setProcessChannelMode(QProcess::MergedChannels);
    // Through the shell, since Qt's argument strings cannot carry bytes that are not UTF-8.
    cli.start("/bin/sh", {"-c", "exec \"$0\" --work \"$1\" --tv pal \"$(printf \"$2\")\"",
                          QString(QX_BIN_DIR) + "/qxmoviedisc-cli", QString::fromStdString(work),
                          QString::fromStdString(movies + "a\\nb\\377.rm")});
    ASSERT_TRUE(cli.waitForFinished(240000));
    const std::string out = cli.readAllStandardOutput().toStdString();
    EXPECT_EQ(cli.exitCode(), 3) << out;
    EXPECT_NE(out.find("QX Movie Disc: Mission accomplished!"), std::string::npos) << out;
    EXPECT_NE(out.find("\n1 of 1 movies failed and were replaced\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("This plugin does not support"), std::string::npos) << out;
}

// Interrupted in the middle of a conversion, the console job removes the stream it was writing
// (and any it had finished) before it ends with the signal's status.
TEST_F(RealJob, AnInterruptedConsoleJobLeavesNoStreamBehind) {
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-y", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25", "-t", "60",
                            "-c:v", "rv20", QString::fromStdString(movies + "long.rm")});
    ASSERT_TRUE(ffmpeg.waitForFinished(120000) && ffmpeg.exitCode() == 0);
    std::ofstream(work + "mine.vob.writing") << "the user's";
    QProcess cli;
    cli.start(QString(QX_BIN_DIR) + "/qxmoviedisc-cli",
              {"--work", QString::fromStdString(work), "--tv", "pal", QString::fromStdString(movies + "long.rm")});
    ASSERT_TRUE(cli.waitForStarted());
    auto streams = [&] {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(work)) {
            const std::string name = entry.path().filename().string();
            if (name.find(".vob") != std::string::npos && name != "mine.vob.writing") {
                found.push_back(name);
            }
        }
        return found;
    };
    for (int i = 0; i < 1200 && streams().empty() && cli.state() == QProcess::Running; ++i) {
        QTest::qWait(50);
    }
    ASSERT_FALSE(streams().empty()) << cli.readAllStandardOutput().toStdString();
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(30000));
    const std::string out = cli.readAllStandardOutput().toStdString();
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 128 + SIGINT) << out;
    QTest::qWait(300); // an encoder that outlived the job would write on here
    EXPECT_TRUE(streams().empty()) << streams().front();
    EXPECT_EQ(ReadFile(work + "mine.vob.writing"), "the user's");
}

TEST_F(RealJob, TheConsoleFrontEndDoesNotRunBesideTheWindowProgram) {
    qx::InstanceLock window;
    ASSERT_EQ(window.Acquire("QXMOVIEDISC"), qx::InstanceLock::State::Acquired);
    QProcess cli;
    cli.start(QString(QX_BIN_DIR) + "/qxmoviedisc-cli", {"--work", QString::fromStdString(work), "x.rm"});
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_EQ(cli.readAllStandardOutput().toStdString(), "");
    EXPECT_EQ(cli.readAllStandardError().toStdString(), "QX Movie Disc is already running; close it first.\n");
}
