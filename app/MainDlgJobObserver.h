// The window's view of its disc job: what the job reports becomes the window's private messages,
// row texts, progress window and boxes. Every call comes on the window's thread.
#pragma once

#include "Folders.h"
#include "JobObserver.h"
#include "MainDlg.h"

class MainDlgJobObserver : public JobObserver {
public:
    explicit MainDlgJobObserver(CQuilvoVidrevoDlg* dlg) : m_dlg(dlg) {}

    QObject* PromptOwner() const override { return m_dlg; }
    void Log(int level, const std::string& text) override { m_dlg->LogToApp(level, text); }
    std::string LogPlace() const override { return qx::LogFilePath(); }
    void WorkFolderChosen(const std::string& folder) override;
    void JobAccepted() override;
    void EnableJobControls(bool enable) override { m_dlg->EnableJobControls(enable); }
    void ConvertBegin(int row, const std::string& title) override {
        m_dlg->m_strConvertTitle = title;
        m_dlg->SendMessage(WM_CONVERT_BEGIN, row);
    }
    void ConvertResult(int row, bool converted) override { m_dlg->SendMessage(WM_CONVERT_RESULT, row, converted); }
    void ConvertEnd(int row) override { m_dlg->SendMessage(WM_CONVERT_END, row); }
    void AllConverted() override { m_dlg->SendMessage(WM_CONVERT_ALL_DONE); }
    void MovieStatus(int row, const std::string& status) override { m_dlg->SetRowStatus(row, status); }
    void StepBegin(JobStep step, const std::string& title) override;
    void StepEnd(JobStep step) override;
    void Progress(int percent, const std::string& text) override { m_dlg->ReportProgress(percent, text); }
    void BeforeOutcome() override;
    void Finished(const JobOutcome& outcome) override { m_dlg->OnJobFinished(outcome); }

private:
    CQuilvoVidrevoDlg* m_dlg;
};
