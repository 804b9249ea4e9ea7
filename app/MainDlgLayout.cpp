// The controls of the main window: captions, tool-tips and object names (tests find them by name).
#include "MainDlg.h"

#include "PictureButton.h"
#include "PreviewScreen.h"
#include "SourceListDrops.h"
#include "XListCtrl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

CPictureButton* MakeButton(QWidget* parent, const char* name, const char* caption, const char* tip = nullptr) {
    auto* button = new CPictureButton(caption, parent);
    button->setObjectName(name);
    button->SetToolTipText(tip ? tip : caption);
    button->setAutoDefault(false);
    return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(name);
    return label;
}

} // namespace

void CQuilvoVidrevoDlg::CreateControls() {
    setWindowTitle("QX Movie Disc");

    m_listSources = new CXListCtrl(this);
    m_listSources->setObjectName("listSources");
    m_listSources->setMinimumSize(640, 220);
    new SourceListDrops(
        m_listSources, [this] { return !m_bAddingFiles && m_job && !m_job->Running() && m_listSources->isEnabled(); },
        [this](std::vector<std::string> paths) { AddDroppedFiles(std::move(paths)); });

    m_barUsedSpace = new QProgressBar(this);
    m_barUsedSpace->setObjectName("barUsedSpace");
    m_barUsedSpace->setTextVisible(false);
    m_lblUsedSpace = MakeLabel(this, "lblUsedSpace", "Used space 00.00%");
    m_btnDiscType = new QPushButton("DVD-D5", this);
    m_btnDiscType->setObjectName("btnDiscType");
    m_btnDiscType->setAutoDefault(false);
    m_lblCapacity = MakeLabel(this, "lblCapacity", "4.7G");

    m_btnAddFiles = MakeButton(this, "btnAddFiles", "Add Video files");
    m_btnDelete = MakeButton(this, "btnDelete", "Delete");
    m_btnMoveUp = MakeButton(this, "btnMoveUp", "Move Up");
    m_btnMoveDown = MakeButton(this, "btnMoveDown", "Move Down");
    m_btnStart = MakeButton(this, "btnStart", "Start now");

    auto* settings = new QGroupBox("Output Settings", this);
    settings->setObjectName("groupOutputSettings");
    m_radioPal = new QRadioButton("PAL(Europe, Africa, Australia, South America, China)", settings);
    m_radioPal->setObjectName("radioPal");
    m_radioNtsc = new QRadioButton("NTSC(US, Canada, Central America, Japan )", settings);
    m_radioNtsc->setObjectName("radioNtsc");
    m_comboAspect = new QComboBox(settings);
    m_comboAspect->setObjectName("comboAspect");
    m_comboAspect->addItems({"4:3", "16:9"});
    m_chkKeepAspect = new QCheckBox("Keep Original Asepct Rate", settings);
    m_chkKeepAspect->setObjectName("chkKeepAspect");
    m_editTempFolder = new QLineEdit(settings);
    m_editTempFolder->setObjectName("editTempFolder");
    // Wide enough for a usual path such as /home/someone/QXMovieDisc/.
    m_editTempFolder->setMinimumWidth(m_editTempFolder->fontMetrics().averageCharWidth() * 40);
    m_btnSelectFolder = MakeButton(settings, "btnSelectFolder", "Select temp folder");
    m_comboBurnEngine = new QComboBox(settings);
    m_comboBurnEngine->setObjectName("comboBurnEngine");
    m_comboWriters = new QComboBox(settings);
    m_comboWriters->setObjectName("comboWriters");
    m_btnReloadWriters = MakeButton(settings, "btnReloadWriters", "Reload DVD Writer Device");
    m_btnWriterInfo = MakeButton(settings, "btnWriterInfo", "DVD Writer Device Detail Information");
    m_editDiscLabel = new QLineEdit(settings);
    m_editDiscLabel->setObjectName("editDiscLabel");
    m_editDiscLabel->setMaxLength(32);
    m_chkBurn = new QCheckBox("Burn to DVD disc", settings);
    m_chkBurn->setObjectName("chkBurn");
    m_chkDeleteTmp = new QCheckBox("Delete tmp file", settings);
    m_chkDeleteTmp->setObjectName("chkDeleteTmp");
    m_chkShutdown = new QCheckBox("Shutdown computer when finished", settings);
    m_chkShutdown->setObjectName("chkShutdown");
    m_chkMenu = new QCheckBox("Create DVD menu", settings);
    m_chkMenu->setObjectName("chkMenu");
    m_btnBurnFolder = MakeButton(settings, "btnBurnFolder", "Burn DVD Movie Saved on Hard Disk to DVD Disc");

    auto* grid = new QGridLayout(settings);
    grid->addWidget(m_radioPal, 0, 0, 1, 3);
    grid->addWidget(m_radioNtsc, 1, 0, 1, 3);
    grid->addWidget(MakeLabel(settings, "lblAspect", "Aspect ratio:"), 2, 0);
    grid->addWidget(m_comboAspect, 2, 1);
    grid->addWidget(m_chkKeepAspect, 2, 2);
    grid->addWidget(MakeLabel(settings, "lblTempFolder", "Temp folder:"), 3, 0);
    grid->addWidget(m_editTempFolder, 3, 1);
    grid->addWidget(m_btnSelectFolder, 3, 2);
    grid->addWidget(MakeLabel(settings, "lblBurnEngine", "Burn Engine:"), 4, 0);
    grid->addWidget(m_comboBurnEngine, 4, 1);
    grid->addWidget(MakeLabel(settings, "lblWriters", "DVD Recorders:"), 5, 0);
    grid->addWidget(m_comboWriters, 5, 1);
    grid->addWidget(m_btnReloadWriters, 5, 2);
    grid->addWidget(m_btnWriterInfo, 6, 1, 1, 2);
    grid->addWidget(MakeLabel(settings, "lblDiscLabel", "DVD Label:"), 7, 0);
    grid->addWidget(m_editDiscLabel, 7, 1);
    grid->addWidget(m_chkMenu, 7, 2);
    grid->addWidget(m_chkBurn, 8, 0);
    grid->addWidget(m_chkDeleteTmp, 8, 1);
    grid->addWidget(m_chkShutdown, 9, 0, 1, 2);
    grid->addWidget(m_btnBurnFolder, 10, 0, 1, 3);

    // Preview area.
    m_previewScreen = new CPreviewScreen(this);
    m_previewScreen->setObjectName("previewScreen");
    m_previewScreen->setMinimumSize(240, 180);
    m_btnPlay = MakeButton(this, "btnPlay", "Play");
    m_btnPause = MakeButton(this, "btnPause", "Pause");
    m_btnStopPreview = MakeButton(this, "btnStopPreview", "Stop");
    m_sliderPosition = new QSlider(Qt::Horizontal, this);
    m_sliderPosition->setObjectName("sliderPosition");
    m_lblPosition = MakeLabel(this, "lblPosition", "Position: 00:00:00");

    m_btnAbout = MakeButton(this, "btnAbout", "About");
    m_btnHelp = MakeButton(this, "btnHelp", "Help");
    m_btnHome = MakeButton(this, "btnHome", "Home");

    auto* listButtons = new QHBoxLayout;
    for (QWidget* w : {static_cast<QWidget*>(m_btnAddFiles), static_cast<QWidget*>(m_btnDelete),
                       static_cast<QWidget*>(m_btnMoveUp), static_cast<QWidget*>(m_btnMoveDown)}) {
        listButtons->addWidget(w);
    }
    listButtons->addStretch();
    listButtons->addWidget(m_btnStart);

    auto* usedSpace = new QHBoxLayout;
    usedSpace->addWidget(m_lblUsedSpace);
    usedSpace->addWidget(m_barUsedSpace, 1);
    usedSpace->addWidget(m_btnDiscType);
    usedSpace->addWidget(m_lblCapacity);

    auto* previewButtons = new QHBoxLayout;
    previewButtons->addWidget(m_btnPlay);
    previewButtons->addWidget(m_btnPause);
    previewButtons->addWidget(m_btnStopPreview);
    auto* preview = new QVBoxLayout;
    preview->addWidget(m_previewScreen);
    preview->addWidget(m_sliderPosition);
    preview->addWidget(m_lblPosition);
    preview->addLayout(previewButtons);
    preview->addStretch(1);

    auto* lower = new QHBoxLayout;
    // The preview grows with the window as the settings do.
    lower->addWidget(settings, 1);
    lower->addLayout(preview, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(m_btnAbout);
    bottom->addWidget(m_btnHelp);
    bottom->addWidget(m_btnHome);

    auto* top = new QVBoxLayout(this);
    top->addWidget(m_listSources, 1);
    top->addLayout(usedSpace);
    top->addLayout(listButtons);
    top->addLayout(lower);
    top->addLayout(bottom);

    // Routing of presses to the operations.
    connect(m_btnAddFiles, &QPushButton::clicked, this, [this] { OnBtnAddFiles(); });
    connect(m_btnDelete, &QPushButton::clicked, this, [this] { OnBtnDelete(); });
    connect(m_btnMoveUp, &QPushButton::clicked, this, [this] { OnBtnUp(); });
    connect(m_btnMoveDown, &QPushButton::clicked, this, [this] { OnBtnDown(); });
    connect(m_btnStart, &QPushButton::clicked, this, [this] { OnBtnStartconvert(); });
    connect(m_btnDiscType, &QPushButton::clicked, this, [this] { ToggleDiscType(); });
    connect(m_radioPal, &QRadioButton::clicked, this, [this] {
        m_tvMode = TvStandard::Pal;
        m_radioPal->setChecked(true);
        m_radioNtsc->setChecked(false);
    });
    connect(m_radioNtsc, &QRadioButton::clicked, this, [this] {
        m_tvMode = TvStandard::Ntsc;
        m_radioNtsc->setChecked(true);
        m_radioPal->setChecked(false);
    });
    connect(m_chkKeepAspect, &QCheckBox::toggled, this, [this](bool on) { m_bKeepAspect = on; });
    connect(m_editTempFolder, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_strTempFolder = text.toStdString(); });
    connect(m_editDiscLabel, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_strDiscLabel = text.toStdString(); });
    connect(m_btnSelectFolder, &QPushButton::clicked, this, [this] { OnBtnSelectFolder(); });
    connect(m_comboBurnEngine, QOverload<int>::of(&QComboBox::activated), this, [this](int) { ListWriters(); });
    connect(m_btnReloadWriters, &QPushButton::clicked, this, [this] { ListWriters(); });
    connect(m_btnWriterInfo, &QPushButton::clicked, this, [this] { OnBtnWriterInfo(); });
    connect(m_btnBurnFolder, &QPushButton::clicked, this, [this] { OnBtnBurnFolder(); });
    connect(m_chkBurn, &QCheckBox::clicked, this, [this] { OnBurnBoxClicked(); });
    connect(m_chkDeleteTmp, &QCheckBox::clicked, this, [this] { OnDeleteTmpClicked(); });
    connect(m_chkShutdown, &QCheckBox::clicked, this, [this] { OnShutdownClicked(); });
    connect(m_chkMenu, &QCheckBox::clicked, this, [this] { OnMenuBoxClicked(); });
    connect(m_btnAbout, &QPushButton::clicked, this, [this] { OnBtnAbout(); });
    connect(m_btnHelp, &QPushButton::clicked, this, [this] { OnBtnHelp(); });
    connect(m_btnHome, &QPushButton::clicked, this, [this] { OnBtnHome(); });
    ConnectPreviewControls();
}

void CQuilvoVidrevoDlg::SetupListColumns() {
    const int a = m_listSources->width() - 2;
    const int w0 = a * 50 / 160;
    const int w1 = a * 90 / 160;
    m_listSources->InsertColumn(0, "Source File", w0);
    m_listSources->InsertColumn(1, "File Information", w1);
    m_listSources->InsertColumn(2, "Status", a - (w0 + w1) - 2);
    m_listSources->SetColumnsFollowWidth(true);
}
