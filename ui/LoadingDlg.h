// "Please wait" window without caption or buttons, shown while files are added and probed and
// while checks run. It keeps its owner, the application's main window (the top of the given
// parent's chain), disabled while it is shown. Created, shown and destroyed on the
// user-interface thread.
#pragma once

#include <QDialog>
#include <QPointer>

class QLabel;

class CLoadingDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kLoadingText = "Loading media files,please wait...";

    explicit CLoadingDlg(QWidget* parent = nullptr);
    ~CLoadingDlg() override;

    void ShowLoading();
    void CloseLoading();

    QWidget* Owner() const { return m_pOwner; }
    bool OwnersDisabled() const { return m_bOwnersDisabled; }
    QLabel* TextLabel() const { return m_pText; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override {}

private:
    void EnableOwners();

    QPointer<QWidget> m_pOwner;
    QLabel* m_pText = nullptr;
    bool m_bOwnersDisabled = false;
};
