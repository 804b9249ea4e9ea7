// Push button with a picture beside (or instead of) its caption and a plain tool-tip.
#pragma once

#include <QIcon>
#include <QPushButton>

#include <string>

class CPictureButton : public QPushButton {
    Q_OBJECT
public:
    explicit CPictureButton(const std::string& caption = {}, QWidget* parent = nullptr);

    // Loads the picture from a file; false (and no picture) when the file is missing or not a picture.
    bool LoadPicture(const std::string& path);
    void SetPicture(const QIcon& icon);
    bool HasPicture() const { return !icon().isNull(); }

    void SetToolTipText(const std::string& text);
    std::string GetToolTipText() const { return toolTip().toStdString(); }
};
