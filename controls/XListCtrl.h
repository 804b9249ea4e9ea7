// Report-view list: rows of text cells, every cell with its own tool-tip. Full-row, single selection.
// Rows are addressed by index like the classic report view; an index outside the list is refused
// (false, -1 or an empty text), never clamped.
#pragma once

#include <QTreeWidget>

#include <string>
#include <vector>

class CXListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CXListCtrl(QWidget* parent = nullptr);

    // Appends a column (or inserts at index); returns its index or -1.
    int InsertColumn(int col, const std::string& heading, int width);
    int GetColumnCount() const { return columnCount(); }
    int GetColumnWidth(int col) const;
    bool SetColumnWidth(int col, int width);
    std::string GetColumnHeading(int col) const;

    // Inserts a row at index (0..count) with the text of column 0; returns the new row's index or -1.
    int InsertItem(int row, const std::string& text);
    bool DeleteItem(int row);
    void DeleteAllItems();
    int GetItemCount() const { return topLevelItemCount(); }

    bool SetItemText(int row, int col, const std::string& text);
    std::string GetItemText(int row, int col) const;
    bool SetItemToolTipText(int row, int col, const std::string& text);
    std::string GetItemToolTipText(int row, int col) const;

    // Selected row or -1.
    int GetSelectedItem() const;
    // Selects one row and makes it current and visible; -1 clears the selection.
    bool SelectItem(int row);

    // Exchanges the texts and tool-tips of two rows (the selection stays where it was).
    bool SwapItems(int a, int b);
    // Moves a row to a new index, keeping its texts and tool-tips; the moved row stays selected if it was.
    bool MoveItem(int from, int to);

    // As the list widens or narrows, every column but the last keeps its share of the width and
    // the last one stretches to the edge (a window grown by the user shows more of each cell).
    void SetColumnsFollowWidth(bool follow);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    bool ValidCell(int row, int col) const;
    bool m_followWidth = false;
};
