// The decoder-download dialog and the unsupported-file dialog: small modal windows with the
// caption "Information". Run() shows the real window (on the user-interface thread, also when
// called from a worker thread, which waits for it) unless the prompt service has no windows, in
// which case the dialog's text goes to the service instead.
#pragma once

#include <QDialog>

#include <string>

class CHyperLink;
class QLineEdit;

class CDownloadDecoderDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kNoDecoderText = "No decoder to rander this video file.";
    static constexpr const char* kReportText =
        "If the problem remains, please report it to support@qxmoviedisc.example.org.";
    static constexpr const char* kAttentionText =
        "ATTENTION: RM/RMVB video files should be playbacked with \nReal Media Player. Please install Real Media "
        "Player.";
    static constexpr const char* kLinkTemplateText =
        "Please write down the video format information indetail or download link.";

    // Reads the "Download decoder" link (its message, if any, comes before the window).
    explicit CDownloadDecoderDlg(QWidget* parent = nullptr);
    CHyperLink* Link() const { return m_pLink; }
    std::string LinkURL() const { return m_strURL; }

    static void Run(QWidget* parent);
    // The dialog's text as one string (what a service without windows receives).
    std::string Summary() const { return SummaryFor(m_strURL); }
    static std::string SummaryFor(const std::string& url);

private:
    CHyperLink* m_pLink = nullptr;
    std::string m_strURL;
};

class CDisplayUnsupportInfo : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kHeadingText = "Can not support file:";

    CDisplayUnsupportInfo(const std::string& path, QWidget* parent = nullptr);
    const std::string& File() const { return m_strFile; }
    QLineEdit* PathBox() const { return m_pPath; }

    static void Run(const std::string& path, QWidget* parent);

private:
    std::string m_strFile;
    QLineEdit* m_pPath = nullptr;
};
