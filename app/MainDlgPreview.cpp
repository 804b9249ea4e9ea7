// The preview player of the main window: play, pause, stop and seek the selected movie inside the
// screen area, a still picture while paused, the background picture while nothing plays.
#include "MainDlg.h"

#include "AuthorLog.h"
#include "Folders.h"
#include "InfoDialogs.h"
#include "PictureButton.h"
#include "PreviewScreen.h"
#include "PromptService.h"
#include "XListCtrl.h"

#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

bool g_bSeekArmed = true;
int g_fsBeforeSeek = 0;

namespace {

constexpr int kPositionTimerMs = 100;
constexpr int kOpenTimeoutMs = 10000;

// One line per player call, the call's result first (0 success, a negative libmpv code failure).
void LogCall(int result, const char* text) {
    AuthorLog(3, "HRESULT hr=%d, %s", result, text);
}

} // namespace

std::string PreviewPositionText(int64_t rt) {
    const int64_t s = rt / 10000000;
    char text[64];
    std::snprintf(text, sizeof text, "Position:%02d:%02d:%02d", static_cast<int>(s / 3600),
                  static_cast<int>((s / 60) % 60), static_cast<int>(s % 60));
    return text;
}

int PreviewSliderPercent(int64_t rt, int64_t duration) {
    return duration == 0 ? 0 : static_cast<int>(rt * 100 / duration);
}

int64_t PreviewSeekTarget(int64_t duration, int percent) {
    return duration * percent / 100;
}

void CQuilvoVidrevoDlg::ConnectPreviewControls() {
    m_btnPause->hide(); // its command is the play button's pause toggle
    m_pPreviewTimer = new QTimer(this);
    m_pPreviewTimer->setInterval(kPositionTimerMs);
    connect(m_pPreviewTimer, &QTimer::timeout, this, [this] { ReadMediaPosition(); });
    connect(m_btnPlay, &QPushButton::clicked, this, [this] { OnBtnPlayPreview(); });
    connect(m_btnPause, &QPushButton::clicked, this, [this] { OnBtnPausePreview(); });
    connect(m_btnStopPreview, &QPushButton::clicked, this, [this] { OnBtnStopPreview(); });
    // A drag sends thumb notifications and one end; a key or a click on the groove is one step
    // followed by its end.
    connect(m_sliderPosition, &QSlider::actionTriggered, this, [this](int action) {
        if (action == QAbstractSlider::SliderMove) {
            HandleTrackbar(kTrackThumb);
            if (!m_sliderPosition->isSliderDown()) {
                HandleTrackbar(kTrackEnd);
            }
        } else if (action != QAbstractSlider::SliderNoAction) {
            const bool page =
                action == QAbstractSlider::SliderPageStepAdd || action == QAbstractSlider::SliderPageStepSub;
            // The step moves the slider only after this notification: apply it first.
            QMetaObject::invokeMethod(
                this,
                [this, page] {
                    HandleTrackbar(page ? kTrackPage : kTrackLine);
                    HandleTrackbar(kTrackEnd);
                },
                Qt::QueuedConnection);
        }
    });
    connect(m_sliderPosition, &QSlider::sliderReleased, this, [this] { HandleTrackbar(kTrackEnd); });
    connect(m_previewScreen, &CPreviewScreen::resized, this, [this](QSize size) {
        if (m_pPlayer) {
            m_pPlayer->SetRenderSize(size);
        }
    });
}

void CQuilvoVidrevoDlg::ShowPlayButtonAs(bool pause) {
    m_btnPlay->SetPicture(style()->standardIcon(pause ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    m_btnPlay->SetToolTipText(pause ? "Pause" : "Play");
    m_btnPlay->setText(pause ? "Pause" : "Play");
}

void CQuilvoVidrevoDlg::SetSliderQuietly(int pos) {
    const QSignalBlocker quiet(m_sliderPosition);
    m_sliderPosition->setValue(pos);
}

void CQuilvoVidrevoDlg::SetPlayerState(int state) {
    if (!m_pPlayer) {
        return;
    }
    m_nPlayerState = state;
    m_previewScreen->ShowVideo(state == 2 && m_bHasVideo);
}

void CQuilvoVidrevoDlg::OnBtnPlayPreview() {
    if (m_PreviewStatus != 0) {
        OnBtnPausePreview();
        return;
    }
    if (m_listSources->GetSelectedItem() < 0) {
        return;
    }
    PreparePreview();
    if (!m_pPlayer) {
        return;
    }
    SetSliderQuietly(0);
    m_lblPosition->setText("Position:00:00:00");
    m_rtDuration = 0;
    if (m_pPlayer->Duration(&m_rtDuration) == 0 && m_bCanSeek) {
        m_sliderPosition->setEnabled(true);
    } else {
        m_sliderPosition->setEnabled(false);
        m_lblPosition->setText("Can't be seeked!");
    }
    AuthorLog(3, "Click preview play button in OnBtnPlayPreview");
    StartPreview();
    m_pPreviewTimer->start();
    ShowPlayButtonAs(true);

    // A stream the player dropped for want of a decoder.
    if (m_pPlayer->HasUndecodedStream()) {
        const std::string file = m_strPreviewFile;
        ReleasePreview();
        qx::Prompts().Information(this, "No appropriate decoder to play " + file + "!");
    }
}

void CQuilvoVidrevoDlg::PreparePreview() {
    ReleasePreview();
    const int item = m_listSources->GetSelectedItem();
    if (item < 0 || item >= static_cast<int>(m_arrSources.size())) {
        return;
    }
    m_nPreviewItem = item;
    m_strPreviewFile = m_arrSources[item].strPath;
    AuthorLog(3, "Current preview item %d", item);
    m_bCanSeek = false;
    m_bHasVideo = false;
    if (!isPlayBackAble(m_strPreviewFile)) {
        return;
    }

    std::string error;
    m_pPlayer = qx::PreviewPlayer::Create(&error);
    LogCall(m_pPlayer ? 0 : -1, "player created in PreparePreview");
    if (!m_pPlayer) {
        AuthorLog(3, "%s", error.c_str());
        return;
    }
    m_pPlayer->SetRenderSize(m_previewScreen->size());
    connect(m_pPlayer.get(), &qx::PreviewPlayer::frameChanged, this,
            [this] { m_previewScreen->SetVideoFrame(m_pPlayer->Frame()); });
    connect(m_pPlayer.get(), &qx::PreviewPlayer::endOfFile, this, [this] { OnGraphNotify(); });

    const qx::Status opened = m_pPlayer->Open(m_strPreviewFile, kOpenTimeoutMs);
    LogCall(opened.ok() ? 0 : -1, "m_pGBPreview->RenderFile((CComBSTR )m_strPreviewFile, NULL) in PreparePreview");
    if (!opened.ok()) {
        // It passed the check a moment ago (changed or removed since): nothing to play.
        AuthorLog(3, "%s", opened.error().c_str());
        m_pPlayer.reset();
        return;
    }
    if (!m_pPlayer->HasVideo() && m_pPlayer->HasUndecodedStream()) {
        qx::Prompts().Information(this, "Can't play this file. Please install appropriate decoder.");
    }
    if (!m_pPlayer->HasVideo()) {
        m_bHasVideo = false;
        qx::Prompts().Plain(this, "This is an audio-only or MIDI file!");
        return;
    }
    m_bHasVideo = true;
    m_bCanSeek = m_pPlayer->CanSeek();
    m_sliderPosition->setEnabled(m_bCanSeek);
    if (!m_bCanSeek) {
        m_lblPosition->setText("Can't be seeked!");
    }
}

bool CQuilvoVidrevoDlg::isPlayBackAble(const std::string& path) {
    std::string why;
    const auto playable = qx::PreviewPlayer::CheckPlayable(path, kOpenTimeoutMs, &why);
    if (playable == qx::PreviewPlayer::Playability::Playable) {
        return true;
    }
    CDownloadDecoderDlg::Run(this);
    if (playable == qx::PreviewPlayer::Playability::VideoNotRendered) {
        AuthorLog(3, "Video Render false in isPlayBackAble");
    } else if (playable == qx::PreviewPlayer::Playability::AudioNotRendered) {
        AuthorLog(3, "Aideo Render false in isPlayBackAble");
    }
    AuthorLog(3, "%s: %s", path.c_str(), why.c_str());
    return false;
}

void CQuilvoVidrevoDlg::StartPreview() {
    if (m_pPlayer) {
        LogCall(m_pPlayer->Run(), "m_pMCPreview->Run() in StartPreview");
        SetPlayerState(2);
        m_PreviewStatus = 2;
    }
}

void CQuilvoVidrevoDlg::PausePreview() {
    if (m_pPlayer && m_PreviewStatus == 2) {
        LogCall(m_pPlayer->Pause(), "m_pMCPreview->Pause() in PausePreview");
        SetPlayerState(1);
        m_PreviewStatus = 1;
    }
}

void CQuilvoVidrevoDlg::StopPreview() {
    if (m_pPlayer && m_PreviewStatus != 0) {
        LogCall(m_pPlayer->Pause(), "m_pMCPreview->Stop() in StopPreview");
        SetPlayerState(0);
        m_PreviewStatus = 0;
    }
}

void CQuilvoVidrevoDlg::OnBtnPausePreview() {
    AuthorLog(3, "m_PreviewStatus=%d, Click preview pause button in OnBtnPausePreview", m_PreviewStatus);
    if (m_PreviewStatus == 1) {
        StartPreview();
        m_pPreviewTimer->start();
        ShowPlayButtonAs(true);
    } else {
        m_pPreviewTimer->stop();
        PausePreview();
        ShowPlayButtonAs(false);
        TakeStillPicture();
    }
}

void CQuilvoVidrevoDlg::TakeStillPicture() {
    if (!m_pPlayer) {
        return;
    }
    const qx::Result<std::string> folder = qx::RuntimeFolder();
    if (!folder.ok()) {
        AuthorLog(3, "No still picture: %s", folder.error.c_str());
        return;
    }
    const std::string path = folder.value + "pause.bmp";
    unlink(path.c_str());
    int64_t rtNow = 0;
    LogCall(m_pPlayer->Position(&rtNow), "m_pMSPreview->GetCurrentPosition(&rtNow) in OnBtnPausePreview");
    LogCall(m_pPlayer->WriteStill(path),
            "m_pMDPreview->WriteBitmapBits((double)rtNow, width, height, str) in OnBtnPausePreview");
    const QImage still(QString::fromStdString(path));
    if (!still.isNull()) {
        m_previewScreen->SetScreenImage(still);
    }
}

void CQuilvoVidrevoDlg::OnBtnStopPreview() {
    if (!m_pPlayer) {
        return;
    }
    m_pPreviewTimer->stop();
    StopPreview();
    m_nPreviewItem = -1;
    LogCall(0, "m_pMCPreview->GetState(500, &fs) in OnBtnStopPreview");
    LogCall(m_pPlayer->Seek(0), "m_pMSPreview->SetPositions(&pos, AM_SEEKING_AbsolutePositioning ,"
                                "\t\t\t\t\t\t\t\t\t\t\t\tNULL, AM_SEEKING_NoPositioning) in OnBtnStopPreview");
    LogCall(m_pPlayer->Pause(), "m_pMCPreview->StopWhenReady() in OnBtnStopPreview");
    SetPlayerState(0);
    ReadMediaPosition();
    ShowPlayButtonAs(false);
    DrawPreviewScreenBackground();
    update();
}

void CQuilvoVidrevoDlg::ReadMediaPosition() {
    if (!m_pPlayer) {
        return;
    }
    int64_t rtNow = 0;
    LogCall(m_pPlayer->Position(&rtNow), "m_pMSPreview->GetCurrentPosition(&rtNow) in ReadMediaPosition");
    SetSliderQuietly(PreviewSliderPercent(rtNow, m_rtDuration));
    if (rtNow != m_rtDuration) {
        UpdatePosition(rtNow);
        return;
    }
    m_pPreviewTimer->stop();
    StopPreview();
    LogCall(m_pPlayer->Seek(0), "m_pMSPreview->SetPositions(&pos, AM_SEEKING_AbsolutePositioning , "
                                "\t\t\t\t\t\t\t\t\t\t\t\t\tNULL, AM_SEEKING_NoPositioning) in ReadMediaPosition");
    LogCall(m_pPlayer->Pause(), "m_pMCPreview->StopWhenReady() in ReadMediaPosition");
    SetSliderQuietly(0);
    UpdatePosition(0);
}

void CQuilvoVidrevoDlg::UpdatePosition(int64_t rt) {
    if (!m_pPlayer) {
        return;
    }
    if (rt == 0) {
        const int result = m_pPlayer->Position(&rt);
        LogCall(result, "m_pMSPreview->GetCurrentPosition(&rtNow) in UpdatePosition");
        if (result != 0) {
            return;
        }
    }
    m_lblPosition->setText(QString::fromStdString(PreviewPositionText(rt)));
}

void CQuilvoVidrevoDlg::HandleTrackbar(int code) {
    if (!m_pPlayer) {
        return;
    }
    const int pos = m_sliderPosition->sliderPosition();
    if (g_bSeekArmed) {
        g_fsBeforeSeek = m_nPlayerState;
        m_pPlayer->Pause();
        m_nPlayerState = 1;
        g_bSeekArmed = false;
    }
    const int64_t rtNew = PreviewSeekTarget(m_rtDuration, pos);
    LogCall(m_pPlayer->Seek(rtNew),
            "m_pMSPreview->SetPositions(&rtNew, AM_SEEKING_AbsolutePositioning,\t\t\t\t\t\t\t\t\t\t\t\t\tNULL,   "
            "AM_SEEKING_NoPositioning)) in HandleTrackbar");
    if (code == kTrackEnd) {
        if (g_fsBeforeSeek == 2) {
            m_pPlayer->Run();
        }
        SetPlayerState(g_fsBeforeSeek);
        g_bSeekArmed = true;
    }
    UpdatePosition(rtNew);
    if (m_PreviewStatus == 1) {
        TakeStillPicture();
    }
}

void CQuilvoVidrevoDlg::OnGraphNotify() {
    // The end of the movie: stop and rewind, as the stop button does.
    if (m_pPlayer) {
        OnBtnStopPreview();
    }
}

void CQuilvoVidrevoDlg::DrawPreviewScreenBackground() {
    const std::string path = m_strCompanionFolder + "ScreenBackground.bmp";
    const QImage picture(QString::fromStdString(path));
    AuthorLog(3, "hr=%d load screen background bmp in DrawPreviewScreenBackground!", picture.isNull() ? -1 : 0);
    if (!picture.isNull()) {
        m_previewScreen->SetScreenImage(picture);
    }
}

void CQuilvoVidrevoDlg::ReleasePreview() {
    if (m_PreviewStatus != 0) {
        OnBtnStopPreview();
    }
    if (m_pPlayer) {
        m_pPlayer->disconnect(this);
        m_pPlayer.reset();
    }
    m_pPreviewTimer->stop();
    m_nPlayerState = 0;
    m_PreviewStatus = 0;
    m_previewScreen->ShowVideo(false);
}
