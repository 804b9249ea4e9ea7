// Drawing a menu page with Qt Gui: the background, the disc label as heading, each movie's picture and
// name, the "Play all", "Previous" and "Next" buttons; and the page's highlight subpictures, a frame
// round every button. Text needs a QGuiApplication.
#pragma once

#include "MenuLayout.h"
#include "Subpicture.h"

#include <QImage>

#include <string>
#include <vector>

struct MenuMovieFace {
    std::string name; // as the source list shows it
    QImage thumbnail; // null: a plain placeholder is drawn
};

// The texts of the bar buttons.
constexpr const char* kMenuPlayAllText = "Play all";
constexpr const char* kMenuPreviousText = "Previous";
constexpr const char* kMenuNextText = "Next";

// Page `page` (0-based) in display pixels. `movies` holds every title of the layout, in title order.
QImage DrawMenuPage(const MenuLayout& layout, int page, const std::string& heading,
                    const std::vector<MenuMovieFace>& movies);

// The display picture as stored on the disc: 720 pixels wide, squeezed or stretched to the frame.
QImage StoredMenuPicture(const MenuGeometry& geometry, const QImage& display);

// Pixel values of the highlight subpicture: a frame of the pattern colour round every button.
constexpr uint8_t kMenuFramePixel = 1;

// The highlight subpicture of a page, for the stored picture or (16:9 only) for its letterboxed
// place on a 4:3 screen.
SubpictureBitmap MenuHighlightBitmap(const MenuLayout& layout, int page, bool letterboxed);

// A button's rectangle in the stored picture, or letterboxed.
MenuRect MenuButtonRect(const MenuGeometry& geometry, const MenuButton& button, bool letterboxed);
