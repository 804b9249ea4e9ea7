// A movie's subtitles in the source list: its row's tool-tips name them, and the row's context menu
// offers "Subtitles..." to leave some of them off the disc.
#include "MainDlg.h"
#include "XListCtrl.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QTreeWidgetItem>
#include <QVBoxLayout>

#include <memory>
#include <vector>

void CQuilvoVidrevoDlg::ConnectSubtitleMenu() {
    m_listSources->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listSources, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QTreeWidgetItem* item = m_listSources->itemAt(at);
        if (!item) {
            return;
        }
        const int row = m_listSources->indexOfTopLevelItem(item);
        if (row < 0 || row >= static_cast<int>(m_arrSources.size())) {
            return;
        }
        QMenu menu(this);
        QAction* subtitles = menu.addAction("Subtitles\u2026");
        subtitles->setObjectName("actionSubtitles");
        // The list stays as it is while a job converts it or movies are being added.
        subtitles->setEnabled(!m_arrSources[static_cast<size_t>(row)].subtitles.empty() && !m_bAddingFiles &&
                              !m_job->Running());
        if (menu.exec(m_listSources->viewport()->mapToGlobal(at)) == subtitles) {
            OnSubtitlesDialog(row);
        }
    });
}

void CQuilvoVidrevoDlg::ShowSubtitleTips(int row) {
    if (row < 0 || row >= static_cast<int>(m_arrSources.size())) {
        return;
    }
    const CSourceInfo& source = m_arrSources[static_cast<size_t>(row)];
    const std::string line = qx::DescribeSubtitles(source.subtitles, source.strPath);
    for (int col = 0; col < 2; ++col) {
        const std::string text = m_listSources->GetItemText(row, col);
        m_listSources->SetItemToolTipText(row, col, line.empty() ? text : text + "\n" + line);
    }
}

void CQuilvoVidrevoDlg::OnSubtitlesDialog(int row) {
    if (row < 0 || row >= static_cast<int>(m_arrSources.size())) {
        return;
    }
    CSourceInfo& source = m_arrSources[static_cast<size_t>(row)];
    QDialog dialog(this);
    dialog.setObjectName("subtitlesDialog");
    dialog.setWindowTitle("Subtitles");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel("Subtitles put on the disc (the viewer switches them on):", &dialog));
    std::vector<QCheckBox*> boxes;
    for (const qx::SubtitleInfo& s : source.subtitles) {
        qx::SubtitleInfo shown = s;
        shown.leftOut = false;
        auto* box = new QCheckBox(QString::fromStdString(qx::DescribeSubtitle(shown, source.strPath)), &dialog);
        box->setObjectName(QString("chkSubtitle%1").arg(boxes.size()));
        box->setChecked(!s.leftOut);
        layout->addWidget(box);
        boxes.push_back(box);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted || row >= static_cast<int>(m_arrSources.size())) {
        return;
    }
    for (size_t k = 0; k < boxes.size() && k < source.subtitles.size(); ++k) {
        source.subtitles[k].leftOut = !boxes[k]->isChecked();
    }
    ShowSubtitleTips(row);
}
