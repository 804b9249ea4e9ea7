// The menu's program for the DVD virtual machine, handed to the authoring engine: the video manager's
// menu domain (the title menu and the pages), the title set's root menu, the first-play commands and
// each title's post-commands.
//
// The video manager's program chains, in order:
//   1          the title menu (entry "title"): links to the page in GPRM2
//   2 .. P+1   the pages: GPRM2 = the page; the button in GPRM1 is selected; the page's still holds
//   P+2        "Play all": GPRM0 = 1, jump to title 1
//   P+2+k      title k: GPRM0 = 0, jump to title k
// A button sets GPRM1 to the button to select when the menu comes back, then links to its chain.
// A title ends by jumping to the next title while GPRM0 is 1 (and it is not the last), otherwise by
// calling the title menu. The title set's root menu (the remote's Menu key) jumps to the title menu.
#pragma once

#include "MenuLayout.h"
#include "ProgramChain.h"

#include <memory>
#include <string>
#include <vector>

class AplAuthor;

// General registers of the menu's program.
constexpr int kMenuModeRegister = 0;   // 0: back to the menu after one title; 1: every title in turn
constexpr int kMenuButtonRegister = 1; // the button to select when the menu comes back, * 1024
constexpr int kMenuPageRegister = 2;   // the page to show when the menu comes back (1-based)

// A menu's pictures as the builder wrote them.
struct MenuDisc {
    MenuLayout layout;
    std::vector<std::string> pageStreams; // one program stream per page
    std::string rootStream;               // the title set's root menu: a black still, never seen
    std::vector<std::string> warnings;    // what the builder did instead (a movie without a picture, ...)
};

// Program-chain numbers of the video manager's menus.
struct MenuChains {
    int pages = 0;
    int TitleMenu() const { return 1; }
    int Page(int page) const { return 1 + page; } // page 1-based
    int PlayAll() const { return pages + 2; }
    int Title(int title) const { return pages + 2 + title; }
};

// The colour table of the menu: 0 black, 1 white, 2 the selected frame, 3 the activated frame.
AuthorColorTable MenuColorTable();
constexpr int kMenuSelectColor = 2;
constexpr int kMenuActivateColor = 3;

std::vector<AuthorCommand> MenuFirstPlayCommands();
std::vector<AuthorCommand> MenuTitlePostCommands(int title, int titles);
// The buttons of page `page` (1-based) with their commands, for every display the menu has.
std::shared_ptr<AuthorHighlight> MenuPageHighlight(const MenuLayout& layout, int page);
std::unique_ptr<PgcGroup> MenuManagerGroup(const MenuDisc& disc);
std::unique_ptr<PgcGroup> MenuTitleSetGroup(const MenuDisc& disc);

// Hands the menu to the engine: call after BeginTitleSet and before EndTitleSet; the titles carry
// MenuTitlePostCommands. False with the engine's reason.
bool AddMenuToAuthor(AplAuthor& author, const MenuDisc& disc, std::string* error);
