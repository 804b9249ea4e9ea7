#include "MenuProgram.h"

#include "AplAuthor.h"
#include "DvdCommands.h"
#include "MenuPicture.h"

#include <cmath>

namespace {

// A studio-range YCrCb colour-table entry (0x00YYCrCb) of an RGB colour.
uint32_t colorEntry(int r, int g, int b) {
    const double R = r / 255.0, G = g / 255.0, B = b / 255.0;
    const long y = std::lround(16 + 65.481 * R + 128.553 * G + 24.966 * B);
    const long cb = std::lround(128 - 37.797 * R - 74.203 * G + 112.0 * B);
    const long cr = std::lround(128 + 112.0 * R - 93.786 * G - 18.214 * B);
    return static_cast<uint32_t>(y << 16 | cr << 8 | cb);
}

AuthorSourceRef stillSource(const std::string& path) {
    AuthorSourceRef ref;
    ref.path = path;
    AuthorCellSpec cell;
    cell.start = 0;
    cell.end = -1;
    cell.chapterMark = 1;
    cell.pause = 255; // the picture stays until a button is pressed
    ref.cells.push_back(cell);
    return ref;
}

AuthorButton engineButton(const MenuLayout& layout, const MenuButton& b, bool letterboxed, AuthorCommand command) {
    const MenuRect r = MenuButtonRect(layout.geometry, b, letterboxed);
    AuthorButton out;
    out.left = r.x;
    out.top = r.y;
    out.right = r.right() - 1;
    out.bottom = r.bottom() - 1;
    out.up = b.up;
    out.down = b.down;
    out.toLeft = b.left;
    out.toRight = b.right;
    out.command = command;
    return out;
}

} // namespace

AuthorColorTable MenuColorTable() {
    AuthorColorTable table;
    table.fill(colorEntry(0, 0, 0));
    table[1] = colorEntry(255, 255, 255);
    table[kMenuSelectColor] = colorEntry(255, 208, 0);   // amber frame round the selected button
    table[kMenuActivateColor] = colorEntry(80, 220, 80); // green while it is being activated
    return table;
}

std::vector<AuthorCommand> MenuFirstPlayCommands() {
    return {
        AuthorCmdSetGprm(kMenuModeRegister, 0),                    // one title at a time
        AuthorCmdSetGprm(kMenuButtonRegister, AUTHOR_BUTTON_UNIT), // button 1 selected
        AuthorCmdSetGprm(kMenuPageRegister, 1),                    // on page 1
        AuthorCmdJumpTitleMenu(),                                  // show the menu
    };
}

std::vector<AuthorCommand> MenuTitlePostCommands(int title, int titles) {
    if (title >= titles)
        return {AuthorCmdCallTitleMenu(1)}; // the last title: back to the menu
    return {
        AuthorCmdIfGprmGoto(kMenuModeRegister, 0, 3), // one title only: on to line 3
        AuthorCmdJumpTitleInSet(title + 1),           // "Play all": the next title
        AuthorCmdCallTitleMenu(1),                    // back to the menu
    };
}

std::shared_ptr<AuthorHighlight> MenuPageHighlight(const MenuLayout& layout, int page) {
    MenuChains chains;
    chains.pages = static_cast<int>(layout.pages.size());
    const MenuPage& shown = layout.pages.at(static_cast<size_t>(page - 1));
    const bool wide = layout.geometry.aspect == DisplayAspect::Wide16x9;
    auto highlight = std::make_shared<AuthorHighlight>();
    // A 16:9 menu keeps its buttons where they are drawn on a 4:3 screen too: the letterboxed
    // picture gets its own rectangles (the picture may not be pan-scanned).
    for (bool letterboxed : wide ? std::vector<bool>{false, true} : std::vector<bool>{false}) {
        AuthorButtonGroup group;
        group.display = !wide ? BUTTONS_NORMAL : letterboxed ? BUTTONS_LETTERBOX : BUTTONS_WIDE;
        for (size_t i = 0; i < shown.buttons.size(); ++i) {
            const MenuButton& b = shown.buttons[i];
            const uint16_t self = static_cast<uint16_t>((i + 1) * AUTHOR_BUTTON_UNIT);
            AuthorCommand command{};
            switch (b.kind) {
            case MenuButtonKind::Movie: // come back to this button, play the title
                command = AuthorCmdSetGprmLinkPgc(kMenuButtonRegister, self, chains.Title(b.title));
                break;
            case MenuButtonKind::PlayAll: // come back to this button, play every title
                command = AuthorCmdSetGprmLinkPgc(kMenuButtonRegister, self, chains.PlayAll());
                break;
            case MenuButtonKind::Previous: // the previous page with its first button
                command = AuthorCmdSetGprmLinkPgc(kMenuButtonRegister, AUTHOR_BUTTON_UNIT, chains.Page(page - 1));
                break;
            case MenuButtonKind::Next: // the next page with its first button
                command = AuthorCmdSetGprmLinkPgc(kMenuButtonRegister, AUTHOR_BUTTON_UNIT, chains.Page(page + 1));
                break;
            }
            group.buttons.push_back(engineButton(layout, b, letterboxed, command));
        }
        highlight->groups.push_back(std::move(group));
    }
    // The frame pixels take the selected or activated colour, fully opaque; all else stays clear.
    const int frame = kMenuFramePixel;
    std::array<int, 4> select{}, activate{}, opaque{};
    select[frame] = kMenuSelectColor;
    activate[frame] = kMenuActivateColor;
    opaque[frame] = 15;
    highlight->selectColors.fill(AuthorHighlightColors(select, opaque));
    highlight->activateColors.fill(AuthorHighlightColors(activate, opaque));
    return highlight;
}

std::unique_ptr<PgcGroup> MenuManagerGroup(const MenuDisc& disc) {
    const MenuLayout& layout = disc.layout;
    MenuChains chains;
    chains.pages = static_cast<int>(layout.pages.size());
    auto group = std::make_unique<PgcGroup>(GROUP_VMG_MENUS);
    if (layout.geometry.aspect == DisplayAspect::Wide16x9) {
        // On a 4:3 screen the menu is letterboxed, never pan-scanned, and its subpicture stream is
        // the letterboxed one (physical stream 1).
        group->attributes.video.disallow = DISALLOW_PANSCAN;
        group->subpictureMaps.push_back(AuthorSubpictureMap{0, 0, 1, 0});
    }

    auto titleMenu = std::make_unique<ProgramChain>();
    titleMenu->entries = 1u << ENTRY_TITLE;
    for (int page = chains.pages; page >= 2; --page) // the page to come back to
        titleMenu->preCommands.push_back(
            AuthorCmdIfGprmLinkPgc(kMenuPageRegister, static_cast<uint16_t>(page), chains.Page(page)));
    titleMenu->preCommands.push_back(AuthorCmdLinkPgc(chains.Page(1))); // else the first page
    group->pgcs.push_back(std::move(titleMenu));

    for (int page = 1; page <= chains.pages; ++page) {
        auto pgc = std::make_unique<ProgramChain>();
        pgc->preCommands = {
            AuthorCmdSetGprm(kMenuPageRegister, static_cast<uint16_t>(page)), // come back to this page
            AuthorCmdSelectButtonFromGprm(kMenuButtonRegister),               // with this button selected
        };
        AuthorSourceRef still = stillSource(disc.pageStreams.at(static_cast<size_t>(page - 1)));
        still.highlight = MenuPageHighlight(layout, page);
        pgc->sources.push_back(std::move(still));
        pgc->colors = MenuColorTable();
        group->pgcs.push_back(std::move(pgc));
    }

    auto playAll = std::make_unique<ProgramChain>();
    playAll->preCommands = {
        AuthorCmdSetGprm(kMenuModeRegister, 1), // every title in turn
        AuthorCmdJumpTitle(1),                  // from the first
    };
    group->pgcs.push_back(std::move(playAll));
    for (int title = 1; title <= layout.titles; ++title) {
        auto pgc = std::make_unique<ProgramChain>();
        pgc->preCommands = {
            AuthorCmdSetGprm(kMenuModeRegister, 0), // this title only
            AuthorCmdJumpTitle(title),
        };
        group->pgcs.push_back(std::move(pgc));
    }
    return group;
}

std::unique_ptr<PgcGroup> MenuTitleSetGroup(const MenuDisc& disc) {
    auto group = std::make_unique<PgcGroup>(GROUP_TITLE_MENUS);
    auto root = std::make_unique<ProgramChain>();
    root->entries = 1u << ENTRY_ROOT;
    root->preCommands = {AuthorCmdJumpTitleMenu()}; // the remote's Menu key shows the title menu
    root->sources.push_back(stillSource(disc.rootStream));
    group->pgcs.push_back(std::move(root));
    return group;
}

bool AddMenuToAuthor(AplAuthor& author, const MenuDisc& disc, std::string* error) {
    if (disc.pageStreams.size() != disc.layout.pages.size() || disc.pageStreams.empty() || disc.rootStream.empty()) {
        *error = "the menu's streams are missing";
        return false;
    }
    if (!author.SetTitleSetMenus(MenuTitleSetGroup(disc)) || !author.SetManagerMenus(MenuManagerGroup(disc))) {
        *error = author.LastError();
        return false;
    }
    author.SetFirstPlayCommands(MenuFirstPlayCommands());
    return true;
}
