// Files and folders dropped on the source list from a file manager (driven with Qt's own drag
// events).
#include "WindowFixture.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <filesystem>

namespace {

QMimeData* Urls(const std::vector<std::string>& paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const std::string& p : paths)
        urls << (p.rfind("http", 0) == 0 ? QUrl(QString::fromStdString(p))
                                         : QUrl::fromLocalFile(QString::fromStdString(p)));
    data->setUrls(urls);
    return data;
}

} // namespace

using SourceDrops = WindowTest;

TEST_F(SourceDrops, FilesAndFoldersAreAddedInTheOrderDroppedAndOnlyWhenTheListTakesThem) {
    for (const char* name : {"a.mp4", "Part 2.mkv", "Part 10.mkv", "b.avi", "e.rm", "bad.mov"})
        fake.encoder->movies[name] = FakeMovie{};
    fake.encoder->movies["bad.mov"] = FakeMovie{FakeMovie::Probe::Unsupported};
    Create();
    g_strWorkFolder = work;
    const std::string folder = movies + "series/";
    std::filesystem::create_directories(folder + "sub");
    for (const std::string& path : {movies + "a.mp4", folder + "Part 10.mkv", folder + "Part 2.mkv",
                                    folder + "notes.txt", folder + "sub/b.avi", movies + "e.rm", movies + "bad.mov"})
        WriteFile(path, 100);
    QWidget* viewport = List()->viewport();

    std::unique_ptr<QMimeData> web(Urls({"http://example.org/a.mp4"}));
    QDragEnterEvent webEnter(QPoint(20, 20), Qt::CopyAction, web.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &webEnter);
    EXPECT_FALSE(webEnter.isAccepted()) << "nothing local to add";

    std::unique_ptr<QMimeData> data(
        Urls({movies + "a.mp4", folder, "http://example.org/x.mp4", movies + "bad.mov", movies + "e.rm"}));
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    ASSERT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction) << "the files stay where they are";
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    EXPECT_TRUE(drop.isAccepted());
    // While these are being added the list takes no more.
    ASSERT_TRUE(dlg->AddingFiles());
    QDragEnterEvent busy(QPoint(20, 20), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &busy);
    EXPECT_FALSE(busy.isAccepted());
    ASSERT_TRUE(dlg->WaitForAddFiles(10000));

    std::vector<std::string> listed;
    for (const CSourceInfo& s : dlg->Sources())
        listed.push_back(s.strPath);
    EXPECT_EQ(listed, (std::vector<std::string>{movies + "a.mp4", folder + "Part 2.mkv", folder + "Part 10.mkv",
                                                folder + "sub/b.avi", movies + "e.rm"}));
    EXPECT_EQ(List()->GetItemCount(), 5);
    EXPECT_EQ(dlg->Sources()[1].strVobFile, work + "Part 2.vob");
    // A dropped file is judged by the probe, like a chosen one; a folder's other files are not offered.
    EXPECT_EQ(prompts.DialogTexts(), std::vector<std::string>{"Can not support file:\n" + movies + "bad.mov"});
    EXPECT_EQ(fake.log->Count("0 Add File:" + movies + "bad.mov Failed the file is not supported\n"), 1u);
    for (const qx::PromptRecord& record : prompts.Records())
        EXPECT_NE(record.kind, qx::PromptRecord::Kind::OpenFiles);
}
