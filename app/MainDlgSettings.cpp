// The window side of the settings: reading them into the controls, the writes at a click, the
// folder browser.
#include "MainDlg.h"

#include "AuthorLog.h"
#include "Folders.h"
#include "Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

namespace {

void Report(const qx::Status& status) {
    if (!status.ok()) {
        AuthorLog(3, "settings not written: %s", status.error().c_str());
    }
}

} // namespace

std::string CQuilvoVidrevoDlg::SettingsFile() const {
    return m_parts.settingsFile.empty() ? SettingsFilePath() : m_parts.settingsFile;
}

void CQuilvoVidrevoDlg::ReadSettings() {
    const CSettingsStore store(SettingsFile());
    const OutputSettings s = store.ReadSettings();
    m_chkBurn->setChecked(s.burnDisc);
    OnBurnBoxClicked();

    m_strTempFolder = s.tempFolder;
    m_editTempFolder->setText(QString::fromStdString(s.tempFolder));
    // The working folder always carries its trailing '/': converted-stream names are built on it.
    g_strWorkFolder = qx::WithTrailingSlash(s.tempFolder);

    m_tvMode = s.tv;
    m_radioPal->setChecked(m_tvMode == TvStandard::Pal);
    m_radioNtsc->setChecked(m_tvMode == TvStandard::Ntsc);

    m_comboAspect->setCurrentIndex(s.aspectIndex >= 0 && s.aspectIndex <= 1 ? s.aspectIndex : -1);
    m_bKeepAspect = s.keepAspect;
    m_chkKeepAspect->setChecked(m_bKeepAspect);
    m_chkDeleteTmp->setChecked(s.deleteTempFiles);
    m_chkShutdown->setChecked(s.shutdown);
    m_chkMenu->setChecked(s.createMenu);
}

void CQuilvoVidrevoDlg::SaveOutputSettings() {
    if (!m_bSettingsRead) {
        return;
    }
    m_bKeepAspect = m_chkKeepAspect->isChecked();
    const CSettingsStore store(SettingsFile());
    Report(store.SaveOutputSettings(m_strTempFolder, m_radioPal->isChecked(), m_comboAspect->currentIndex(),
                                    m_bKeepAspect));
}

void CQuilvoVidrevoDlg::OnBurnBoxClicked() {
    m_chkDeleteTmp->setVisible(m_chkBurn->isChecked());
    Report(CSettingsStore(SettingsFile()).WriteBurnDisc(m_chkBurn->isChecked()));
}

void CQuilvoVidrevoDlg::OnDeleteTmpClicked() {
    Report(CSettingsStore(SettingsFile()).WriteDeleteTempFiles(m_chkDeleteTmp->isChecked()));
}

void CQuilvoVidrevoDlg::OnShutdownClicked() {
    Report(CSettingsStore(SettingsFile()).WriteShutdown(m_chkShutdown->isChecked()));
}

void CQuilvoVidrevoDlg::OnMenuBoxClicked() {
    Report(CSettingsStore(SettingsFile()).WriteCreateMenu(m_chkMenu->isChecked()));
    // The menu takes room on the disc.
    UpdateUsedSpace();
}

void CQuilvoVidrevoDlg::OnBtnSelectFolder() {
    const TempFolderChoice choice = BrowseTempFolder(this);
    if (choice.chosen) {
        m_editTempFolder->setText(QString::fromStdString(choice.folder));
        m_strTempFolder = choice.folder;
    }
    SaveOutputSettings();
}
