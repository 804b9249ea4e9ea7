#include "BurnDVDMovieDlg.h"

#include "BurnJob.h"
#include "DialogJobObserver.h"
#include "DialogDVDInfo.h"
#include "LoadingDlg.h"
#include "OwnedWindow.h"
#include "PictureButton.h"
#include "ProgressDlg.h"
#include "PromptService.h"
#include "WriterJobs.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QVBoxLayout>

#include <atomic>
#include <cstdio>

namespace {

constexpr const char* kNoWriter = "No DVD Writer detected! Cannot burn DVD Disk!";

CPictureButton* Button(QWidget* parent, const char* caption, const char* name, int id, QStyle::StandardPixmap icon) {
    auto* b = new CPictureButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setProperty("controlId", id);
    b->SetPicture(parent->style()->standardIcon(icon));
    b->setAutoDefault(false);
    return b;
}

QLabel* Text(QWidget* parent, const char* text) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The rich tool-tip: a bold title over the body.
QString RichTip() {
    return QStringLiteral("<b>%1</b><br>%2")
        .arg(QString::fromLatin1(CBurnDVDMovieDlg::kTipTitle).toHtmlEscaped(),
             QString::fromLatin1(CBurnDVDMovieDlg::kTipBody).toHtmlEscaped());
}

} // namespace

CBurnDVDMovieDlg::CBurnDVDMovieDlg(int burnCore, BurnDialogParts parts, QWidget* owner)
    : QDialog(nullptr), m_nBurnCore(burnCore), m_parts(std::move(parts)), m_pOwner(owner) {
    setObjectName(QStringLiteral("BurnDVDMovieDlg"));
    setWindowTitle(QStringLiteral("Burn DVD Movie"));
    setWindowModality(Qt::ApplicationModal);

    m_editFolder = new QLineEdit(this);
    m_editFolder->setObjectName(QStringLiteral("editDVDFolder"));
    m_editFolder->setProperty("controlId", 1069);
    m_editFolder->setReadOnly(true);
    m_editFolder->setMinimumWidth(320);
    m_btnBrowse = Button(this, "Browser", "btnBrowse", 1070, QStyle::SP_DirOpenIcon);
    m_comboCore = new QComboBox(this);
    m_comboCore->setObjectName(QStringLiteral("comboBurnEngine"));
    m_comboCore->setProperty("controlId", 1066);
    m_comboWriter = new QComboBox(this);
    m_comboWriter->setObjectName(QStringLiteral("comboWriters"));
    m_comboWriter->setProperty("controlId", 1071);
    m_btnInfo = Button(this, "", "btnWriterInfo", 1113, QStyle::SP_DriveDVDIcon);
    m_btnReload = Button(this, "", "btnReloadWriters", 1074, QStyle::SP_BrowserReload);
    m_btnInfo->SetToolTipText("DVD Writer Device Detail Information");
    m_btnReload->SetToolTipText("Reload DVD Writer Device");
    m_editLabel = new QLineEdit(this);
    m_editLabel->setObjectName(QStringLiteral("editDiscLabel"));
    m_editLabel->setProperty("controlId", 1072);
    m_editLabel->setMaxLength(32);
    m_btnBurn = Button(this, "Burn", "btnBurn", 1068, QStyle::SP_DialogApplyButton);
    m_btnCancel = Button(this, "Cancel", "btnCancel", 2, QStyle::SP_DialogCancelButton);
    // The tool-tip's footer link, shown beside the folder box (a tool-tip cannot be clicked here).
    m_linkHelp = new QLabel(QStringLiteral("<a href=\"help\">%1</a>").arg(QString::fromLatin1(kHelpLinkText)), this);
    m_linkHelp->setObjectName(QStringLiteral("linkHelp"));
    m_linkHelp->setTextFormat(Qt::RichText);
    m_linkHelp->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);

    // The rich tool-tips on the folder box and the browse button stay up to 60 seconds.
    for (QWidget* w : {static_cast<QWidget*>(m_editFolder), static_cast<QWidget*>(m_btnBrowse)}) {
        w->setToolTip(RichTip());
        w->setToolTipDuration(60000);
    }

    auto* grid = new QGridLayout;
    grid->addWidget(Text(this, "Select source DVD Movie on hard disk:"), 0, 0, 1, 4);
    grid->addWidget(m_editFolder, 1, 0, 1, 3);
    grid->addWidget(m_btnBrowse, 1, 3);
    grid->addWidget(m_linkHelp, 2, 0, 1, 4, Qt::AlignRight);
    grid->addWidget(Text(this, "Burn Engine:"), 3, 0);
    grid->addWidget(m_comboCore, 3, 1, 1, 3);
    grid->addWidget(Text(this, "DVD Writer:"), 4, 0);
    grid->addWidget(m_comboWriter, 4, 1);
    grid->addWidget(m_btnInfo, 4, 2);
    grid->addWidget(m_btnReload, 4, 3);
    grid->addWidget(Text(this, "DVD Disc Label:"), 5, 0);
    grid->addWidget(m_editLabel, 5, 1, 1, 3);
    grid->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_btnBurn);
    buttons->addWidget(m_btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(m_btnBrowse, &QPushButton::clicked, this, [this] { OnBtnBrowse(); });
    connect(m_btnBurn, &QPushButton::clicked, this, [this] { OnBtnBurn(); });
    connect(m_btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_btnReload, &QPushButton::clicked, this, [this] { OnReload(); });
    connect(m_btnInfo, &QPushButton::clicked, this, [this] { OnBtnWriterInfo(); });
    connect(m_comboCore, QOverload<int>::of(&QComboBox::activated), this, [this](int) { OnReload(); });
    connect(m_linkHelp, &QLabel::linkActivated, this, [this] { OnHelpLink(1); });

    FillCoresAndListWriters();
    PlaceOverOwner(this, owner);
}

CBurnDVDMovieDlg::~CBurnDVDMovieDlg() {
    HideLoading();
}

void CBurnDVDMovieDlg::FillCoresAndListWriters() {
    m_comboCore->clear();
    m_comboCore->addItem(QStringLiteral("Build-in"));
    if (m_parts.nero) {
        m_comboCore->addItem(QStringLiteral("Nero"));
    }
    m_comboCore->setCurrentIndex(m_nBurnCore < m_comboCore->count() ? m_nBurnCore : -1);
    if (BurnCore* core = m_parts.Core(m_comboCore->currentIndex())) {
        core->ListWriters(this, [this](std::vector<std::string> list) { OnWriterList(std::move(list)); });
    }
}

void CBurnDVDMovieDlg::OnWriterList(std::vector<std::string> list) {
    const int previous = m_comboWriter->currentIndex();
    const bool imageWasChosen = previous >= 0 && previous == m_nRealWriters;
    m_comboWriter->clear();
    for (const std::string& name : list) {
        m_comboWriter->addItem(QString::fromStdString(name));
    }
    m_nRealWriters = static_cast<int>(list.size());
    // The list always ends with the image file: without a writer a folder can still become an image.
    m_comboWriter->addItem(QString::fromUtf8(kImageWriterEntry));
    m_btnBurn->setEnabled(true);
    if (list.empty()) {
        qx::Prompts().Information(this, kNoWriter);
        m_comboWriter->setCurrentIndex(0);
        m_parts.Log("Burn DVD Movie Dialog no Detected dvd writer!\n");
        return;
    }
    m_comboWriter->setCurrentIndex(imageWasChosen                                 ? m_nRealWriters
                                   : previous >= 0 && previous < m_nRealWriters ? previous
                                                                                 : 0);
    std::string names;
    for (const std::string& name : list) {
        names += name + "; ";
    }
    m_parts.Log("Burn DVD Movie Dialog Detected dvd writer Number: " + std::to_string(list.size()) +
                "! name is: " + names + "\n");
}

void CBurnDVDMovieDlg::OnReload() {
    m_nBurnCore = m_comboCore->currentIndex();
    FillCoresAndListWriters();
}

void CBurnDVDMovieDlg::OnBtnWriterInfo() {
    CDialogDVDInfo info(m_comboCore->currentIndex(), m_comboWriter->currentIndex(), m_parts, this);
    info.exec();
}

int CBurnDVDMovieDlg::OnHelpLink(int wParam) {
    if (wParam != 0 && m_parts.openHelp) {
        m_parts.openHelp();
    }
    return 1;
}

void CBurnDVDMovieDlg::SetDVDFolder(const std::string& folder) {
    m_strDVDFolder = folder;
    if (!m_strDVDFolder.empty() && m_strDVDFolder.back() != '/') {
        m_strDVDFolder += '/';
    }
    m_editFolder->setText(QString::fromStdString(m_strDVDFolder));
}

void CBurnDVDMovieDlg::OnBtnBrowse() {
    qx::FolderRequest request;
    request.title = "Select Source DVD Movie Folder";
    request.owner = this;
    const qx::FolderResult chosen = qx::Prompts().BrowseFolder(request);
    if (chosen.chosen && !chosen.folder.empty()) {
        SetDVDFolder(chosen.folder);
    }
}

void CBurnDVDMovieDlg::HideLoading() {
    if (m_pLoadingDlg) {
        m_pLoadingDlg->CloseLoading();
        delete m_pLoadingDlg;
        m_pLoadingDlg = nullptr;
    }
}

BurnOutcome CBurnDVDMovieDlg::OnBtnBurn() {
    if (m_bBurning) {
        return BurnOutcome::Refused;
    }
    HideLoading();
    m_pLoadingDlg = new CLoadingDlg(this);
    m_pLoadingDlg->ShowLoading();
    struct LoadingGone {
        CBurnDVDMovieDlg* dlg;
        ~LoadingGone() { dlg->HideLoading(); }
    } loadingGone{this};

    FolderBurnRequest request;
    request.engine = m_comboCore->currentIndex();
    request.core = m_parts.Core(request.engine);
    request.writer = m_comboWriter->currentIndex();
    request.folder = m_strDVDFolder;
    request.label = m_editLabel->text().toStdString();
    std::atomic<bool> stopImage{false};
    if (request.writer >= m_nRealWriters) {
        // The image entry: where the image goes is asked once.
        HideLoading();
        request.imageFile = AskImageFile(this, request.label, m_strImageFolder);
        if (request.imageFile.empty()) {
            return BurnOutcome::Refused;
        }
        m_strImageFolder = request.imageFile.substr(0, request.imageFile.rfind('/') + 1);
        request.core = nullptr;
        request.stopImage = &stopImage;
    }
    DialogJobObserver observer(this, m_parts);
    observer.beforeStep = [this] {
        HideLoading();
        m_bBurning = true;
    };
    observer.onStop = [this, &request, &stopImage] {
        if (!request.imageFile.empty()) {
            if (m_bBurning && qx::Prompts().AskYesNo(this, "Do you really want to stop writing the disc image?")) {
                stopImage = true;
            }
            return;
        }
        OnStopBurn();
    };
    const BurnOutcome outcome = BurnDvdFolder(request, observer);
    m_bBurning = false;
    return outcome;
}

void CBurnDVDMovieDlg::OnStopBurn() {
    if (!m_bBurning) {
        return;
    }
    m_parts.Log("Burn DVD Movie Dialog User stop burn!\n");
    if (BurnCore* core = m_parts.Core(m_comboCore->currentIndex())) {
        core->RequestStopBurn();
    }
}

void CBurnDVDMovieDlg::closeEvent(QCloseEvent* event) {
    // The engine call runs inside this dialog's handler: the dialog stays until it has returned.
    if (m_bBurning) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
