// Movies named on the window program's command line (or handed over by a desktop's "Open with"):
// the parsing of the line, and the movies reaching the list exactly as chosen ones do.
#include "AppArguments.h"
#include "QuilvoVidrevoApp.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

TEST(AppArguments, PathsBecomeAbsoluteInTheirOrderAndAddressesBecomePaths) {
    AppArguments parsed;
    std::string error;
    ASSERT_TRUE(ParseAppArguments(
        {"b.rmvb", "/films/a.rm", "sub/../c d.rm", "file:///films/%C3%A9t%C3%A9%20x.rm", "file://localhost/films/y.rm"},
        "/home/u/videos", &parsed, &error))
        << error;
    EXPECT_EQ(parsed.files, (std::vector<std::string>{"/home/u/videos/b.rmvb", "/films/a.rm", "/home/u/videos/c d.rm",
                                                      "/films/\xC3\xA9t\xC3\xA9 x.rm", "/films/y.rm"}));
    EXPECT_FALSE(parsed.help);
    EXPECT_FALSE(parsed.version);
}

TEST(AppArguments, OptionsUnknownOptionsAndTheEndOfOptions) {
    AppArguments parsed;
    std::string error;
    ASSERT_TRUE(ParseAppArguments({"--version", "--", "-odd.rm", "--help"}, "/w", &parsed, &error)) << error;
    EXPECT_TRUE(parsed.version);
    EXPECT_FALSE(parsed.help); // after "--" it is a file name
    EXPECT_EQ(parsed.files, (std::vector<std::string>{"/w/-odd.rm", "/w/--help"}));

    AppArguments none;
    EXPECT_TRUE(ParseAppArguments({}, "/w", &none, &error));
    EXPECT_TRUE(none.files.empty());

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"a.rm", "--burn"}, std::vector<std::string>{"http://example.org/a.rm"},
          std::vector<std::string>{"file://otherhost/a.rm"}, std::vector<std::string>{""}}) {
        AppArguments refused;
        error.clear();
        EXPECT_FALSE(ParseAppArguments(bad, "/w", &refused, &error)) << bad.front();
        EXPECT_FALSE(error.empty());
    }
}

using GivenFiles = WindowTest;

TEST_F(GivenFiles, AreProbedAndListedLikeChosenOnesWithoutTheDialog) {
    fake.encoder->movies["a.rm"] = FakeMovie{};
    fake.encoder->movies["bad.rm"] = FakeMovie{FakeMovie::Probe::Unsupported};
    fake.encoder->movies["b.rmvb"] = FakeMovie{};
    Create();
    g_strWorkFolder = work;
    for (const char* name : {"a.rm", "bad.rm", "b.rmvb"}) {
        WriteFile(movies + name, 100);
    }
    dlg->AddGivenFiles({movies + "a.rm", movies + "bad.rm", movies + "b.rmvb"});
    ASSERT_TRUE(dlg->WaitForAddFiles(10000));
    ASSERT_EQ(dlg->Sources().size(), 2u);
    EXPECT_EQ(dlg->Sources()[0].strPath, movies + "a.rm");
    EXPECT_EQ(dlg->Sources()[1].strPath, movies + "b.rmvb");
    EXPECT_EQ(dlg->Sources()[1].strVobFile, work + "b.vob");
    EXPECT_EQ(List()->GetItemText(1, 0), " b.rmvb");
    EXPECT_EQ(List()->GetSelectedItem(), 1);
    EXPECT_EQ(fake.log->Count("0 Add File:" + movies + "a.rm Successful\n"), 1u);
    EXPECT_EQ(fake.log->Count("0 Add File:" + movies + "bad.rm Failed the file is not supported\n"), 1u);
    EXPECT_EQ(prompts.DialogTexts(), std::vector<std::string>{"Can not support file:\n" + movies + "bad.rm"});
    for (const qx::PromptRecord& record : prompts.Records()) {
        EXPECT_NE(record.kind, qx::PromptRecord::Kind::OpenFiles);
    }
    EXPECT_GT(dlg->TotalSizeMB(), 0);
    EXPECT_TRUE(dlg->isEnabled()); // the loading window gave the window back

    // The same movie given again gets its own converted-stream name, as a second choice would.
    dlg->AddGivenFiles({movies + "a.rm"});
    ASSERT_TRUE(dlg->WaitForAddFiles(10000));
    ASSERT_EQ(dlg->Sources().size(), 3u);
    EXPECT_EQ(dlg->Sources()[2].strVobFile, work + "a0.vob");
}

TEST_F(GivenFiles, WithoutAnEncoderWindowAreRefusedLikeTheButton) {
    fake.encoder->noWindow = true;
    Create();
    dlg->AddGivenFiles({movies + "a.rm"});
    EXPECT_EQ(prompts.CountText("EncoderProxy setup error!\nPlease reinstalled this software, or contact Support."),
              1u);
    EXPECT_FALSE(dlg->AddingFiles());
    EXPECT_TRUE(dlg->Sources().empty());
}

TEST(Application, FilesGivenAtStartReachTheListOnceTheWindowRuns) {
    EnsureTestApp();
    TestPrompts prompts;
    qx::SetPrompts(&prompts);
    const std::string movies = FreshFolder("start-movies");
    FakeParts fake = MakeFakeParts(FreshFolder("start-companion"));
    fake.parts.settingsFile = FreshFolder("start-cfg") + "settings.ini";
    for (const char* name : {"first.rm", "second.rmvb"}) {
        fake.encoder->movies[name] = FakeMovie{};
        WriteFile(movies + name, 100);
    }
    // Watches the running window from inside its event loop and closes it once both movies are
    // listed (or after ten seconds, when the check below then fails).
    std::vector<std::string> listed;
    QElapsedTimer clock;
    clock.start();
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<CQuilvoVidrevoDlg*>(w);
            if (window == nullptr || !window->isVisible()) {
                continue;
            }
            if ((window->Sources().size() == 2 && !window->AddingFiles()) || clock.elapsed() > 10000) {
                for (const CSourceInfo& source : window->Sources()) {
                    listed.push_back(source.strPath);
                }
                watcher.stop();
                window->close();
            }
        }
    });
    watcher.start(20);
    EXPECT_EQ(CQuilvoVidrevoApp().InitInstance(std::move(fake.parts), {movies + "first.rm", movies + "second.rmvb"}),
              0);
    EXPECT_EQ(listed, (std::vector<std::string>{movies + "first.rm", movies + "second.rmvb"}));
    qx::SetPrompts(nullptr);
}
