// Button highlight information: the buttons of a menu picture, written into the presentation control
// information (PCI) of every navigation pack of the source that shows them. The player draws the
// selected or activated button by recolouring the menu's subpicture inside the button's rectangle
// with the button's colour set.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using AuthorCommand = std::array<uint8_t, 8>;

constexpr int AUTHOR_MAX_BUTTONS = 36;       // over all button groups of one menu
constexpr uint32_t AUTHOR_HLI_OFFSET = 0x8D; // highlight information within the navigation pack

// Which picture a button group's rectangles belong to; a player uses the group made for its display.
enum AuthorButtonDisplay {
    BUTTONS_NORMAL = 0,    // a 4:3 picture
    BUTTONS_WIDE = 1,      // a 16:9 picture on a 16:9 screen
    BUTTONS_LETTERBOX = 2, // a 16:9 picture letterboxed on a 4:3 screen
    BUTTONS_PANSCAN = 4,   // a 16:9 picture pan-scanned on a 4:3 screen
};

struct AuthorButton {
    // Rectangle in picture pixels, both ends included (x 0..719, y 0..575).
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    // Buttons (1-based) the arrow keys move to.
    int up = 0;
    int down = 0;
    int toLeft = 0;
    int toRight = 0;
    int colorSet = 1;        // 1..3: which colour pair of the highlight is used
    bool autoAction = false; // activated as soon as it is selected
    AuthorCommand command{}; // run when the button is activated
};

struct AuthorButtonGroup {
    int display = BUTTONS_NORMAL;
    std::vector<AuthorButton> buttons; // every group of a highlight has the same number of buttons
};

// A colour pair of the 4-colour subpicture: for pixel values 3..0 (emphasis 2, emphasis 1, pattern,
// background) a colour-table index in bits 31..16 and a contrast (0 transparent .. 15 opaque) in
// bits 15..0, four bits each, pixel 3 first.
constexpr uint32_t AuthorHighlightColors(const std::array<int, 4>& colorByPixel,
                                         const std::array<int, 4>& contrastByPixel) {
    uint32_t v = 0;
    for (int p = 3; p >= 0; --p)
        v = (v << 4) | (static_cast<uint32_t>(colorByPixel[p]) & 0xF);
    for (int p = 3; p >= 0; --p)
        v = (v << 4) | (static_cast<uint32_t>(contrastByPixel[p]) & 0xF);
    return v;
}

struct AuthorHighlight {
    std::vector<AuthorButtonGroup> groups;    // 1 to 3 groups
    std::array<uint32_t, 3> selectColors{};   // per colour set: the selected button
    std::array<uint32_t, 3> activateColors{}; // per colour set: the activated button
    int forcedSelect = 0;                     // button selected whenever the menu is entered (0: the player's choice)
};

// Empty when the highlight can be written; otherwise why not (no group, more than 3, unequal or too
// many buttons, a rectangle outside the picture or upside down, an arrow to a missing button).
std::string AuthorHighlightProblem(const AuthorHighlight& highlight, int pictureWidth, int pictureHeight);

// Writes the highlight information into a 2048-byte navigation pack whose PCI is already in place:
// status (1 new, 2 the same as in the previous pack of the cell), the time the buttons are valid
// (start, end; 90 kHz), the button groups, colours and buttons.
void AuthorWriteHighlight(uint8_t* pack, const AuthorHighlight& highlight, bool sameAsPrevious, uint32_t start,
                          uint32_t end);
