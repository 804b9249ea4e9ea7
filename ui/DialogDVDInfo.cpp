#include "DialogDVDInfo.h"

#include "BurnJob.h"
#include "OwnedWindow.h"
#include "ProgressDlg.h"
#include "PromptService.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>

namespace {

constexpr const char* kNoWriter = "No DVD Writer detected! Cannot burn DVD Disk!";
constexpr const char* kSupportNames[6] = {"DVD-R", "DVD-RW", "DVD-R DL", "DVD+R", "DVD+RW", "DVD+R DL"};

QLabel* Value(QWidget* parent, const char* placeholder, const char* name, int id) {
    auto* label = new QLabel(QString::fromUtf8(placeholder), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setProperty("controlId", id);
    label->setTextFormat(Qt::PlainText);
    label->setMinimumWidth(240);
    return label;
}

} // namespace

CDialogDVDInfo::CDialogDVDInfo(int burnCore, int writerIndex, BurnDialogParts parts, QWidget* owner)
    : QDialog(nullptr), m_nBurnCore(burnCore), m_nWriterIndex(writerIndex), m_parts(std::move(parts)) {
    setObjectName(QStringLiteral("DialogDVDInfo"));
    setWindowTitle(QStringLiteral("DVD Driver Info"));
    setWindowModality(Qt::ApplicationModal);

    auto* device = new QGroupBox(QStringLiteral("Device Info"), this);
    m_lblType = Value(device, "Type:", "lblDeviceType", 1146);
    m_lblReadSpeed = Value(device, "MaxReadSpeed", "lblReadSpeed", 1147);
    m_lblWriteSpeed = Value(device, "MaxWrite", "lblWriteSpeed", 1148);
    auto* deviceForm = new QFormLayout;
    deviceForm->addRow(QStringLiteral("Type:"), m_lblType);
    deviceForm->addRow(QStringLiteral("MaxRead:"), m_lblReadSpeed);
    deviceForm->addRow(QStringLiteral("MaxWrite:"), m_lblWriteSpeed);
    auto* supportGrid = new QHBoxLayout;
    for (int i = 0; i < 6; ++i) {
        m_chkSupport[i] = new QCheckBox(QString::fromLatin1(kSupportNames[i]), device);
        m_chkSupport[i]->setObjectName(QStringLiteral("chkSupport%1").arg(i));
        m_chkSupport[i]->setProperty("controlId", 1149 + i);
        // Display only: the user cannot toggle them.
        m_chkSupport[i]->setEnabled(false);
        supportGrid->addWidget(m_chkSupport[i]);
    }
    auto* deviceBox = new QVBoxLayout(device);
    deviceBox->addLayout(deviceForm);
    deviceBox->addWidget(new QLabel(QStringLiteral("Support Disc Type:"), device));
    deviceBox->addLayout(supportGrid);

    auto* disc = new QGroupBox(QStringLiteral("Disc Info"), this);
    m_lblDiscType = Value(disc, "", "lblDiscType", 1155);
    m_lblAvailable = Value(disc, "", "lblAvailableSize", 1156);
    m_lblUsed = Value(disc, "", "lblUsedSize", 1157);
    m_btnErase = new QPushButton(QStringLiteral("Erase Disc"), disc);
    m_btnErase->setObjectName(QStringLiteral("btnErase"));
    m_btnErase->setProperty("controlId", 1158);
    m_btnErase->setAutoDefault(false);
    m_btnErase->setEnabled(false);
    auto* discForm = new QFormLayout;
    discForm->addRow(QStringLiteral("Type:"), m_lblDiscType);
    discForm->addRow(QStringLiteral("Aviable Size(MB):"), m_lblAvailable);
    discForm->addRow(QStringLiteral("Used Size(MB):"), m_lblUsed);
    auto* discBox = new QVBoxLayout(disc);
    discBox->addLayout(discForm);
    discBox->addWidget(m_btnErase, 0, Qt::AlignRight);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setProperty("controlId", 1);
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(device);
    layout->addWidget(disc);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_btnErase, &QPushButton::clicked, this, [this] { OnBtnErase(); });

    DVDDeviceInfo info;
    if (ReadWriter(&info)) {
        ShowInfo(info);
    } else {
        qx::Prompts().Information(this, kNoWriter);
    }
    PlaceOverOwner(this, owner);
}

int CDialogDVDInfo::ReadWriter(DVDDeviceInfo* info) {
    m_parts.Log("DVD Device Info Dialog Begin to Get Device info burn core:" + std::to_string(m_nBurnCore) +
                ", writer:" + std::to_string(m_nWriterIndex) + "\n");
    BurnCore* core = m_parts.Core(m_nBurnCore);
    if (!core) {
        // Reported by the caller (at opening) or as "cannot be erased" (before an erase).
        m_parts.Log("DVD Device Info Dialog Get Device info failed\n");
        return 0;
    }
    const int found = core->GetWriterInfo(m_nWriterIndex, info);
    if (!found) {
        m_parts.Log("DVD Device Info Dialog Get Device info failed\n");
        return 0;
    }
    char line[2048];
    std::snprintf(line, sizeof line,
                  "DVD Device Info Dialog Get Device info Successful \n        DeviceInfo: typename: %s, ReadSpeed:%s, "
                  "WriteSpeed:%s, \n        support:%d%d%d%d%d%d\n        DiscInfo: type:%s, totleSpace:%s, "
                  "m_bD9:%d, \n        DiscIsInserted:%d, CanSupport:%d, CanErase:%d, isEmpty:%d\n",
                  info->typename_.c_str(), info->ReadSpeed.c_str(), info->WriteSpeed.c_str(), info->support[0],
                  info->support[1], info->support[2], info->support[3], info->support[4], info->support[5],
                  info->type.c_str(), info->totleSpace.c_str(), info->m_bD9, info->DiscIsInserted, info->CanSupport,
                  info->CanErase, info->isEmpty);
    m_parts.Log(line);
    return found;
}

void CDialogDVDInfo::ShowInfo(const DVDDeviceInfo& info) {
    m_lblType->setText(QString::fromStdString(info.typename_));
    m_lblReadSpeed->setText(QString::fromStdString(info.ReadSpeed));
    m_lblWriteSpeed->setText(QString::fromStdString(info.WriteSpeed));
    for (int i = 0; i < 6; ++i) {
        m_chkSupport[i]->setChecked(info.support[i]);
    }
    m_lblDiscType->setText(QString::fromStdString(info.type));
    m_lblAvailable->setText(QString::fromStdString(info.totleSpace));
    m_lblUsed->setText(QString::fromStdString(info.usedSpace));
    m_btnErase->setEnabled(info.CanErase && !info.isEmpty && info.DiscIsInserted);
}

BurnOutcome CDialogDVDInfo::OnBtnErase() {
    if (m_bErasing) {
        return BurnOutcome::Refused;
    }
    CProgressDlg::ResetMainShowState();
    DVDDeviceInfo info;
    if (!ReadWriter(&info) || !info.CanSupport || !info.CanErase || !info.DiscIsInserted || info.isEmpty) {
        qx::Prompts().Information(this, "The inserted disk cannot be erased!");
        return BurnOutcome::Refused;
    }
    BurnCore* core = m_parts.Core(m_nBurnCore);
    // An erase runs to its end: this dialog does not pass the progress window's stop request on.
    OpenProgressDlg("Erase Disc...", CProgressDlg::ModeBurn, this);
    m_bErasing = true;
    const BurnOutcome outcome = core->EraseDisc(this, m_nWriterIndex);
    m_bErasing = false;
    DestroyProgressDlg();
    if (outcome == BurnOutcome::Done) {
        qx::Prompts().Information(this, "Erase accomplished!");
        m_lblUsed->setText(QStringLiteral("0"));
        m_btnErase->setEnabled(false);
        return outcome;
    }
    // The disc is not what it was: show what is on it now.
    m_parts.Log(std::string("DVD Device Info Dialog erase ") + BurnOutcomeName(outcome) + "\n");
    qx::Prompts().Information(this, EraseOutcomeMessage(outcome));
    DVDDeviceInfo now;
    if (ReadWriter(&now)) {
        ShowInfo(now);
    } else {
        m_btnErase->setEnabled(false);
    }
    return outcome;
}

void CDialogDVDInfo::closeEvent(QCloseEvent* event) {
    if (m_bErasing) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CDialogDVDInfo::reject() {
    if (!m_bErasing) {
        QDialog::reject();
    }
}
