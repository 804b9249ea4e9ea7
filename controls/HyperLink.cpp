#include "HyperLink.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QUrl>

namespace {
CHyperLink::Opener& ProcessOpener() {
    static CHyperLink::Opener opener;
    return opener;
}
} // namespace

CHyperLink::CHyperLink(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setTextFormat(Qt::PlainText);
    SetUnderline(true);
}

void CHyperLink::SetURL(const std::string& url) {
    m_strURL = url;
    setToolTip(QString::fromStdString(url));
    if (text().isEmpty())
        setText(QString::fromStdString(url));
}

void CHyperLink::SetLinkText(const std::string& text) {
    setText(QString::fromStdString(text));
}

void CHyperLink::SetUnderline(bool underline) {
    QFont f = font();
    f.setUnderline(underline);
    setFont(f);
    UpdateLook();
}

void CHyperLink::UpdateLook() {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, m_bVisited ? QColor(0x55, 0x1a, 0x8b) : QColor(0x00, 0x00, 0xee));
    setPalette(p);
}

bool CHyperLink::GotoURL() {
    if (m_strURL.empty())
        return false;
    const Opener& opener = ProcessOpener();
    bool ok = false;
    if (opener) {
        ok = opener(m_strURL);
    } else {
        ok = QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(m_strURL)));
    }
    if (ok) {
        m_bVisited = true;
        UpdateLook();
    }
    emit opened(QString::fromStdString(m_strURL), ok);
    return ok;
}

void CHyperLink::SetOpener(Opener opener) {
    ProcessOpener() = std::move(opener);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        GotoURL();
        event->accept();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void CHyperLink::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        GotoURL();
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}
