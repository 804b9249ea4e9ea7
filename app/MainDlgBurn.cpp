// The burn side of the main window: the engine and writer combos and the buttons that open the
// writer-information and burn-DVD-folder dialogs. The job's burn step is the job's (DiscJob); the
// engines themselves sit behind BurnCore.
#include "MainDlg.h"

#include "BurnDVDMovieDlg.h"
#include "DialogDVDInfo.h"
#include "PromptService.h"
#include "Settings.h"
#include "WriterJobs.h"

#include <QCheckBox>
#include <QComboBox>

#include <cstdio>

void CQuilvoVidrevoDlg::FillBurnCores() {
    m_comboBurnEngine->clear();
    if (!m_parts.buildInCore->InitBurnCore()) {
        qx::Prompts().Information(this, "Init Build-in Burn Engine Failed!");
    }
    m_comboBurnEngine->addItem("Build-in");
    if (m_parts.neroCore && m_parts.neroCore->InitBurnCore()) {
        m_comboBurnEngine->addItem("Nero");
        m_comboBurnEngine->setCurrentIndex(1);
    } else {
        m_comboBurnEngine->setCurrentIndex(0);
        // Why the second engine is not offered goes to the log (a library refused as unsafe, say).
        const std::string reason = m_parts.neroCore ? m_parts.neroCore->UnavailableReason() : std::string();
        if (!reason.empty()) {
            LogToApp(0, "The \"Nero\" burn engine is not available: " + reason + "\n");
        }
    }
}

BurnCore* CQuilvoVidrevoDlg::SelectedCore() {
    switch (m_comboBurnEngine->currentIndex()) {
    case 0:
        return m_parts.buildInCore.get();
    case 1:
        return m_parts.neroCore.get();
    default:
        return nullptr;
    }
}

BurnDialogParts CQuilvoVidrevoDlg::DialogParts() {
    BurnDialogParts parts;
    parts.buildIn = m_parts.buildInCore.get();
    parts.nero = m_comboBurnEngine->count() > 1 ? m_parts.neroCore.get() : nullptr;
    parts.log = [this](int level, const std::string& text) { LogToApp(level, text); };
    parts.openHelp = [this] { OnBtnHelp(); };
    return parts;
}

void CQuilvoVidrevoDlg::ListWriters() {
    BurnCore* core = SelectedCore();
    if (!core) {
        return;
    }
    core->ListWriters(this, [this](std::vector<std::string> list) {
        SendMessage(WM_WRITER_LIST, reinterpret_cast<WPARAM>(new std::vector<std::string>(std::move(list))));
    });
}

void CQuilvoVidrevoDlg::OnWriterList(std::vector<std::string>* raw) {
    std::unique_ptr<std::vector<std::string>> list(raw);
    const int previous = m_comboWriters->currentIndex();
    const bool imageWasChosen = previous >= 0 && previous == m_nRealWriters;
    m_comboWriters->clear();
    for (const std::string& entry : *list) {
        m_comboWriters->addItem(QString::fromStdString(entry));
    }
    m_nRealWriters = static_cast<int>(list->size());
    // The list always ends with the image file: with no writer at all a job can still burn an image.
    m_comboWriters->addItem(QString::fromUtf8(kImageWriterEntry));
    m_comboWriters->setEnabled(true);
    if (list->empty()) {
        // Nothing to burn a disc with: burning is unticked, so that a job makes its DVD folder instead of
        // being refused at every start (it may be ticked again for the image file). What the user had
        // chosen is kept for the writers' return.
        if (!m_bNoWriter) {
            // Before the settings are in the controls (the first listing), the stored choice counts.
            const OutputSettings stored = CSettingsStore(SettingsFile()).ReadSettings();
            m_bBurnChosen = m_bSettingsRead ? m_chkBurn->isChecked() : stored.burnDisc;
            m_bDeleteTmpChosen = m_bSettingsRead ? m_chkDeleteTmp->isChecked() : stored.deleteTempFiles;
        }
        m_bNoWriter = true;
        m_chkBurn->setChecked(false);
        m_chkDeleteTmp->setChecked(false);
        m_chkDeleteTmp->setVisible(false);
        m_comboWriters->setCurrentIndex(0);
        CSettingsStore(SettingsFile()).WriteNoWriter();
        return;
    }
    // A writer is back: burning is as the user had it before the writers went.
    if (m_bNoWriter) {
        m_bNoWriter = false;
        m_chkBurn->setChecked(m_bBurnChosen);
        m_chkDeleteTmp->setChecked(m_bDeleteTmpChosen);
        if (m_bSettingsRead) {
            OnBurnBoxClicked();
            OnDeleteTmpClicked();
        }
    }
    m_comboWriters->setCurrentIndex(imageWasChosen ? m_nRealWriters
                                    : previous >= 0 && previous < m_nRealWriters ? previous
                                                                                 : 0);
}

void CQuilvoVidrevoDlg::OnBtnWriterInfo() {
    CDialogDVDInfo info(m_comboBurnEngine->currentIndex(), m_comboWriters->currentIndex(), DialogParts(), this);
    info.exec();
}

void CQuilvoVidrevoDlg::OnBtnBurnFolder() {
    {
        CBurnDVDMovieDlg burn(m_comboBurnEngine->currentIndex(), DialogParts(), this);
        burn.exec();
    }
    // The dialog may have listed another engine's writers: the window's list is rebuilt.
    ListWriters();
}
