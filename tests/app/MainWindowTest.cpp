// The main window driven headless by object name, with scripted prompts and in-process parts.
#include "AppTestSupport.h"
#include "InstanceLock.h"
#include "MainDlg.h"
#include "MenuBuilder.h"
#include "PictureButton.h"
#include "ProfileIni.h"
#include "ProgressDlg.h"
#include "QuilvoVidrevoApp.h"
#include "Settings.h"
#include "WindowFixture.h"
#include "XListCtrl.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

using MainWindow = WindowTest;

TEST_F(MainWindow, StartsWithTheTemplateControlsAndDefaultSettings) {
    Create(false);
    EXPECT_EQ(Find<QPushButton>("btnStart")->text(), "Start now");
    EXPECT_EQ(Find<QPushButton>("btnAddFiles")->text(), "Add Video files");
    EXPECT_EQ(Find<QPushButton>("btnAddFiles")->toolTip(), "Add Video files");
    for (const char* name : {"btnAddFiles", "btnDelete", "btnMoveUp", "btnMoveDown", "btnStart", "btnHelp"}) {
        EXPECT_TRUE(Find<CPictureButton>(name)->HasPicture()) << name;
    }
    EXPECT_EQ(Find<QCheckBox>("chkKeepAspect")->text(), "Keep Original Asepct Rate");
    EXPECT_EQ(Find<QRadioButton>("radioPal")->text(), "PAL(Europe, Africa, Australia, South America, China)");
    EXPECT_EQ(Find<QPushButton>("btnDiscType")->text(), "DVD-D5");
    EXPECT_EQ(Find<QPushButton>("btnDiscType")->toolTip(), "Click me and switch to be D9 DVD Disc suitable");
    EXPECT_EQ(Find<QLabel>("lblCapacity")->text(), "4.7G");
    EXPECT_EQ(Find<QLabel>("lblUsedSpace")->text(), "Used space 00.00%");
    EXPECT_EQ(List()->GetColumnHeading(0), "Source File");
    EXPECT_EQ(List()->GetColumnHeading(1), "File Information");
    EXPECT_EQ(List()->GetColumnHeading(2), "Status");

    // No settings file: the defaults.
    EXPECT_EQ(Find<QLineEdit>("editTempFolder")->text().toStdString(), DefaultTempFolder());
    EXPECT_TRUE(Find<QRadioButton>("radioNtsc")->isChecked());
    EXPECT_FALSE(Find<QRadioButton>("radioPal")->isChecked());
    EXPECT_EQ(dlg->TVMode(), TvStandard::Ntsc);
    EXPECT_EQ(Find<QComboBox>("comboAspect")->currentText(), "16:9");
    EXPECT_TRUE(Find<QCheckBox>("chkKeepAspect")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("chkShutdown")->isChecked());

    // The built-in engine found no writer: both burn settings are 0 and burning is unticked; the
    // writer list still offers the disc image file.
    EXPECT_EQ(Find<QComboBox>("comboBurnEngine")->count(), 1);
    EXPECT_EQ(Find<QComboBox>("comboBurnEngine")->itemText(0), "Build-in");
    EXPECT_EQ(Find<QComboBox>("comboWriters")->count(), 1);
    EXPECT_EQ(Find<QComboBox>("comboWriters")->itemText(0), "Disc image file (.iso)");
    EXPECT_TRUE(Find<QCheckBox>("chkBurn")->isEnabled());
    EXPECT_FALSE(Find<QCheckBox>("chkBurn")->isChecked());
    EXPECT_EQ(qx::GetPrivateProfileString("BURN", "burn disc", "", settingsFile), "0");
    EXPECT_EQ(qx::GetPrivateProfileString("DELTMPFILE", "delete temp files", "", settingsFile), "0");
    EXPECT_TRUE(fake.log->started);
    EXPECT_EQ(fake.encoder->starts(), 1);
    SaveScreenshot(dlg.get(), "main_window_start");
}

TEST_F(MainWindow, WithWritersTheBurnChoicesStayAndNeroIsPreferred) {
    fake.buildIn->writers = {"D: Writer One", "E: Writer Two"};
    fake.nero->available = true;
    fake.nero->writers = {"F: Nero Writer"};
    Create();
    EXPECT_EQ(Find<QComboBox>("comboBurnEngine")->count(), 2);
    EXPECT_EQ(Find<QComboBox>("comboBurnEngine")->currentIndex(), 1);
    EXPECT_EQ(Find<QComboBox>("comboWriters")->currentText(), "F: Nero Writer");
    EXPECT_TRUE(Find<QCheckBox>("chkBurn")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("chkDeleteTmp")->isVisible());
    // Unticking burn hides "Delete tmp file" and is written at once.
    Click("chkBurn");
    EXPECT_FALSE(Find<QCheckBox>("chkDeleteTmp")->isVisible());
    EXPECT_EQ(qx::GetPrivateProfileString("BURN", "burn disc", "", settingsFile), "0");
}

TEST_F(MainWindow, AWriterListBeyondTheOldSelectionSelectsTheFirst) {
    fake.buildIn->writers = {"D: A", "E: B", "G: C"};
    FakeCore* core = fake.buildIn;
    Create();
    Find<QComboBox>("comboWriters")->setCurrentIndex(2);
    core->writers = {"D: A"};
    Click("btnReloadWriters");
    EXPECT_EQ(Find<QComboBox>("comboWriters")->count(), 2);
    EXPECT_EQ(Find<QComboBox>("comboWriters")->currentIndex(), 0);
    // The image entry chosen stays chosen over a reload.
    Find<QComboBox>("comboWriters")->setCurrentIndex(1);
    core->writers = {"D: A", "E: B"};
    Click("btnReloadWriters");
    EXPECT_EQ(Find<QComboBox>("comboWriters")->currentText(), "Disc image file (.iso)");
    core->writers = {};
    Click("btnReloadWriters");
    EXPECT_FALSE(Find<QCheckBox>("chkBurn")->isChecked());
    EXPECT_EQ(Find<QComboBox>("comboWriters")->currentText(), "Disc image file (.iso)");
}

// The writers went away after a reload: burning is unticked (a job can still make its DVD folder
// instead of being refused at every start) and comes back as chosen when the writers return.
TEST_F(MainWindow, WritersThatGoAwayUntickBurningUntilTheyReturn) {
    fake.encoder->movies["a.rm"] = FakeMovie{};
    fake.buildIn->writers = {"D: A"};
    FakeCore* core = fake.buildIn;
    Create();
    ASSERT_TRUE(Find<QCheckBox>("chkBurn")->isChecked());
    ASSERT_TRUE(Find<QCheckBox>("chkDeleteTmp")->isChecked());
    core->writers = {};
    Click("btnReloadWriters");
    EXPECT_FALSE(Find<QCheckBox>("chkBurn")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("chkDeleteTmp")->isChecked());
    AddMovies({"a.rm"});
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(prompts.CountText("No DVD Writer detected! Cannot burn DVD Disk!"), 0u);
    EXPECT_TRUE(dlg->LastJobAccomplished());
    EXPECT_TRUE(core->burned.empty());

    core->writers = {"D: A"};
    Click("btnReloadWriters");
    EXPECT_TRUE(Find<QCheckBox>("chkBurn")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("chkDeleteTmp")->isChecked());
    EXPECT_EQ(qx::GetPrivateProfileString("BURN", "burn disc", "", settingsFile), "1");
}

TEST_F(MainWindow, AddedMoviesGetRowsAndUniqueStreamNames) {
    fake.encoder->movies["a.rm"] = FakeMovie{};
    fake.encoder->movies["movie.part.rmvb"] = FakeMovie{};
    fake.encoder->movies["a.rm"].duration = 3600;
    fake.encoder->movies["a.rm"].width = 640;
    fake.encoder->movies["a.rm"].height = 480;
    fake.encoder->movies["a.rm"].sizeKB = static_cast<float>(350.2 * 1024);
    Create();
    QAbstractItemModelTester tester(List()->model(), QAbstractItemModelTester::FailureReportingMode::Warning);
    const std::string other = FreshFolder("movies2");
    const std::string third = FreshFolder("movies3");
    g_strWorkFolder = work;
    AddMovies({"a.rm"});
    AddMovies({"a.rm"}, other);
    AddMovies({"a.rm", "movie.part.rmvb"}, third);
    ASSERT_EQ(dlg->Sources().size(), 4u);
    EXPECT_EQ(dlg->Sources()[0].strVobFile, work + "a.vob");
    EXPECT_EQ(dlg->Sources()[1].strVobFile, work + "a0.vob");
    EXPECT_EQ(dlg->Sources()[2].strVobFile, work + "a00.vob");
    EXPECT_EQ(dlg->Sources()[3].strVobFile, work + "movie.part.vob");
    EXPECT_EQ(List()->GetItemText(0, 0), " a.rm");
    EXPECT_EQ(List()->GetItemText(0, 1), "Dimension:640X480 File size:350.2M   Duration:01:00:00 Frame rate:25.00 ");
    EXPECT_EQ(List()->GetItemToolTipText(0, 1), List()->GetItemText(0, 1));
    EXPECT_EQ(Status(3), "Ready");
    EXPECT_EQ(List()->GetSelectedItem(), 3);
    // 3 x 1402 MB + 3 x 23 MB.
    EXPECT_EQ(dlg->TotalSizeMB(), 3 * 1402 + 23);
    EXPECT_EQ(fake.log->Count("Successful\n"), 4u);
    SaveScreenshot(dlg.get(), "main_window_list");
}

TEST_F(MainWindow, EveryRefusedMovieShowsItsOwnDialog) {
    fake.encoder->movies["bad.rm"] = FakeMovie{FakeMovie::Probe::Unsupported};
    fake.encoder->movies["crash.rm"] = FakeMovie{FakeMovie::Probe::Crash};
    fake.encoder->movies["short.rm"] = FakeMovie{};
    fake.encoder->movies["short.rm"].duration = 0.05;
    fake.encoder->movies["flat.rm"] = FakeMovie{};
    fake.encoder->movies["flat.rm"].width = 0;
    fake.encoder->movies["good.rm"] = FakeMovie{};
    Create();
    AddMovies({"bad.rm", "crash.rm", "short.rm", "flat.rm", "good.rm"});
    EXPECT_EQ(dlg->Sources().size(), 1u);
    const std::vector<std::string> dialogs = prompts.DialogTexts();
    ASSERT_EQ(dialogs.size(), 4u);
    EXPECT_EQ(dialogs[0], "Can not support file:\n" + movies + "bad.rm");
    EXPECT_EQ(dialogs[3], "Can not support file:\n" + movies + "flat.rm");
    EXPECT_EQ(fake.log->Count("0 Add File:" + movies + "bad.rm Failed the file is not supported\n"), 1u);
    EXPECT_EQ(fake.log->Count("1 Add File:" + movies + "crash.rm Failed encoder proxy crashed\n"), 1u);
    EXPECT_EQ(fake.log->Count("1 Add File:" + movies + "short.rm Failed by error width:320, height:240 duration:0\n"),
              1u);
    EXPECT_EQ(fake.log->Count("1 Add File:" + movies + "flat.rm Failed by error width:0, height:240 duration:60\n"),
              1u);
    EXPECT_TRUE(dlg->isEnabled()); // the loading window gave the window back
}

TEST_F(MainWindow, AddingWithoutAnEncoderWindowIsRefused) {
    fake.encoder->noWindow = true;
    Create();
    Click("btnAddFiles");
    EXPECT_EQ(prompts.CountText("EncoderProxy setup error!\nPlease reinstalled this software, or contact Support."),
              1u);
    EXPECT_FALSE(dlg->AddingFiles());
}

TEST_F(MainWindow, DeleteAndMoveKeepListAndRecordsTogether) {
    for (const char* name : {"a.rm", "b.rm", "c.rm"}) {
        fake.encoder->movies[name] = FakeMovie{};
    }
    Create();
    AddMovies({"a.rm", "b.rm", "c.rm"});
    auto names = [this] {
        std::string s;
        for (int row = 0; row < List()->GetItemCount(); ++row) {
            s += List()->GetItemText(row, 0) + "|" + FileNameOf(dlg->Sources()[row].strPath) + ";";
        }
        return s;
    };
    List()->SelectItem(2);
    Click("btnMoveDown"); // last row: nothing
    EXPECT_EQ(names(), " a.rm|a.rm; b.rm|b.rm; c.rm|c.rm;");
    Click("btnMoveUp");
    EXPECT_EQ(names(), " a.rm|a.rm; c.rm|c.rm; b.rm|b.rm;");
    EXPECT_EQ(List()->GetSelectedItem(), 1);
    List()->SelectItem(0);
    Click("btnMoveUp"); // first row: nothing
    Click("btnMoveDown");
    EXPECT_EQ(names(), " c.rm|c.rm; a.rm|a.rm; b.rm|b.rm;");
    EXPECT_EQ(List()->GetSelectedItem(), 1);
    Click("btnDelete");
    EXPECT_EQ(names(), " c.rm|c.rm; b.rm|b.rm;");
    EXPECT_EQ(List()->GetSelectedItem(), 0);
    Click("btnDelete");
    Click("btnDelete");
    EXPECT_EQ(List()->GetItemCount(), 0);
    EXPECT_TRUE(dlg->Sources().empty());
    EXPECT_EQ(dlg->TotalSizeMB(), 0);
    Click("btnDelete"); // empty list: nothing
}

TEST_F(MainWindow, TheDiscButtonSwitchesTargetAndWarnsOnlyWhenOver) {
    fake.encoder->movies["long.rm"] = FakeMovie{};
    fake.encoder->movies["long.rm"].duration = 4300.0 * 1024 / 399 + 1; // 4300 MB
    Create();
    AddMovies({"long.rm"});
    EXPECT_EQ(dlg->TotalSizeMB(), 4300);
    EXPECT_EQ(Find<QLabel>("lblUsedSpace")->text(), "Used space 101.18%");
    EXPECT_EQ(prompts.CountText("The target DVD movie is over DVD-D5 size."), 1u);
    Click("btnDiscType");
    EXPECT_EQ(Find<QPushButton>("btnDiscType")->text(), "DVD-D9");
    EXPECT_EQ(Find<QLabel>("lblCapacity")->text(), "8.5G");
    EXPECT_EQ(Find<QPushButton>("btnDiscType")->toolTip(), "Click me and switch to be D5 DVD Disc suitable");
    EXPECT_EQ(Find<QLabel>("lblUsedSpace")->text(), "Used space 53.09%");
    EXPECT_EQ(prompts.CountText("The target DVD movie is over DVD-D5 size."), 1u);
    List()->SelectItem(0);
    Click("btnDelete");
    EXPECT_EQ(Find<QLabel>("lblUsedSpace")->text(), "Used space 53.09%"); // the text keeps its last value
}

TEST_F(MainWindow, StartChecksRefuseBadFolders) {
    fake.encoder->movies["a.rm"] = FakeMovie{};
    Create();
    Click("btnStart"); // empty list: nothing at all
    EXPECT_TRUE(prompts.Records().empty());

    AddMovies({"a.rm"});
    Find<QLineEdit>("editTempFolder")->setText("");
    Click("btnStart");
    EXPECT_EQ(prompts.CountText("Please select a temp folder!"), 1u);

    const std::string file = work + "plain-file";
    WriteFile(file, 10);
    Find<QLineEdit>("editTempFolder")->setText(QString::fromStdString(file));
    Click("btnStart");
    EXPECT_EQ(prompts.CountText(file + "/ is not a valid folder!"), 1u);

    Find<QLineEdit>("editTempFolder")->setText("relative/folder");
    Click("btnStart");
    EXPECT_EQ(prompts.CountText("relative/folder/ is not a valid folder!"), 1u);
    EXPECT_FALSE(FileExists("relative"));
    EXPECT_FALSE(dlg->JobRunning());
    EXPECT_EQ(Status(0), "Ready");
}

TEST_F(MainWindow, AJobConvertsAuthorsAndTidiesUp) {
    for (const char* name : {"one.rm", "two.rm"}) {
        fake.encoder->movies[name] = FakeMovie{};
    }
    Create();
    const std::string folderWithoutSlash = work.substr(0, work.size() - 1);
    Find<QLineEdit>("editTempFolder")->setText(QString::fromStdString(folderWithoutSlash));
    Click("radioPal");
    AddMovies({"one.rm", "two.rm"});
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 1u);
    EXPECT_EQ(Status(0), "Completed");
    EXPECT_EQ(Status(1), "Completed");
    EXPECT_EQ(Find<QLineEdit>("editTempFolder")->text().toStdString(), work);
    EXPECT_EQ(qx::GetPrivateProfileString("TMPFLD", "temp folder", "", settingsFile), work);
    EXPECT_EQ(qx::GetPrivateProfileString("TVMODE", "TV Mode", "", settingsFile), "PAL");
    EXPECT_EQ(fake.encoder->lastJob.tv, TvStandard::Pal);
    ASSERT_EQ(fake.authoring->titles.size(), 2u);
    EXPECT_EQ(fake.authoring->titles[0].vobFile, work + "one.vob");
    EXPECT_EQ(fake.authoring->titles[1].durationSeconds, 60);
    EXPECT_EQ(fake.authoring->outFolder, work + "DVD Movie");
    EXPECT_FALSE(FileExists(work + "one.vob"));
    EXPECT_FALSE(FileExists(work + "two.vob"));
    EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO")); // without burning it is the product
    EXPECT_TRUE(Find<QPushButton>("btnAddFiles")->isEnabled());
    EXPECT_FALSE(dlg->JobRunning());
    EXPECT_EQ(g_pProgressDlg, nullptr);
    EXPECT_EQ(fake.encoder->starts(), 3); // start-up, job start, job end
    const std::vector<std::string> lines = fake.log->Lines();
    EXPECT_EQ(fake.log->Count("0 Begin convert each media file\n"), 1u);
    EXPECT_EQ(fake.log->Count("0 Complete convert all file\n"), 1u);
    EXPECT_EQ(fake.log->Count("0 Begin DVD Author\n"), 1u);
    EXPECT_EQ(lines.back(), "0 Complete All Work\n");
}

TEST_F(MainWindow, SmallStreamsAndCrashesGetTheSubstitute) {
    fake.encoder->movies["ok.rm"] = FakeMovie{};
    fake.encoder->movies["crash.rm"] = FakeMovie{};
    fake.encoder->movies["crash.rm"].crashWhileConverting = true;
    fake.encoder->movies["tiny.rm"] = FakeMovie{};
    fake.encoder->movies["tiny.rm"].outputBytes = 10239;
    fake.encoder->movies["exact.rm"] = FakeMovie{};
    fake.encoder->movies["exact.rm"].outputBytes = 10240;
    WriteFile(companion + "default_ntsc_16x9.vob", 40000, 's');
    std::vector<size_t> sizesAtAuthoring;
    Create();
    AddMovies({"ok.rm", "crash.rm", "tiny.rm", "exact.rm"});
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(Status(0), "Completed");
    EXPECT_EQ(Status(1), "Failed");
    EXPECT_EQ(Status(2), "Failed");
    EXPECT_EQ(Status(3), "Completed");
    EXPECT_EQ(fake.log->Count("make Encoderproxy crashed"), 1u);
    EXPECT_EQ(fake.log->Count("1 Convert file:" + movies + "tiny.rm compete and size too small, so failed\n"), 1u);
    EXPECT_EQ(fake.log->Count("1 Convert File:" + movies + "crash.rm to VOB Failed\n"), 1u);
    ASSERT_EQ(fake.authoring->titleContents.size(), 4u);
    EXPECT_EQ(fake.authoring->titleContents[0], std::string(20000, 'v'));
    EXPECT_EQ(fake.authoring->titleContents[1], std::string(40000, 's')); // NTSC 16:9 substitute
    EXPECT_EQ(fake.authoring->titleContents[2], std::string(40000, 's'));
    EXPECT_EQ(fake.authoring->titleContents[3].size(), 10240u);
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 1u);
}

TEST_F(MainWindow, TheSubstituteMatchesTheJobOrFallsBack) {
    fake.encoder->movies["crash.rm"] = FakeMovie{};
    fake.encoder->movies["crash.rm"].crashWhileConverting = true;
    WriteFile(companion + "default_pal_4x3.vob", 50000, 'p');
    FakeAuthoring* authoring = fake.authoring;
    Create();
    // Keep the failed stream's content for inspection by failing the authoring run.
    authoring->failWith = "stop here";
    Click("radioPal");
    Find<QComboBox>("comboAspect")->setCurrentIndex(0);
    AddMovies({"crash.rm"});
    fake.encoder->onConvert = nullptr;
    ASSERT_TRUE(RunJob());
    // The authoring run saw the PAL 4:3 substitute; nothing is left afterwards.
    ASSERT_EQ(authoring->titleContents.size(), 1u);
    EXPECT_EQ(authoring->titleContents[0], std::string(50000, 'p'));
    EXPECT_FALSE(FileExists(work + "crash.vob"));
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 0u);
}

TEST_F(MainWindow, StopDuringTheSecondMovieEndsTheJobAfterIt) {
    for (const char* name : {"a.rm", "b.rm", "c.rm"}) {
        fake.encoder->movies[name] = FakeMovie{};
    }
    fake.encoder->movies["b.rm"].holdUntilStopped = true;
    fake.encoder->movies["b.rm"].holdPasses = 12000; // a minute: the stop must end it
    fake.encoder->onConvert = [this](int index, const CSourceInfo&) {
        if (index == 1) {
            QMetaObject::invokeMethod(
                dlg.get(),
                [] {
                    ASSERT_NE(g_pProgressDlg, nullptr);
                    g_pProgressDlg->OnCancel();
                },
                Qt::QueuedConnection);
        }
    };
    prompts.Answer("Do you really want to stop convert process?", qx::PromptAnswer::Yes);
    Create();
    AddMovies({"a.rm", "b.rm", "c.rm"});
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(fake.encoder->ConvertedSources().size(), 2u);
    EXPECT_EQ(fake.encoder->stops(), 1);
    EXPECT_EQ(Status(0), "Completed");
    EXPECT_EQ(Status(1), "Ready"); // converted after the stop: keeps its status
    EXPECT_EQ(Status(2), "Ready");
    EXPECT_EQ(fake.authoring->runs, 0);
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 0u);
    EXPECT_FALSE(FileExists(work + "a.vob"));
    EXPECT_FALSE(FileExists(work + "b.vob"));
    EXPECT_EQ(fake.log->Lines().back(), "0 User stopped convert process\n");
    EXPECT_EQ(fake.log->Count("0 Stopping Convert Process\n"), 1u);
    EXPECT_TRUE(Find<QPushButton>("btnAddFiles")->isEnabled());
    EXPECT_FALSE(dlg->StopRequested());
}

TEST_F(MainWindow, AnsweringNoToTheStopQuestionChangesNothing) {
    for (const char* name : {"a.rm", "b.rm"}) {
        fake.encoder->movies[name] = FakeMovie{};
    }
    fake.encoder->movies["a.rm"].holdUntilStopped = true; // completes on its own after a while
    fake.encoder->onConvert = [this](int index, const CSourceInfo&) {
        if (index == 0) {
            QMetaObject::invokeMethod(
                dlg.get(), [] { g_pProgressDlg->OnCancel(); }, Qt::QueuedConnection);
        }
    };
    prompts.Answer("Do you really want to stop convert process?", qx::PromptAnswer::No);
    Create();
    AddMovies({"a.rm", "b.rm"});
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(prompts.CountText("Do you really want to stop convert process?"), 1u);
    EXPECT_EQ(fake.encoder->stops(), 0);
    EXPECT_EQ(fake.encoder->ConvertedSources().size(), 2u);
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 1u);
}

TEST_F(MainWindow, ASecondStartDuringAJobIsIgnored) {
    for (const char* name : {"a.rm", "b.rm"}) {
        fake.encoder->movies[name] = FakeMovie{};
    }
    int startsDuringJob = 0;
    fake.encoder->onConvert = [this, &startsDuringJob](int, const CSourceInfo&) {
        // Between two movies no progress window holds the window: press Start there.
        QMetaObject::invokeMethod(
            dlg.get(),
            [this, &startsDuringJob] {
                dlg->OnBtnStartconvert();
                dlg->OnBtnDelete(); // the list cannot change under the job either
                ++startsDuringJob;
            },
            Qt::QueuedConnection);
    };
    Create();
    AddMovies({"a.rm", "b.rm"});
    ASSERT_TRUE(RunJob());
    QTest::qWait(50);
    EXPECT_GE(startsDuringJob, 1);
    EXPECT_EQ(List()->GetItemCount(), 2);
    EXPECT_EQ(fake.encoder->ConvertedSources().size(), 2u);
    EXPECT_EQ(fake.authoring->runs, 1);
}

TEST_F(MainWindow, LeftoverDvdFilesAreDeletedOnlyWithPermission) {
    fake.encoder->movies["a.rm"] = FakeMovie{};
    const std::string videoTs = work + "DVD Movie/VIDEO_TS/";
    fs::create_directories(videoTs);
    WriteFile(videoTs + "VTS_01_1.VOB", 100);
    WriteFile(videoTs + "vts_01_3.vob", 100);
    Create();
    AddMovies({"a.rm"});
    prompts.QueueAnswer(qx::PromptAnswer::Cancel);
    Click("btnStart");
    EXPECT_EQ(prompts.CountText("Found vob or ifo files in folder " + videoTs + " ,delete all of them?"), 1u);
    EXPECT_FALSE(dlg->JobRunning());
    EXPECT_TRUE(FileExists(videoTs + "VTS_01_1.VOB"));

    prompts.Answer("Found vob or ifo files", qx::PromptAnswer::Ok);
    ASSERT_TRUE(RunJob());
    EXPECT_FALSE(FileExists(videoTs + "vts_01_3.vob"));
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 1u);
}

TEST_F(MainWindow, TheUsersFilesInTheWorkFolderSurviveAJob) {
    fake.encoder->movies["a.rm"] = FakeMovie{};
    fake.encoder->movies["b.rm"] = FakeMovie{};
    fake.encoder->movies["b.rm"].crashWhileConverting = true;
    WriteFile(work + "a.vob", 5000, 'U');       // a file the program did not make
    WriteFile(work + "b.vob.part1", 5000, 'U'); // also a part-file name
    Create();
    g_strWorkFolder = work;
    AddMovies({"a.rm", "b.rm"});
    EXPECT_EQ(dlg->Sources()[0].strVobFile, work + "a0.vob");
    EXPECT_EQ(dlg->Sources()[1].strVobFile, work + "b0.vob");
    // A user file appearing after the movie was added is avoided at job start too.
    WriteFile(work + "a0.vob", 5000, 'V');
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(ReadFile(work + "a.vob"), std::string(5000, 'U'));
    EXPECT_EQ(ReadFile(work + "b.vob.part1"), std::string(5000, 'U'));
    EXPECT_EQ(ReadFile(work + "a0.vob"), std::string(5000, 'V'));
    EXPECT_EQ(fake.authoring->titles[0].vobFile, work + "a00.vob");
    EXPECT_FALSE(FileExists(work + "a00.vob"));
    EXPECT_FALSE(FileExists(work + "b0.vob"));
}

TEST_F(MainWindow, AnAuthoringFailureIsShownAndTheListKept) {
    fake.encoder->movies["a.rm"] = FakeMovie{};
    fake.authoring->failWith = "ERR:  Cannot read the stream";
    fake.buildIn->writers = {"D: Writer"};
    fake.buildIn->info.DiscIsInserted = fake.buildIn->info.CanSupport = fake.buildIn->info.isEmpty = true;
    fake.buildIn->info.totalSpaceMB = 4400;
    Create();
    AddMovies({"a.rm"});
    ASSERT_TRUE(Find<QCheckBox>("chkBurn")->isChecked());
    ASSERT_TRUE(RunJob());
    bool shown = false;
    for (const std::string& text : prompts.BoxTexts()) {
        shown |= text.find("ERR:  Cannot read the stream") != std::string::npos;
    }
    EXPECT_TRUE(shown);
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 0u);
    EXPECT_TRUE(fake.buildIn->burned.empty());
    EXPECT_EQ(List()->GetItemCount(), 1);
    EXPECT_FALSE(FileExists(work + "a.vob"));
    EXPECT_TRUE(Find<QPushButton>("btnStart")->isEnabled());
}

TEST_F(MainWindow, BurningWithDeleteTmpEmptiesTheDvdFolder) {
    fake.encoder->movies["a.rm"] = FakeMovie{};
    fake.buildIn->writers = {"D: Writer"};
    fake.buildIn->info.DiscIsInserted = fake.buildIn->info.CanSupport = fake.buildIn->info.isEmpty = true;
    fake.buildIn->info.totalSpaceMB = 4400;
    Create();
    AddMovies({"a.rm"});
    ASSERT_TRUE(Find<QCheckBox>("chkDeleteTmp")->isChecked());
    ASSERT_TRUE(RunJob());
    ASSERT_EQ(fake.buildIn->burned.size(), 1u);
    EXPECT_EQ(fake.buildIn->burned[0], work + "DVD Movie/VIDEO_TS/");
    EXPECT_FALSE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));
    EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS"));
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 1u);
    EXPECT_EQ(fake.log->Count("0 Begin Burn DVD\n"), 1u);
}

TEST_F(MainWindow, NoDiscInTheWriterRefusesTheStart) {
    fake.encoder->movies["a.rm"] = FakeMovie{};
    fake.buildIn->writers = {"D: Writer"};
    Create();
    AddMovies({"a.rm"});
    Click("btnStart");
    EXPECT_EQ(prompts.CountText("No inserted disk! Please insert writable DVD!"), 1u);
    EXPECT_FALSE(dlg->JobRunning());
}

TEST_F(MainWindow, SizeAndFreeSpaceQuestionsCanRefuse) {
    fake.encoder->movies["huge.rm"] = FakeMovie{};
    fake.encoder->movies["huge.rm"].duration = 4251.0 * 1024 / 399 + 1;
    fake.buildIn->writers = {"D: Writer"};
    fake.buildIn->info.DiscIsInserted = fake.buildIn->info.CanSupport = fake.buildIn->info.isEmpty = true;
    fake.buildIn->info.totalSpaceMB = 9000;
    Create();
    AddMovies({"huge.rm"});
    ASSERT_EQ(dlg->TotalSizeMB(), 4251);
    Click("btnStart");
    EXPECT_EQ(prompts.CountText("The target DVD movie is over DVD-D5 size. Do you want to continue?"), 1u);
    EXPECT_EQ(fake.log->Count("0 traget is DVD5 prespace is over it user quit\n"), 1u);
    EXPECT_FALSE(dlg->JobRunning());

    // Free space: a movie far bigger than any test disk (without burning, so the writer is not asked).
    Click("chkBurn");
    fake.encoder->movies["endless.rm"] = FakeMovie{};
    fake.encoder->movies["endless.rm"].duration = 1e9;
    AddMovies({"endless.rm"});
    Click("btnStart");
    bool asked = false;
    for (const std::string& text : prompts.BoxTexts()) {
        asked |= text.rfind("The output folder does not have enough free space ", 0) == 0;
    }
    EXPECT_TRUE(asked);
    EXPECT_FALSE(dlg->JobRunning());
}

TEST_F(MainWindow, CreateDvdMenuIsKeptCountedInTheBudgetAndGivesTheJobItsMenu) {
    fake.encoder->movies["a.rm"] = FakeMovie{};
    fake.encoder->movies["a.rm"].duration = 600;
    Create();
    QCheckBox* menu = Find<QCheckBox>("chkMenu");
    EXPECT_EQ(menu->text(), "Create DVD menu");
    EXPECT_FALSE(menu->isChecked());
    AddMovies({"a.rm"});
    const int without = dlg->TotalSizeMB();
    Click("chkMenu");
    EXPECT_EQ(qx::GetPrivateProfileString("DVDMENU", "create dvd menu", "", settingsFile), "1");
    EXPECT_EQ(dlg->TotalSizeMB(), without + MenuBudgetMB(1));
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(fake.authoring->menuPages, 1);
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 1u);
    dlg.reset();
    fake = MakeFakeParts(companion);
    fake.parts.settingsFile = settingsFile;
    Create(); // the next start keeps the choice
    EXPECT_TRUE(Find<QCheckBox>("chkMenu")->isChecked());
}

TEST_F(MainWindow, ShutdownReplacesTheFinalMessage) {
    fake.encoder->movies["a.rm"] = FakeMovie{};
    Create();
    Click("chkShutdown");
    EXPECT_EQ(qx::GetPrivateProfileString("SHUTDOWN", "shutdown computer", "", settingsFile), "1");
    AddMovies({"a.rm"});
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(fake.power->shutdowns, 1);
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 0u);
    EXPECT_EQ(fake.log->Lines().back(), "0 Shut down compter after Complete All Work\n");
}

TEST_F(MainWindow, ClosingSavesTheOutputSettingsAndEndsTheLog) {
    std::atomic<bool> ended{false};
    fake.log->endedOut = &ended;
    Create();
    Click("radioPal");
    Find<QComboBox>("comboAspect")->setCurrentIndex(0);
    Click("chkKeepAspect");
    dlg->close();
    EXPECT_EQ(qx::GetPrivateProfileString("TVMODE", "TV Mode", "", settingsFile), "PAL");
    EXPECT_EQ(qx::GetPrivateProfileString("ASP", "ASPECT", "", settingsFile), "0");
    EXPECT_EQ(qx::GetPrivateProfileString("ASP", "KEEP ASPECT", "", settingsFile), "0");
    EXPECT_EQ(qx::GetPrivateProfileString("TMPFLD", "temp folder", "", settingsFile), work);
    EXPECT_FALSE(ended);
    dlg.reset();
    EXPECT_TRUE(ended);
}

// Where the desktop has no program for a page, Help, F1 and Home say so and name the file or
// address, instead of doing nothing visible.
TEST_F(MainWindow, HomeAndHelpSayWhenNoProgramOpensThePage) {
    fake.parts.openUrl = [](const std::string&) { return false; };
    Create();
    std::ofstream(companion + "link.ini") << "[Link]\nHome page=https://example.org/qx\n";
    Click("btnHome");
    EXPECT_EQ(prompts.CountText("No program on this desktop opens https://example.org/qx\nOpen it in a web browser."),
              1u);
    fs::create_directories(companion + "help");
    std::ofstream(companion + "help/overview.html") << "<html></html>";
    QTest::keyClick(dlg.get(), Qt::Key_F1);
    EXPECT_EQ(prompts.CountText("No program on this desktop opens " + companion +
                                "help/overview.html\nOpen it in a web browser."),
              1u);

    // The desktop's opener: its exit status decides; one missing altogether opens nothing.
    const std::string bin = FreshFolder("opener-bin");
    std::ofstream(bin + "xdg-open") << "#!/bin/sh\nexit 3\n";
    fs::permissions(bin + "xdg-open", fs::perms::owner_all);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(bin));
    EXPECT_FALSE(OpenWithDesktop("https://example.org/qx"));
    std::ofstream(bin + "xdg-open") << "#!/bin/sh\nexit 0\n";
    EXPECT_TRUE(OpenWithDesktop("https://example.org/qx"));
    fs::remove(bin + "xdg-open");
    EXPECT_FALSE(OpenWithDesktop("https://example.org/qx"));
    qputenv("PATH", path);
}

// A window the user makes wider shows more: the list's columns keep their shares and the last
// one reaches the edge, the preview grows, and the working-folder box holds a usual path.
TEST_F(MainWindow, GrowingTheWindowShowsMore) {
    Create();
    QLineEdit* folder = Find<QLineEdit>("editTempFolder");
    EXPECT_GE(folder->width(), folder->fontMetrics().horizontalAdvance("/home/someone/QXMovieDisc/"));
    CXListCtrl* list = List();
    QWidget* screen = Find<QWidget>("previewScreen");
    const int info = list->GetColumnWidth(1);
    const int screenWidth = screen->width();
    dlg->resize(dlg->width() * 3 / 2, dlg->height() * 3 / 2);
    QCoreApplication::processEvents();
    QTest::qWait(50);
    EXPECT_GT(list->GetColumnWidth(1), info * 5 / 4) << "File Information keeps its start-up width";
    const int columns = list->GetColumnWidth(0) + list->GetColumnWidth(1) + list->GetColumnWidth(2);
    EXPECT_NEAR(columns, list->viewport()->width(), 4) << "the last column does not reach the edge";
    EXPECT_GT(screen->width(), screenWidth) << "the preview does not grow";
    EXPECT_NEAR(screen->height() * 4.0 / 3.0, screen->width(), 4.0) << "the screen lost its 4:3 shape";
}

TEST_F(MainWindow, HomeAndHelpNameMissingFiles) {
    Create();
    Click("btnHome");
    EXPECT_EQ(prompts.CountText("Could not find file " + companion + "link.ini!"), 1u);
    std::ofstream(companion + "link.ini") << "[Link]\nOther=x\n";
    Click("btnHome");
    EXPECT_EQ(prompts.CountText("File " + companion + "link.ini is incorrect!"), 1u);
    QTest::keyClick(dlg.get(), Qt::Key_F1);
    EXPECT_EQ(prompts.CountText("Could not find file " + companion + "help/overview.html!"), 1u);
}

TEST_F(MainWindow, WithoutTheEncoderProgramTheWindowStaysBare) {
    fake.encoder->startFails = true;
    dlg = std::make_unique<CQuilvoVidrevoDlg>(std::move(fake.parts));
    EXPECT_FALSE(dlg->OnInitDialog());
    EXPECT_EQ(
        prompts.CountText("Error on Create Encoder Proxy,\nPlease reinstalled this software, or contact Support."), 1u);
    EXPECT_EQ(Find<CXListCtrl>("listSources")->GetColumnCount(), 0);
}

// A start that failed read no settings into the window: closing it must not write its blank
// controls over the user's settings.
TEST_F(MainWindow, AFailedStartLeavesTheSettingsAlone) {
    const std::string saved =
        "[TMPFLD]\ntemp folder=" + work + "\n[TVMODE]\nTV Mode=PAL\n[ASP]\nASPECT=0\nKEEP ASPECT=0\n";
    std::ofstream(settingsFile) << saved;
    fake.encoder->startFails = true;
    dlg = std::make_unique<CQuilvoVidrevoDlg>(std::move(fake.parts));
    EXPECT_FALSE(dlg->OnInitDialog());
    dlg->close();
    dlg.reset();
    EXPECT_EQ(ReadFile(settingsFile), saved);
}

// What is saved is what the boxes show, however they came to show it; the window manager places
// the window (no move to the screen's corner).
TEST_F(MainWindow, TheKeepAspectBoxIsSavedAsShownAndTheWindowIsNotPlacedByHand) {
    Create();
    EXPECT_FALSE(dlg->testAttribute(Qt::WA_Moved));
    QCheckBox* keep = Find<QCheckBox>("chkKeepAspect");
    keep->setChecked(!keep->isChecked());
    const bool shown = keep->isChecked();
    dlg->close();
    dlg.reset();
    EXPECT_EQ(qx::GetPrivateProfileString("ASP", "KEEP ASPECT", "", settingsFile), shown ? "1" : "0");
}

TEST(Application, ASecondInstanceEndsSilently) {
    EnsureTestApp();
    qx::InstanceLock first;
    ASSERT_EQ(first.Acquire("QXMOVIEDISC"), qx::InstanceLock::State::Acquired);
    TestPrompts prompts;
    qx::SetPrompts(&prompts);
    FakeParts fake = MakeFakeParts(FreshFolder("companion2"));
    std::atomic<int> starts{0};
    fake.encoder->startsOut = &starts;
    EXPECT_EQ(CQuilvoVidrevoApp().InitInstance(std::move(fake.parts)), 0);
    EXPECT_EQ(starts, 0); // no window was made
    EXPECT_TRUE(prompts.Records().empty());
    qx::SetPrompts(nullptr);
}

TEST_F(MainWindow, TheFolderBrowserFillsTheBoxAndSavesEvenWhenCancelled) {
    Create();
    const std::string chosen = FreshFolder("chosen");
    prompts.QueueFolder(chosen);
    Click("btnSelectFolder");
    EXPECT_EQ(Find<QLineEdit>("editTempFolder")->text().toStdString(), chosen);
    EXPECT_EQ(dlg->TempFolder(), chosen);
    EXPECT_EQ(qx::GetPrivateProfileString("TMPFLD", "temp folder", "", settingsFile), chosen);

    Click("radioPal");
    Click("btnSelectFolder"); // cancelled: the four output keys are still written
    EXPECT_EQ(qx::GetPrivateProfileString("TVMODE", "TV Mode", "", settingsFile), "PAL");
    EXPECT_EQ(dlg->TempFolder(), chosen);
}

TEST_F(MainWindow, TheScreenSaverIsHeldOffWhileTheWindowLives) {
    auto* guard = static_cast<FakeScreenSaver*>(fake.parts.screenSaver.get());
    Create();
    EXPECT_TRUE(guard->active());
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
    dlg.reset();
}

TEST_F(MainWindow, AMoviePathTooLongForTheEncoderIsRefusedWhole) {
    std::string folder = movies;
    while (folder.size() < 250) {
        folder += "deeper-folder/";
    }
    fs::create_directories(folder);
    fake.encoder->movies["long.rm"] = FakeMovie{};
    Create();
    AddMovies({"long.rm"}, folder);
    EXPECT_TRUE(dlg->Sources().empty());
    EXPECT_EQ(fake.log->Count("1 Add File:" + folder + "long.rm Failed the path is too long\n"), 1u);
    ASSERT_EQ(prompts.DialogTexts().size(), 1u);
    EXPECT_EQ(prompts.DialogTexts()[0], "Can not support file:\n" + folder + "long.rm");
}

TEST_F(MainWindow, DestroyingTheWindowDuringAJobStopsItCleanly) {
    for (const char* name : {"a.rm", "b.rm"}) {
        fake.encoder->movies[name] = FakeMovie{};
        fake.encoder->movies[name].holdUntilStopped = true;
        fake.encoder->movies[name].holdPasses = 12000;
    }
    std::atomic<int> requests{0};
    fake.encoder->onConvert = [&requests](int, const CSourceInfo&) { ++requests; };
    Create();
    AddMovies({"a.rm", "b.rm"});
    Click("btnStart");
    ASSERT_TRUE(dlg->JobRunning());
    QTest::qWait(50);
    dlg.reset(); // must neither hang nor leave a thread behind
    EXPECT_EQ(requests, 1);
    EXPECT_FALSE(FileExists(work + "a.vob"));
    EXPECT_FALSE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO")); // nothing was authored
}

// The window goes away before the conversion thread has sent its first request: the request that
// follows the first stop must be stopped too, or the window waits for a whole movie.
TEST_F(MainWindow, DestroyingTheWindowBeforeTheFirstConvertRequestDoesNotWaitForTheMovie) {
    fake.encoder->movies["a.rm"] = FakeMovie{};
    fake.encoder->movies["a.rm"].holdUntilStopped = true;
    fake.encoder->movies["a.rm"].holdPasses = 10000000; // far beyond the test's time-out
    fake.encoder->beforeConvert = [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
    std::atomic<int> requests{0};
    fake.encoder->onConvert = [&requests](int, const CSourceInfo&) { ++requests; };
    Create();
    AddMovies({"a.rm"});
    Click("btnStart");
    ASSERT_TRUE(dlg->JobRunning());
    dlg.reset(); // the encoder stand-in goes with the window
    EXPECT_EQ(requests, 1);
    EXPECT_FALSE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));
}

TEST_F(MainWindow, StartPressedAgainDuringAStartQuestionIsIgnored) {
    fake.encoder->movies["a.rm"] = FakeMovie{};
    fs::create_directories(work + "DVD Movie/VIDEO_TS");
    WriteFile(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO", 10);
    int nested = 0;
    prompts.onBox = [this, &nested](const qx::PromptBox& box) {
        if (box.text.find("Found vob or ifo files") != std::string::npos && nested++ == 0) {
            dlg->OnBtnStartconvert();
        }
    };
    prompts.Answer("Found vob or ifo files", qx::PromptAnswer::Ok);
    Create();
    AddMovies({"a.rm"});
    ASSERT_TRUE(RunJob());
    prompts.onBox = nullptr;
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(fake.encoder->ConvertedSources().size(), 1u);
    EXPECT_EQ(fake.authoring->runs, 1);
}

TEST_F(MainWindow, AWorkingFolderTooLongForTheEncoderIsRefusedBeforeItIsMade) {
    fake.encoder->movies["a.rm"] = FakeMovie{};
    Create();
    AddMovies({"a.rm"});
    std::string folder = work;
    while (folder.size() <= 259) {
        folder += "long-folder-name/";
    }
    Find<QLineEdit>("editTempFolder")->setText(QString::fromStdString(folder));
    Click("btnStart");
    EXPECT_EQ(prompts.CountText("The temp folder path is too long (at most 259 bytes):\n" + folder), 1u);
    EXPECT_FALSE(FileExists(folder));
    EXPECT_FALSE(dlg->JobRunning());
}
