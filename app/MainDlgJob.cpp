// The window side of the disc job: "Start now" reads the controls into a job value and starts it;
// the job's reports come back as the private messages of the conversion, the progress windows of
// the steps, the row texts and the end of the job.
#include "MainDlg.h"

#include "AuthorLog.h"
#include "MainDlgJobObserver.h"
#include "ProgressDlg.h"
#include "PromptService.h"
#include "WriterJobs.h"
#include "XListCtrl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

namespace {

constexpr const char* kEncoderCreateError =
    "Error on Create Encoder Proxy,\nPlease reinstalled this software, or contact Support.";

} // namespace

void MainDlgJobObserver::WorkFolderChosen(const std::string& folder) {
    if (m_dlg->m_strTempFolder != folder) {
        m_dlg->m_strTempFolder = folder;
        m_dlg->m_editTempFolder->setText(QString::fromStdString(folder));
    }
}

void MainDlgJobObserver::JobAccepted() {
    g_strWorkFolder = m_dlg->m_job->Spec().workFolder;
    m_dlg->m_arrSources = m_dlg->m_job->Spec().movies;
    // Stop the preview and keep the choices.
    m_dlg->OnBtnStopPreview();
    m_dlg->SaveOutputSettings();
}

void MainDlgJobObserver::StepBegin(JobStep step, const std::string& title) {
    switch (step) {
    case JobStep::Authoring:
        m_dlg->AuthorDVDVideo();
        break;
    case JobStep::Burning:
        m_dlg->BurnToDVDDisc();
        break;
    case JobStep::Imaging: {
        // Cancel asks to stop the image as it does a burn.
        CProgressDlg* progress = OpenProgressDlg(title, CProgressDlg::ModeBurn, m_dlg);
        progress->SetStopHandler([dlg = m_dlg](int message) {
            QMetaObject::invokeMethod(
                dlg, [dlg, message] { dlg->SendMessage(message); }, Qt::QueuedConnection);
        });
        break;
    }
    default:
        OpenProgressDlg(title, CProgressDlg::ModeAuthoring, m_dlg);
        break;
    }
}

void MainDlgJobObserver::StepEnd(JobStep) {
    DestroyProgressDlg();
}

void MainDlgJobObserver::BeforeOutcome() {
    if (m_dlg->isMinimized()) {
        m_dlg->showNormal();
    }
    if (m_dlg->isVisible()) {
        m_dlg->raise();
        m_dlg->activateWindow();
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

DiscJobParams CQuilvoVidrevoDlg::ReadJobParams() const {
    DiscJobParams spec;
    spec.movies = m_arrSources;
    spec.tv = m_tvMode;
    spec.aspect = m_comboAspect->currentIndex() == 1 ? DisplayAspect::Wide16x9 : DisplayAspect::Standard4x3;
    spec.keepAspect = m_bKeepAspect;
    spec.discType = m_nDiscType;
    spec.workFolder = m_strTempFolder;
    spec.label = m_strDiscLabel;
    spec.burn = m_chkBurn->isChecked();
    spec.burnTarget = {m_comboBurnEngine->currentIndex(), m_comboWriters->currentIndex()};
    spec.burnToImage = m_comboWriters->currentIndex() >= m_nRealWriters;
    spec.deleteTempFiles = m_chkDeleteTmp->isChecked();
    spec.shutdown = m_chkShutdown->isChecked();
    spec.menu = m_chkMenu->isChecked();
    spec.verify = m_chkVerify->isChecked();
    spec.showSubtitles = m_chkShowSubtitles->isChecked();
    return spec;
}

void CQuilvoVidrevoDlg::OnBtnStartconvert() {
    // One job at a time: also between two movies, when no progress window holds the window, and
    // while a question of the start checks is open.
    if (m_job->Running() || m_bAddingFiles) {
        return;
    }
    CProgressDlg::ResetMainShowState();
    if (m_listSources->GetItemCount() == 0) {
        return;
    }
    DiscJobParams spec = ReadJobParams();
    if (spec.burn && spec.burnToImage) {
        // The image entry: where the image goes is asked once, before the checks.
        spec.imageFile = AskImageFile(this, spec.label, m_strImageFolder);
        if (spec.imageFile.empty()) {
            return;
        }
        m_strImageFolder = spec.imageFile.substr(0, spec.imageFile.rfind('/') + 1);
    }
    ShowLoading();
    m_job->Start(std::move(spec));
    HideLoading();
}

void CQuilvoVidrevoDlg::OnConvertBegin(int row) {
    m_listSources->SelectItem(row);
    CProgressDlg* progress = OpenProgressDlg(m_strConvertTitle, CProgressDlg::ModeConvert, this);
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

void CQuilvoVidrevoDlg::OnConvertResult(int row, bool) {
    // The job has judged the movie and set its status; the list keeps the job's record of it.
    m_arrSources.at(row) = m_job->Spec().movies.at(row);
}

void CQuilvoVidrevoDlg::OnAllConverted() {
    m_arrSources = m_job->Spec().movies;
}

void CQuilvoVidrevoDlg::AuthorDVDVideo() {
    OpenProgressDlg("DVD authoring", CProgressDlg::ModeAuthoring, this);
}

void CQuilvoVidrevoDlg::BurnToDVDDisc() {
    CProgressDlg* progress = OpenProgressDlg("Burning Disc...", CProgressDlg::ModeBurn, this);
    CProgressDlg::ResetMainShowState();
    progress->SetStopHandler([this](int message) {
        // Asked after the progress window's own handler has returned.
        QMetaObject::invokeMethod(
            this, [this, message] { SendMessage(message); }, Qt::QueuedConnection);
    });
}

void CQuilvoVidrevoDlg::StopConvert() {
    m_job->StopConvert();
}

void CQuilvoVidrevoDlg::RequestStopBurn() {
    m_job->RequestStopBurn();
}

bool CQuilvoVidrevoDlg::InterruptJob(int signal) {
    if (!m_job->Running()) {
        // A burn or erase that one of the burn dialogs runs is cancelled the same way.
        for (BurnCore* core : {m_parts.buildInCore.get(), m_parts.neroCore.get()}) {
            if (core) {
                core->CancelBurn();
            }
        }
        return false;
    }
    return m_job->Interrupt(signal);
}

void CQuilvoVidrevoDlg::OnJobFinished(const JobOutcome& outcome) {
    m_arrSources = m_job->Spec().movies;
    m_lastBurnOutcome = outcome.burnTried ? outcome.burnOutcome : BurnOutcome::Refused;
    m_bLastJobAccomplished = outcome.accomplished;
    ++m_nJobsFinished;
    emit jobFinished();
}
