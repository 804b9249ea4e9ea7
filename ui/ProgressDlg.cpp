#include "ProgressDlg.h"

#include "OwnedWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <atomic>

CProgressDlg* g_pProgressDlg = nullptr;

namespace {
std::atomic<int> g_nMainShowState{CProgressDlg::kShowStateShown};
}

CProgressDlg::CProgressDlg() : QDialog(nullptr) {
    setObjectName(QStringLiteral("ProgressDlg"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setModal(false);

    m_pText = new QLabel(this);
    m_pText->setObjectName(QStringLiteral("ProgressText"));
    m_pText->setProperty("controlId", 1034);
    m_pText->setTextFormat(Qt::PlainText);
    m_pText->setMinimumWidth(420);

    m_pBar = new QProgressBar(this);
    m_pBar->setObjectName(QStringLiteral("ProgressBar"));
    m_pBar->setProperty("controlId", 1030);
    m_pBar->setTextVisible(false);

    m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_pCancel->setObjectName(QStringLiteral("CancelButton"));
    m_pCancel->setProperty("controlId", 1031);
    m_pCancel->setAutoDefault(false);
    connect(m_pCancel, &QPushButton::clicked, this, &CProgressDlg::OnCancel);

    auto* row = new QHBoxLayout;
    row->addWidget(m_pBar, 1);
    row->addWidget(m_pCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pText);
    layout->addLayout(row);
    // About 328 x 56 dialog units.
    resize(492, 92);
}

CProgressDlg::~CProgressDlg() {
    // Destroyed without CloseProgress: the owners must not stay disabled.
    EnableOwners();
    if (g_pProgressDlg == this)
        g_pProgressDlg = nullptr;
}

int CProgressDlg::MainShowState() {
    return g_nMainShowState.load();
}
void CProgressDlg::SetMainShowState(int state) {
    g_nMainShowState.store(state);
}

void CProgressDlg::Reset() {
    m_pBar->setRange(1, 100);
    m_pBar->reset();
    m_pText->clear();
    update();
}

void CProgressDlg::StartProgress(const std::string& title, int mode, QWidget* owner) {
    m_pOwner = owner;
    m_pMainWnd = TopWindowOf(owner);
    hide();
    if (owner) {
        // Stays above its owner like an owned window, without being its Qt child.
        winId();
        if (QWindow* ownerWindow = owner->window()->windowHandle())
            windowHandle()->setTransientParent(ownerWindow);
    }
    Reset();
    m_nMode = mode;
    if (m_pOwner)
        m_pOwner->setEnabled(false);
    if (m_pMainWnd)
        m_pMainWnd->setEnabled(false);
    m_bOwnerDisabled = true;
    setWindowTitle(QString::fromStdString(title));
    if (MainShowState() == kShowStateShown) {
        show();
        const QRect area = m_pOwner ? m_pOwner->window()->frameGeometry()
                                    : (screen() ? screen()->availableGeometry() : QRect(0, 0, 800, 600));
        move(area.center() - rect().center());
        Reset();
    }
}

void CProgressDlg::SetProgress(int percent, const std::string& text) {
    if (percent < m_pBar->minimum())
        m_pBar->reset();
    else
        m_pBar->setValue(percent > m_pBar->maximum() ? m_pBar->maximum() : percent);
    m_pText->setText(QString::fromStdString(text));
    emit progressSet(m_pText->text(), percent);
}

std::string CProgressDlg::StatusText() const {
    return m_pText->text().toStdString();
}

int CProgressDlg::BarPosition() const {
    return m_pBar->value() < m_pBar->minimum() ? 0 : m_pBar->value();
}

void CProgressDlg::EnableOwners() {
    if (!m_bOwnerDisabled)
        return;
    m_bOwnerDisabled = false;
    if (m_pOwner)
        m_pOwner->setEnabled(true);
    if (m_pMainWnd)
        m_pMainWnd->setEnabled(true);
}

void CProgressDlg::CloseProgress() {
    const bool wasDisabled = m_bOwnerDisabled;
    EnableOwners();
    if (wasDisabled && MainShowState() != kShowStateMinimised) {
        if (m_pMainWnd && !m_pMainWnd->isVisible())
            m_pMainWnd->show();
        if (m_pOwner && !m_pOwner->isVisible())
            m_pOwner->show();
    }
    hide();
}

void CProgressDlg::OnCancel() {
    int message = 0;
    if (m_nMode == ModeBurn)
        message = kStopBurnMessage;
    else if (m_nMode == ModeConvert)
        message = kStopConvertMessage;
    if (message == 0)
        return;
    if (m_stopHandler)
        m_stopHandler(message);
    emit stopRequested(message);
}

void CProgressDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    OnCancel();
}

void CProgressDlg::reject() {
    OnCancel();
}

void CProgressDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const bool minimised = windowState() & Qt::WindowMinimized;
    // Only a window owned by the main window carries the main window along.
    if (!m_pOwner || m_pOwner != m_pMainWnd) {
        m_bWasMinimised = minimised;
        return;
    }
    if (minimised && !m_bWasMinimised) {
        SetMainShowState(kShowStateMinimised);
        m_pMainWnd->showMinimized();
    } else if (!minimised && m_bWasMinimised) {
        show();
        SetMainShowState(kShowStateShown);
        m_pMainWnd->showNormal();
    }
    m_bWasMinimised = minimised;
}

void DestroyProgressDlg() {
    CProgressDlg* dlg = g_pProgressDlg;
    g_pProgressDlg = nullptr;
    if (!dlg)
        return;
    dlg->CloseProgress();
    delete dlg;
}

CProgressDlg* OpenProgressDlg(const std::string& title, int mode, QWidget* owner) {
    DestroyProgressDlg();
    auto* dlg = new CProgressDlg();
    dlg->StartProgress(title, mode, owner);
    g_pProgressDlg = dlg;
    return dlg;
}

int OnProgressText(const std::string& text, int percent) {
    if (g_pProgressDlg)
        g_pProgressDlg->SetProgress(percent, text);
    return 0;
}
