// The burn path of the windows against the real built-in engine with virtual writers (image files
// written through libburn): a whole job that ends on a disc, each pre-burn refusal, a failed and a
// cancelled write, the burn-DVD-folder dialog and the writer-information dialog's erase.
#include "BurnDVDMovieDlg.h"
#include "DialogDVDInfo.h"
#include "DvdReaderCheck.h"
#include "Folders.h"
#include "ProfileIni.h"
#include "ProgressDlg.h"
#include "TestProgram.h"
#include "UdfReadSupport.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

struct Writer {
    std::string name = "Virtual DVD-R";
    int media = 5;
    long capacity = 2295104;
    bool written = false;
    std::string fail = "none";
    std::string speeds = "1385,2770,5540";
};

// A DVD+RW that holds data already.
Writer WrittenPlusRw() {
    Writer w;
    w.name = "Virtual DVD+RW";
    w.media = 9;
    w.written = true;
    return w;
}

class VirtualBurn : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        // The real encoder, authoring engine and built-in engine; the log and power stay stand-ins.
        UseRealEncoderAndAuthoring();
        fake.parts.buildInCore.reset();
        fake.buildIn = nullptr;
        images = FreshFolder("images");
        fs::remove(WritersIni());
    }
    void TearDown() override {
        WindowTest::TearDown();
        fs::remove(WritersIni());
    }
    static std::string WritersIni() { return qx::ConfigFolder() + "writers.ini"; }
    // writers.ini with these writers; writer i writes images + "discN.iso".
    void DefineWriters(const std::vector<Writer>& writers) {
        fs::create_directories(qx::ConfigFolder());
        std::ofstream ini(WritersIni(), std::ios::trunc);
        for (size_t i = 0; i < writers.size(); ++i) {
            const Writer& w = writers[i];
            const std::string image = Image(static_cast<int>(i));
            ini << "[Writer " << i + 1 << "]\nname=" << w.name << "\nimage=" << image << "\nmedia=" << w.media
                << "\ncapacity=" << w.capacity << "\nstate=" << (w.written ? "written" : "blank")
                << "\nspeeds=" << w.speeds << "\nfail=" << w.fail << "\n";
            // The image is the disc: a blank disc has none (or an empty one), whatever state= says.
            if (w.written) {
                std::ofstream(image, std::ios::binary) << qxtest::DiscImageBytes(4 * 1024 * 1024, 'w'); // earlier data
            } else {
                fs::remove(image);
            }
        }
        ini.close();
        ASSERT_TRUE(ini.good()) << WritersIni();
    }
    std::string Image(int i) const { return images + "disc" + std::to_string(i + 1) + ".iso"; }
    bool Written(int i) const {
        return qx::GetPrivateProfileString("Writer " + std::to_string(i + 1), "state", "", WritersIni()) == "written";
    }
    // Two short movies in the list, burning ticked with writer 0.
    void PrepareJob(int movieCount = 2) {
        ASSERT_TRUE(MakeRealMediaMovie(movies + "first.rm", "testsrc2", 4));
        std::vector<std::string> paths = {movies + "first.rm"};
        if (movieCount > 1) {
            ASSERT_TRUE(MakeRealMediaMovie(movies + "second.rm", "smptebars", 4));
            paths.push_back(movies + "second.rm");
        }
        Create();
        prompts.QueueFiles(paths);
        Click("btnAddFiles");
        ASSERT_TRUE(dlg->WaitForAddFiles(60000));
        ASSERT_EQ(dlg->Sources().size(), paths.size());
        ASSERT_TRUE(Find<QCheckBox>("chkBurn")->isEnabled());
        if (!Find<QCheckBox>("chkBurn")->isChecked()) {
            Click("chkBurn");
        }
    }
    std::string image0() const { return Image(0); }
    std::string images;
};

TEST_F(VirtualBurn, ATwoMovieJobEndsOnTheDiscAsATwoTitleDvd) {
    Writer plusR;
    plusR.name = "Virtual DVD+R";
    plusR.media = 13;
    DefineWriters({Writer{}, plusR});
    PrepareJob();
    Find<QLineEdit>("editDiscLabel")->setText("TWO MOVIES");
    Find<QCheckBox>("chkDeleteTmp")->setChecked(false);
    std::vector<std::string> burnLines;
    QObject::connect(dlg.get(), &CQuilvoVidrevoDlg::progressChanged,
                     [&](const QString& title, const QString& text, int) {
                         if (title == "Burning Disc...") {
                             burnLines.push_back(text.toStdString());
                         }
                     });
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(prompts.BoxTexts(), std::vector<std::string>{"Mission accomplished!"});
    EXPECT_EQ(dlg->LastBurnOutcome(), BurnOutcome::Done);
    EXPECT_TRUE(Written(0));
    // The image is a two-title DVD that independent readers accept, every file where promised.
    const DvdReadReport report = ReadDvdFolder(image0());
    ASSERT_TRUE(report.opened);
    EXPECT_TRUE(report.complaints.empty()) << report.complaints.front();
    EXPECT_EQ(report.titles.size(), 2u);
    UdfImage udf(image0());
    ASSERT_TRUE(udf.ok());
    EXPECT_EQ(udf.VolumeId(), "TWO MOVIES");
    EXPECT_TRUE(udf.LayoutFaults().empty()) << udf.LayoutFaults().front();
    // The DVD folder stays (temporary files not deleted) ...
    EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));
    // ... and the burn-DVD-folder dialog burns it again, chosen by its parent, onto the second writer.
    BurnOutcome again = BurnOutcome::Refused;
    std::string writerShown;
    prompts.Clear();
    prompts.QueueFolder(work + "DVD Movie/");
    OnNextModal([&](QWidget* modal) {
        auto* burn = qobject_cast<CBurnDVDMovieDlg*>(modal);
        ASSERT_NE(burn, nullptr);
        burn->OnBtnBrowse();
        burn->findChild<QComboBox*>("comboWriters")->setCurrentIndex(1);
        writerShown = burn->findChild<QComboBox*>("comboWriters")->currentText().toStdString();
        burn->findChild<QLineEdit*>("editDiscLabel")->setText("AGAIN");
        again = burn->OnBtnBurn();
    });
    Click("btnBurnFolder");
    EXPECT_EQ(writerShown, "V2 Virtual DVD+R");
    EXPECT_EQ(again, BurnOutcome::Done);
    EXPECT_EQ(prompts.BoxTexts(), std::vector<std::string>{"Mission accomplished!"});
    UdfImage second(Image(1));
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second.VolumeId(), "AGAIN");
    EXPECT_TRUE(second.LayoutFaults().empty());
    EXPECT_EQ(ReadDvdFolder(Image(1)).titles.size(), 2u);
    for (const std::string& line : burnLines) {
        EXPECT_EQ(line.rfind("Writing Data; Total time:", 0), 0u) << line;
    }
}

// The writer list's image entry with no writer at all: "Start now" asks once where the image goes
// (an existing file replaced only after a question), the burn step writes it with the progress
// window, and the success box names it. The burn-DVD-folder window offers the same.
TEST_F(VirtualBurn, TheImageEntryMakesADiscImageWithoutAnyWriter) {
    DefineWriters({});
    PrepareJob(1);
    auto* writers = Find<QComboBox>("comboWriters");
    ASSERT_EQ(writers->currentText(), "Disc image file (.iso)");
    Find<QLineEdit>("editDiscLabel")->setText("HOLIDAY");
    const std::string iso = images + "holiday.iso";
    WriteFile(iso, 10, 'u');
    prompts.QueueSaveFile(images + "holiday"); // ".iso" is added; the replace question gets No
    Click("btnStart");
    EXPECT_FALSE(dlg->JobRunning());
    EXPECT_EQ(ReadFile(iso), std::string(10, 'u'));
    EXPECT_EQ(prompts.CountText(iso + " already exists.\nDo you want to replace it?"), 1u);

    prompts.Clear();
    prompts.Answer("already exists", qx::PromptAnswer::Yes);
    prompts.QueueSaveFile(iso);
    std::vector<std::string> titles;
    QObject::connect(dlg.get(), &CQuilvoVidrevoDlg::progressChanged,
                     [&](const QString& title, const QString&, int) { titles.push_back(title.toStdString()); });
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(prompts.CountText("Mission accomplished!\nThe disc image is " + iso), 1u)
        << ::testing::PrintToString(prompts.BoxTexts());
    EXPECT_EQ(prompts.CountText("No DVD Writer detected! Cannot burn DVD Disk!"), 0u);
    EXPECT_EQ(dlg->LastBurnOutcome(), BurnOutcome::Done);
    EXPECT_NE(std::find(titles.begin(), titles.end(), "Writing disc image..."), titles.end());
    UdfImage image(iso);
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image.VolumeId(), "HOLIDAY");
    EXPECT_TRUE(image.LayoutFaults().empty());
    EXPECT_EQ(ReadDvdFolder(iso).titles.size(), 1u);

    // The burn-DVD-folder window: the same entry writes the folder's image.
    BurnOutcome again = BurnOutcome::Refused;
    prompts.Clear();
    prompts.QueueFolder(work + "DVD Movie/");
    prompts.QueueSaveFile(images + "again.iso");
    OnNextModal([&](QWidget* modal) {
        auto* burn = qobject_cast<CBurnDVDMovieDlg*>(modal);
        ASSERT_NE(burn, nullptr);
        burn->OnBtnBrowse();
        EXPECT_EQ(burn->findChild<QComboBox*>("comboWriters")->currentText(), "Disc image file (.iso)");
        burn->findChild<QLineEdit*>("editDiscLabel")->setText("AGAIN");
        again = burn->OnBtnBurn();
    });
    Click("btnBurnFolder");
    EXPECT_EQ(again, BurnOutcome::Done);
    EXPECT_EQ(prompts.CountText("Mission accomplished!\nThe disc image is " + images + "again.iso"), 1u);
    UdfImage second(images + "again.iso");
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second.VolumeId(), "AGAIN");
}

TEST_F(VirtualBurn, EachUnfitWriterOrDiscRefusesTheJobBeforeConverting) {
    DefineWriters({Writer{}});
    PrepareJob(1);
    const int needed = dlg->TotalSizeMB();
    ASSERT_GE(needed, 1);
    struct Case {
        std::vector<Writer> writers;
        bool dualLayerJob;
        std::string message;
    };
    Writer noDisc, cd, writtenR, small;
    noDisc.media = 14;
    cd.media = 2;
    writtenR.written = true;
    small.capacity = 256; // half a MB
    const std::vector<Case> cases = {
        {{}, false, "No DVD Writer detected! Cannot burn DVD Disk!"},
        {{noDisc}, false, "No inserted disk! Please insert writable DVD!"},
        {{cd}, false, "The inserted disk is invalid! Please inserted writable DVD!"},
        {{writtenR},
         false,
         "The inserted media is writable disk, but it is not blank, and is not erasable!\nPlease Inserted blank "
         "writable DVD Disk!"},
        {{Writer{}}, true, "Now We need a DVD9 type writable DVD Disk.\nThe inserted disk is not DVD9 type!"},
        {{small},
         false,
         "Inserted dvd disk volume:0M is lower then video dvd file volume:" + std::to_string(needed) +
             "M.\n So cannot burn. Please remove some file in dvd."},
    };
    for (const Case& c : cases) {
        DefineWriters(c.writers);
        prompts.Clear();
        if (c.dualLayerJob != (dlg->DiscType() == 1)) {
            Click("btnDiscType");
        }
        Click("btnStart");
        EXPECT_EQ(prompts.CountText(c.message), 1u) << c.message;
        EXPECT_FALSE(dlg->JobRunning()) << c.message;
    }

    // A rewritable disc with data: the erase question; No refuses.
    DefineWriters({WrittenPlusRw()});
    if (dlg->DiscType() == 1) {
        Click("btnDiscType");
    }
    prompts.Clear();
    prompts.Answer("The inserted media is rewritable disk, and is not blank!", qx::PromptAnswer::No);
    Click("btnStart");
    EXPECT_EQ(prompts.BoxTexts().size(), 1u);
    EXPECT_FALSE(dlg->JobRunning());
    EXPECT_TRUE(Written(0));
}

TEST_F(VirtualBurn, YesToTheEraseQuestionErasesTheRewritableDiscAndBurnsIt) {
    DefineWriters({WrittenPlusRw()});
    PrepareJob(1);
    prompts.Answer("The inserted media is rewritable disk, and is not blank!", qx::PromptAnswer::Yes);
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 1u);
    EXPECT_EQ(dlg->LastBurnOutcome(), BurnOutcome::Done);
    const DvdReadReport report = ReadDvdFolder(image0());
    ASSERT_TRUE(report.opened);
    EXPECT_EQ(report.titles.size(), 1u);
}

TEST_F(VirtualBurn, AFailedOrCancelledWriteEndsWithoutSuccessOrShutdownAndKeepsTheFolder) {
    Writer failing;
    failing.fail = "write:50";
    DefineWriters({failing});
    PrepareJob(1);
    Click("chkShutdown");
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(dlg->LastBurnOutcome(), BurnOutcome::Failed);
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 0u);
    EXPECT_EQ(fake.power->shutdowns, 0);
    EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));
    EXPECT_FALSE(FileExists(image0()));
    EXPECT_FALSE(Written(0));

    // Cancel from the progress window while writing (a slow writer), confirmed with Yes.
    Writer slow;
    slow.speeds = "1385"; // 1x: about two seconds for this disc
    DefineWriters({slow});
    Click("btnReloadWriters");
    prompts.Clear();
    prompts.Answer("Do you really want to stop burning", qx::PromptAnswer::Yes);
    prompts.Answer("Found vob or ifo files", qx::PromptAnswer::Ok);
    bool cancelled = false;
    QObject::connect(
        dlg.get(), &CQuilvoVidrevoDlg::progressChanged, [&](const QString& title, const QString& text, int) {
            if (!cancelled && title == "Burning Disc..." && text.startsWith("Writing Data") && g_pProgressDlg) {
                cancelled = true;
                g_pProgressDlg->findChild<QPushButton*>("CancelButton")->click();
            }
        });
    ASSERT_TRUE(RunJob());
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(prompts.CountText("Do you really want to stop burning"), 1u);
    EXPECT_EQ(dlg->LastBurnOutcome(), BurnOutcome::Cancelled);
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 0u);
    EXPECT_EQ(fake.power->shutdowns, 0);
    EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));
    EXPECT_FALSE(FileExists(image0()));
}

// The dialogs alone, with the engine the window would hand them.
class VirtualDialogs : public VirtualBurn {
protected:
    BurnDialogParts Parts() {
        if (!core) {
            AppParts p;
            p.log = std::make_unique<FakeLog>();
            log = static_cast<FakeLog*>(p.log.get());
            p.power = std::make_unique<FakePower>();
            p.screenSaver = std::make_unique<FakeScreenSaver>();
            CompleteAppParts(p);
            appParts = std::move(p);
            core = appParts.buildInCore.get();
            EXPECT_TRUE(core->InitBurnCore());
        }
        BurnDialogParts parts;
        parts.buildIn = core;
        parts.log = [this](int level, const std::string& text) { log->Log(level, text); };
        return parts;
    }
    AppParts appParts;
    BurnCore* core = nullptr;
    FakeLog* log = nullptr;
};

TEST_F(VirtualDialogs, TheInformationDialogShowsAVirtualWriterAndErasesItsWrittenDisc) {
    DefineWriters({WrittenPlusRw()});
    CDialogDVDInfo info(0, 0, Parts());
    auto text = [&](const char* name) { return info.findChild<QLabel*>(name)->text().toStdString(); };
    EXPECT_EQ(text("lblDeviceType").rfind("V1 Virtual DVD+RW", 0), 0u) << text("lblDeviceType");
    EXPECT_EQ(text("lblWriteSpeed"), "4.0x");
    EXPECT_EQ(text("lblDiscType"), "DVD+RW");
    EXPECT_EQ(text("lblAvailableSize"), "4482.6 M");
    EXPECT_EQ(text("lblUsedSize"), "4.0 M");
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(info.findChild<QCheckBox*>(QStringLiteral("chkSupport%1").arg(i))->isChecked()) << i;
    }
    ASSERT_TRUE(info.EraseButton()->isEnabled());
    info.show();
    SaveScreenshot(&info, "writer_info_dialog_virtual");
    EXPECT_EQ(info.OnBtnErase(), BurnOutcome::Done);
    EXPECT_EQ(prompts.BoxTexts(), std::vector<std::string>{"Erase accomplished!"});
    EXPECT_EQ(text("lblUsedSize"), "0");
    EXPECT_FALSE(info.EraseButton()->isEnabled());
    EXPECT_FALSE(Written(0));
    EXPECT_EQ(fs::exists(image0()) ? fs::file_size(image0()) : 0u, 0u);
}

using CliRun = qxtest::ProgramRun;

CliRun Cli(const QStringList& args) {
    return qxtest::RunProgram(QX_BIN_DIR "/qxmoviedisc-cli", args, 240000, true);
}

TEST_F(VirtualBurn, TheConsoleFrontEndBurnsAJobAndSaysWhenItDidNot) {
    ASSERT_TRUE(MakeRealMediaMovie(movies + "first.rm", "testsrc2", 4));
    Writer failing;
    failing.name = "Virtual Failing DVD-R";
    failing.fail = "write:50";
    Writer slow;
    slow.speeds = "1385"; // a progress line or two before the end
    DefineWriters({slow, failing});
    const QString movie = QString::fromStdString(movies + "first.rm");
    const QString folder = QString::fromStdString(work);

    const CliRun burned = Cli({"--work", folder, "--writer", "0", "--label", "CONSOLE", movie});
    EXPECT_EQ(burned.status, 0) << burned.out;
    EXPECT_NE(burned.out.find("Burn: done"), std::string::npos) << burned.out;
    EXPECT_NE(burned.out.find("progress: Burning Disc...: Writing Data; "), std::string::npos) << burned.out;
    UdfImage udf(image0());
    ASSERT_TRUE(udf.ok());
    EXPECT_EQ(udf.VolumeId(), "CONSOLE");
    EXPECT_EQ(ReadDvdFolder(image0()).titles.size(), 1u);

    const CliRun failed = Cli({"--work", folder, "--yes", "--writer", "1", movie});
    EXPECT_EQ(failed.status, 1) << failed.out;
    EXPECT_NE(failed.out.find("Burn: failed"), std::string::npos) << failed.out;
    EXPECT_EQ(failed.out.find("Mission accomplished!"), std::string::npos) << failed.out;
    EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));
    EXPECT_FALSE(FileExists(Image(1)));

    const CliRun noWriter = Cli({"--work", folder, "--writer", "2", movie});
    EXPECT_EQ(noWriter.status, 1) << noWriter.out;
    EXPECT_NE(noWriter.out.find("There is no writer 2 (2 writers"), std::string::npos) << noWriter.out;

    // --burn-folder goes through the burn-DVD-folder dialog's checks.
    const CliRun invalid = Cli({"--burn-folder", QString::fromStdString(FreshFolder("plain")), "--writer", "0"});
    EXPECT_EQ(invalid.status, 1) << invalid.out;
    EXPECT_NE(invalid.out.find("Folder is Invalid! Please select valid Folder"), std::string::npos) << invalid.out;
    EXPECT_NE(invalid.out.find("outcome: refused"), std::string::npos) << invalid.out;
    const CliRun again = Cli({"--burn-folder", QString::fromStdString(work + "DVD Movie"), "--writer", "0"});
    EXPECT_EQ(again.status, 1) << again.out; // the DVD-R is written now
    EXPECT_NE(again.out.find("but it is not blank, and is not erasable!"), std::string::npos) << again.out;
}

} // namespace
