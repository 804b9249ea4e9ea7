// The burn side of the main window: the engine and writer combos and the buttons that open the
// writer-information and burn-DVD-folder dialogs. The job's burn step is the job's (DiscJob); the
// engines themselves sit behind BurnCore.
#include "MainDlg.h"

#include "BurnDVDMovieDlg.h"
#include "DialogDVDInfo.h"
#include "PromptService.h"
#include "Settings.h"

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
    m_comboWriters->clear();
    for (const std::string& entry : *list) {
        m_comboWriters->addItem(QString::fromStdString(entry));
    }
    if (list->empty()) {
        // A job can still make a DVD folder: burning is off while there is nothing to burn with.
        // What the user had chosen is kept for the writers' return.
        if (m_chkBurn->isEnabled()) {
            // Before the settings are in the controls (the first listing), the stored choice counts.
            const OutputSettings stored = CSettingsStore(SettingsFile()).ReadSettings();
            m_bBurnChosen = m_bSettingsRead ? m_chkBurn->isChecked() : stored.burnDisc;
            m_bDeleteTmpChosen = m_bSettingsRead ? m_chkDeleteTmp->isChecked() : stored.deleteTempFiles;
        }
        m_comboWriters->setEnabled(false);
        m_chkBurn->setChecked(false);
        m_chkBurn->setEnabled(false);
        m_chkDeleteTmp->setChecked(false);
        m_chkDeleteTmp->setEnabled(false);
        m_chkDeleteTmp->setVisible(false);
        CSettingsStore(SettingsFile()).WriteNoWriter();
        return;
    }
    // A writer is back: burning can be chosen again, as the user had it before the writers went.
    m_comboWriters->setEnabled(true);
    if (!m_chkBurn->isEnabled()) {
        m_chkBurn->setEnabled(true);
        m_chkDeleteTmp->setEnabled(true);
        m_chkBurn->setChecked(m_bBurnChosen);
        m_chkDeleteTmp->setChecked(m_bDeleteTmpChosen);
        if (m_bSettingsRead) {
            OnBurnBoxClicked();
            OnDeleteTmpClicked();
        }
    }
    m_comboWriters->setCurrentIndex(previous >= 0 && previous < static_cast<int>(list->size()) ? previous : 0);
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
