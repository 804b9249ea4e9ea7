#include "XListCtrl.h"

#include <QHeaderView>
#include <QResizeEvent>

CXListCtrl::CXListCtrl(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(true);
    setColumnCount(0);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
}

bool CXListCtrl::ValidCell(int row, int col) const {
    return row >= 0 && row < topLevelItemCount() && col >= 0 && col < columnCount();
}

int CXListCtrl::InsertColumn(int col, const std::string& heading, int width) {
    const int n = columnCount();
    if (col < 0 || col > n || width < 0)
        return -1;
    QStringList labels;
    for (int i = 0; i < n; ++i)
        labels << headerItem()->text(i);
    std::vector<int> widths;
    for (int i = 0; i < n; ++i)
        widths.push_back(columnWidth(i));
    labels.insert(col, QString::fromStdString(heading));
    widths.insert(widths.begin() + col, width);
    // The new column exists before any cell moves into it.
    setColumnCount(n + 1);
    // Existing cells shift right with their column.
    for (int r = 0; r < topLevelItemCount(); ++r) {
        QTreeWidgetItem* item = topLevelItem(r);
        for (int c = n; c > col; --c) {
            item->setText(c, item->text(c - 1));
            item->setToolTip(c, item->toolTip(c - 1));
        }
        item->setText(col, QString());
        item->setToolTip(col, QString());
    }
    setHeaderLabels(labels);
    for (int i = 0; i <= n; ++i)
        setColumnWidth(i, widths[static_cast<size_t>(i)]);
    return col;
}

int CXListCtrl::GetColumnWidth(int col) const {
    if (col < 0 || col >= columnCount())
        return -1;
    return columnWidth(col);
}

bool CXListCtrl::SetColumnWidth(int col, int width) {
    if (col < 0 || col >= columnCount() || width < 0)
        return false;
    setColumnWidth(col, width);
    return true;
}

std::string CXListCtrl::GetColumnHeading(int col) const {
    if (col < 0 || col >= columnCount())
        return {};
    return headerItem()->text(col).toStdString();
}

int CXListCtrl::InsertItem(int row, const std::string& text) {
    if (row < 0 || row > topLevelItemCount() || columnCount() == 0)
        return -1;
    auto* item = new QTreeWidgetItem();
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setText(0, QString::fromStdString(text));
    insertTopLevelItem(row, item);
    return row;
}

bool CXListCtrl::DeleteItem(int row) {
    if (row < 0 || row >= topLevelItemCount())
        return false;
    delete takeTopLevelItem(row);
    return true;
}

void CXListCtrl::DeleteAllItems() {
    clear();
}

bool CXListCtrl::SetItemText(int row, int col, const std::string& text) {
    if (!ValidCell(row, col))
        return false;
    topLevelItem(row)->setText(col, QString::fromStdString(text));
    return true;
}

std::string CXListCtrl::GetItemText(int row, int col) const {
    if (!ValidCell(row, col))
        return {};
    return topLevelItem(row)->text(col).toStdString();
}

bool CXListCtrl::SetItemToolTipText(int row, int col, const std::string& text) {
    if (!ValidCell(row, col))
        return false;
    topLevelItem(row)->setToolTip(col, QString::fromStdString(text));
    return true;
}

std::string CXListCtrl::GetItemToolTipText(int row, int col) const {
    if (!ValidCell(row, col))
        return {};
    return topLevelItem(row)->toolTip(col).toStdString();
}

int CXListCtrl::GetSelectedItem() const {
    const QList<QTreeWidgetItem*> sel = selectedItems();
    if (sel.isEmpty())
        return -1;
    return indexOfTopLevelItem(sel.first());
}

bool CXListCtrl::SelectItem(int row) {
    if (row == -1) {
        clearSelection();
        return true;
    }
    if (row < 0 || row >= topLevelItemCount())
        return false;
    QTreeWidgetItem* item = topLevelItem(row);
    setCurrentItem(item);
    clearSelection();
    item->setSelected(true);
    scrollToItem(item);
    return true;
}

bool CXListCtrl::SwapItems(int a, int b) {
    if (a < 0 || b < 0 || a >= topLevelItemCount() || b >= topLevelItemCount())
        return false;
    if (a == b)
        return true;
    QTreeWidgetItem* x = topLevelItem(a);
    QTreeWidgetItem* y = topLevelItem(b);
    for (int c = 0; c < columnCount(); ++c) {
        const QString text = x->text(c);
        const QString tip = x->toolTip(c);
        x->setText(c, y->text(c));
        x->setToolTip(c, y->toolTip(c));
        y->setText(c, text);
        y->setToolTip(c, tip);
    }
    return true;
}

bool CXListCtrl::MoveItem(int from, int to) {
    const int n = topLevelItemCount();
    if (from < 0 || from >= n || to < 0 || to >= n)
        return false;
    if (from == to)
        return true;
    const bool wasSelected = topLevelItem(from)->isSelected();
    QTreeWidgetItem* item = takeTopLevelItem(from);
    insertTopLevelItem(to, item);
    if (wasSelected)
        SelectItem(to);
    return true;
}

void CXListCtrl::SetColumnsFollowWidth(bool follow) {
    m_followWidth = follow;
    header()->setStretchLastSection(follow);
}

void CXListCtrl::resizeEvent(QResizeEvent* event) {
    const int before = event->oldSize().width();
    const int after = event->size().width();
    if (m_followWidth && before > 0 && after > 0 && before != after) {
        for (int col = 0; col + 1 < columnCount(); ++col) {
            setColumnWidth(col, static_cast<int>(static_cast<long long>(columnWidth(col)) * after / before));
        }
    }
    QTreeWidget::resizeEvent(event);
}
