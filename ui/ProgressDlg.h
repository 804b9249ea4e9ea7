// The one modeless progress window of the process: a title, a status line, a bar and "Cancel".
// While it is up, its owner and the application's main window are disabled. What Cancel (or the
// close box, or Escape) does depends on the mode: nothing while authoring, a stop request to the
// owner while burning or converting. The window closes only through CloseProgress.
//
// The application's main window is the top of the owner's parent chain (the owner itself when it
// has no parent). The window is a top-level window of its own (not a Qt child of the owner), so
// that disabling the owner does not disable the window's own Cancel button.
#pragma once

#include <QDialog>
#include <QPointer>

#include <functional>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

class CProgressDlg : public QDialog {
    Q_OBJECT
public:
    enum Mode { ModeAuthoring = 0, ModeBurn = 2, ModeConvert = 3 };

    // Window messages of the owner, kept as the numbers the owner's handlers know.
    static constexpr int kProgressTimerId = 1133;
    static constexpr int kProgressTextMessage = 1134; // WM_PROGRESS_TEXT
    static constexpr int kStopBurnMessage = 1135;     // WM_STOP_BURN
    static constexpr int kStopConvertMessage = 5119;  // WM_STOP_CONVERT

    // Remembered show state of the main window: shown, or minimised through this window.
    static constexpr int kShowStateShown = 5;
    static constexpr int kShowStateMinimised = 61472;

    CProgressDlg();
    ~CProgressDlg() override;

    // Creates the window hidden, disables the owner and the main window, sets the caption and shows
    // the window unless the main window was minimised through a progress window.
    void StartProgress(const std::string& title, int mode, QWidget* owner);
    // Bar position (kept within 1..100 on the bar) and status line.
    void SetProgress(int percent, const std::string& text);
    // Re-enables the owner and the main window, shows them unless minimised, hides this window.
    // The caller deletes the object and clears g_pProgressDlg.
    void CloseProgress();

    int ProgressMode() const { return m_nMode; }
    QWidget* Owner() const { return m_pOwner; }
    QWidget* MainWindow() const { return m_pMainWnd; }
    bool OwnerDisabled() const { return m_bOwnerDisabled; }
    std::string StatusText() const;
    int BarPosition() const;

    // The owner's stop message handler (the stand-in for a synchronous send to the owner): gets
    // kStopBurnMessage or kStopConvertMessage. Also emitted as stopRequested.
    void SetStopHandler(std::function<void(int message)> handler) { m_stopHandler = std::move(handler); }

    // The remembered show state of the main window (kShowStateShown or kShowStateMinimised).
    static int MainShowState();
    static void SetMainShowState(int state);
    // Back to shown: before each job start, burn and erase.
    static void ResetMainShowState() { SetMainShowState(kShowStateShown); }

signals:
    void stopRequested(int message);
    // Every SetProgress, for owners that pass the status on (the console front-end prints it).
    void progressSet(const QString& text, int percent);

public slots:
    // Cancel button, close box and Escape.
    void OnCancel();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void reject() override;

private:
    void Reset();
    void EnableOwners();

    QProgressBar* m_pBar = nullptr;
    QLabel* m_pText = nullptr;
    QPushButton* m_pCancel = nullptr;
    QPointer<QWidget> m_pOwner;
    QPointer<QWidget> m_pMainWnd;
    bool m_bOwnerDisabled = false;
    int m_nMode = ModeAuthoring;
    bool m_bWasMinimised = false;
    std::function<void(int)> m_stopHandler;
};

// The one progress window, or null. Whoever opens one first destroys the old one.
extern CProgressDlg* g_pProgressDlg;

// Destroys g_pProgressDlg (closing it first) and clears the pointer.
void DestroyProgressDlg();
// Destroys any existing window, then creates, starts and stores a new one.
CProgressDlg* OpenProgressDlg(const std::string& title, int mode, QWidget* owner);
// The owner's status-update handler (WM_PROGRESS_TEXT): applies to the window when there is one,
// drops the update otherwise. Always 0.
int OnProgressText(const std::string& text, int percent);
