// Static text whose colour, weight and size can be set in one call each.
#pragma once

#include <QLabel>

#include <string>

class CLabel : public QLabel {
    Q_OBJECT
public:
    explicit CLabel(const std::string& text = {}, QWidget* parent = nullptr);

    CLabel& SetText(const std::string& text);
    std::string GetText() const { return text().toStdString(); }
    CLabel& SetTextColor(const QColor& color);
    CLabel& SetBkColor(const QColor& color);
    CLabel& SetFontBold(bool bold);
    CLabel& SetFontSize(int points);
};
