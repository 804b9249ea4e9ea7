// The burn side of the main window: the engine and writer combos, the writer check before a job
// and the burn job after authoring. The engines themselves sit behind BurnCore.
#include "MainDlg.h"

#include "ProgressDlg.h"
#include "PromptService.h"
#include "Settings.h"

#include <QCheckBox>
#include <QComboBox>

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>

namespace {

constexpr const char* kNoWriter = "No DVD Writer detected! Cannot burn DVD Disk!";

// Size of a DVD folder in MB: every file directly inside, each rounded down to whole MB.
double DvdFolderSizeMB(const std::string& folder) {
    double total = 0;
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        return 0;
    }
    while (dirent* entry = readdir(dir)) {
        struct stat st;
        const std::string path = folder + entry->d_name;
        if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            total += static_cast<double>(st.st_size / 1024 / 1024);
        }
    }
    closedir(dir);
    return total;
}

} // namespace

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
    BurnCore* core = SelectedCore();
    if (!core) {
        qx::Prompts().Information(this, kNoWriter);
        return 0;
    }
    DVDDeviceInfo info;
    const int found = core->GetWriterInfo(m_comboWriters->currentIndex(), &info);
    LogToApp(0, "PreduceDialog Check Writer ready resault:" + std::to_string(found ? 1 : 0) + "\n");
    if (!found) {
        qx::Prompts().Information(this, kNoWriter);
        return 0;
    }
    char line[1024];
    std::snprintf(line, sizeof line,
                  "PreduceDialog Check Writer ready \n        DeviceInfo: typename: %s, ReadSpeed:%s, WriteSpeed:%s, \n"
                  "        support:%d%d%d%d%d%d\n        DiscInfo: type:%s, totleSpace:%s, m_bD9:%d, \n"
                  "        DiscIsInserted:%d, CanSupport:%d, CanErase:%d, isEmpty:%d\n",
                  info.typename_.c_str(), info.ReadSpeed.c_str(), info.WriteSpeed.c_str(), info.support[0],
                  info.support[1], info.support[2], info.support[3], info.support[4], info.support[5],
                  info.type.c_str(), info.totleSpace.c_str(), info.m_bD9, info.DiscIsInserted, info.CanSupport,
                  info.CanErase, info.isEmpty);
    LogToApp(0, line);
    if (!info.DiscIsInserted) {
        qx::Prompts().Information(this, "No inserted disk! Please insert writable DVD!");
        return 0;
    }
    if (!info.CanSupport) {
        qx::Prompts().Information(this, "The inserted disk is invalid! Please inserted writable DVD!");
        return 0;
    }
    if (!info.isEmpty) {
        if (!info.CanErase) {
            qx::Prompts().Information(this, "The inserted media is writable disk, but it is not blank, and is not "
                                            "erasable!\nPlease Inserted blank writable DVD Disk!");
            return 0;
        }
        if (!qx::Prompts().AskYesNo(this, "The inserted media is rewritable disk, and is not blank! \nThe disk would "
                                          "be erased first, and all data will lost. Do you want to Continue?")) {
            return 0;
        }
    }
    if (target == 1 && !info.m_bD9) {
        qx::Prompts().Information(this,
                                  "Now We need a DVD9 type writable DVD Disk.\nThe inserted disk is not DVD9 type!");
        return 0;
    }
    if (info.totalSpaceMB >= requiredMB) {
        return 1;
    }
    char text[256];
    std::snprintf(text, sizeof text, "Inserted dvd disk volume:%dM is lower then video dvd file volume:%dM.\n",
                  info.totalSpaceMB, requiredMB);
    qx::Prompts().Information(this, std::string(text) + " So cannot burn. Please remove some file in dvd.");
    LogToApp(0, text);
    return 0;
}

void CQuilvoVidrevoDlg::BurnToDVDDisc() {
    OpenProgressDlg("Burning Disc...", CProgressDlg::ModeBurn, this)->SetStopHandler([this](int message) {
        QMetaObject::invokeMethod(
            this, [this, message] { SendMessage(message); }, Qt::QueuedConnection);
    });
    const std::string folder = g_strWorkFolder + "DVD Movie/VIDEO_TS/";
    struct stat st;
    char line[256];
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        LogToApp(0, "Check DVD Folder '" + folder + "' failed\n");
        qx::Prompts().Information(this, "Folder is Invalid! Please select valid Folder");
    } else {
        LogToApp(0, "Check DVD Folder '" + folder + "' successful\n");
        const double size = DvdFolderSizeMB(folder);
        if (size < 1) {
            qx::Prompts().Information(this, "Selected DVD File System is too small! Please check it and try again.");
            LogToApp(0, "Selected DVD File System is too small!\n");
        } else if (size > 4250 && m_nDiscType == 0) {
            std::snprintf(line, sizeof line, "Target is DVD_5 DVD Folder space:%f is over DVD_5 burn quit\n", size);
            LogToApp(0, line);
            qx::Prompts().Information(this,
                                      "DVD file size is over DVD5_SIZE! \nPlease Set target to DVD_9 and burn again.");
        } else if (size > 8100) {
            std::snprintf(line, sizeof line, "DVD Folder space:%f is over DVD_9 burn quit\n", size);
            LogToApp(0, line);
            qx::Prompts().Information(this, "DVD file size is over DVD9_SIZE! It can not be burned.");
        } else if (BurnCore* core = SelectedCore()) {
            std::snprintf(line, sizeof line, "Target is %d, DVD Folder space:%f, burn core:%d writer:%d\n", m_nDiscType,
                          size, m_comboBurnEngine->currentIndex(), m_comboWriters->currentIndex());
            LogToApp(0, line);
            core->BurnDVDFolder(this, m_comboWriters->currentIndex(), folder, m_strDiscLabel);
        }
    }
    LogToApp(0, "Burn Complete!\n");
    DestroyProgressDlg();
}

void CQuilvoVidrevoDlg::RequestStopBurn() {
    if (BurnCore* core = SelectedCore()) {
        core->RequestStopBurn();
    }
}
