// Building a disc's menu from its movies: a picture of each movie (about 10 % into its converted
// stream), the pages drawn and encoded as short program streams in a private folder, ready for
// AddMenuToAuthor.
#pragma once

#include "MenuProgram.h"

#include <functional>
#include <string>
#include <vector>

struct MenuMovie {
    std::string name;   // as the source list shows it
    std::string stream; // the converted program stream
    double seconds = 0; // its playing time
};

struct MenuRequest {
    std::string label; // the disc label, drawn as the heading (none when empty)
    TvStandard tv = TvStandard::Pal;
    DisplayAspect aspect = DisplayAspect::Standard4x3;
    std::vector<MenuMovie> movies; // 1..99, in title order
    std::string folder;            // where the streams go: a folder of the caller's own
    // Called between pieces of work with the share done (0..100); false stops the build.
    std::function<bool(int percent)> progress;
};

// Where in a movie its button's picture is taken.
constexpr double kMenuThumbnailShare = 0.10;

// Builds the menu into `disc`. False with the reason (a stopped build says so); the streams written
// so far stay in the folder for the caller to remove with it.
bool BuildDvdMenu(const MenuRequest& request, MenuDisc* disc, std::string* error);

// A new folder for a menu's streams below `parent`: private (mode 0700) and owned by this user.
// Empty, with `error`, when it cannot be made.
std::string MakeMenuFolder(const std::string& parent, std::string* error);
// Removes the streams a build wrote to `folder` and the folder itself (nothing else found there).
void RemoveMenuFolder(const std::string& folder);

// Megabytes a menu of `titles` movies adds to the disc (an upper bound, for the disc budget).
int MenuBudgetMB(int titles);
