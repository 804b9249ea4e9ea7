// The preview screen of the main window: shows the movie's pictures while it plays, and otherwise
// the screen image (the still picture of a pause, or the background picture), stretched to fit.
// Both are kept in memory, so repaints and moves only copy them.
#pragma once

#include <QImage>
#include <QWidget>

class CPreviewScreen : public QWidget {
    Q_OBJECT
public:
    explicit CPreviewScreen(QWidget* parent = nullptr);

    // The still or background picture; a null image leaves the screen black.
    void SetScreenImage(const QImage& image);
    const QImage& ScreenImage() const { return m_screenImage; }
    // The latest movie picture, drawn instead of the screen image while video is shown.
    void SetVideoFrame(const QImage& frame);
    void ShowVideo(bool show);
    bool ShowingVideo() const { return m_bShowVideo; }
    // What the screen shows now.
    QImage Grab() const;
    // 4:3 at any width.
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

signals:
    void resized(QSize size);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Draw(QPainter& painter) const;

    QImage m_screenImage;
    QImage m_videoFrame;
    bool m_bShowVideo = false;
};
