#include "InfoDialogs.h"

#include "HyperLink.h"
#include "LinkIni.h"
#include "OwnedWindow.h"
#include "PromptService.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

namespace {

// Runs f on the user-interface thread, waiting for it when called from another thread.
template <typename F> void OnGuiThread(F f) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(app, f, Qt::BlockingQueuedConnection);
}

QLabel* StaticText(QWidget* parent, const char* text, const char* name, int id) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setProperty("controlId", id);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* Button(QWidget* parent, const char* text, const char* name, int id) {
    auto* b = new QPushButton(QString::fromUtf8(text), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setProperty("controlId", id);
    return b;
}

} // namespace

CDownloadDecoderDlg::CDownloadDecoderDlg(QWidget* parent) : QDialog(nullptr) {
    setObjectName(QStringLiteral("DownloadDecoderDlg"));
    setWindowTitle(QStringLiteral("Information"));
    setWindowModality(Qt::ApplicationModal);

    // The lookup's own message, if any, appears before the window; the link then stays empty.
    if (GetLinkFromIni(kLinkDownloadDecoder, m_strURL, parent) != 0)
        m_strURL.clear();

    m_pLink = new CHyperLink(this);
    m_pLink->setObjectName(QStringLiteral("DecoderLink"));
    m_pLink->setProperty("controlId", 1063);
    m_pLink->SetLinkText(kLinkTemplateText);
    m_pLink->SetURL(m_strURL);
    m_pLink->SetUnderline(true);
    m_pLink->SetLinkText(m_strURL);

    auto* ok = Button(this, "OK", "OkButton", 1057);
    auto* cancel = Button(this, "Cancel", "CancelButton", 1058);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(StaticText(this, kNoDecoderText, "NoDecoderText", 1075));
    layout->addWidget(StaticText(this, kReportText, "ReportText", 1076));
    layout->addWidget(m_pLink);
    layout->addSpacing(8);
    layout->addWidget(StaticText(this, kAttentionText, "AttentionText", 1162));
    layout->addLayout(buttons);
    setMinimumWidth(420);
    PlaceOverOwner(this, parent);
    // Enter answers OK; only a click (or Space on the focused link) opens the web page.
    ok->setFocus(Qt::OtherFocusReason);
    // A desktop without a program for web pages says so, as Home and Help do.
    connect(m_pLink, &CHyperLink::opened, this, [this](const QString& url, bool ok) {
        if (!ok && !url.isEmpty()) {
            qx::Prompts().Information(this, "No program on this desktop opens " + url.toStdString() +
                                                "\nOpen it in a web browser.");
        }
    });
}

std::string CDownloadDecoderDlg::SummaryFor(const std::string& url) {
    return std::string(kNoDecoderText) + "\n" + kReportText + "\n" + url + "\n" + kAttentionText;
}

void CDownloadDecoderDlg::Run(QWidget* parent) {
    if (!qx::Prompts().ShowDialogs()) {
        // No widgets at all here: the console front-end may run without a widget application.
        std::string url;
        if (GetLinkFromIni(kLinkDownloadDecoder, url, parent) != 0)
            url.clear();
        qx::Prompts().NoteDialog("Information", SummaryFor(url));
        return;
    }
    OnGuiThread([parent] {
        CDownloadDecoderDlg dlg(parent);
        dlg.exec();
    });
}

CDisplayUnsupportInfo::CDisplayUnsupportInfo(const std::string& path, QWidget* parent)
    : QDialog(nullptr), m_strFile(path) {
    setObjectName(QStringLiteral("DisplayUnsupportInfo"));
    setWindowTitle(QStringLiteral("Information"));
    setWindowModality(Qt::ApplicationModal);

    m_pPath = new QLineEdit(QString::fromStdString(m_strFile), this);
    m_pPath->setObjectName(QStringLiteral("FilePath"));
    m_pPath->setProperty("controlId", 1161);
    m_pPath->setReadOnly(true);
    m_pPath->setCursorPosition(0);
    m_pPath->setMinimumWidth(360);

    auto* ok = Button(this, "OK", "OkButton", 1);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(StaticText(this, kHeadingText, "HeadingText", -1));
    layout->addWidget(m_pPath);
    layout->addLayout(buttons);
    PlaceOverOwner(this, parent);
}

void CDisplayUnsupportInfo::Run(const std::string& path, QWidget* parent) {
    if (!qx::Prompts().ShowDialogs()) {
        qx::Prompts().NoteDialog("Information", std::string(kHeadingText) + "\n" + path);
        return;
    }
    OnGuiThread([&path, parent] {
        CDisplayUnsupportInfo dlg(path, parent);
        dlg.exec();
    });
}
