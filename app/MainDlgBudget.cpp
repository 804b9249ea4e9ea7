// The window side of the disc budget: the used-space bar and the disc-target button (the size
// questions and the free-space check at job start are the job's).
#include "MainDlg.h"

#include "AuthorLog.h"
#include "DiscBudget.h"
#include "MenuBuilder.h"
#include "PromptService.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

void CQuilvoVidrevoDlg::UpdateUsedSpace() {
    m_nTotalSizeMB = 0;
    if (m_arrSources.empty()) {
        if (m_barUsedSpace->value() != 0) {
            m_barUsedSpace->setValue(0);
        }
        return;
    }
    std::vector<double> seconds;
    for (const CSourceInfo& source : m_arrSources) {
        seconds.push_back(source.PlayingSeconds());
    }
    m_nTotalSizeMB = EstimatedTotalMB(seconds);
    if (m_chkMenu->isChecked()) {
        m_nTotalSizeMB += MenuBudgetMB(static_cast<int>(seconds.size()));
    }
    const double percent = UsedSpacePercent(m_nTotalSizeMB, m_nDiscType);
    m_lblUsedSpace->setText(QString::fromStdString(UsedSpaceText(percent)));
    // The bar shows a full disc when the estimate is beyond it.
    m_barUsedSpace->setValue(std::min(m_nTotalSizeMB, m_barUsedSpace->maximum()));
    if (IsOverDisc(percent)) {
        qx::Prompts().ShowBox({OVER_DISC_WARNING, "", qx::PromptButtons::Ok, qx::PromptIcon::Warning, this});
    }
}

void CQuilvoVidrevoDlg::ShowDiscTarget() {
    const DiscTargetInfo& target = GetDiscTarget(m_nDiscType);
    m_barUsedSpace->setRange(0, target.budgetMB);
    m_btnDiscType->setText(target.buttonText);
    m_lblCapacity->setText(target.capacityText);
    m_btnDiscType->setToolTip(target.buttonTip);
}

void CQuilvoVidrevoDlg::ToggleDiscType() {
    m_nDiscType = m_nDiscType == DISC_TYPE_D5 ? DISC_TYPE_D9 : DISC_TYPE_D5;
    ShowDiscTarget();
    UpdateUsedSpace();
}
