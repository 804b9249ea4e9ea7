// "DVD Driver Info": what the selected writer can do and what disc is in it, and "Erase Disc" for
// a rewritable disc that holds data. The engine and writer indexes are the opener's selections.
#pragma once

#include "BurnDialogParts.h"

#include <QDialog>
#include <QPointer>

class QCheckBox;
class QLabel;
class QPushButton;

class CDialogDVDInfo : public QDialog {
    Q_OBJECT
public:
    CDialogDVDInfo(int burnCore, int writerIndex, BurnDialogParts parts, QWidget* owner = nullptr);

    // Erase button. Returns how the erase ended (Refused when the disc could not be erased).
    BurnOutcome OnBtnErase();

    QPushButton* EraseButton() const { return m_btnErase; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    // Asks the engine for the writer into `info` with the dialog's log lines; 1 when described.
    int ReadWriter(DVDDeviceInfo* info);
    void ShowInfo(const DVDDeviceInfo& info);

    const int m_nBurnCore;
    const int m_nWriterIndex;
    BurnDialogParts m_parts;
    bool m_bErasing = false;

    QLabel* m_lblType = nullptr;
    QLabel* m_lblReadSpeed = nullptr;
    QLabel* m_lblWriteSpeed = nullptr;
    QCheckBox* m_chkSupport[6] = {};
    QLabel* m_lblDiscType = nullptr;
    QLabel* m_lblAvailable = nullptr;
    QLabel* m_lblUsed = nullptr;
    QPushButton* m_btnErase = nullptr;
};
