#include "MenuPicture.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

const QColor kBackgroundTop(12, 26, 52);
const QColor kBackgroundBottom(30, 60, 104);
const QColor kText(240, 240, 240);
const QColor kFrame(150, 170, 200);
const QColor kPlaceholder(55, 62, 75);
const QColor kBarFill(40, 76, 130);
const QColor kBarEdge(140, 178, 230);

QRect qrect(const MenuRect& r) {
    return QRect(r.x, r.y, r.width, r.height);
}

QFont fontOfHeight(int pixels, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(std::max(8, pixels));
    font.setBold(bold);
    return font;
}

// The text in `box`, shortened in the middle with an ellipsis when it does not fit.
void drawFitted(QPainter& p, const QRect& box, const QString& text) {
    const QFontMetrics metrics(p.font());
    p.drawText(box, Qt::AlignCenter, metrics.elidedText(text, Qt::ElideMiddle, box.width()));
}

const char* barText(MenuButtonKind kind) {
    switch (kind) {
    case MenuButtonKind::PlayAll:
        return kMenuPlayAllText;
    case MenuButtonKind::Previous:
        return kMenuPreviousText;
    case MenuButtonKind::Next:
        return kMenuNextText;
    default:
        return "";
    }
}

} // namespace

QImage DrawMenuPage(const MenuLayout& layout, int page, const std::string& heading,
                    const std::vector<MenuMovieFace>& movies) {
    const MenuGeometry& g = layout.geometry;
    QImage image(g.displayWidth, g.displayHeight, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QLinearGradient gradient(0, 0, 0, g.displayHeight);
    gradient.setColorAt(0, kBackgroundTop);
    gradient.setColorAt(1, kBackgroundBottom);
    p.fillRect(image.rect(), gradient);

    if (!heading.empty() && g.heading.height > 0) {
        p.setPen(kText);
        p.setFont(fontOfHeight(g.heading.height * 6 / 10, true));
        drawFitted(p, qrect(g.heading), QString::fromStdString(heading));
    }
    const MenuPage& shown = layout.pages.at(static_cast<size_t>(page));
    for (const MenuButton& b : shown.buttons) {
        if (b.kind == MenuButtonKind::Movie) {
            const MenuMovieFace* face =
                b.title >= 1 && b.title <= static_cast<int>(movies.size()) ? &movies[b.title - 1] : nullptr;
            const QRect thumb = qrect(b.thumbnail);
            if (face && !face->thumbnail.isNull()) {
                p.drawImage(thumb, face->thumbnail);
            } else {
                p.fillRect(thumb, kPlaceholder);
                p.setPen(kText);
                p.setFont(fontOfHeight(thumb.height() / 3, true));
                p.drawText(thumb, Qt::AlignCenter, QString::number(b.title));
            }
            p.setPen(QPen(kFrame, 2));
            p.setBrush(Qt::NoBrush);
            p.drawRect(thumb.adjusted(-1, -1, 0, 0));
            p.setPen(kText);
            p.setFont(fontOfHeight(b.label.height * 65 / 100, false));
            drawFitted(p, qrect(b.label), QString::fromStdString(face ? face->name : std::string()));
        } else {
            QPainterPath path;
            path.addRoundedRect(qrect(b.label), b.label.height / 3.0, b.label.height / 3.0);
            p.fillPath(path, kBarFill);
            p.setPen(QPen(kBarEdge, 2));
            p.drawPath(path);
            p.setPen(kText);
            p.setFont(fontOfHeight(b.label.height / 2, true));
            drawFitted(p, qrect(b.label), QString::fromUtf8(barText(b.kind)));
        }
    }
    p.end();
    return image;
}

QImage StoredMenuPicture(const MenuGeometry& g, const QImage& display) {
    return display.scaled(g.storedWidth, g.storedHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

MenuRect MenuButtonRect(const MenuGeometry& g, const MenuButton& button, bool letterboxed) {
    const MenuRect stored = g.Stored(button.area);
    return letterboxed ? g.Letterboxed(stored) : stored;
}

SubpictureBitmap MenuHighlightBitmap(const MenuLayout& layout, int page, bool letterboxed) {
    const MenuGeometry& g = layout.geometry;
    SubpictureBitmap bitmap(g.storedWidth, g.storedHeight);
    for (const MenuButton& b : layout.pages.at(static_cast<size_t>(page)).buttons)
        bitmap.Frame(MenuButtonRect(g, b, letterboxed), letterboxed ? 3 : 4, kMenuFramePixel);
    return bitmap;
}
