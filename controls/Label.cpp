#include "Label.h"

CLabel::CLabel(const std::string& text, QWidget* parent) : QLabel(QString::fromStdString(text), parent) {
    setTextFormat(Qt::PlainText);
}

CLabel& CLabel::SetText(const std::string& text) {
    setText(QString::fromStdString(text));
    return *this;
}

CLabel& CLabel::SetTextColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
    return *this;
}

CLabel& CLabel::SetBkColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::Window, color);
    setPalette(p);
    setAutoFillBackground(true);
    return *this;
}

CLabel& CLabel::SetFontBold(bool bold) {
    QFont f = font();
    f.setBold(bold);
    setFont(f);
    return *this;
}

CLabel& CLabel::SetFontSize(int points) {
    if (points > 0) {
        QFont f = font();
        f.setPointSize(points);
        setFont(f);
    }
    return *this;
}
