// The main window's burn path against a stand-in engine: what a job says and keeps after each burn
// outcome, and the two burn dialogs opened from the window.
#include "AppTestSupport.h"
#include "NeroBinding.h"
#include "ProgressDlg.h"
#include "Registry.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

class MainWindowBurn : public WindowTest {
protected:
    void ReadyWriter() {
        fake.encoder->movies["a.rm"] = FakeMovie{};
        fake.buildIn->writers = {"V1 Virtual DVD-R"};
        fake.buildIn->info.DiscIsInserted = fake.buildIn->info.CanSupport = fake.buildIn->info.isEmpty = true;
        fake.buildIn->info.totalSpaceMB = 4400;
    }
};

TEST_F(MainWindowBurn, ABurnThatDidNotSucceedKeepsTheFolderAndNeverShutsDown) {
    for (BurnOutcome outcome : {BurnOutcome::Failed, BurnOutcome::Cancelled, BurnOutcome::Refused}) {
        SetUp();
        prompts.Clear();
        ReadyWriter();
        fake.buildIn->burnResult = outcome;
        Create();
        Click("chkShutdown");
        ASSERT_TRUE(Find<QCheckBox>("chkDeleteTmp")->isChecked());
        Find<QLineEdit>("editDiscLabel")->setText("TRIP");
        AddMovies({"a.rm"});
        ASSERT_TRUE(RunJob());
        ASSERT_EQ(fake.buildIn->burned.size(), 1u);
        EXPECT_EQ(fake.buildIn->labels[0], "TRIP");
        EXPECT_EQ(dlg->LastBurnOutcome(), outcome);
        EXPECT_FALSE(dlg->LastJobAccomplished());
        EXPECT_EQ(prompts.CountText("Mission accomplished!"), 0u);
        EXPECT_EQ(fake.power->shutdowns, 0) << BurnOutcomeName(outcome);
        EXPECT_TRUE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO")) << BurnOutcomeName(outcome);
        bool told = false;
        for (const std::string& text : prompts.BoxTexts()) {
            told |= text.find("The DVD folder is kept in " + work + "DVD Movie/VIDEO_TS/") != std::string::npos;
        }
        EXPECT_TRUE(told);
        EXPECT_EQ(fake.log->Count(std::string("1 Burn DVD ") + BurnOutcomeName(outcome) + "\n"), 1u);
        EXPECT_EQ(fake.log->Count("0 Burn Complete!\n"), 1u);
        EXPECT_FALSE(FileExists(work + "a.vob"));
        EXPECT_EQ(g_pProgressDlg, nullptr);
        EXPECT_TRUE(Find<QPushButton>("btnStart")->isEnabled());
        TearDown();
    }
}

TEST_F(MainWindowBurn, ADoneBurnWithShutdownCleansUpAndShutsDown) {
    ReadyWriter();
    fake.buildIn->progressLine = "Writing Data; Total time:00:00:10; Elapsed Time:00:00:04; Finished 42.00%;";
    Create();
    QSignalSpy progress(dlg.get(), &CQuilvoVidrevoDlg::progressChanged);
    Click("chkShutdown");
    AddMovies({"a.rm"});
    ASSERT_TRUE(RunJob());
    EXPECT_EQ(dlg->LastBurnOutcome(), BurnOutcome::Done);
    EXPECT_EQ(fake.power->shutdowns, 1);
    EXPECT_FALSE(FileExists(work + "DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));
    EXPECT_EQ(prompts.CountText("Mission accomplished!"), 0u);
    // The engine's status line reached the window's listeners (the console front-end prints them).
    bool told = false;
    for (const QList<QVariant>& args : progress) {
        told |= args[0].toString() == "Burning Disc..." && args[1].toString() == fake.buildIn->progressLine.c_str() &&
                args[2].toInt() == 42;
    }
    EXPECT_TRUE(told);
}

TEST_F(MainWindowBurn, TheWriterButtonsOpenTheDialogsWithTheWindowsSelections) {
    fake.buildIn->writers = {"V1 Virtual DVD-R", "V2 Virtual DVD+RW"};
    fake.buildIn->info.typename_ = "V2 Virtual DVD+RW QXMD";
    Create();
    Find<QComboBox>("comboWriters")->setCurrentIndex(1);
    std::string title, type;
    OnNextModal([&](QWidget* modal) {
        title = modal->windowTitle().toStdString();
        type = modal->findChild<QLabel*>("lblDeviceType")->text().toStdString();
    });
    Click("btnWriterInfo");
    EXPECT_EQ(title, "DVD Driver Info");
    EXPECT_EQ(type, "V2 Virtual DVD+RW QXMD");
    EXPECT_EQ(fake.log->Count("0 DVD Device Info Dialog Begin to Get Device info burn core:0, writer:1\n"), 1u);

    // The burn-folder dialog starts at the first writer; afterwards the window lists its writers
    // again (a writer that appeared meanwhile shows up).
    int dialogWriter = -1;
    const int listingsBefore = fake.buildIn->listings;
    OnNextModal([&](QWidget* modal) {
        dialogWriter = modal->findChild<QComboBox*>("comboWriters")->currentIndex();
        fake.buildIn->writers.push_back("V3 Virtual DVD+R DL");
    });
    Click("btnBurnFolder");
    EXPECT_EQ(dialogWriter, 0);
    EXPECT_EQ(fake.buildIn->listings, listingsBefore + 2);
    EXPECT_EQ(Find<QComboBox>("comboWriters")->count(), 4); // and the image entry
    EXPECT_EQ(Find<QComboBox>("comboWriters")->currentIndex(), 1);
}

} // namespace

// The real second core behind the window: offered and preferred only when the registry leads to a
// library of version 7.2 or later.
TEST_F(MainWindowBurn, TheSecondCoreIsOfferedByTheRegistryAndItsLibraryVersion) {
    struct Case {
        std::string folder; // empty: no registry entry
        int engines;
        std::string firstWriter;
    };
    const std::string fakes = QX_FAKE_NERO_DIR;
    for (const Case& c : {Case{"", 1, ""}, Case{fakes + "old", 1, ""}, Case{fakes + "full/", 2, "E: DVD Writer A"}}) {
        std::remove(qx::RegistryFile().c_str());
        if (!c.folder.empty()) {
            ASSERT_TRUE(qx::RegSetString(kNeroSharedKey, kNeroSharedValue, c.folder).ok());
        }
        fake = MakeFakeParts(companion);
        fake.parts.settingsFile = settingsFile;
        fake.parts.neroCore.reset(); // the real one
        fake.nero = nullptr;
        Create();
        auto* engines = Find<QComboBox>("comboBurnEngine");
        EXPECT_EQ(engines->count(), c.engines) << c.folder;
        EXPECT_EQ(engines->currentIndex(), c.engines - 1) << c.folder;
        if (!c.firstWriter.empty()) {
            EXPECT_EQ(Find<QComboBox>("comboWriters")->itemText(0).toStdString(), c.firstWriter);
        }
        dlg.reset();
    }
    std::remove(qx::RegistryFile().c_str());
}
