#include "DialogDVDInfo.h"

#include "BurnJob.h"
#include "DialogJobObserver.h"
#include "OwnedWindow.h"
#include "ProgressDlg.h"
#include "PromptService.h"
#include "WriterJobs.h"

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
    DialogJobObserver observer(this, m_parts);
    return ReadWriterInfo(m_parts.Core(m_nBurnCore), m_nBurnCore, m_nWriterIndex, info, observer);
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
    // An erase runs to its end: this dialog does not pass the progress window's stop request on.
    DialogJobObserver observer(this, m_parts);
    observer.beforeStep = [this] { m_bErasing = true; };
    const BurnOutcome outcome = EraseWriterDisc(m_parts.Core(m_nBurnCore), m_nBurnCore, m_nWriterIndex, observer);
    m_bErasing = false;
    if (outcome == BurnOutcome::Done) {
        // The blank disc's sizes, not those of the data it held.
        DVDDeviceInfo now;
        if (ReadWriter(&now)) {
            ShowInfo(now);
        }
        m_lblUsed->setText(QStringLiteral("0"));
        m_btnErase->setEnabled(false);
        return outcome;
    }
    if (outcome == BurnOutcome::Refused && !observer.StepRan()) {
        return outcome;
    }
    // The disc is not what it was: show what is on it now.
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
