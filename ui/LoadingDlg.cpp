#include "LoadingDlg.h"

#include "OwnedWindow.h"

#include <QCloseEvent>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

// A top-level window of its own rather than a Qt child of the main window: disabling the main
// window would otherwise grey out this window's text too.
CLoadingDlg::CLoadingDlg(QWidget* parent) : QDialog(nullptr), m_pOwner(TopWindowOf(parent)) {
    setObjectName(QStringLiteral("LoadingDlg"));
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setModal(false);
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(1, 1, 1, 1);
    m_pText = new QLabel(this);
    m_pText->setObjectName(QStringLiteral("LoadingText"));
    m_pText->setProperty("controlId", 1067);
    m_pText->setAlignment(Qt::AlignCenter);
    m_pText->setFrameShape(QFrame::Box);
    frame->addWidget(m_pText);
    // About 143 x 22 dialog units.
    setFixedSize(215, 36);
}

CLoadingDlg::~CLoadingDlg() {
    EnableOwners();
}

void CLoadingDlg::ShowLoading() {
    hide();
    if (m_pOwner) {
        winId();
        if (QWindow* ownerWindow = m_pOwner->windowHandle())
            windowHandle()->setTransientParent(ownerWindow);
    }
    const QRect area =
        m_pOwner ? m_pOwner->frameGeometry() : (screen() ? screen()->availableGeometry() : QRect(0, 0, 800, 600));
    move(area.center() - rect().center());
    update();
    if (m_pOwner)
        m_pOwner->setEnabled(false);
    m_bOwnersDisabled = true;
    show();
    m_pText->setText(QString::fromLatin1(kLoadingText));
    update();
}

void CLoadingDlg::EnableOwners() {
    if (!m_bOwnersDisabled)
        return;
    m_bOwnersDisabled = false;
    if (m_pOwner)
        m_pOwner->setEnabled(true);
}

void CLoadingDlg::CloseLoading() {
    EnableOwners();
    if (m_pOwner && (!m_pOwner->isVisible() || m_pOwner->isMinimized()))
        m_pOwner->showNormal();
    hide();
}

void CLoadingDlg::closeEvent(QCloseEvent* event) {
    // Closing by any path re-enables the owner.
    EnableOwners();
    QDialog::closeEvent(event);
}
