// The main window: construction, initialisation, the private-message dispatch, the control groups,
// closing and destruction, and the small buttons (Home, Help, About).
#include "MainDlg.h"

#include "AuthorLog.h"
#include "Folders.h"
#include "LinkIni.h"
#include "MainDlgJobObserver.h"
#include "PictureButton.h"
#include "ProgressDlg.h"
#include "PromptService.h"
#include "XListCtrl.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QThread>
#include <QUrl>

#include <sys/stat.h>

std::string g_strWorkFolder;

CQuilvoVidrevoDlg::CQuilvoVidrevoDlg(AppParts parts, QWidget* parent) : QDialog(parent), m_parts(std::move(parts)) {
    setObjectName("CQuilvoVidrevoDlg");
    CompleteAppParts(m_parts);
    m_strCompanionFolder = m_parts.companionFolder.empty() ? qx::ProgramFolder() : m_parts.companionFolder;
    m_strCompanionFolder = qx::WithTrailingSlash(m_strCompanionFolder);
    m_observer = std::make_unique<MainDlgJobObserver>(this);
    m_job = std::make_unique<DiscJob>(m_parts, *m_observer);
    const qx::Status inhibited = m_parts.screenSaver->Inhibit("QX Movie Disc", "Making a DVD");
    if (!inhibited.ok()) {
        AuthorLog(3, "Screen saver not held off: %s", inhibited.error().c_str());
    }
    CreateControls();
}

CQuilvoVidrevoDlg::~CQuilvoVidrevoDlg() {
    // The player goes first: it paints into this window's screen.
    ReleasePreview();
    // Worker threads reach this window only through blocking calls; none may be left waiting: the job
    // stops its conversion and serves the conversion thread until it has ended, and the add-files
    // thread is served until it has returned.
    m_bDestroying = true;
    while (m_nWorkersRunning > 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (m_addThread.joinable()) {
        m_addThread.join();
    }
    m_job->Close();
    m_job.reset();
    DestroyProgressDlg();
    m_parts.screenSaver->UnInhibit();
    HideLoading();
    m_parts.encoder->Kill();
    if (m_bInitialised) {
        m_parts.log->End();
    }
}

bool CQuilvoVidrevoDlg::OnInitDialog() {
    setWindowIcon(style()->standardIcon(QStyle::SP_DriveDVDIcon));

    std::string error;
    if (!StartEncoderProxy()) {
        return false;
    }
    m_parts.log->Start();
    m_bInitialised = true;

    FillBurnCores();
    ListWriters();

    resize(sizeHint());
    layout()->activate(); // the columns are sized from the list's final width
    SetupListColumns();
    SetButtonPictures();
    DrawPreviewScreenBackground();
    EnablePreviewControls(true);

    g_pProgressDlg = nullptr;
    m_barUsedSpace->setRange(0, 100);
    m_sliderPosition->setRange(0, 100);
    m_sliderPosition->setTickInterval(5);
    m_sliderPosition->setPageStep(5);

    ReadSettings();
    m_bSettingsRead = true;

    if (isVisible()) {
        raise();
        activateWindow();
    }

    ShowDiscTarget();
    return true;
}

LRESULT CQuilvoVidrevoDlg::SendMessage(unsigned message, WPARAM wParam, LPARAM lParam) {
    if (QThread::currentThread() == thread()) {
        return WindowProc(message, wParam, lParam);
    }
    LRESULT result = 0;
    QMetaObject::invokeMethod(
        this, [&] { result = WindowProc(message, wParam, lParam); }, Qt::BlockingQueuedConnection);
    return result;
}

LRESULT CQuilvoVidrevoDlg::WindowProc(unsigned message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PROBE_FILE:
        m_parts.encoder->SendProbe(reinterpret_cast<const char*>(wParam), g_strWorkFolder);
        return 0;
    case WM_ADD_SOURCE_ROW:
        OnAddSourceRow(reinterpret_cast<RowRecord*>(wParam));
        return 0;
    case WM_SHOW_LOADING:
        ShowLoading();
        return 0;
    case WM_HIDE_LOADING:
        HideLoading();
        return 0;
    case WM_CONVERT_BEGIN:
        OnConvertBegin(static_cast<int>(wParam));
        return 0;
    case WM_CONVERT_END:
        OnConvertEnd(static_cast<int>(wParam));
        return 0;
    case WM_CONVERT_ALL_DONE:
        OnAllConverted();
        return 0;
    case WM_CONVERT_RESULT:
        OnConvertResult(static_cast<int>(wParam), lParam != 0);
        return 0;
    case WM_WRITER_LIST:
        OnWriterList(reinterpret_cast<std::vector<std::string>*>(wParam));
        return 0;
    case WM_PROGRESS_TEXT: {
        std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(wParam));
        ReportProgress(static_cast<int>(lParam), text ? *text : std::string());
        return 0;
    }
    case WM_STOP_BURN:
        RequestStopBurn();
        return 0;
    case WM_STOP_CONVERT:
        StopConvert();
        return 0;
    default:
        return 0;
    }
}

void CQuilvoVidrevoDlg::SetButtonPictures() {
    const std::pair<CPictureButton*, QStyle::StandardPixmap> pictures[] = {
        {m_btnAddFiles, QStyle::SP_FileDialogNewFolder},
        {m_btnDelete, QStyle::SP_TrashIcon},
        {m_btnMoveUp, QStyle::SP_ArrowUp},
        {m_btnMoveDown, QStyle::SP_ArrowDown},
        {m_btnStart, QStyle::SP_DialogApplyButton},
        {m_btnSelectFolder, QStyle::SP_DirOpenIcon},
        {m_btnReloadWriters, QStyle::SP_BrowserReload},
        {m_btnWriterInfo, QStyle::SP_DriveDVDIcon},
        {m_btnBurnFolder, QStyle::SP_DriveDVDIcon},
        {m_btnPlay, QStyle::SP_MediaPlay},
        {m_btnPause, QStyle::SP_MediaPause},
        {m_btnStopPreview, QStyle::SP_MediaStop},
        {m_btnAbout, QStyle::SP_MessageBoxInformation},
        {m_btnHelp, QStyle::SP_DialogHelpButton},
        {m_btnHome, QStyle::SP_DirHomeIcon},
    };
    for (const auto& picture : pictures) {
        picture.first->SetPicture(style()->standardIcon(picture.second));
    }
}

void CQuilvoVidrevoDlg::ReportProgress(int percent, const std::string& text) {
    if (!g_pProgressDlg) {
        return;
    }
    g_pProgressDlg->SetProgress(percent, text);
    emit progressChanged(g_pProgressDlg->windowTitle(), QString::fromStdString(text), percent);
}

void CQuilvoVidrevoDlg::EnablePreviewControls(bool enable) {
    for (QWidget* w : {static_cast<QWidget*>(m_btnPlay), static_cast<QWidget*>(m_btnPause),
                       static_cast<QWidget*>(m_btnStopPreview), static_cast<QWidget*>(m_sliderPosition)}) {
        w->setEnabled(enable);
    }
    update();
}

void CQuilvoVidrevoDlg::EnableJobControls(bool enable) {
    EnablePreviewControls(enable);
    for (QWidget* w :
         {static_cast<QWidget*>(m_btnAddFiles), static_cast<QWidget*>(m_btnDelete), static_cast<QWidget*>(m_btnMoveUp),
          static_cast<QWidget*>(m_btnMoveDown), static_cast<QWidget*>(m_btnSelectFolder),
          static_cast<QWidget*>(m_radioPal), static_cast<QWidget*>(m_radioNtsc), static_cast<QWidget*>(m_comboAspect),
          static_cast<QWidget*>(m_editTempFolder)}) {
        w->setEnabled(enable);
    }
}

void CQuilvoVidrevoDlg::LogToApp(int level, const std::string& text) {
    m_parts.log->Log(level, text);
}

void CQuilvoVidrevoDlg::closeEvent(QCloseEvent* event) {
    // A job or an add-files run holds the window: closing now would pull the list from under them.
    if (m_job->Running() || m_bAddingFiles) {
        event->ignore();
        return;
    }
    SaveOutputSettings();
    event->accept();
    QDialog::done(QDialog::Rejected);
}

void CQuilvoVidrevoDlg::reject() {
    // Escape does not end the program; only the close box does (after saving the settings).
}

void CQuilvoVidrevoDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        OnBtnHelp();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CQuilvoVidrevoDlg::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && g_pProgressDlg && !(windowState() & Qt::WindowMinimized)) {
        g_pProgressDlg->show();
        g_pProgressDlg->showNormal();
        g_pProgressDlg->raise();
    }
    QDialog::changeEvent(event);
}

void CQuilvoVidrevoDlg::resizeEvent(QResizeEvent* event) {
    if (g_pProgressDlg) {
        g_pProgressDlg->show();
        g_pProgressDlg->raise();
    }
    QDialog::resizeEvent(event);
}

namespace {

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

void CQuilvoVidrevoDlg::OnBtnHome() {
    std::string url;
    if (GetLinkFromIniFile(m_strCompanionFolder + "link.ini", kLinkHomePage, url, this) == 0 && !m_parts.openUrl(url)) {
        qx::Prompts().Information(this, "No program on this desktop opens " + url + "\nOpen it in a web browser.");
    }
}

void CQuilvoVidrevoDlg::OnBtnHelp() {
    const std::string page = m_strCompanionFolder + "help/overview.html";
    if (!FileExists(page)) {
        qx::Prompts().Information(this, "Could not find file " + page + "!");
        return;
    }
    if (!m_parts.openUrl(QUrl::fromLocalFile(QString::fromStdString(page)).toString().toStdString())) {
        qx::Prompts().Information(this, "No program on this desktop opens " + page + "\nOpen it in a web browser.");
    }
}

void CQuilvoVidrevoDlg::OnBtnAbout() {
    qx::Prompts().Information(this, "QX Movie Disc\nVersion 0.1\n\nTurns RealMedia movies into DVD-Video discs.",
                              "About QX Movie Disc");
}
