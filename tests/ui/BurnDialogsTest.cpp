// The burn-DVD-folder and writer-information dialogs and the pieces they share with the main
// window (writer-ready check, DVD folder check and measure, outcome words, progress timer), against
// a scripted engine. The same dialogs against virtual writers are tested in tests/app.
#include "BurnDVDMovieDlg.h"
#include "BurnJob.h"
#include "DialogDVDInfo.h"
#include "Folders.h"
#include "LoadingDlg.h"
#include "ProgressDlg.h"
#include "ProgressText.h"
#include "PromptService.h"
#include "ScriptedPromptService.h"
#include "TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kNoWriter = "No DVD Writer detected! Cannot burn DVD Disk!";

// An engine whose answers a test sets; a burn or erase pumps events for `runMs` so that the
// progress timer ticks, with the percentage rising.
class ScriptCore : public BurnCore {
public:
    std::vector<std::string> writers{"V1 Virtual DVD-R"};
    DVDDeviceInfo info;
    BurnOutcome result = BurnOutcome::Done;
    int runMs = 0;
    std::vector<std::string> burned, labels;
    std::vector<bool> verifies;
    std::string verifyFailure; // a failed burn's read-back reason, when set
    int erases = 0, stops = 0, infoAsks = 0;
    int progressPhase = 2;
    std::function<void()> whileRunning; // once, inside the burn's event loop

    bool InitBurnCore() override { return true; }
    void ListWriters(QObject*, const std::function<void(std::vector<std::string>)>& deliver) override {
        deliver(writers);
    }
    int GetWriterInfo(int writer, DVDDeviceInfo* out) override {
        ++infoAsks;
        if (writer < 0 || writer >= static_cast<int>(writers.size()))
            return 0;
        *out = info;
        return 1;
    }
    // Like the engine: a 500 ms timer on the calling thread hands status lines to the progress
    // window while the work runs and the wait loop dispatches events.
    BurnOutcome Run() {
        QElapsedTimer t;
        t.start();
        int percent = 0;
        CProgressTimer timer;
        timer.Start([&] { return BuiltInProgressLine(progressPhase, t.elapsed(), percent, 7); },
                    [this](const ProgressLine& line) {
                        if (onProgressLine) {
                            onProgressLine(line);
                        }
                    });
        while (t.elapsed() < runMs) {
            percent = static_cast<int>(1 + t.elapsed() * 99 / runMs);
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            if (whileRunning) {
                auto f = std::move(whileRunning);
                whileRunning = nullptr;
                f();
            }
            QThread::msleep(10);
        }
        return result;
    }
    BurnOutcome BurnDVDFolder(QObject*, int, const std::string& folder, const std::string& label) override {
        burned.push_back(folder);
        labels.push_back(label);
        verifies.push_back(verifyAfterBurn);
        m_strVerifyFailure = result == BurnOutcome::Failed ? verifyFailure : std::string();
        return Run();
    }
    BurnOutcome EraseDisc(QObject*, int) override {
        ++erases;
        return Run();
    }
    void RequestStopBurn() override { ++stops; }
    void CancelBurn() override {}
};

DVDDeviceInfo BlankDvdR(int totalMB = 4482) {
    DVDDeviceInfo i;
    i.typename_ = "V1 Virtual DVD-R QXMD 1.00";
    i.ReadSpeed = "16.0x";
    i.WriteSpeed = "8.0x";
    i.support[0] = i.support[3] = true;
    i.type = "DVD-R";
    i.totleSpace = std::to_string(totalMB) + ".0 M";
    i.totalSpaceMB = totalMB;
    i.usedSpace = "0.0 M";
    i.DiscIsInserted = i.CanSupport = i.isEmpty = true;
    return i;
}

// A file of `mb` MB without writing its bytes (sparse).
void SparseFile(const std::string& path, off_t mb) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::ftruncate(fd, mb * 1024 * 1024), 0);
    ::close(fd);
}

// A VIDEO_TS folder holding `mb` MB in one VOB plus a small information file.
std::string DvdFolder(off_t mb, const char* name = "VIDEO_TS") {
    const std::string parent = qxtest::FreshFolder("dvd");
    const std::string folder = parent + name + "/";
    ::mkdir(folder.c_str(), 0755);
    qxtest::WriteFile(folder + "VIDEO_TS.IFO", std::string(12288, 'i'));
    if (mb > 0)
        SparseFile(folder + "VTS_01_1.VOB", mb);
    return folder;
}

class BurnDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        qxtest::EnsureApp();
        qx::SetPrompts(&prompts);
        CProgressDlg::ResetMainShowState();
        core.info = BlankDvdR();
        parts.buildIn = &core;
        parts.log = [this](int level, const std::string& text) { log.push_back(std::to_string(level) + " " + text); };
        parts.openHelp = [this] { ++helpOpened; };
    }
    void TearDown() override {
        DestroyProgressDlg();
        qx::SetPrompts(nullptr);
    }
    bool Logged(const std::string& line) const { return std::find(log.begin(), log.end(), "0 " + line) != log.end(); }
    std::vector<std::string> Boxes() const { return prompts.BoxTexts(); }
    WriterCheck Check(int target, int required) {
        WriterCheck c;
        c.core = &core;
        c.writer = 0;
        c.target = target;
        c.requiredMB = required;
        c.logPrefix = "PreduceDialog Check Writer ready";
        c.log = parts.log;
        return c;
    }

    qx::ScriptedPromptService prompts;
    ScriptCore core;
    BurnDialogParts parts;
    std::vector<std::string> log;
    int helpOpened = 0;
};

TEST_F(BurnDialogs, FolderCheckFindsVideoTsInAnyCaseAndMeasuresOnlyItsOwnFiles) {
    const std::string upper = DvdFolder(0);
    std::string f = upper;
    EXPECT_TRUE(CheckDvdFolder(&f));
    EXPECT_EQ(f, upper); // its own name: unchanged
    const std::string parent = upper.substr(0, upper.size() - 9);
    f = parent;
    EXPECT_TRUE(CheckDvdFolder(&f));
    EXPECT_EQ(f, upper); // the parent becomes its VIDEO_TS folder

    const std::string lower = DvdFolder(0, "video_ts");
    f = lower.substr(0, lower.size() - 9);
    EXPECT_TRUE(CheckDvdFolder(&f));
    EXPECT_EQ(f, lower); // the name keeps its case
    f = lower;
    EXPECT_TRUE(CheckDvdFolder(&f));
    EXPECT_EQ(f, lower);

    // No VIDEO_TS inside, or only a file of that name: invalid and unchanged.
    const std::string none = qxtest::FreshFolder("nodvd");
    f = none;
    EXPECT_FALSE(CheckDvdFolder(&f));
    EXPECT_EQ(f, none);
    qxtest::WriteFile(none + "VIDEO_TS", "not a folder");
    EXPECT_FALSE(CheckDvdFolder(&f));
    std::string empty;
    EXPECT_FALSE(CheckDvdFolder(&empty));

    // Whole MB per file; files below 1 MB and sub-folders count nothing.
    const std::string sized = DvdFolder(3);
    SparseFile(sized + "VTS_01_2.VOB", 2);
    qxtest::WriteFile(sized + "VTS_01_0.BUP", std::string(1024 * 1024 - 1, 'b'));
    ::mkdir((sized + "sub").c_str(), 0755);
    SparseFile(sized + "sub/big.VOB", 50);
    EXPECT_EQ(DvdFolderSizeMB(sized), 5.0);
    EXPECT_EQ(DvdFolderSizeMB(sized.substr(0, sized.size() - 1)), 5.0); // without the trailing '/'
    EXPECT_EQ(DvdFolderSizeMB(DvdFolder(0)), 0.0);
    EXPECT_EQ(DvdFolderSizeMB(none + "missing/"), 0.0);
}

TEST_F(BurnDialogs, FolderSizesChooseTheDiscAndExactly8100NeedsADualLayerDisc) {
    EXPECT_EQ(DiscForFolder(0), FolderDisc::TooSmall);
    EXPECT_EQ(DiscForFolder(0.5), FolderDisc::TooSmall);
    EXPECT_EQ(DiscForFolder(1), FolderDisc::SingleLayer);
    EXPECT_EQ(DiscForFolder(4250), FolderDisc::SingleLayer);
    EXPECT_EQ(DiscForFolder(4251), FolderDisc::DualLayer);
    EXPECT_EQ(DiscForFolder(8100), FolderDisc::DualLayer);
    EXPECT_EQ(DiscForFolder(8101), FolderDisc::TooBig);
    EXPECT_EQ(BurnOutcomeMessage(BurnOutcome::Done), "Mission accomplished!");
    EXPECT_EQ(EraseOutcomeMessage(BurnOutcome::Done), "Erase accomplished!");
    for (BurnOutcome o : {BurnOutcome::Refused, BurnOutcome::Failed, BurnOutcome::Cancelled}) {
        EXPECT_EQ(BurnOutcomeMessage(o).find("accomplished"), std::string::npos);
        EXPECT_EQ(EraseOutcomeMessage(o).find("accomplished"), std::string::npos);
    }
}

TEST_F(BurnDialogs, WriterCheckRefusesEachUnfitDiscWithItsMessage) {
    struct Case {
        std::function<void(DVDDeviceInfo&)> change;
        int target, required;
        const char* message; // null: accepted without a box
    } cases[] = {
        {[](DVDDeviceInfo& i) { i.DiscIsInserted = false; }, 0, 100, "No inserted disk! Please insert writable DVD!"},
        {[](DVDDeviceInfo& i) { i.CanSupport = false; }, 0, 100,
         "The inserted disk is invalid! Please inserted writable DVD!"},
        {[](DVDDeviceInfo& i) { i.isEmpty = false; }, 0, 100,
         "The inserted media is writable disk, but it is not blank, and is not erasable!\nPlease Inserted blank "
         "writable DVD Disk!"},
        {[](DVDDeviceInfo&) {}, 1, 100,
         "Now We need a DVD9 type writable DVD Disk.\nThe inserted disk is not DVD9 type!"},
        {[](DVDDeviceInfo&) {}, 0, 4483,
         "Inserted dvd disk volume:4482M is lower then video dvd file volume:4483M.\n So cannot burn. Please remove "
         "some file in dvd."},
        {[](DVDDeviceInfo&) {}, 0, 4482, nullptr},
        {[](DVDDeviceInfo& i) { i.m_bD9 = true; }, 1, 4000, nullptr},
    };
    for (const Case& c : cases) {
        prompts.Clear();
        core.info = BlankDvdR();
        c.change(core.info);
        EXPECT_EQ(CheckWriterReady(Check(c.target, c.required)), c.message ? 0 : 1) << (c.message ? c.message : "ok");
        if (c.message)
            EXPECT_EQ(Boxes(), std::vector<std::string>{c.message});
        else
            EXPECT_TRUE(Boxes().empty());
    }
    EXPECT_TRUE(Logged("Inserted dvd disk volume:4482M is lower then video dvd file volume:4483M.\n"));
    EXPECT_TRUE(Logged("PreduceDialog Check Writer ready resault:1\n"));
    EXPECT_TRUE(
        Logged("PreduceDialog Check Writer ready \n        DeviceInfo: typename: V1 Virtual DVD-R QXMD 1.00, "
               "ReadSpeed:16.0x, WriteSpeed:8.0x, \n        support:100100\n        DiscInfo: type:DVD-R, "
               "totleSpace:4482.0 M, m_bD9:0, \n        DiscIsInserted:1, CanSupport:1, CanErase:0, isEmpty:1\n"));

    // A rewritable disc with data asks first; only Yes goes on.
    core.info = BlankDvdR();
    core.info.isEmpty = false;
    core.info.CanErase = true;
    for (qx::PromptAnswer answer : {qx::PromptAnswer::No, qx::PromptAnswer::Yes}) {
        prompts.Clear();
        prompts.QueueAnswer(answer);
        EXPECT_EQ(CheckWriterReady(Check(0, 100)), answer == qx::PromptAnswer::Yes ? 1 : 0);
        ASSERT_EQ(prompts.Records().size(), 1u);
        EXPECT_EQ(prompts.Records()[0].buttons, qx::PromptButtons::YesNo);
    }
    // No writer at the index, or no engine at all.
    prompts.Clear();
    core.writers.clear();
    EXPECT_EQ(CheckWriterReady(Check(0, 100)), 0);
    WriterCheck noCore = Check(0, 100);
    noCore.core = nullptr;
    EXPECT_EQ(CheckWriterReady(noCore), 0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{kNoWriter, kNoWriter}));
    EXPECT_TRUE(Logged("PreduceDialog Check Writer ready resault:0\n"));
}

TEST_F(BurnDialogs, BurnFolderDialogOpensWithTheWritersAndItsTips) {
    core.writers = {"V1 Virtual DVD-R", "V2 Virtual DVD+RW"};
    CBurnDVDMovieDlg dlg(0, parts);
    auto* cores = dlg.findChild<QComboBox*>("comboBurnEngine");
    auto* writers = dlg.findChild<QComboBox*>("comboWriters");
    EXPECT_EQ(cores->count(), 1); // no second engine offered
    EXPECT_EQ(cores->currentText(), "Build-in");
    EXPECT_EQ(writers->count(), 3);
    EXPECT_EQ(writers->itemText(2), "Disc image file (.iso)");
    EXPECT_EQ(writers->currentIndex(), 0);
    EXPECT_TRUE(dlg.findChild<QPushButton*>("btnBurn")->isEnabled());
    EXPECT_TRUE(dlg.findChild<QLineEdit*>("editDiscLabel")->text().isEmpty());
    EXPECT_TRUE(Logged("Burn DVD Movie Dialog Detected dvd writer Number: 2! name is: V1 Virtual DVD-R; V2 Virtual "
                       "DVD+RW; \n"));
    for (const char* name : {"btnBrowse", "editDVDFolder"}) {
        const QString tip = dlg.findChild<QWidget*>(name)->toolTip();
        EXPECT_TRUE(tip.contains(CBurnDVDMovieDlg::kTipTitle)) << name;
        EXPECT_TRUE(tip.contains("Please select the folder 'VIDEO_TS'")) << name;
        EXPECT_EQ(dlg.findChild<QWidget*>(name)->toolTipDuration(), 60000);
    }
    EXPECT_EQ(dlg.findChild<QWidget*>("btnWriterInfo")->toolTip(), "DVD Writer Device Detail Information");
    EXPECT_EQ(dlg.findChild<QWidget*>("btnReloadWriters")->toolTip(), "Reload DVD Writer Device");
    emit dlg.HelpLink()->linkActivated("help");
    EXPECT_EQ(helpOpened, 1);
    EXPECT_EQ(dlg.OnHelpLink(0), 1);
    EXPECT_EQ(helpOpened, 1);

    // Browsing: a cancelled browser keeps the folder.
    prompts.QueueFolder("/tmp/some/where");
    dlg.OnBtnBrowse();
    EXPECT_EQ(dlg.DVDFolder(), "/tmp/some/where/");
    prompts.QueueFolder("");
    dlg.OnBtnBrowse();
    EXPECT_EQ(dlg.DVDFolder(), "/tmp/some/where/");

    // No writer: the message; the image file is left to choose and Burn makes it.
    core.writers.clear();
    dlg.findChild<QPushButton*>("btnReloadWriters")->click();
    EXPECT_EQ(Boxes().back(), kNoWriter);
    EXPECT_EQ(writers->count(), 1);
    EXPECT_EQ(writers->currentText(), "Disc image file (.iso)");
    EXPECT_TRUE(dlg.findChild<QPushButton*>("btnBurn")->isEnabled());
    EXPECT_TRUE(Logged("Burn DVD Movie Dialog no Detected dvd writer!\n"));
    core.writers = {"V1 Virtual DVD-R"};
    dlg.findChild<QPushButton*>("btnReloadWriters")->click();
    EXPECT_EQ(writers->currentText(), "Disc image file (.iso)") << "the image file stays chosen";
}

TEST_F(BurnDialogs, BurnFolderDialogRefusesBadFoldersAndClosesItsLoadingWindow) {
    CBurnDVDMovieDlg dlg(0, parts);
    struct Case {
        std::string folder;
        const char* message;
    } cases[] = {
        {"", "Folder is empty! Please select valid Folder"},
        {qxtest::FreshFolder("plain"), "Folder is Invalid! Please select valid Folder"},
        {DvdFolder(0), "Selected DVD File System is too small! Please check it and try again."},
        {DvdFolder(8101), "Selected DVD file size is over DVD9_SIZE! It can not be burned."},
    };
    for (const Case& c : cases) {
        prompts.Clear();
        dlg.SetDVDFolder(c.folder);
        EXPECT_EQ(dlg.OnBtnBurn(), BurnOutcome::Refused);
        EXPECT_EQ(Boxes(), std::vector<std::string>{c.message});
        EXPECT_EQ(dlg.findChild<CLoadingDlg*>(), nullptr);
        EXPECT_TRUE(dlg.isEnabled());
    }
    EXPECT_TRUE(core.burned.empty());
    EXPECT_TRUE(Logged("User Select a empty folder.\n"));
    EXPECT_TRUE(Logged("Selected DVD File System is too small!\n"));
    EXPECT_TRUE(Logged("Burn DVD Movie Dialog no Check DVD Folder Volume is 8101.0 Mover DVD9_SIZE:8100.0. Burn "
                       "process return\n"));

    // 4251 MB and exactly 8100 MB want a dual-layer disc: a single-layer disc is refused.
    for (off_t mb : {4251, 8100}) {
        prompts.Clear();
        dlg.SetDVDFolder(DvdFolder(mb));
        EXPECT_EQ(dlg.OnBtnBurn(), BurnOutcome::Refused);
        EXPECT_EQ(Boxes(), std::vector<std::string>{
                               "Now We need a DVD9 type writable DVD Disk.\nThe inserted disk is not DVD9 type!"});
        EXPECT_TRUE(Logged("Burn DVD Movie Dialog Get DVD Folder Volume:" + std::to_string(mb) + ".0, dvd_type:1\n"));
    }
    EXPECT_TRUE(Logged("Burn DVD Movie Dialog Check Writer ready resault:1\n"));
    EXPECT_TRUE(core.burned.empty());
}

TEST_F(BurnDialogs, BurnFolderDialogBurnsWithProgressAndSaysHowItEnded) {
    CBurnDVDMovieDlg dlg(0, parts);
    dlg.show();
    const std::string video = DvdFolder(5);
    dlg.SetDVDFolder(video.substr(0, video.size() - 9)); // the parent: its VIDEO_TS is burned
    dlg.findChild<QLineEdit*>("editDiscLabel")->setText("HOLIDAY");
    core.runMs = 1300;
    std::vector<std::string> seen;
    bool ownerDisabled = false;
    core.whileRunning = [&] { ownerDisabled = !dlg.isEnabled(); };
    // Cancel in the progress window: the dialog logs and asks the engine.
    QTimer::singleShot(700, [&] {
        ASSERT_NE(g_pProgressDlg, nullptr);
        seen.push_back(g_pProgressDlg->windowTitle().toStdString());
        seen.push_back(g_pProgressDlg->StatusText());
        qxtest::SaveScreenshot(g_pProgressDlg, "burn_progress_window");
        g_pProgressDlg->findChild<QPushButton*>("CancelButton")->click();
    });
    EXPECT_EQ(dlg.OnBtnBurn(), BurnOutcome::Done);
    ASSERT_EQ(core.burned.size(), 1u);
    EXPECT_EQ(core.burned[0], video);
    EXPECT_EQ(core.labels[0], "HOLIDAY");
    EXPECT_TRUE(ownerDisabled);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "Burning Disc...");
    EXPECT_EQ(seen[1].rfind("Writing Data; Total time:", 0), 0u) << seen[1];
    EXPECT_EQ(core.stops, 1);
    EXPECT_TRUE(Logged("Burn DVD Movie Dialog User stop burn!\n"));
    EXPECT_EQ(g_pProgressDlg, nullptr);
    EXPECT_TRUE(dlg.isEnabled());
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Mission accomplished!"});
    EXPECT_TRUE(Logged("Burn DVD Movie Dialog Start ProgressDialog burnCore:0, \n        writer:0, dvdPath:" + video +
                       ", volume:HOLIDAY\n"));
    EXPECT_TRUE(Logged("Burn DVD Movie Dialog Burnning Complete!\n"));

    // A failed or cancelled burn never says "Mission accomplished!".
    core.runMs = 0;
    for (BurnOutcome o : {BurnOutcome::Failed, BurnOutcome::Cancelled, BurnOutcome::Refused}) {
        prompts.Clear();
        core.result = o;
        EXPECT_EQ(dlg.OnBtnBurn(), o);
        EXPECT_EQ(Boxes(), std::vector<std::string>{BurnOutcomeMessage(o, qx::LogFilePath())});
    }
    dlg.hide();
    EXPECT_TRUE(qxtest::SaveScreenshot(&dlg, "burn_dvd_folder_dialog"));
}

// The dialog's "Verify disc after burning" starts as the main window's box and reaches the engine; the
// read-back shows in the progress window as its own phase; a failed one is named in the outcome's box.
TEST_F(BurnDialogs, BurnFolderDialogVerifiesAsItsBoxSaysAndTellsAFailedReadBack) {
    parts.verifyAfterBurn = false;
    CBurnDVDMovieDlg dlg(0, parts);
    dlg.show();
    QCheckBox* verify = dlg.findChild<QCheckBox*>("chkVerify");
    ASSERT_NE(verify, nullptr);
    EXPECT_EQ(verify->text(), "Verify disc after burning");
    EXPECT_FALSE(verify->isChecked());
    dlg.SetDVDFolder(DvdFolder(5));
    EXPECT_EQ(dlg.OnBtnBurn(), BurnOutcome::Done);
    verify->click();
    core.runMs = 1300;
    core.progressPhase = 3;
    std::string status;
    QTimer::singleShot(700, [&] { status = g_pProgressDlg ? g_pProgressDlg->StatusText() : std::string(); });
    EXPECT_EQ(dlg.OnBtnBurn(), BurnOutcome::Done);
    EXPECT_EQ(core.verifies, (std::vector<bool>{false, true}));
    EXPECT_EQ(status.rfind("Verifying Data; Total time:", 0), 0u) << status;

    core.runMs = 0;
    core.result = BurnOutcome::Failed;
    core.verifyFailure = "sector 9 could not be read back: nothing: the disc ends after 9 readable sectors";
    prompts.Clear();
    EXPECT_EQ(dlg.OnBtnBurn(), BurnOutcome::Failed);
    EXPECT_EQ(Boxes(), std::vector<std::string>{VerifyFailureMessage(core.verifyFailure, qx::LogFilePath())});
    EXPECT_NE(std::find(log.begin(), log.end(), "1 Burn DVD Movie Dialog verify failed: " + core.verifyFailure + "\n"),
              log.end());
}

TEST_F(BurnDialogs, InfoDialogShowsTheWriterAndErasesOnlyARewritableDiscWithData) {
    core.info = BlankDvdR();
    core.info.type = "DVD+RW";
    core.info.support[4] = true;
    core.info.usedSpace = "812.5 M";
    core.info.isEmpty = false;
    core.info.CanErase = true;
    CDialogDVDInfo dlg(0, 0, parts);
    EXPECT_EQ(dlg.windowTitle(), "DVD Driver Info");
    auto text = [&](const char* name) { return dlg.findChild<QLabel*>(name)->text().toStdString(); };
    EXPECT_EQ(text("lblDeviceType"), "V1 Virtual DVD-R QXMD 1.00");
    EXPECT_EQ(text("lblReadSpeed"), "16.0x");
    EXPECT_EQ(text("lblWriteSpeed"), "8.0x");
    EXPECT_EQ(text("lblDiscType"), "DVD+RW");
    EXPECT_EQ(text("lblAvailableSize"), "4482.0 M");
    EXPECT_EQ(text("lblUsedSize"), "812.5 M");
    const bool expected[6] = {true, false, false, true, true, false};
    for (int i = 0; i < 6; ++i) {
        auto* box = dlg.findChild<QCheckBox*>(QStringLiteral("chkSupport%1").arg(i));
        EXPECT_EQ(box->isChecked(), expected[i]) << i;
        EXPECT_FALSE(box->isEnabled()) << i;
    }
    EXPECT_TRUE(dlg.EraseButton()->isEnabled());
    EXPECT_TRUE(Logged("DVD Device Info Dialog Begin to Get Device info burn core:0, writer:0\n"));
    dlg.show();
    EXPECT_TRUE(qxtest::SaveScreenshot(&dlg, "writer_info_dialog"));

    // A failed erase says so and shows the disc as it is now.
    core.result = BurnOutcome::Failed;
    core.progressPhase = 1;
    core.info.usedSpace = "100.0 M";
    EXPECT_EQ(dlg.OnBtnErase(), BurnOutcome::Failed);
    EXPECT_EQ(Boxes(), std::vector<std::string>{EraseOutcomeMessage(BurnOutcome::Failed, qx::LogFilePath())});
    EXPECT_EQ(text("lblUsedSize"), "100.0 M");
    EXPECT_TRUE(dlg.EraseButton()->isEnabled());

    // A done erase: "Erase accomplished!", used size 0, Erase disabled.
    prompts.Clear();
    core.result = BurnOutcome::Done;
    core.runMs = 1500; // the look at 550 ms falls well inside the erase, even on a loaded machine
    std::string status;
    QTimer::singleShot(550, [&] { status = g_pProgressDlg ? g_pProgressDlg->StatusText() : "no window"; });
    EXPECT_EQ(dlg.OnBtnErase(), BurnOutcome::Done);
    EXPECT_EQ(status.rfind("Erasing Disc; Total time:", 0), 0u) << status;
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Erase accomplished!"});
    EXPECT_EQ(text("lblUsedSize"), "0");
    EXPECT_FALSE(dlg.EraseButton()->isEnabled());
    EXPECT_EQ(core.erases, 2);

    // The disc gone before the second read: nothing is erased.
    prompts.Clear();
    core.info.DiscIsInserted = false;
    EXPECT_EQ(dlg.OnBtnErase(), BurnOutcome::Refused);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"The inserted disk cannot be erased!"});
    EXPECT_EQ(core.erases, 2);
}

TEST_F(BurnDialogs, InfoDialogWithoutAWriterKeepsItsPlaceholders) {
    core.writers.clear();
    CDialogDVDInfo dlg(0, 0, parts);
    EXPECT_EQ(Boxes(), std::vector<std::string>{kNoWriter});
    EXPECT_EQ(dlg.findChild<QLabel*>("lblReadSpeed")->text(), "MaxReadSpeed");
    EXPECT_FALSE(dlg.EraseButton()->isEnabled());
    EXPECT_TRUE(Logged("DVD Device Info Dialog Get Device info failed\n"));
    prompts.Clear();
    CDialogDVDInfo other(5, 0, parts); // no such engine
    EXPECT_EQ(Boxes(), std::vector<std::string>{kNoWriter});
}

} // namespace
