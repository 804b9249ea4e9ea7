// The source list: adding movies (probed by the encoder program on the add-files thread), the row
// texts, Delete, Move Up and Move Down.
#include "MainDlg.h"

#include "AuthorLog.h"
#include "Folders.h"
#include "InfoDialogs.h"
#include "LoadingDlg.h"
#include "MovieProbe.h"
#include "MovieTypes.h"
#include "PromptService.h"
#include "XListCtrl.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

void CQuilvoVidrevoDlg::OnBtnAddFiles() {
    StartAddFiles(std::nullopt);
}

void CQuilvoVidrevoDlg::AddGivenFiles(std::vector<std::string> paths) {
    if (!paths.empty()) {
        StartAddFiles(std::move(paths));
    }
}

void CQuilvoVidrevoDlg::AddDroppedFiles(std::vector<std::string> paths) {
    if (!paths.empty()) {
        StartAddFiles(std::move(paths), true);
    }
}

// `given` empty: the open-file dialog chooses the files. `gatherFolders`: a given folder stands for
// the movies in it.
void CQuilvoVidrevoDlg::StartAddFiles(std::optional<std::vector<std::string>> given, bool gatherFolders) {
    if (!m_parts.encoder->HasWindow()) {
        qx::Prompts().Information(this,
                                  "EncoderProxy setup error!\nPlease reinstalled this software, or contact Support.");
        return;
    }
    if (m_bAddingFiles || m_job->Running()) {
        return;
    }
    if (m_addThread.joinable()) {
        m_addThread.join();
    }
    m_bAddingFiles = true;
    ++m_nWorkersRunning;
    m_addThread = std::thread([this, given = std::move(given), gatherFolders] {
        AddFilesThread(given, gatherFolders);
        --m_nWorkersRunning;
    });
}

bool CQuilvoVidrevoDlg::WaitForAddFiles(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (m_bAddingFiles) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (m_addThread.joinable()) {
        m_addThread.join();
    }
    return true;
}

void CQuilvoVidrevoDlg::AddFilesThread(const std::optional<std::vector<std::string>>& given, bool gatherFolders) {
    qx::OpenFilesResult chosen;
    if (given) {
        chosen.status = qx::OpenFilesStatus::Chosen;
        chosen.files = *given;
        if (gatherFolders) {
            // Folders are read here, off the window's thread: a large or slow one holds nothing up.
            GatheredMovies gathered = GatherMovies(*given);
            for (const std::string& note : gathered.notes) {
                LogToApp(1, note);
            }
            chosen.files = std::move(gathered.files);
        }
    } else {
        // The dialog itself belongs to the window's thread; this thread waits for the choice.
        QMetaObject::invokeMethod(
            this,
            [this, &chosen] {
                qx::OpenFilesRequest request;
                request.filter = MovieOpenFilter();
                request.nameCapacity = 1000;
                request.owner = this;
                chosen = qx::Prompts().OpenFiles(request);
            },
            Qt::BlockingQueuedConnection);
    }
    if (chosen.status == qx::OpenFilesStatus::Chosen) {
        SendMessage(WM_SHOW_LOADING);
        for (const std::string& path : chosen.files) {
            AddSourceFile(path);
        }
        SendMessage(WM_HIDE_LOADING);
    }
    m_bAddingFiles = false;
}

void CQuilvoVidrevoDlg::ShowUnsupported(const std::string& path) {
    CDisplayUnsupportInfo::Run(path, this);
}

int CQuilvoVidrevoDlg::AddSourceFile(const std::string& path) {
    QMetaObject::invokeMethod(
        this, [] { QApplication::setOverrideCursor(Qt::WaitCursor); }, Qt::BlockingQueuedConnection);
    auto done = [this](int result) {
        QMetaObject::invokeMethod(
            this, [] { QApplication::restoreOverrideCursor(); }, Qt::BlockingQueuedConnection);
        return result;
    };
    ProbedMovie probed = ProbeMovie(
        *m_parts.encoder, path, [this, &path] { SendMessage(WM_PROBE_FILE, reinterpret_cast<WPARAM>(path.c_str())); });
    LogToApp(probed.logLevel, probed.logLine);
    if (!probed.soundLine.empty()) {
        LogToApp(0, probed.soundLine);
    }
    if (!probed.accepted) {
        ShowUnsupported(path);
        return done(0);
    }
    CSourceInfo& info = probed.info;

    auto record = std::make_unique<RowRecord>();
    if (!PackRowRecord(MakeRowTexts(info), record.get())) {
        LogToApp(1, "Add File:" + path + " Failed the file name is too long\n");
        ShowUnsupported(path);
        return done(0);
    }
    // The record joins the list on the window's thread, where the list is read.
    std::string vobFile;
    QMetaObject::invokeMethod(
        this, [this, &info, &vobFile] { vobFile = AppendSource(info); }, Qt::BlockingQueuedConnection);
    if (vobFile.empty()) {
        LogToApp(1, "Add File:" + path + " Failed no free name for its converted stream\n");
        ShowUnsupported(path);
        return done(0);
    }
    SendMessage(WM_ADD_SOURCE_ROW, reinterpret_cast<WPARAM>(record.release()));
    return done(1);
}

std::string CQuilvoVidrevoDlg::AppendSource(CSourceInfo info) {
    // A name is taken when a movie of the list has it or when a file of that name (or one of its
    // part files) lies in the working folder: the job must never overwrite what it did not make.
    auto taken = [this](const std::string& candidate) {
        for (const CSourceInfo& source : m_arrSources) {
            if (source.strVobFile == candidate) {
                return true;
            }
        }
        return ConvertedNameOnDisk(candidate);
    };
    info.strVobFile =
        ChooseConvertedName(qx::WithTrailingSlash(g_strWorkFolder), ConvertedBaseName(info.strPath), taken);
    if (info.strVobFile.empty()) {
        return std::string();
    }
    m_arrSources.push_back(info);
    return info.strVobFile;
}

void CQuilvoVidrevoDlg::OnAddSourceRow(RowRecord* raw) {
    std::unique_ptr<RowRecord> record(raw);
    const RowTexts texts = UnpackRowRecord(*record);
    const int row = m_listSources->InsertItem(m_nRowCount, texts.source);
    const std::string cells[3] = {texts.source, texts.info, texts.status};
    for (int col = 0; col < 3; ++col) {
        m_listSources->SetItemText(row, col, cells[col]);
        m_listSources->SetItemToolTipText(row, col, cells[col]);
    }
    ShowSubtitleTips(row);
    m_listSources->SelectItem(row);
    ++m_nRowCount;
    UpdateUsedSpace();
}

void CQuilvoVidrevoDlg::SetRowStatus(int row, const std::string& status) {
    m_arrSources.at(row).strStatus = status;
    m_listSources->SetItemText(row, 2, status);
    m_listSources->SetItemToolTipText(row, 2, status);
}

void CQuilvoVidrevoDlg::OnBtnDelete() {
    const int count = m_listSources->GetItemCount();
    const int s = m_listSources->GetSelectedItem();
    // The list stays as it is while a job converts it or movies are being added.
    if (count == 0 || s < 0 || m_job->Running() || m_bAddingFiles) {
        return;
    }
    m_listSources->DeleteItem(s);
    m_arrSources.erase(m_arrSources.begin() + s);
    UpdateUsedSpace();
    --m_nRowCount;
    if (count == 1) {
        ReleasePreview();
    }
    if (m_PreviewStatus == 1 || m_PreviewStatus == 2) {
        if (s == m_nPreviewItem) {
            ReleasePreview();
        } else if (s < m_nPreviewItem) {
            --m_nPreviewItem;
        }
    }
    m_listSources->SelectItem(s > 0 ? s - 1 : 0);
}

void CQuilvoVidrevoDlg::OnBtnUp() {
    const int n = m_listSources->GetItemCount();
    const int s = m_listSources->GetSelectedItem();
    AuthorLog(3, "ItemCount=%d,curSel=%d, in OnBtnUp", n, s);
    if (s == -1 || n == 1 || s == 0 || m_job->Running() || m_bAddingFiles) {
        return;
    }
    std::swap(m_arrSources.at(s - 1), m_arrSources.at(s));
    m_listSources->SwapItems(s - 1, s);
    m_listSources->SelectItem(s - 1);
    if (m_PreviewStatus == 1 || m_PreviewStatus == 2) {
        if (s == m_nPreviewItem) {
            m_nPreviewItem = s - 1;
        } else if (m_nPreviewItem == s - 1) {
            m_nPreviewItem = s;
        }
    }
}

void CQuilvoVidrevoDlg::OnBtnDown() {
    const int n = m_listSources->GetItemCount();
    const int s = m_listSources->GetSelectedItem();
    AuthorLog(3, "ItemCount=%d,curSel=%d, in OnBtnDown", n, s);
    if (s == -1 || n == 1 || s + 1 == n || m_job->Running() || m_bAddingFiles) {
        return;
    }
    std::swap(m_arrSources.at(s), m_arrSources.at(s + 1));
    m_listSources->SwapItems(s, s + 1);
    m_listSources->SelectItem(s + 1);
    if (m_PreviewStatus == 1 || m_PreviewStatus == 2) {
        if (s == m_nPreviewItem) {
            m_nPreviewItem = s + 1;
        } else if (m_nPreviewItem == s + 1) {
            m_nPreviewItem = s;
        }
    }
}

void CQuilvoVidrevoDlg::ShowLoading() {
    HideLoading();
    m_pLoadingDlg = new CLoadingDlg(this);
    m_pLoadingDlg->ShowLoading();
}

void CQuilvoVidrevoDlg::HideLoading() {
    if (m_pLoadingDlg) {
        m_pLoadingDlg->CloseLoading();
        delete m_pLoadingDlg;
        m_pLoadingDlg = nullptr;
    }
}
