// The job workflow of the main window: the start checks, the conversion thread's messages, the
// end of a job, stopping, and the removal of the converted streams.
#include "MainDlg.h"

#include "AuthorLog.h"
#include "BurnJob.h"
#include "DvdLeftovers.h"
#include "EncoderRecord.h"
#include "Folders.h"
#include "MainDlgJobHost.h"
#include "ProgressDlg.h"
#include "PromptService.h"
#include "VolumeInfo.h"
#include "XListCtrl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace {

constexpr const char* kEncoderCreateError =
    "Error on Create Encoder Proxy,\nPlease reinstalled this software, or contact Support.";

// Longest working folder a conversion request can carry (its area holds 260 bytes with the end mark).
constexpr size_t kMaxWorkFolderBytes = 259;
// Longest converted-stream path a conversion request can carry.
constexpr size_t kMaxOutputPathBytes = 349;

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

int64_t ProcessClockMs() {
    static QElapsedTimer clock;
    if (!clock.isValid()) {
        clock.start();
    }
    return clock.elapsed();
}

void MainDlgJobHost::EnableJobControls(bool enable) {
    QMetaObject::invokeMethod(
        m_dlg, [this, enable] { m_dlg->EnableJobControls(enable); }, Qt::BlockingQueuedConnection);
}

EncoderOutcome MainDlgJobHost::WaitEncoderOutcome(int timeoutMs) {
    switch (m_dlg->m_parts.encoder->WaitConvert(timeoutMs)) {
    case ConvertWait::Complete:
        return EncoderOutcome::Complete;
    case ConvertWait::Crashed:
        return EncoderOutcome::Crashed;
    default:
        return EncoderOutcome::None;
    }
}

bool CQuilvoVidrevoDlg::StartEncoderProxy() {
    std::string error;
    if (!m_parts.encoder->Start(&error)) {
        AuthorLog(3, "Encoder program did not start: %s", error.c_str());
        qx::Prompts().Information(this, kEncoderCreateError);
        return false;
    }
    return true;
}

void CQuilvoVidrevoDlg::OnBtnStartconvert() {
    // One job at a time: also between two movies, when no progress window holds the window, and
    // while a question of the start checks is open.
    if (m_bJobRunning || m_bAddingFiles || m_bStarting) {
        return;
    }
    m_bStarting = true;
    struct StartingDone {
        bool& flag;
        ~StartingDone() { flag = false; }
    } startingDone{m_bStarting};
    CProgressDlg::ResetMainShowState();
    m_bStopConvert = false;
    if (m_listSources->GetItemCount() == 0) {
        return;
    }
    ShowLoading();
    auto end = [this] { HideLoading(); };

    for (int row = 0; row < static_cast<int>(m_arrSources.size()); ++row) {
        SetRowStatus(row, "Ready");
    }
    if (m_chkBurn->isChecked() && CheckWriterReady(m_nDiscType, m_nTotalSizeMB) == 0) {
        return end();
    }
    if (m_strTempFolder.empty()) {
        qx::Prompts().Information(this, "Please select a temp folder!");
        return end();
    }
    if (m_strTempFolder.back() != '/') {
        m_strTempFolder += '/';
        m_editTempFolder->setText(QString::fromStdString(m_strTempFolder));
    }
    // A relative folder would depend on where the program was started from: it is not made.
    if (m_strTempFolder.front() != '/') {
        qx::Prompts().Information(this, m_strTempFolder + " is not a valid folder!");
        return end();
    }
    if (m_strTempFolder.size() > kMaxWorkFolderBytes) {
        qx::Prompts().Information(this, "The temp folder path is too long (at most 259 bytes):\n" + m_strTempFolder);
        return end();
    }
    const qx::Status made = qx::MakeFolderPath(m_strTempFolder);
    if (!made.ok()) {
        AuthorLog(3, "Cannot make the temp folder: %s", made.error().c_str());
    }
    if (!IsFolder(m_strTempFolder)) {
        qx::Prompts().Information(this, m_strTempFolder + " is not a valid folder!");
        return end();
    }

    g_strWorkFolder = m_strTempFolder;
    if (!RebaseOutputNames(m_arrSources, g_strWorkFolder)) {
        qx::Prompts().Information(this, "No free name for a converted movie in " + g_strWorkFolder + "!");
        return end();
    }
    for (const CSourceInfo& source : m_arrSources) {
        if (source.strVobFile.size() + 6 > kMaxOutputPathBytes) {
            qx::Prompts().Information(this, "The converted movie path is too long:\n" + source.strVobFile);
            return end();
        }
    }
    // Stop the preview and keep the choices.
    OnBtnStopPreview();
    SaveOutputSettings();

    if (!FindOrDeleteLeftovers(true)) {
        return end();
    }
    if (isEnoughFreeSpace(g_strWorkFolder) == 0) {
        return end();
    }
    if (!RunSizeChecks()) {
        return end();
    }
    IdentifyFileSystem(g_strWorkFolder);
    m_bSplitOutput = 1;

    m_parts.encoder->Kill();
    if (!StartEncoderProxy()) {
        return end();
    }
    if (!m_parts.encoder->HasWindow()) {
        qx::Prompts().Information(this, kEncoderCreateError);
        return end();
    }

    m_job.workFolder = g_strWorkFolder;
    m_job.tvMode = m_nTVMode;
    m_job.aspectIndex = m_comboAspect->currentIndex();
    m_job.keepAspect = m_bKeepAspect;
    m_job.splitOutput = m_bSplitOutput != 0;
    m_bJobRunning = true;
    m_bAuthorFailed = false;
    m_nInterruptSignal = 0;
    m_jobStep = JobStep::Converting;
    EnableJobControls(false);
    if (m_convertThread.joinable()) {
        m_convertThread.join();
    }
    ++m_nWorkersRunning;
    m_convertThread = std::thread([this] {
        ConvertThread(*m_jobHost);
        --m_nWorkersRunning;
    });
    end();
}

int CQuilvoVidrevoDlg::IdentifyFileSystem(const std::string& folder) {
    const qx::Result<qx::VolumeInfo> volume = qx::QueryVolume(folder);
    if (!volume.ok()) {
        return 0;
    }
    const std::string& name = volume.value.fileSystemName;
    if (name == "FAT") {
        AuthorLog(3, "File System is FAT ");
        return 1;
    }
    if (name == "FAT32") {
        AuthorLog(3, "File System is FAT32");
        return 2;
    }
    if (name == "NTFS") {
        AuthorLog(3, "File System is NTFS");
        return 3;
    }
    return 0;
}

void CQuilvoVidrevoDlg::OnConvertBegin(int row) {
    m_dwConvertStart = ProcessClockMs();
    m_listSources->SelectItem(row);
    CProgressDlg* progress =
        OpenProgressDlg("Converting " + m_arrSources.at(row).strPath, CProgressDlg::ModeConvert, this);
    // The stop question is asked after the progress window's own handler has returned, so that a
    // movie ending meanwhile may close the window safely.
    progress->SetStopHandler([this](int message) {
        QMetaObject::invokeMethod(
            this, [this, message] { SendMessage(message); }, Qt::QueuedConnection);
    });
}

void CQuilvoVidrevoDlg::OnConvertEnd(int) {
    DestroyProgressDlg();
}

std::string CQuilvoVidrevoDlg::SubstituteStream() const {
    const std::string specific = m_strCompanionFolder + "default_" + (m_job.tvMode == 1 ? "pal" : "ntsc") + "_" +
                                 (m_job.aspectIndex == 1 ? "16x9" : "4x3") + ".vob";
    struct stat st;
    if (stat(specific.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        return specific;
    }
    return m_strCompanionFolder + "default.vob";
}

void CQuilvoVidrevoDlg::OnConvertResult(int row, bool converted) {
    CSourceInfo& source = m_arrSources.at(row);
    if (converted) {
        LogToApp(0, "Convert File:" + source.strPath + " to VOB Successful\n");
        if (m_bStopConvert) {
            return;
        }
        SetRowStatus(row, "Completed");
        return;
    }
    LogToApp(1, "Convert File:" + source.strPath + " to VOB Failed\n");
    SetRowStatus(row, "Failed");
    if (source.bOwnsOutput) {
        std::error_code ec;
        std::filesystem::copy_file(SubstituteStream(), source.strVobFile,
                                   std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) {
            AuthorLog(3, "Substitute stream not copied to %s: %s", source.strVobFile.c_str(), ec.message().c_str());
        }
    }
}

void CQuilvoVidrevoDlg::StopConvert() {
    AuthorLog(3, "Stop conversion in StopConvert");
    if (m_bStopConvert || !m_bJobRunning) {
        return;
    }
    if (!qx::Prompts().AskYesNo(this, "Do you really want to stop convert process?", "Query")) {
        return;
    }
    LogToApp(0, "Stopping Convert Process\n");
    m_bStopConvert = true;
    m_parts.encoder->SendStop();
}

void CQuilvoVidrevoDlg::DeleteConvertedFiles() {
    for (CSourceInfo& source : m_arrSources) {
        // Only streams whose names the job reserved are the job's own; a file the user keeps under
        // such a name was never chosen as an output.
        if (!source.bOwnsOutput) {
            continue;
        }
        for (const char* suffix : {"", ".part1", ".part2"}) {
            if (*suffix != '\0' && !m_bSplitOutput) {
                continue;
            }
            const std::string name = source.strVobFile + suffix;
            ::unlink(name.c_str());
            // What an interrupted conversion was still writing.
            ::unlink(qx::EncoderWritingName(name).c_str());
        }
        source.bOwnsOutput = false;
    }
}

void CQuilvoVidrevoDlg::AbandonJob() {
    // Nothing may write any more before the files go; then they go as at a normal end.
    m_parts.encoder->Kill();
    DeleteConvertedFiles();
}

bool CQuilvoVidrevoDlg::InterruptJob(int signal) {
    if (!m_bJobRunning) {
        // A burn or erase that one of the burn dialogs runs is cancelled the same way.
        for (BurnCore* core : {m_parts.buildInCore.get(), m_parts.neroCore.get()}) {
            if (core) {
                core->CancelBurn();
            }
        }
        return false;
    }
    if (m_nInterruptSignal != 0) {
        return true; // already stopping
    }
    m_nInterruptSignal = signal;
    LogToApp(1, "Job interrupted by signal " + std::to_string(signal) + "\n");
    switch (m_jobStep) {
    case JobStep::Converting:
        LogToApp(0, "Stopping Convert Process\n");
        m_bStopConvert = true;
        m_parts.encoder->SendStop();
        // The conversion thread may send its next request just after this stop: it is repeated
        // until the conversion has ended.
        if (!m_pStopRepeatTimer) {
            m_pStopRepeatTimer = new QTimer(this);
            connect(m_pStopRepeatTimer, &QTimer::timeout, this, [this] {
                if (m_bJobRunning && m_jobStep == JobStep::Converting) {
                    m_parts.encoder->SendStop();
                } else {
                    m_pStopRepeatTimer->stop();
                }
            });
        }
        m_pStopRepeatTimer->start(500);
        break;
    case JobStep::Authoring:
        m_parts.authoring->stop = true;
        break;
    case JobStep::Burning:
        if (BurnCore* core = SelectedCore()) {
            core->CancelBurn();
        }
        break;
    case JobStep::None:
        break;
    }
    return true;
}

void CQuilvoVidrevoDlg::OnAllConverted() {
    bool accomplished = false;
    m_lastBurnOutcome = BurnOutcome::Refused;
    if (m_bStopConvert) {
        DeleteConvertedFiles();
    } else {
        LogToApp(0, "Begin DVD Author\n");
        m_jobStep = JobStep::Authoring;
        AuthorDVDVideo();
        const bool burn = m_chkBurn->isChecked();
        if (burn && !m_bAuthorFailed && m_nInterruptSignal == 0) {
            AuthorLog(3, "Enter BurnToDVDDisc in OnBtnStartconvert");
            LogToApp(0, "Begin Burn DVD\n");
            m_jobStep = JobStep::Burning;
            m_lastBurnOutcome = BurnToDVDDisc();
        }
        DeleteConvertedFiles();
        if (m_nInterruptSignal != 0) {
            // The program is ending: the outcome goes to the log, no box waits for an answer and
            // the computer stays on.
            if (burn && !m_bAuthorFailed) {
                LogToApp(1, std::string("Burn DVD ") + BurnOutcomeName(m_lastBurnOutcome) + "\n");
            }
        } else {
            FinishWithOutcome(burn, &accomplished);
        }
    }
    FinishJob();
    m_bLastJobAccomplished = accomplished;
    ++m_nJobsFinished;
    emit jobFinished();
}

void CQuilvoVidrevoDlg::FinishWithOutcome(bool burn, bool* accomplished) {
    if (isMinimized()) {
        showNormal();
    }
    if (isVisible()) {
        raise();
        activateWindow();
    }
    if (m_bAuthorFailed) {
        // The engine's error was shown; the DVD folder is not a product and nothing is burned.
        LogToApp(1, "DVD Author Failed\n");
    } else if (burn && m_lastBurnOutcome != BurnOutcome::Done) {
        // Nothing usable reached the disc: the DVD folder stays for another try and the
        // computer stays on so that the user learns about it.
        LogToApp(1, std::string("Burn DVD ") + BurnOutcomeName(m_lastBurnOutcome) + "\n");
        qx::Prompts().Information(this, BurnOutcomeMessage(m_lastBurnOutcome) + "\nThe DVD folder is kept in " +
                                            g_strWorkFolder + "DVD Movie/VIDEO_TS/");
    } else {
        if (m_chkDeleteTmp->isChecked() && burn) {
            CleanTemporaryFiles();
        }
        if (m_chkShutdown->isChecked()) {
            LogToApp(0, "Shut down compter after Complete All Work\n");
            ShutdownComputer();
        } else {
            LogToApp(0, "Complete All Work\n");
            qx::Prompts().Information(this, "Mission accomplished!");
            *accomplished = true;
        }
    }
}

void CQuilvoVidrevoDlg::FinishJob() {
    EnableJobControls(true);
    m_bStopConvert = false;
    m_jobStep = JobStep::None;
    m_parts.encoder->Kill();
    if (m_bDestroying || m_nInterruptSignal != 0) {
        m_bJobRunning = false; // the window is closing or the program ending: no encoder for a next job
        return;
    }
    if (StartEncoderProxy() && !m_parts.encoder->HasWindow()) {
        qx::Prompts().Information(this, kEncoderCreateError);
    }
    m_bJobRunning = false;
}
