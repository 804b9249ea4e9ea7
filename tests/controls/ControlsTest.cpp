// The list control (checked through its model with QAbstractItemModelTester), the hyperlink and
// the picture button.
#include "HyperLink.h"
#include "Label.h"
#include "PictureButton.h"
#include "TestSupport.h"
#include "XListCtrl.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QPixmap>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

namespace {

class ListTest : public ::testing::Test {
protected:
    void SetUp() override {
        qxtest::EnsureApp();
        list = std::make_unique<CXListCtrl>();
        tester = std::make_unique<QAbstractItemModelTester>(list->model(),
                                                            QAbstractItemModelTester::FailureReportingMode::Fatal);
        list->resize(640, 200);
        const int a = list->width() - 2;
        ASSERT_EQ(list->InsertColumn(0, "Source File", a * 50 / 160), 0);
        ASSERT_EQ(list->InsertColumn(1, "File Information", a * 90 / 160), 1);
        ASSERT_EQ(list->InsertColumn(2, "Status", a - (a * 50 / 160 + a * 90 / 160) - 2), 2);
    }
    // Adds a row the way the main window does: insert, then every cell's text and tool-tip.
    int AddRow(const std::string& name, const std::string& info, const std::string& status) {
        const int row = list->InsertItem(list->GetItemCount(), name);
        const std::string cells[3] = {name, info, status};
        for (int c = 0; c < 3; ++c) {
            list->SetItemText(row, c, cells[c]);
            list->SetItemToolTipText(row, c, cells[c]);
        }
        return row;
    }
    std::vector<std::string> Column(int col) const {
        std::vector<std::string> out;
        for (int r = 0; r < list->GetItemCount(); ++r)
            out.push_back(list->GetItemText(r, col));
        return out;
    }
    std::unique_ptr<CXListCtrl> list;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

} // namespace

TEST_F(ListTest, ColumnsHaveTheirHeadingsAndWidths) {
    EXPECT_EQ(list->GetColumnCount(), 3);
    EXPECT_EQ(list->GetColumnHeading(0), "Source File");
    EXPECT_EQ(list->GetColumnHeading(1), "File Information");
    EXPECT_EQ(list->GetColumnHeading(2), "Status");
    EXPECT_EQ(list->GetColumnWidth(0), 638 * 50 / 160);
    EXPECT_EQ(list->GetColumnWidth(1), 638 * 90 / 160);
    EXPECT_EQ(list->GetColumnWidth(3), -1);
    EXPECT_EQ(list->InsertColumn(9, "x", 10), -1);
    EXPECT_FALSE(list->SetColumnWidth(5, 10));
}

TEST_F(ListTest, RowsKeepTextsAndPerCellToolTipsThroughTheModel) {
    AddRow(" a.rm", "Dimension:640X480 File size:350.2M   Duration:01:30:00 Frame rate:25.00 ", "Ready");
    AddRow(" b.rmvb", "info b", "Ready");
    list->SetItemToolTipText(1, 2, "a tip of its own");
    ASSERT_EQ(list->GetItemCount(), 2);
    EXPECT_EQ(list->GetItemText(0, 1), "Dimension:640X480 File size:350.2M   Duration:01:30:00 Frame rate:25.00 ");
    const QModelIndex cell = list->model()->index(1, 2);
    EXPECT_EQ(list->model()->data(cell, Qt::DisplayRole).toString().toStdString(), "Ready");
    EXPECT_EQ(list->model()->data(cell, Qt::ToolTipRole).toString().toStdString(), "a tip of its own");
    EXPECT_EQ(list->GetItemToolTipText(0, 0), " a.rm");

    // Out-of-range cells are refused, never clamped to a neighbour.
    EXPECT_FALSE(list->SetItemText(2, 0, "x"));
    EXPECT_FALSE(list->SetItemText(0, 3, "x"));
    EXPECT_FALSE(list->SetItemToolTipText(-1, 0, "x"));
    EXPECT_EQ(list->GetItemText(5, 0), "");
    EXPECT_EQ(list->InsertItem(3, "x"), -1);
    EXPECT_EQ(list->InsertItem(-1, "x"), -1);
    EXPECT_FALSE(list->DeleteItem(2));
}

TEST_F(ListTest, HoveringACellShowsThatCellsToolTip) {
    AddRow(" a.rm", "info a", "Ready");
    list->SetItemToolTipText(0, 1, "the tip of the information cell");
    list->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list.get()));
    const QRect r = list->visualRect(list->model()->index(0, 1));
    QHelpEvent help(QEvent::ToolTip, r.center(), list->viewport()->mapToGlobal(r.center()));
    QApplication::sendEvent(list->viewport(), &help);
    EXPECT_EQ(QToolTip::text().toStdString(), "the tip of the information cell");
    QToolTip::hideText();
}

TEST_F(ListTest, SelectionSwapMoveAndDelete) {
    AddRow(" a.rm", "info a", "Ready");
    AddRow(" b.rm", "info b", "Completed");
    AddRow(" c.rm", "info c", "Failed");
    EXPECT_EQ(list->GetSelectedItem(), -1);
    ASSERT_TRUE(list->SelectItem(2));
    EXPECT_EQ(list->GetSelectedItem(), 2);
    EXPECT_FALSE(list->SelectItem(3));
    EXPECT_EQ(list->GetSelectedItem(), 2);

    // Move Up the way the main window does it: swap, then select the row above.
    ASSERT_TRUE(list->SwapItems(1, 2));
    list->SelectItem(1);
    EXPECT_EQ(Column(0), (std::vector<std::string>{" a.rm", " c.rm", " b.rm"}));
    EXPECT_EQ(Column(2), (std::vector<std::string>{"Ready", "Failed", "Completed"}));
    EXPECT_EQ(list->GetItemToolTipText(1, 1), "info c");
    EXPECT_EQ(list->GetSelectedItem(), 1);
    EXPECT_FALSE(list->SwapItems(0, 3));

    ASSERT_TRUE(list->MoveItem(1, 0));
    EXPECT_EQ(Column(0), (std::vector<std::string>{" c.rm", " a.rm", " b.rm"}));
    EXPECT_EQ(list->GetSelectedItem(), 0); // the moved row stays selected
    EXPECT_EQ(list->GetItemToolTipText(0, 2), "Failed");

    ASSERT_TRUE(list->DeleteItem(0));
    EXPECT_EQ(Column(0), (std::vector<std::string>{" a.rm", " b.rm"}));
    list->DeleteAllItems();
    EXPECT_EQ(list->GetItemCount(), 0);
    EXPECT_EQ(list->GetSelectedItem(), -1);
}

TEST_F(ListTest, SwappingKeepsLongCellTextsWhole) {
    const std::string longInfo(600, 'i');
    AddRow(" " + std::string(300, 'n') + ".rm", longInfo, "Ready");
    AddRow(" b.rm", "short", "Ready");
    ASSERT_TRUE(list->SwapItems(0, 1));
    EXPECT_EQ(list->GetItemText(1, 1), longInfo);
    EXPECT_EQ(list->GetItemToolTipText(1, 1), longInfo);
    EXPECT_EQ(list->GetItemText(1, 0).size(), 304u);
}

TEST_F(ListTest, InsertingAColumnLaterShiftsTheCells) {
    AddRow("a", "b", "c");
    ASSERT_EQ(list->InsertColumn(1, "New", 40), 1);
    EXPECT_EQ(list->GetItemText(0, 0), "a");
    EXPECT_EQ(list->GetItemText(0, 1), "");
    EXPECT_EQ(list->GetItemText(0, 2), "b");
    EXPECT_EQ(list->GetItemToolTipText(0, 3), "c");
    EXPECT_EQ(list->GetColumnHeading(3), "Status");
}

TEST_F(ListTest, Screenshot) {
    AddRow(" holiday.rm", "Dimension:640X480 File size:350.2M   Duration:01:30:00 Frame rate:25.00 ", "Completed");
    AddRow(" lecture part 2.rmvb", "Dimension:320X240 File size:81.7M   Duration:00:45:12 Frame rate:15.00 ", "Ready");
    AddRow(" broken.rm", "Dimension:352X288 File size:12.0M   Duration:00:03:05 Frame rate:25.00 ", "Failed");
    list->SelectItem(1);
    list->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list.get()));
    EXPECT_TRUE(qxtest::SaveScreenshot(list.get(), "list_control"));
}

TEST(HyperLinkTest, ShowsTheAddressAndOpensItWithTheInstalledOpener) {
    qxtest::EnsureApp();
    std::vector<std::string> opened;
    CHyperLink::SetOpener([&](const std::string& url) {
        opened.push_back(url);
        return true;
    });
    CHyperLink link;
    EXPECT_FALSE(link.GotoURL()); // no target yet
    link.SetURL("https://qxmoviedisc.example.org/decoders.html");
    EXPECT_EQ(link.GetLinkText(), "https://qxmoviedisc.example.org/decoders.html");
    EXPECT_EQ(link.toolTip().toStdString(), "https://qxmoviedisc.example.org/decoders.html");
    EXPECT_TRUE(link.IsUnderlined());
    EXPECT_FALSE(link.IsVisited());
    link.resize(300, 20);
    link.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&link));
    QTest::mouseClick(&link, Qt::LeftButton);
    QTest::keyClick(&link, Qt::Key_Space);
    QTest::mouseClick(&link, Qt::RightButton);
    EXPECT_EQ(opened, (std::vector<std::string>(2, "https://qxmoviedisc.example.org/decoders.html")));
    EXPECT_TRUE(link.IsVisited());
    CHyperLink::SetOpener({});
}

TEST(HyperLinkTest, AFailedOpenIsReportedAndLeavesTheLinkUnvisited) {
    qxtest::EnsureApp();
    CHyperLink::SetOpener([](const std::string&) { return false; });
    CHyperLink link;
    link.SetLinkText("Home");
    link.SetURL("https://qxmoviedisc.example.org/");
    EXPECT_EQ(link.GetLinkText(), "Home"); // a text of its own stays
    bool reported = false;
    QObject::connect(&link, &CHyperLink::opened, [&](const QString&, bool ok) { reported = !ok; });
    EXPECT_FALSE(link.GotoURL());
    EXPECT_TRUE(reported);
    EXPECT_FALSE(link.IsVisited());
    CHyperLink::SetOpener({});
}

TEST(PictureButtonTest, LoadsPicturesAndCarriesItsToolTip) {
    qxtest::EnsureApp();
    CPictureButton button("Add Video files");
    EXPECT_FALSE(button.LoadPicture(qxtest::TestRoot() + "missing.png"));
    EXPECT_FALSE(button.HasPicture());
    const std::string notPicture = qxtest::FreshFolder("pics") + "text.png";
    qxtest::WriteFile(notPicture, "not a picture");
    EXPECT_FALSE(button.LoadPicture(notPicture));
    const std::string png = qxtest::FreshFolder("pics") + "add.png";
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::darkGreen);
    ASSERT_TRUE(pixmap.save(QString::fromStdString(png)));
    EXPECT_TRUE(button.LoadPicture(png));
    EXPECT_TRUE(button.HasPicture());
    button.SetToolTipText("Add RealMedia movies to the list");
    EXPECT_EQ(button.GetToolTipText(), "Add RealMedia movies to the list");
    EXPECT_EQ(button.text().toStdString(), "Add Video files");

    CLabel label("Used space 00.00%");
    label.SetTextColor(Qt::red).SetFontBold(true).SetFontSize(11);
    EXPECT_EQ(label.GetText(), "Used space 00.00%");
    EXPECT_TRUE(label.font().bold());
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(Qt::red));
}
