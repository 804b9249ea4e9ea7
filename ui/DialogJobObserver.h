// What the burn-DVD-folder and writer-information dialogs show of a writer operation
// (job/WriterJobs.h): boxes owned by the dialog, log lines to the log program, the step in the one
// progress window with the engine's status lines.
#pragma once

#include "BurnDialogParts.h"
#include "Folders.h"
#include "JobObserver.h"
#include "ProgressDlg.h"

#include <functional>

class DialogJobObserver : public JobObserver {
public:
    DialogJobObserver(QWidget* dialog, const BurnDialogParts& parts) : m_dialog(dialog), m_parts(parts) {}

    QObject* PromptOwner() const override { return m_dialog; }
    void Log(int level, const std::string& text) override {
        if (m_parts.log) {
            m_parts.log(level, text);
        }
    }
    std::string LogPlace() const override { return qx::LogFilePath(); }
    void StepBegin(JobStep, const std::string& title) override {
        m_bStepRan = true;
        if (beforeStep) {
            beforeStep();
        }
        CProgressDlg* progress = OpenProgressDlg(title, CProgressDlg::ModeBurn, m_dialog);
        CProgressDlg::ResetMainShowState();
        if (onStop) {
            // Asked after the progress window's own handler has returned.
            progress->SetStopHandler([this](int) {
                QMetaObject::invokeMethod(
                    m_dialog, [this] { onStop(); }, Qt::QueuedConnection);
            });
        }
    }
    void StepEnd(JobStep) override { DestroyProgressDlg(); }
    void Progress(int percent, const std::string& text) override { OnProgressText(text, percent); }

    // Whether the operation got as far as its step (past every check).
    bool StepRan() const { return m_bStepRan; }

    std::function<void()> beforeStep; // runs before the progress window opens
    std::function<void()> onStop;     // the progress window's Cancel; empty: Cancel does nothing

private:
    QWidget* m_dialog;
    const BurnDialogParts& m_parts;
    bool m_bStepRan = false;
};
