#include "PreviewScreen.h"

#include <QPainter>
#include <QResizeEvent>

CPreviewScreen::CPreviewScreen(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The screen keeps the 4:3 shape of a television picture as the window grows.
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

bool CPreviewScreen::hasHeightForWidth() const {
    return true;
}

int CPreviewScreen::heightForWidth(int width) const {
    return width * 3 / 4;
}

void CPreviewScreen::SetScreenImage(const QImage& image) {
    m_screenImage = image;
    update();
}

void CPreviewScreen::SetVideoFrame(const QImage& frame) {
    m_videoFrame = frame;
    if (m_bShowVideo) {
        update();
    }
}

void CPreviewScreen::ShowVideo(bool show) {
    if (show != m_bShowVideo) {
        m_bShowVideo = show;
        update();
    }
}

QImage CPreviewScreen::Grab() const {
    QImage image(size(), QImage::Format_RGB32);
    QPainter painter(&image);
    Draw(painter);
    return image;
}

void CPreviewScreen::Draw(QPainter& painter) const {
    painter.fillRect(rect(), Qt::black);
    if (m_bShowVideo && !m_videoFrame.isNull()) {
        // The frame is rendered at the screen's size, the movie already letter-boxed inside it.
        painter.drawImage(rect(), m_videoFrame);
    } else if (!m_screenImage.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), m_screenImage);
    }
}

void CPreviewScreen::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Draw(painter);
}

void CPreviewScreen::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit resized(event->size());
}
