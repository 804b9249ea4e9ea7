// Menu discs for the tests: generated streams (made once per build and shared with the authoring
// tests) authored through the job's authoring link with a menu built by the real builder.
#pragma once

#include "FixtureSupport.h"
#include "MenuProgram.h"

#include <memory>
#include <ostream>
#include <string>

struct MenuDiscCase {
    const char* name;
    int titles;
    TvStandard tv;
    DisplayAspect aspect;
};

void PrintTo(const MenuDiscCase& c, std::ostream* out);

struct AuthoredMenuDisc {
    std::unique_ptr<TempFolder> temp;
    std::string root;       // the folder holding VIDEO_TS
    std::string menuFolder; // the menu's streams (kept for the tests)
    MenuDisc menu;
    bool ok = false;
    std::string error;
};

// Seconds of each generated title.
constexpr int kMenuTestTitleSeconds = 3;

// Authors `c.titles` titles (each a link to the same generated stream, as "Movie N.mpg") with a menu
// headed `label`.
std::unique_ptr<AuthoredMenuDisc> AuthorMenuDisc(const MenuDiscCase& c, const std::string& label = "HOLIDAYS 2026");

// Makes sure a Qt Gui application exists for drawing (tests/support's, with private user folders).
void EnsureGuiApp();
