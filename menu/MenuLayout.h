// Where everything of a DVD menu goes: pages of up to six movie buttons (a thumbnail with the movie's
// name), a "Play all" button on every page and "Previous"/"Next" between pages, with the buttons each
// arrow key moves to. Positions are worked out in square display pixels and converted to the 720-pixel
// wide stored picture (and, for a 16:9 menu, to its letterboxed place on a 4:3 screen).
#pragma once

#include "DvdFormat.h"

#include <string>
#include <vector>

constexpr int kMenuMoviesPerPage = 6;
constexpr int kMenuMaxTitles = 99;

struct MenuRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int right() const { return x + width; } // exclusive
    int bottom() const { return y + height; }
    bool operator==(const MenuRect& o) const { return x == o.x && y == o.y && width == o.width && height == o.height; }
};

enum class MenuButtonKind { Movie, PlayAll, Previous, Next };

struct MenuButton {
    MenuButtonKind kind = MenuButtonKind::Movie;
    int title = 0;      // a movie's title number (1-based)
    MenuRect area;      // what the highlight frames (display pixels)
    MenuRect thumbnail; // a movie's picture
    MenuRect label;     // the text
    // Buttons (1-based, on the same page) the arrow keys move to.
    int up = 0;
    int down = 0;
    int left = 0;
    int right = 0;
};

struct MenuPage {
    std::vector<MenuButton> buttons;     // in drawn order: movies row by row, then Previous, Play all, Next
    int Find(MenuButtonKind kind) const; // 1-based button number, 0 when the page has none
};

struct MenuGeometry {
    TvStandard tv = TvStandard::Pal;
    DisplayAspect aspect = DisplayAspect::Standard4x3;
    int storedWidth = 720;
    int storedHeight = 576; // 576 PAL, 480 NTSC
    int displayWidth = 768; // square pixels: 768/1024 (PAL), 640/854 (NTSC)
    int displayHeight = 576;
    MenuRect heading; // empty without a heading

    // A rectangle of display pixels in the stored picture (x scaled, ends rounded outwards).
    MenuRect Stored(const MenuRect& display) const;
    // A rectangle of the stored 16:9 picture where a 4:3 screen shows it letterboxed (3/4 of the
    // height, centred).
    MenuRect Letterboxed(const MenuRect& stored) const;
};

struct MenuLayout {
    MenuGeometry geometry;
    std::vector<MenuPage> pages;
    int titles = 0;
    // The page and button of a movie's title (1-based); false for a title the menu does not hold.
    bool Locate(int title, int* page, int* button) const;
};

// The layout for `titles` movies (1..99); `heading` leaves room for the disc label at the top.
MenuLayout LayOutMenu(int titles, TvStandard tv, DisplayAspect aspect, bool heading);
