// The prompt service: filters, the name-buffer rule, scripted and console answers, and real Qt
// message boxes answered by a simulated click (also when asked from a worker thread).
#include "PromptService.h"
#include "QtPromptService.h"
#include "ScriptedPromptService.h"
#include "TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

using namespace qx;

namespace {
const char* const kMovieFilter = "All support files(*.rm, *.rmvb)|*.rm; *.rmvb;||";
}

TEST(FileFilter, ParsesTheMovieFilterIntoOneEntryWithTwoPatterns) {
    const std::vector<FilterEntry> f = ParseFileFilter(kMovieFilter);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].label, "All support files(*.rm, *.rmvb)");
    EXPECT_EQ(f[0].patterns, (std::vector<std::string>{"*.rm", "*.rmvb"}));

    const std::vector<FilterEntry> two = ParseFileFilter("Movies|*.rm|All files|*.*||");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[1].label, "All files");
    EXPECT_EQ(two[1].patterns, std::vector<std::string>{"*.*"});
    EXPECT_TRUE(ParseFileFilter("").empty());
    EXPECT_TRUE(ParseFileFilter("||").empty());
}

TEST(FileFilter, MatchesNamesWithoutRegardToCaseAndOnlyWholeExtensions) {
    const std::vector<FilterEntry> f = ParseFileFilter(kMovieFilter);
    EXPECT_TRUE(MatchesFilter(f, "movie.rm"));
    EXPECT_TRUE(MatchesFilter(f, "MOVIE.RMVB"));
    EXPECT_TRUE(MatchesFilter(f, "Movie.Part.RmVb"));
    EXPECT_FALSE(MatchesFilter(f, "movie.rmx"));
    EXPECT_FALSE(MatchesFilter(f, "movie.rm.txt"));
    EXPECT_FALSE(MatchesFilter(f, "movie.mp4"));
    EXPECT_FALSE(MatchesFilter(f, "rm"));
}

TEST(FileFilter, NameBufferCountsFolderNamesAndTerminators) {
    EXPECT_EQ(NameBufferLength({}), 1u);
    // One file: the full path, its NUL and the final NUL.
    EXPECT_EQ(NameBufferLength({"/a/b.rm"}), 9u);
    // Several: "/a" NUL "b.rm" NUL "cc.rm" NUL NUL.
    EXPECT_EQ(NameBufferLength({"/a/b.rm", "/a/cc.rm"}), 2u + 1 + 5 + 6 + 1);
}

TEST(ScriptedPrompts, AnswersFromTheQueueThenWithTheSafeDefault) {
    ScriptedPromptService s;
    s.QueueAnswer(PromptAnswer::Yes);
    s.QueueAnswer(PromptAnswer::Ok);
    EXPECT_TRUE(s.AskYesNo(nullptr, "Do you really want to stop convert process?", "Query"));
    EXPECT_TRUE(s.AskOkCancel(nullptr, "Found vob or ifo files in folder x ,delete all of them?"));
    // Queue empty: questions get No/Cancel, plain boxes Ok.
    EXPECT_FALSE(s.AskYesNo(nullptr, "again?"));
    EXPECT_FALSE(s.AskOkCancel(nullptr, "again?"));
    EXPECT_EQ(s.Information(nullptr, "Mission accomplished!"), PromptAnswer::Ok);

    const std::vector<PromptRecord> r = s.Records();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0].caption, "Query");
    EXPECT_EQ(r[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(r[0].icon, PromptIcon::Question);
    EXPECT_EQ(r[1].buttons, PromptButtons::OkCancel);
    EXPECT_EQ(r[1].caption, "QX Movie Disc"); // the default caption
    EXPECT_EQ(r[4].icon, PromptIcon::Information);
    EXPECT_EQ(s.CountText("Mission accomplished!"), 1u);
}

TEST(ScriptedPrompts, AnAnswerTheBoxHasNoButtonForCountsAsClosingIt) {
    ScriptedPromptService s;
    s.QueueAnswer(PromptAnswer::Yes);
    EXPECT_EQ(s.ShowBox({"t", "", PromptButtons::OkCancel, PromptIcon::Question, nullptr}), PromptAnswer::Cancel);
    s.QueueAnswer(PromptAnswer::Ok);
    EXPECT_EQ(s.ShowBox({"t", "", PromptButtons::YesNo, PromptIcon::Question, nullptr}), PromptAnswer::No);
}

TEST(ScriptedPrompts, FileAndFolderDialogsFollowTheQueueAndTheCapacity) {
    ScriptedPromptService s;
    s.QueueFiles({"/m/a.rm", "/m/b.rmvb"});
    s.QueueFiles({"/m/a.rm", "/m/b.rmvb"});
    s.QueueFolder("/work/out");
    s.QueueFolder("");

    OpenFilesRequest req;
    req.filter = kMovieFilter;
    req.nameCapacity = 1000;
    OpenFilesResult r = s.OpenFiles(req);
    EXPECT_EQ(r.status, OpenFilesStatus::Chosen);
    EXPECT_EQ(r.files.size(), 2u);
    req.nameCapacity = 10; // does not fit
    r = s.OpenFiles(req);
    EXPECT_EQ(r.status, OpenFilesStatus::Overflow);
    EXPECT_TRUE(r.files.empty());
    EXPECT_EQ(s.OpenFiles(req).status, OpenFilesStatus::Cancelled); // queue empty

    FolderResult f = s.BrowseFolder({"Select DVD-video Temp folder", "", nullptr});
    EXPECT_TRUE(f.chosen);
    EXPECT_EQ(f.folder, "/work/out/");
    EXPECT_FALSE(s.BrowseFolder({}).chosen);
    EXPECT_EQ(s.Records()[3].kind, PromptRecord::Kind::Folder);
    EXPECT_EQ(s.Records()[3].text, "Select DVD-video Temp folder");
}

TEST(ScriptedPrompts, RecordsEveryBoxFromManyThreads) {
    ScriptedPromptService s;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&s] {
            for (int i = 0; i < 200; ++i)
                s.Information(nullptr, "line");
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(s.CountText("line"), 800u);
}

TEST(ConsolePrompts, PrintsEveryTextAndAnswersNoUnlessToldYes) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ConsolePromptService c(out);
    EXPECT_FALSE(c.AskYesNo(nullptr, "The target DVD movie is over DVD-D5 size. Do you want to continue?", "Warning"));
    EXPECT_FALSE(c.AskOkCancel(nullptr, "Found vob"));
    c.SetAssumeYes(true);
    EXPECT_TRUE(c.AskYesNo(nullptr, "Stop?", "Query"));
    EXPECT_TRUE(c.AskOkCancel(nullptr, "Delete?"));
    EXPECT_EQ(c.Information(nullptr, "Mission accomplished!"), PromptAnswer::Ok);
    c.NoteDialog("Information", "Can not support file:\n/m/x.rm");
    EXPECT_FALSE(c.ShowDialogs());

    std::rewind(out);
    std::string text;
    char buf[512];
    while (std::fgets(buf, sizeof buf, out))
        text += buf;
    std::fclose(out);
    EXPECT_NE(text.find("Warning: The target DVD movie is over DVD-D5 size. Do you want to continue? [Yes/No] -> No\n"),
              std::string::npos);
    EXPECT_NE(text.find("QX Movie Disc: Found vob [OK/Cancel] -> Cancel\n"), std::string::npos);
    EXPECT_NE(text.find("Query: Stop? [Yes/No] -> Yes\n"), std::string::npos);
    EXPECT_NE(text.find("QX Movie Disc: Mission accomplished!\n"), std::string::npos);
    EXPECT_NE(text.find("Information: Can not support file:\n/m/x.rm\n"), std::string::npos);
}

TEST(ConsolePrompts, PresetFilesAreReturnedOnceAndFolderGetsItsSlash) {
    std::FILE* out = std::tmpfile();
    ConsolePromptService c(out);
    c.SetFiles({"/m/a.rm"});
    OpenFilesResult r = c.OpenFiles({});
    EXPECT_EQ(r.status, OpenFilesStatus::Chosen);
    ASSERT_EQ(r.files.size(), 1u);
    EXPECT_EQ(c.OpenFiles({}).status, OpenFilesStatus::Cancelled);
    EXPECT_FALSE(c.BrowseFolder({}).chosen);
    c.SetFolder("/w");
    EXPECT_EQ(c.BrowseFolder({}).folder, "/w/");
    std::fclose(out);
}

TEST(ServiceInstallation, PromptsUsesTheInstalledServiceAndFallsBackToTheDefault) {
    ScriptedPromptService s;
    SetPrompts(&s);
    Prompts().Information(nullptr, "routed");
    EXPECT_EQ(s.CountText("routed"), 1u);
    SetPrompts(nullptr);
    // Without a window program's default, boxes go to standard error with their default answer.
    SetDefaultPrompts(nullptr);
    EXPECT_NE(dynamic_cast<ConsolePromptService*>(&Prompts()), nullptr);
    EXPECT_FALSE(Prompts().AskYesNo(nullptr, "printed, answered No"));
    UseWindowPrompts();
    EXPECT_NE(dynamic_cast<QtPromptService*>(&Prompts()), nullptr);
}

namespace {
// Clicks `button` of the first message box that appears and remembers what it showed.
struct BoxClicker {
    explicit BoxClicker(QMessageBox::StandardButton b, bool alreadySaved = false) : button(b), saved(alreadySaved) {}
    QMessageBox::StandardButton button;
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> buttons;
    bool saved = false;
    bool enabled = false;
    std::function<void()> beforeClick;
    void Arm() {
        QTimer::singleShot(20, qApp, [this] { Poll(); });
    }
    void Poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            Arm();
            return;
        }
        text = box->text();
        title = box->windowTitle();
        icon = box->icon();
        for (QAbstractButton* b : box->buttons())
            buttons << box->standardButton(b);
        if (!saved)
            saved = qxtest::SaveScreenshot(box, "prompt_question_box");
        if (beforeClick)
            beforeClick();
        enabled = box->isEnabled() && box->button(button)->isEnabled();
        if (!enabled)
            box->done(0); // a dead box would hang the test; end it and let the test fail
        else
            box->button(button)->click();
    }
};
} // namespace

TEST(QtPrompts, ShowsTheExactTextCaptionIconAndButtonsAndReturnsTheClick) {
    qxtest::EnsureApp();
    QtPromptService qt;
    BoxClicker clicker(QMessageBox::Yes);
    clicker.Arm();
    const bool yes = qt.AskYesNo(nullptr, "Do you really want to stop convert process?", "Query");
    EXPECT_TRUE(yes);
    EXPECT_EQ(clicker.text.toStdString(), "Do you really want to stop convert process?");
    EXPECT_EQ(clicker.title.toStdString(), "Query");
    EXPECT_EQ(clicker.icon, QMessageBox::Question);
    EXPECT_EQ(clicker.buttons.size(), 2);
    EXPECT_TRUE(clicker.buttons.contains(QMessageBox::Yes));
    EXPECT_TRUE(clicker.buttons.contains(QMessageBox::No));
    EXPECT_TRUE(clicker.saved);

    BoxClicker cancel(QMessageBox::Cancel);
    cancel.Arm();
    EXPECT_FALSE(qt.AskOkCancel(nullptr, "Found vob or ifo files in folder /w/ ,delete all of them?"));
    EXPECT_EQ(cancel.title.toStdString(), "QX Movie Disc");
}

TEST(QtPrompts, ABoxAskedFromAWorkerThreadRunsOnTheWindowThread) {
    qxtest::EnsureApp();
    QtPromptService qt;
    BoxClicker clicker(QMessageBox::Ok);
    PromptAnswer answer = PromptAnswer::Cancel;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        answer = qt.Information(nullptr, "No inserted disk! Please insert writable DVD!");
        done = true;
    });
    clicker.Arm();
    QElapsedTimer clock;
    clock.start();
    while (!done && clock.elapsed() < 20000)
        QTest::qWait(10);
    ASSERT_TRUE(done) << "the box was never answered";
    worker.join();
    EXPECT_EQ(answer, PromptAnswer::Ok);
    EXPECT_EQ(clicker.text.toStdString(), "No inserted disk! Please insert writable DVD!");
    EXPECT_EQ(clicker.icon, QMessageBox::Information);
}

TEST(QtPrompts, ABoxStaysAnswerableWhenItsOwnerIsDisabledBeforeOrWhileItIsUp) {
    qxtest::EnsureApp();
    QWidget main;
    main.resize(400, 300);
    main.show();
    QtPromptService qt;
    for (bool disabledBefore : {true, false}) {
        main.setEnabled(!disabledBefore); // a progress window is already up, or opens while the box is
        BoxClicker clicker(QMessageBox::Yes, true);
        clicker.beforeClick = [&main] { main.setEnabled(false); };
        clicker.Arm();
        EXPECT_TRUE(qt.AskYesNo(&main, "Do you really want to stop burning")) << disabledBefore;
        EXPECT_TRUE(clicker.enabled) << disabledBefore;
        EXPECT_FALSE(main.isEnabled());
    }
}

namespace {
// Chooses `names` in the first file dialog that appears; remembers its type list. The names are
// typed into the dialog's name field, as a user would; selectFile() instead depends on the folder
// listing the dialog loads in the background. A dialog that did not take the choice is tried again.
void ChooseInFileDialog(const QString& folder, const QStringList& names, QStringList* filters, int tries = 200) {
    QTimer::singleShot(20, qApp, [=] {
        auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dlg) {
            if (tries > 0)
                ChooseInFileDialog(folder, names, filters, tries - 1);
            return;
        }
        *filters = dlg->nameFilters();
        dlg->setDirectory(folder);
        QStringList quoted;
        for (const QString& n : names)
            quoted << QLatin1Char('"') + n + QLatin1Char('"');
        if (auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            edit->setText(quoted.join(QLatin1Char(' ')));
        else
            dlg->selectFile(quoted.join(QLatin1Char(' ')));
        static_cast<QDialog*>(dlg)->accept(); // QFileDialog::accept, through the public slot
        if (dlg->isVisible() && tries > 0)
            ChooseInFileDialog(folder, names, filters, tries - 1);
        else if (dlg->isVisible())
            dlg->reject(); // never leave the test hanging in the dialog
    });
}
} // namespace

TEST(QtPrompts, OpenFilesReturnsTheChosenMoviesOrRefusesAChoiceOverTheCapacity) {
    qxtest::EnsureApp();
    const std::string dir = qxtest::FreshFolder("movies");
    for (const char* n : {"a.rm", "B.RMVB", "notes.txt"})
        qxtest::WriteFile(dir + n, "x");
    const QString folder = QString::fromStdString(dir);
    QtPromptService qt;
    OpenFilesRequest req;
    req.filter = kMovieFilter;
    req.folder = dir;
    req.nameCapacity = 1000;

    QStringList filters;
    ChooseInFileDialog(folder, {"a.rm", "B.RMVB"}, &filters);
    OpenFilesResult r = qt.OpenFiles(req);
    ASSERT_EQ(filters.size(), 1);
    EXPECT_EQ(filters[0].toStdString(), "All support files(*.rm, *.rmvb) (*.rm *.RM *.rmvb *.RMVB)");
    ASSERT_EQ(r.status, OpenFilesStatus::Chosen);
    ASSERT_EQ(r.files.size(), 2u);
    std::sort(r.files.begin(), r.files.end());
    EXPECT_EQ(r.files[0], dir + "B.RMVB");
    EXPECT_EQ(r.files[1], dir + "a.rm");

    // Names that do not fit the capacity: the dialog says so and nothing is chosen.
    req.nameCapacity = 10;
    ChooseInFileDialog(folder, {"a.rm", "B.RMVB"}, &filters);
    BoxClicker clicker(QMessageBox::Ok, true);
    clicker.Arm();
    r = qt.OpenFiles(req);
    EXPECT_EQ(r.status, OpenFilesStatus::Overflow);
    EXPECT_TRUE(r.files.empty());
    EXPECT_EQ(clicker.text.toStdString(), "Too many files were selected at once. Please select fewer files.");
}
