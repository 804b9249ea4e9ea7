// Authoring the DVD folder after the conversion, the leftover scan of the output folder, and the
// completion actions (temporary-file clean-up, shutdown).
#include "MainDlg.h"

#include "AuthorLog.h"
#include "AuthorProgress.h"
#include "DvdLeftovers.h"
#include "Folders.h"
#include "ProgressDlg.h"
#include "PromptService.h"
#include "XListCtrl.h"

#include <QCoreApplication>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

void Pump() {
    QCoreApplication::processEvents();
}

std::string VideoTsFolder(const std::string& workFolder) {
    return workFolder + "DVD Movie/VIDEO_TS/";
}

} // namespace

void CQuilvoVidrevoDlg::AuthorDVDVideo() {
    OpenProgressDlg("DVD authoring", CProgressDlg::ModeAuthoring, this);

    std::string outFolder = g_strWorkFolder + "DVD Movie";
    // The folders this run makes are its own: a run that is interrupted takes them away again (an
    // existing folder, or one something else was put into meanwhile, stays).
    std::vector<std::string> newFolders;
    for (const std::string& folder : {outFolder, outFolder + "/VIDEO_TS", outFolder + "/AUDIO_TS"}) {
        struct stat st;
        if (lstat(folder.c_str(), &st) != 0 && errno == ENOENT) {
            newFolders.push_back(folder);
        }
    }
    const qx::Status made = qx::MakeFolderPath(outFolder);
    std::vector<AuthorTitle> titles;
    for (int row = 0; row < m_listSources->GetItemCount(); ++row) {
        const CSourceInfo& source = m_arrSources.at(row);
        AuthorLog(3, "Begin author dvd video, NO.%d strVobFile=%s, in AuthorDVDVideo", row, source.strVobFile.c_str());
        titles.push_back({source.strVobFile, static_cast<int>(source.dDuration)});
        AuthorLog(3, "Complete author dvd video, NO.%d strVobFile=%s, in AuthorDVDVideo", row,
                  source.strVobFile.c_str());
    }

    AuthorProgressThrottle throttle(Pump, [this](int percent, const std::string& text) {
        if (!g_pProgressDlg) {
            return false;
        }
        ReportProgress(percent, text);
        return true;
    });
    AuthorLog(3, "Begin CreateDVD");
    LogToApp(0, "Begin Real DVD Author\n");
    std::string error;
    bool ok = made.ok();
    if (!ok) {
        error = made.error();
    } else {
        m_parts.authoring->stop = m_nInterruptSignal != 0;
        ok = m_parts.authoring->Author(
            outFolder, titles, m_bSplitOutput != 0,
            [&throttle](int phase, int percent) { throttle.Report(phase, percent); }, &error);
    }
    DestroyProgressDlg();
    if (!ok && m_nInterruptSignal != 0) {
        // The engine removed the files it wrote; no half DVD folder may pass for a product.
        m_bAuthorFailed = true;
        for (auto folder = newFolders.rbegin(); folder != newFolders.rend(); ++folder) {
            ::rmdir(folder->c_str());
        }
        AuthorLog(3, "CreateDVD stopped: %s", error.c_str());
        LogToApp(1, "DVD Author stopped: the job was interrupted\n");
        return;
    }
    if (!ok) {
        // The engine failed: say why and keep the list; the job goes on without burning.
        m_bAuthorFailed = true;
        AuthorLog(3, "CreateDVD failed: %s", error.c_str());
        LogToApp(1, "DVD Author Failed: " + error + "\n");
        qx::Prompts().Error(this, "Creating the DVD folder failed:\n" + error);
        return;
    }
    AuthorLog(3, "Complete CreateDVD");
    LogToApp(0, "Complete Real DVD Author\n");
}

bool CQuilvoVidrevoDlg::FindOrDeleteLeftovers(bool checkOnly) {
    const std::string folder = VideoTsFolder(g_strWorkFolder);
    if (FindOrDeleteDvdFiles(folder, true, Pump) != 1) {
        return true;
    }
    if (checkOnly &&
        !qx::Prompts().AskOkCancel(this, "Found vob or ifo files in folder " + folder + " ,delete all of them?")) {
        return false;
    }
    std::string error;
    if (FindOrDeleteDvdFiles(folder, false, Pump, &error) < 0) {
        qx::Prompts().Error(this, "Could not delete the old DVD files in " + folder + ":\n" + error);
        return false;
    }
    return true;
}

void CQuilvoVidrevoDlg::CleanTemporaryFiles() {
    const std::string folder = VideoTsFolder(m_strTempFolder);
    if (FindOrDeleteDvdFiles(folder, true, Pump) == 1) {
        std::string error;
        if (FindOrDeleteDvdFiles(folder, false, Pump, &error) < 0) {
            AuthorLog(3, "Temporary DVD files not all deleted: %s", error.c_str());
        }
    }
}

void CQuilvoVidrevoDlg::ShutdownComputer() {
    m_parts.power->Shutdown();
}
