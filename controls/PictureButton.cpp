#include "PictureButton.h"

#include <QPixmap>

CPictureButton::CPictureButton(const std::string& caption, QWidget* parent)
    : QPushButton(QString::fromStdString(caption), parent) {
    setIconSize(QSize(16, 16));
}

bool CPictureButton::LoadPicture(const std::string& path) {
    QPixmap pixmap;
    if (path.empty() || !pixmap.load(QString::fromStdString(path))) {
        setIcon(QIcon());
        return false;
    }
    setIcon(QIcon(pixmap));
    return true;
}

void CPictureButton::SetPicture(const QIcon& icon) {
    setIcon(icon);
}

void CPictureButton::SetToolTipText(const std::string& text) {
    setToolTip(QString::fromStdString(text));
}
