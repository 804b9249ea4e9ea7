// The conversion thread's view of the main window: every call that changes the window is a
// private message sent synchronously onto the window's thread.
#pragma once

#include "ConvertThread.h"
#include "MainDlg.h"

class MainDlgJobHost : public ConvertHost {
public:
    explicit MainDlgJobHost(CQuilvoVidrevoDlg* dlg) : m_dlg(dlg) {}

    void EnableJobControls(bool enable) override;
    void ConvertBegin(int row) override { m_dlg->SendMessage(WM_CONVERT_BEGIN, row); }
    void ConvertResult(int row, bool converted) override { m_dlg->SendMessage(WM_CONVERT_RESULT, row, converted); }
    void ConvertEnd(int row) override { m_dlg->SendMessage(WM_CONVERT_END, row); }
    void AllConverted() override { m_dlg->SendMessage(WM_CONVERT_ALL_DONE); }

    // The list cannot change while a job runs (its controls are disabled and the window is held).
    int SourceCount() const override { return static_cast<int>(m_dlg->m_arrSources.size()); }
    std::string SourcePath(int row) const override { return m_dlg->m_arrSources.at(row).strPath; }
    std::string ConvertedPath(int row) const override { return m_dlg->m_arrSources.at(row).strVobFile; }

    void SendConvertRequest(int row) override {
        m_dlg->m_parts.encoder->SendConvert(m_dlg->m_arrSources.at(row), m_dlg->m_job);
    }
    EncoderOutcome WaitEncoderOutcome(int timeoutMs) override;
    bool StopRequested() const override { return m_dlg->m_bStopConvert; }
    void Log(int level, const std::string& text) override { m_dlg->LogToApp(level, text); }

private:
    CQuilvoVidrevoDlg* m_dlg;
};
