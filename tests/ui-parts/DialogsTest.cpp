// The decoder-download, unsupported-file and loading dialogs and the link lookup: exact texts,
// what a missing link file does, what runs on which thread, and owner disabling.
#include "HyperLink.h"
#include "InfoDialogs.h"
#include "LinkIni.h"
#include "LoadingDlg.h"
#include "PromptService.h"
#include "ScriptedPromptService.h"
#include "TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        qxtest::EnsureApp();
        qx::SetPrompts(&prompts);
        SetLinkIniPath("");
    }
    void TearDown() override {
        qx::SetPrompts(nullptr);
        SetLinkIniPath("");
    }
    std::string LinkFile(const std::string& contents) {
        const std::string file = qxtest::FreshFolder("links") + "link.ini";
        qxtest::WriteFile(file, contents);
        return file;
    }
    static std::string Label(QWidget* w, const char* name) {
        auto* l = w->findChild<QLabel*>(name);
        return l ? l->text().toStdString() : "<missing " + std::string(name) + ">";
    }
    // Presses the named button of the first modal dialog that appears; remembers the dialog's texts.
    void PressWhenShown(const char* button) {
        QTimer::singleShot(20, qApp, [this, button] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                return PressWhenShown(button);
            shownTitle = modal->windowTitle().toStdString();
            if (auto* edit = modal->findChild<QLineEdit*>("FilePath"))
                shownPath = edit->text().toStdString();
            modal->findChild<QPushButton*>(button)->click();
        });
    }
    qx::ScriptedPromptService prompts;
    std::string shownTitle, shownPath;
};

} // namespace

TEST_F(DialogTest, LinkLookupReadsTheNamedAddress) {
    const std::string file = LinkFile(
        "[Link]\nHome page=https://qxmoviedisc.example.org/\nDownload decoder=" + std::string(400, 'u') + "\n");
    std::string text;
    EXPECT_EQ(GetLinkFromIniFile(file, "Home page", text), 0);
    EXPECT_EQ(text, "https://qxmoviedisc.example.org/");
    EXPECT_EQ(GetLinkFromIniFile(file, "download DECODER", text), 0); // key names ignore case
    EXPECT_EQ(text.size(), 400u);                                     // a long address is not cut
    EXPECT_TRUE(prompts.Records().empty());
}

TEST_F(DialogTest, LinkLookupFailuresShowTheirMessages) {
    std::string text = "stale";
    const std::string missing = qxtest::TestRoot() + "nowhere/link.ini";
    EXPECT_EQ(GetLinkFromIniFile(missing, "Home page", text), 1);
    EXPECT_EQ(text, "");
    const std::string file = LinkFile("[Link]\nHome page=\n[Other]\nDownload decoder=https://x.example.org/\n");
    EXPECT_EQ(GetLinkFromIniFile(file, "Home page", text), 1);
    EXPECT_EQ(GetLinkFromIniFile(file, "Download decoder", text), 1); // only section "Link" counts
    const std::vector<std::string> boxes = prompts.BoxTexts();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0], "Could not find file " + missing + "!");
    EXPECT_EQ(boxes[1], "File " + file + " is incorrect!");
    EXPECT_EQ(boxes[2], "File " + file + " is incorrect!");
    for (const qx::PromptRecord& r : prompts.Records())
        EXPECT_EQ(r.icon, qx::PromptIcon::Information);
}

TEST_F(DialogTest, TheShippedLinkFileBesideTheProgramHasBothAddresses) {
    EXPECT_EQ(LinkIniPath(), std::string(QX_BIN_DIR) + "/link.ini");
    std::string home, decoder;
    EXPECT_EQ(GetLinkFromIni(kLinkHomePage, home), 0);
    EXPECT_EQ(GetLinkFromIni(kLinkDownloadDecoder, decoder), 0);
    EXPECT_EQ(home.rfind("https://", 0), 0u);
    EXPECT_EQ(decoder.rfind("https://", 0), 0u);
    EXPECT_TRUE(qxtest::FileExists(std::string(QX_BIN_DIR) + "/help/overview.html"));
}

TEST_F(DialogTest, DecoderDialogShowsItsTextsAndTheDownloadAddressAsLink) {
    SetLinkIniPath(LinkFile("[Link]\nDownload decoder=https://qxmoviedisc.example.org/decoders.html\n"));
    CDownloadDecoderDlg dlg;
    EXPECT_EQ(dlg.windowTitle().toStdString(), "Information");
    EXPECT_EQ(Label(&dlg, "NoDecoderText"), "No decoder to rander this video file.");
    EXPECT_EQ(Label(&dlg, "AttentionText"),
              "ATTENTION: RM/RMVB video files should be playbacked with \nReal Media Player. Please install Real Media "
              "Player.");
    EXPECT_NE(Label(&dlg, "ReportText").find("support@"), std::string::npos);
    CHyperLink* link = dlg.Link();
    EXPECT_EQ(link->GetURL(), "https://qxmoviedisc.example.org/decoders.html");
    EXPECT_EQ(link->GetLinkText(), "https://qxmoviedisc.example.org/decoders.html");
    EXPECT_EQ(link->toolTip().toStdString(), "https://qxmoviedisc.example.org/decoders.html");
    EXPECT_TRUE(link->IsUnderlined());
    EXPECT_EQ(dlg.findChild<QPushButton*>("OkButton")->text().toStdString(), "OK");
    EXPECT_EQ(dlg.findChild<QPushButton*>("CancelButton")->text().toStdString(), "Cancel");
    EXPECT_TRUE(prompts.Records().empty());
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_TRUE(qxtest::SaveScreenshot(&dlg, "download_decoder_dialog"));
}

// Enter in the fresh dialog is OK, not the web link; a link no program can open says so.
TEST_F(DialogTest, DecoderDialogTakesEnterAsOkAndSaysWhenNoProgramOpensTheLink) {
    SetLinkIniPath(LinkFile("[Link]\nDownload decoder=https://qxmoviedisc.example.org/d\n"));
    int opened = 0;
    CHyperLink::SetOpener([&opened](const std::string&) {
        ++opened;
        return false;
    });
    CDownloadDecoderDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_EQ(QApplication::focusWidget(), dlg.findChild<QPushButton*>("OkButton"));
    QTest::keyClick(&dlg, Qt::Key_Return);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    dlg.Link()->GotoURL();
    CHyperLink::SetOpener(nullptr);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(prompts.BoxTexts(), std::vector<std::string>{"No program on this desktop opens "
                                                           "https://qxmoviedisc.example.org/d\nOpen it in a web browser."});
}

TEST_F(DialogTest, DecoderDialogWithoutALinkFileShowsTheLookupMessageFirstAndAnEmptyLink) {
    const std::string missing = qxtest::TestRoot() + "gone/link.ini";
    SetLinkIniPath(missing);
    CDownloadDecoderDlg dlg;
    ASSERT_EQ(prompts.BoxTexts().size(), 1u);
    EXPECT_EQ(prompts.BoxTexts()[0], "Could not find file " + missing + "!");
    EXPECT_EQ(dlg.Link()->GetURL(), "");
    EXPECT_EQ(dlg.Link()->GetLinkText(), "");
    EXPECT_FALSE(dlg.Link()->GotoURL());
}

TEST_F(DialogTest, DecoderDialogEndsWithEitherButton) {
    SetLinkIniPath(LinkFile("[Link]\nDownload decoder=https://qxmoviedisc.example.org/d\n"));
    prompts.SetShowDialogs(true);
    for (const char* button : {"OkButton", "CancelButton"}) {
        shownTitle.clear();
        PressWhenShown(button);
        CDownloadDecoderDlg::Run(nullptr);
        EXPECT_EQ(shownTitle, "Information") << button;
    }
}

TEST_F(DialogTest, WithoutWindowsTheDialogsGoToThePromptService) {
    SetLinkIniPath(LinkFile("[Link]\nDownload decoder=https://qxmoviedisc.example.org/d\n"));
    CDownloadDecoderDlg::Run(nullptr);
    for (const char* path : {"/m/one.rm", "/m/two.rm", "/m/three.rmvb"})
        CDisplayUnsupportInfo::Run(path, nullptr);
    const std::vector<qx::PromptRecord> r = prompts.Records();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].kind, qx::PromptRecord::Kind::Dialog);
    EXPECT_EQ(r[0].caption, "Information");
    EXPECT_NE(r[0].text.find("No decoder to rander this video file."), std::string::npos);
    EXPECT_NE(r[0].text.find("https://qxmoviedisc.example.org/d"), std::string::npos);
    EXPECT_EQ(r[1].text, "Can not support file:\n/m/one.rm");
    EXPECT_EQ(r[2].text, "Can not support file:\n/m/two.rm");
    EXPECT_EQ(r[3].text, "Can not support file:\n/m/three.rmvb");
}

TEST_F(DialogTest, UnsupportedFileDialogHoldsTheWholePathInAReadOnlyBox) {
    const std::string path = "/movies/" + std::string(500, 'p') + "/clip.rmvb";
    CDisplayUnsupportInfo dlg(path);
    EXPECT_EQ(dlg.windowTitle().toStdString(), "Information");
    EXPECT_EQ(Label(&dlg, "HeadingText"), "Can not support file:");
    QLineEdit* box = dlg.PathBox();
    EXPECT_EQ(box->text().toStdString(), path); // scrolls, is not cut
    EXPECT_TRUE(box->isReadOnly());
    EXPECT_EQ(box->maxLength() >= static_cast<int>(path.size()), true);
    EXPECT_EQ(dlg.findChild<QPushButton*>("OkButton")->text().toStdString(), "OK");
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_TRUE(qxtest::SaveScreenshot(&dlg, "unsupported_file_dialog"));
}

TEST_F(DialogTest, UnsupportedFileDialogAskedFromTheAddingThreadRunsOnTheWindowThread) {
    prompts.SetShowDialogs(true);
    std::atomic<bool> done{false};
    std::thread adder([&] {
        CDisplayUnsupportInfo::Run("/m/refused.rm", nullptr);
        done = true;
    });
    PressWhenShown("OkButton");
    QElapsedTimer clock;
    clock.start();
    while (!done && clock.elapsed() < 20000)
        QTest::qWait(10);
    ASSERT_TRUE(done) << "the dialog was never closed";
    adder.join();
    EXPECT_EQ(shownTitle, "Information");
    EXPECT_EQ(shownPath, "/m/refused.rm");
}

TEST_F(DialogTest, LoadingWindowDisablesTheMainWindowUntilItCloses) {
    QWidget main;
    main.resize(500, 300);
    main.show();
    QWidget burnDialog(&main, Qt::Dialog); // opened from a dialog, still owned by the main window
    burnDialog.show();

    auto* loading = new CLoadingDlg(&burnDialog);
    EXPECT_EQ(loading->Owner(), &main);
    EXPECT_TRUE(loading->windowFlags() & Qt::FramelessWindowHint);
    loading->ShowLoading();
    EXPECT_TRUE(loading->isVisible());
    EXPECT_EQ(loading->TextLabel()->text().toStdString(), "Loading media files,please wait...");
    EXPECT_FALSE(main.isEnabled());
    EXPECT_TRUE(loading->OwnersDisabled());
    EXPECT_TRUE(loading->isEnabled()); // its own text is not greyed out
    ASSERT_TRUE(QTest::qWaitForWindowExposed(loading));
    EXPECT_TRUE(qxtest::SaveScreenshot(loading, "loading_window"));

    loading->CloseLoading();
    EXPECT_TRUE(main.isEnabled());
    EXPECT_FALSE(loading->isVisible());
    EXPECT_FALSE(loading->OwnersDisabled());
    delete loading;
    EXPECT_TRUE(main.isEnabled());

    // Destroyed without CloseLoading: the main window is enabled again all the same.
    loading = new CLoadingDlg(&main);
    loading->ShowLoading();
    EXPECT_FALSE(main.isEnabled());
    delete loading;
    EXPECT_TRUE(main.isEnabled());

    // Escape does not close it, a close request re-enables.
    loading = new CLoadingDlg(&main);
    loading->ShowLoading();
    QTest::keyClick(loading, Qt::Key_Escape);
    EXPECT_TRUE(loading->isVisible());
    loading->close();
    EXPECT_TRUE(main.isEnabled());
    delete loading;
}

TEST_F(DialogTest, AnUnsupportedFileDialogStaysAnswerableWhenTheMainWindowIsDisabledMeanwhile) {
    QWidget main;
    main.resize(500, 300);
    main.show();
    prompts.SetShowDialogs(true);
    bool okEnabled = false;
    QTimer::singleShot(20, qApp, [&] {
        main.setEnabled(false); // e.g. a loading window opens while the dialog is up
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        QPushButton* ok = modal->findChild<QPushButton*>("OkButton");
        okEnabled = modal->isEnabled() && ok->isEnabled();
        if (okEnabled)
            ok->click();
        else
            static_cast<QDialog*>(modal)->done(0);
    });
    CDisplayUnsupportInfo::Run("/m/refused.rm", &main);
    EXPECT_TRUE(okEnabled);
    main.setEnabled(true);
}
