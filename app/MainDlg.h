// The main window: the source list, the output settings, the preview, and the view of the disc job
// (job/DiscJob.h): its handlers read the controls into a job value and show what the job reports,
// through the private messages the job's conversion thread reaches the window with.
#pragma once

#include "AppParts.h"
#include "BurnDialogParts.h"
#include "DiscJob.h"
#include "Messages.h"
#include "PreviewPlayer.h"
#include "SourceInfo.h"

#include <QDialog>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class CXListCtrl;
class CPictureButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QWidget;
class CLoadingDlg;
class CPreviewScreen;
class QTimer;

// The working folder of the current job, with trailing '/'.
extern std::string g_strWorkFolder;

// The preview's state across the notifications of one slider drag: armed until the first one,
// which saves the player's state (0 stopped, 1 paused, 2 running) for the end of the drag.
extern bool g_bSeekArmed;
extern int g_fsBeforeSeek;

// The preview's position text ("Position:hh:mm:ss") of a position in 100-ns units.
std::string PreviewPositionText(int64_t rt);
// Slider position (percent, truncated) of a position; 0 when the duration is unknown (0).
int PreviewSliderPercent(int64_t rt, int64_t duration);
// Position a slider percentage stands for.
int64_t PreviewSeekTarget(int64_t duration, int percent);

class CQuilvoVidrevoDlg : public QDialog {
    Q_OBJECT
public:
    explicit CQuilvoVidrevoDlg(AppParts parts = {}, QWidget* parent = nullptr);
    ~CQuilvoVidrevoDlg() override;

    // Runs the initialisation steps (called once, before the window is shown). False when the
    // encoder program could not be started (the window then stays with its template contents).
    bool OnInitDialog();

    // Sends a private message: the handler runs on the window's thread while the caller waits.
    LRESULT SendMessage(unsigned message, WPARAM wParam = 0, LPARAM lParam = 0);

    // Operations of the window (button handlers).
    void OnBtnAddFiles();
    // Adds files named outside the window (command line, a desktop's "Open with") exactly as if they
    // had been chosen in the open-file dialog of "Add Video files".
    void AddGivenFiles(std::vector<std::string> paths);
    // Files and folders dropped on the source list: added the same way, a folder by its movies.
    void AddDroppedFiles(std::vector<std::string> paths);
    void OnBtnDelete();
    void OnBtnUp();
    void OnBtnDown();
    void OnBtnStartconvert();
    void ToggleDiscType();
    void OnBtnSelectFolder();
    void OnBtnHome();
    void OnBtnHelp();
    void OnBtnAbout();
    void ListWriters();
    void StopConvert();
    void OnBtnWriterInfo();
    void OnBtnBurnFolder();

    // Preview of the selected movie (MainDlgPreview.cpp).
    void OnBtnPlayPreview();
    void OnBtnPausePreview();
    void OnBtnStopPreview();
    // A slider notification: kTrackThumb while dragging, kTrackEnd when the drag or step ends.
    static constexpr int kTrackLine = 0, kTrackPage = 2, kTrackThumb = 5, kTrackEnd = 8;
    void HandleTrackbar(int code);
    void ReleasePreview();
    int PreviewStatus() const { return m_PreviewStatus; }
    int PreviewItem() const { return m_nPreviewItem; }
    int64_t PreviewDuration() const { return m_rtDuration; }
    qx::PreviewPlayer* PreviewPlayer() const { return m_pPlayer.get(); }

    // State for tests and the console front-end.
    const std::vector<CSourceInfo>& Sources() const { return m_arrSources; }
    int TotalSizeMB() const { return m_nTotalSizeMB; }
    int DiscType() const { return m_nDiscType; }
    TvStandard TVMode() const { return m_tvMode; }
    bool StopRequested() const { return m_job->StopRequested(); }
    bool JobRunning() const { return m_job->Running(); }
    // For a program ended by a signal in the middle of a job: ends the encoder program and removes
    // the job's own converted streams, finished or partial.
    void AbandonJob() { m_job->Abandon(); }
    // The step the running job is in (None between jobs).
    JobStep CurrentJobStep() const { return m_job->Step(); }
    // The program was told to end (SIGINT, SIGTERM) while a job runs: the job's step stops without
    // a question (DiscJob::Interrupt) and the job ends without message boxes; jobFinished follows.
    // False when no job runs (a burn or erase of the burn dialogs is then cancelled).
    bool InterruptJob(int signal);
    // The signal that interrupted the running or last job; 0 when none did.
    int InterruptSignal() const { return m_job->InterruptSignal(); }
    bool AddingFiles() const { return m_bAddingFiles; }
    const std::string& TempFolder() const { return m_strTempFolder; }
    std::string ProgramFolder() const { return m_strCompanionFolder; }
    // Number of jobs that ended (stopped or not) since start-up.
    int JobsFinished() const { return m_nJobsFinished; }
    // True when the last job ended with "Mission accomplished!".
    bool LastJobAccomplished() const { return m_bLastJobAccomplished; }
    // How the last job's burn ended (Refused when the job did not burn).
    BurnOutcome LastBurnOutcome() const { return m_lastBurnOutcome; }
    // Waits (pumping events) until the running add-files thread has finished; bounded.
    bool WaitForAddFiles(int timeoutMs);
    EncoderLink& Encoder() { return *m_parts.encoder; }
    LogLink& LogChannel() { return *m_parts.log; }

    // The diagnostic log channel (levels 0 information, 1 failure).
    void LogToApp(int level, const std::string& text);

    // The job the window runs (its value and outcome).
    const DiscJob& Job() const { return *m_job; }

    // Sets the progress window's bar and text (when one is open) and tells progressChanged.
    void ReportProgress(int percent, const std::string& text);

signals:
    // Emitted after a job ended (controls enabled again).
    void jobFinished();
    // Every status shown in the progress window, with the window's title.
    void progressChanged(const QString& title, const QString& text, int percent);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void reject() override;

private:
    friend class MainDlgJobObserver;

    // Construction of the controls (MainDlgLayout.cpp).
    void CreateControls();
    void SetupListColumns();
    void SetButtonPictures();
    LRESULT WindowProc(unsigned message, WPARAM wParam, LPARAM lParam);

    // Control groups.
    void EnablePreviewControls(bool enable);
    void EnableJobControls(bool enable);

    // Settings (Settings file keys, MainDlgSettings.cpp).
    void ReadSettings();
    void SaveOutputSettings();
    void OnBurnBoxClicked();
    void OnDeleteTmpClicked();
    void OnShutdownClicked();
    void OnMenuBoxClicked();
    void OnVerifyBoxClicked();
    void OnShowSubtitlesClicked();
    std::string SettingsFile() const;

    // Subtitles of the source list's movies (MainDlgSubtitles.cpp): the rows' tool-tips and the
    // context menu's "Subtitles..." window that leaves some out.
    void ConnectSubtitleMenu();
    void ShowSubtitleTips(int row);
    void OnSubtitlesDialog(int row);

    // Source list (MainDlgSources.cpp).
    void StartAddFiles(std::optional<std::vector<std::string>> given, bool gatherFolders = false);
    void AddFilesThread(const std::optional<std::vector<std::string>>& given, bool gatherFolders);
    int AddSourceFile(const std::string& path);
    void ShowUnsupported(const std::string& path);
    void OnAddSourceRow(RowRecord* record);
    std::string AppendSource(CSourceInfo info);
    void SetRowStatus(int row, const std::string& status);
    void ShowLoading();
    void HideLoading();

    // Budget (MainDlgBudget.cpp).
    void UpdateUsedSpace();
    void ShowDiscTarget();

    // Job (MainDlgJob.cpp): the job value from the controls, and what the job reports.
    DiscJobParams ReadJobParams() const;
    bool StartEncoderProxy();
    void OnConvertBegin(int row);
    void OnConvertEnd(int row);
    void OnConvertResult(int row, bool converted);
    void OnAllConverted();
    void AuthorDVDVideo();
    void BurnToDVDDisc();
    void OnJobFinished(const JobOutcome& outcome);

    // Burning (MainDlgBurn.cpp).
    void FillBurnCores();
    BurnCore* SelectedCore();
    void OnWriterList(std::vector<std::string>* list);
    BurnDialogParts DialogParts();
    void RequestStopBurn();

    AppParts m_parts;
    std::string m_strCompanionFolder;

    // The list and the choices the controls show.
    std::vector<CSourceInfo> m_arrSources;
    int m_nRowCount = 0;
    int m_nTotalSizeMB = 0;
    int m_nDiscType = 0;
    TvStandard m_tvMode = TvStandard::Ntsc;
    bool m_bKeepAspect = true;
    std::string m_strTempFolder;
    std::string m_strDiscLabel;
    std::atomic<bool> m_bAddingFiles{false};
    bool m_bInitialised = false;
    // The controls hold the saved settings only after a complete start; before, nothing is saved.
    bool m_bSettingsRead = false;
    bool m_bDestroying = false;
    // The burn choices to restore when writers come back after a listing found none.
    bool m_bNoWriter = false; // the last listing found no writer
    int m_nRealWriters = 0;   // writers in the combo before its image entry
    bool m_bBurnChosen = true;
    bool m_bDeleteTmpChosen = true;
    int m_nJobsFinished = 0;
    bool m_bLastJobAccomplished = false;
    BurnOutcome m_lastBurnOutcome = BurnOutcome::Refused;
    std::atomic<int> m_nWorkersRunning{0}; // worker threads that have not returned yet
    std::thread m_addThread;
    // The job and the window's view of it (the observer must outlive the job).
    std::unique_ptr<class MainDlgJobObserver> m_observer;
    std::unique_ptr<DiscJob> m_job;
    std::string m_strConvertTitle; // the progress title of the movie being converted
    std::string m_strImageFolder;  // where the last disc image went
    CLoadingDlg* m_pLoadingDlg = nullptr;

    // Preview (MainDlgPreview.cpp).
    void ConnectPreviewControls();
    void PreparePreview();
    bool isPlayBackAble(const std::string& path);
    void StartPreview();
    void StopPreview();
    void PausePreview();
    void UpdatePosition(int64_t rt);
    void ReadMediaPosition();
    void OnGraphNotify();
    void DrawPreviewScreenBackground();
    void TakeStillPicture();
    void ShowPlayButtonAs(bool pause);
    void SetPlayerState(int state);
    void SetSliderQuietly(int pos);

    std::unique_ptr<qx::PreviewPlayer> m_pPlayer; // the movie being previewed; null when none
    std::string m_strPreviewFile;
    int m_PreviewStatus = 0; // 0 stopped, 1 paused, 2 playing
    int m_nPreviewItem = -1;
    int64_t m_rtDuration = 0; // 100-ns units
    bool m_bCanSeek = false;
    bool m_bHasVideo = false;
    int m_nPlayerState = 0; // what the player does underneath: 0 stopped, 1 paused, 2 running
    QTimer* m_pPreviewTimer = nullptr;

    // Controls.
    CXListCtrl* m_listSources = nullptr;
    QProgressBar* m_barUsedSpace = nullptr;
    QLabel* m_lblUsedSpace = nullptr;
    QPushButton* m_btnDiscType = nullptr;
    QLabel* m_lblCapacity = nullptr;
    CPictureButton* m_btnAddFiles = nullptr;
    CPictureButton* m_btnDelete = nullptr;
    CPictureButton* m_btnMoveUp = nullptr;
    CPictureButton* m_btnMoveDown = nullptr;
    CPictureButton* m_btnStart = nullptr;
    QRadioButton* m_radioPal = nullptr;
    QRadioButton* m_radioNtsc = nullptr;
    QComboBox* m_comboAspect = nullptr;
    QCheckBox* m_chkKeepAspect = nullptr;
    QLineEdit* m_editTempFolder = nullptr;
    CPictureButton* m_btnSelectFolder = nullptr;
    QComboBox* m_comboBurnEngine = nullptr;
    QComboBox* m_comboWriters = nullptr;
    CPictureButton* m_btnReloadWriters = nullptr;
    CPictureButton* m_btnWriterInfo = nullptr;
    QLineEdit* m_editDiscLabel = nullptr;
    QCheckBox* m_chkBurn = nullptr;
    QCheckBox* m_chkDeleteTmp = nullptr;
    QCheckBox* m_chkShutdown = nullptr;
    QCheckBox* m_chkMenu = nullptr;
    QCheckBox* m_chkVerify = nullptr; // "Verify disc after burning"
    QCheckBox* m_chkShowSubtitles = nullptr;
    CPictureButton* m_btnBurnFolder = nullptr;
    CPictureButton* m_btnPlay = nullptr;
    CPictureButton* m_btnPause = nullptr;
    CPictureButton* m_btnStopPreview = nullptr;
    QSlider* m_sliderPosition = nullptr;
    QLabel* m_lblPosition = nullptr;
    CPreviewScreen* m_previewScreen = nullptr;
    CPictureButton* m_btnAbout = nullptr;
    CPictureButton* m_btnHelp = nullptr;
    CPictureButton* m_btnHome = nullptr;
};
