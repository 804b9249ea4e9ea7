// The burn side of the main window: the engine and writer combos, the writer check before a job,
// the burn job after authoring, and the buttons that open the writer-information and
// burn-DVD-folder dialogs. The engines themselves sit behind BurnCore.
#include "MainDlg.h"

#include "BurnDVDMovieDlg.h"
#include "BurnJob.h"
#include "DialogDVDInfo.h"
#include "ProgressDlg.h"
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
        m_comboWriters->setEnabled(false);
        m_chkBurn->setEnabled(false);
        CSettingsStore(SettingsFile()).WriteNoWriter();
        return;
    }
    // A writer is back: burning can be chosen again.
    m_comboWriters->setEnabled(true);
    m_chkBurn->setEnabled(true);
    m_comboWriters->setCurrentIndex(previous >= 0 && previous < static_cast<int>(list->size()) ? previous : 0);
}

int CQuilvoVidrevoDlg::CheckWriterReady(int target, int requiredMB) {
    WriterCheck check;
    check.core = SelectedCore();
    check.writer = m_comboWriters->currentIndex();
    check.target = target;
    check.requiredMB = requiredMB;
    check.logPrefix = "PreduceDialog Check Writer ready";
    check.owner = this;
    check.log = [this](int level, const std::string& text) { LogToApp(level, text); };
    return ::CheckWriterReady(check);
}

BurnOutcome CQuilvoVidrevoDlg::BurnToDVDDisc() {
    CProgressDlg* progress = OpenProgressDlg("Burning Disc...", CProgressDlg::ModeBurn, this);
    progress->SetStopHandler([this](int message) {
        // Asked after the progress window's own handler has returned.
        QMetaObject::invokeMethod(
            this, [this, message] { SendMessage(message); }, Qt::QueuedConnection);
    });
    // The engine's timer sets the window directly; the status lines are told on like the others.
    connect(progress, &CProgressDlg::progressSet, this, [this, progress](const QString& text, int percent) {
        emit progressChanged(progress->windowTitle(), text, percent);
    });
    BurnOutcome outcome = BurnOutcome::Refused;
    std::string folder = g_strWorkFolder + "DVD Movie/";
    char line[256];
    if (!CheckDvdFolder(&folder)) {
        LogToApp(0, "Check DVD Folder '" + folder + "' failed\n");
        qx::Prompts().Information(this, "Folder is Invalid! Please select valid Folder");
    } else {
        LogToApp(0, "Check DVD Folder '" + folder + "' successful\n");
        const double size = DvdFolderSizeMB(folder);
        if (size < 1) {
            qx::Prompts().Information(this, "Selected DVD File System is too small! Please check it and try again.");
            LogToApp(0, "Selected DVD File System is too small!\n");
        } else if (size > kDvd5LimitMB && m_nDiscType == 0) {
            std::snprintf(line, sizeof line, "Target is DVD_5 DVD Folder space:%f is over DVD_5 burn quit\n", size);
            LogToApp(0, line);
            qx::Prompts().Information(this,
                                      "DVD file size is over DVD5_SIZE! \nPlease Set target to DVD_9 and burn again.");
        } else if (size > kDvd9LimitMB) {
            std::snprintf(line, sizeof line, "DVD Folder space:%f is over DVD_9 burn quit\n", size);
            LogToApp(0, line);
            qx::Prompts().Information(this, "DVD file size is over DVD9_SIZE! It can not be burned.");
        } else if (BurnCore* core = SelectedCore()) {
            std::snprintf(line, sizeof line, "Target is %d, DVD Folder space:%f, burn core:%d writer:%d\n", m_nDiscType,
                          size, m_comboBurnEngine->currentIndex(), m_comboWriters->currentIndex());
            LogToApp(0, line);
            outcome = core->BurnDVDFolder(this, m_comboWriters->currentIndex(), folder, m_strDiscLabel);
        }
    }
    LogToApp(0, "Burn Complete!\n");
    DestroyProgressDlg();
    return outcome;
}

void CQuilvoVidrevoDlg::RequestStopBurn() {
    if (BurnCore* core = SelectedCore()) {
        core->RequestStopBurn();
    }
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
