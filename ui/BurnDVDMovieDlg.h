// The dialog that burns a DVD-Video folder already on disk: the user picks the folder, the engine,
// the writer and a label and presses Burn. The folder is checked and measured (up to 4250 MB a
// single-layer disc, up to 8100 MB a dual-layer one), the writer-ready check runs, and the engine
// burns while the progress window shows the state. The dialog stays open for another try.
#pragma once

#include "BurnDialogParts.h"

#include <QDialog>
#include <QPointer>

#include <memory>
#include <string>
#include <vector>

class CLoadingDlg;
class CPictureButton;
class QComboBox;
class QLabel;
class QLineEdit;

class CBurnDVDMovieDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTipTitle = "How to select valid DVD Folder";
    static constexpr const char* kTipBody = "DVD Folder must contain two folders, one is 'VIDEO_TS', another is "
                                            "'AUDIO_TS'. Please select the folder 'VIDEO_TS'";
    static constexpr const char* kHelpLinkText = "Click here to get more help";

    // `burnCore`: the main window's engine selection at the moment its button was pressed.
    CBurnDVDMovieDlg(int burnCore, BurnDialogParts parts, QWidget* owner = nullptr);
    ~CBurnDVDMovieDlg() override;

    // Operations (button handlers), public for the console front-end and tests.
    void OnBtnBrowse();
    // Returns how the burn ended (Refused for every check that stopped it).
    BurnOutcome OnBtnBurn();
    void OnReload();
    void OnBtnWriterInfo();
    QLabel* HelpLink() const { return m_linkHelp; }
    // The help link (the rich tool-tip's footer); `wParam` 0 does nothing. Always 1.
    int OnHelpLink(int wParam);

    int BurnCoreIndex() const { return m_nBurnCore; }
    const std::string& DVDFolder() const { return m_strDVDFolder; }
    // Sets the folder as the browse button would (a trailing '/' is added).
    void SetDVDFolder(const std::string& folder);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FillCoresAndListWriters();
    void OnWriterList(std::vector<std::string> list);
    void HideLoading();
    void OnStopBurn();

    int m_nBurnCore;
    BurnDialogParts m_parts;
    QPointer<QWidget> m_pOwner;
    std::string m_strDVDFolder;
    bool m_bBurning = false;
    int m_nRealWriters = 0;       // writers in the combo before its image entry
    std::string m_strImageFolder; // where the last disc image went
    CLoadingDlg* m_pLoadingDlg = nullptr;

    QLineEdit* m_editFolder = nullptr;
    CPictureButton* m_btnBrowse = nullptr;
    QComboBox* m_comboCore = nullptr;
    QComboBox* m_comboWriter = nullptr;
    CPictureButton* m_btnInfo = nullptr;
    CPictureButton* m_btnReload = nullptr;
    QLineEdit* m_editLabel = nullptr;
    CPictureButton* m_btnBurn = nullptr;
    CPictureButton* m_btnCancel = nullptr;
    QLabel* m_linkHelp = nullptr;
};
