// Menu discs of 1, 3 and 9 movies, PAL and NTSC, 4:3 and 16:9, played with libdvdnav as with a remote
// control: first play reaches a menu with a button per movie and "Play all"; a movie's button plays
// its title and the title's end comes back to the menu with that button selected; "Play all" plays
// the titles in order; the Menu and Title keys lead back. libdvdread reads every information file.
#include "DvdReaderCheck.h"
#include "MenuDiscSupport.h"
#include "MenuLayout.h"
#include "MenuNavigator.h"

#include <gtest/gtest.h>

#include <map>

namespace {

const MenuDiscCase kCases[] = {
    {"One_PAL_4x3", 1, TvStandard::Pal, DisplayAspect::Standard4x3},
    {"One_PAL_16x9", 1, TvStandard::Pal, DisplayAspect::Wide16x9},
    {"One_NTSC_4x3", 1, TvStandard::Ntsc, DisplayAspect::Standard4x3},
    {"One_NTSC_16x9", 1, TvStandard::Ntsc, DisplayAspect::Wide16x9},
    {"Three_PAL_4x3", 3, TvStandard::Pal, DisplayAspect::Standard4x3},
    {"Three_PAL_16x9", 3, TvStandard::Pal, DisplayAspect::Wide16x9},
    {"Three_NTSC_4x3", 3, TvStandard::Ntsc, DisplayAspect::Standard4x3},
    {"Three_NTSC_16x9", 3, TvStandard::Ntsc, DisplayAspect::Wide16x9},
    {"Nine_PAL_4x3", 9, TvStandard::Pal, DisplayAspect::Standard4x3},
    {"Nine_PAL_16x9", 9, TvStandard::Pal, DisplayAspect::Wide16x9},
    {"Nine_NTSC_4x3", 9, TvStandard::Ntsc, DisplayAspect::Standard4x3},
    {"Nine_NTSC_16x9", 9, TvStandard::Ntsc, DisplayAspect::Wide16x9},
};

class MenuDiscPlay : public ::testing::TestWithParam<MenuDiscCase> {
protected:
    void SetUp() override {
        std::unique_ptr<AuthoredMenuDisc>& disc = s_discs[GetParam().name];
        if (!disc)
            disc = AuthorMenuDisc(GetParam());
        ASSERT_TRUE(disc->ok) << disc->error;
        m_disc = disc.get();
    }
    static void TearDownTestSuite() { s_discs.clear(); }

    const MenuLayout& layout() const { return m_disc->menu.layout; }
    const std::string& root() const { return m_disc->root; }
    // The page and button of a title.
    std::pair<int, int> place(int title) const {
        int page = 0, button = 0;
        EXPECT_TRUE(layout().Locate(title, &page, &button));
        return {page, button};
    }
    // From page 1, presses Next until `page` shows.
    void goToPage(MenuNavigator& nav, int page) const {
        for (int p = 1; p < page; ++p) {
            const int next = layout().pages[p - 1].Find(MenuButtonKind::Next);
            ASSERT_GT(next, 0);
            ASSERT_TRUE(nav.Activate(next));
            ASSERT_TRUE(nav.RunToMenu());
        }
    }

    AuthoredMenuDisc* m_disc = nullptr;
    static std::map<std::string, std::unique_ptr<AuthoredMenuDisc>> s_discs;
};
std::map<std::string, std::unique_ptr<AuthoredMenuDisc>> MenuDiscPlay::s_discs;

TEST_P(MenuDiscPlay, FirstPlayShowsTheFirstPageWithAButtonPerMovieAndPlayAll) {
    MenuNavigator nav(root());
    ASSERT_TRUE(nav.RunToMenu()) << ::testing::PrintToString(nav.Complaints());
    const int titles = GetParam().titles;
    const int onFirstPage = std::min(titles, kMenuMoviesPerPage);
    const bool morePages = titles > kMenuMoviesPerPage;
    EXPECT_EQ(nav.Buttons(), onFirstPage + 1 + (morePages ? 1 : 0));
    EXPECT_EQ(nav.Selected(), 1);
    EXPECT_TRUE(nav.TitlesEntered().empty());
    EXPECT_EQ(layout().pages.size(), static_cast<size_t>((titles + 5) / 6));
    if (!morePages) {
        EXPECT_EQ(nav.Buttons(), titles + 1); // N movies and "Play all"
    }
    EXPECT_TRUE(nav.Complaints().empty()) << ::testing::PrintToString(nav.Complaints());
}

TEST_P(MenuDiscPlay, EachMoviesButtonPlaysItsTitleAndItsEndComesBackToThatButton) {
    const int titles = GetParam().titles;
    std::vector<int> tried = {1, titles};
    if (titles > kMenuMoviesPerPage)
        tried = {1, kMenuMoviesPerPage, kMenuMoviesPerPage + 1, titles};
    for (int title : tried) {
        SCOPED_TRACE("title " + std::to_string(title));
        MenuNavigator nav(root());
        ASSERT_TRUE(nav.RunToMenu());
        const auto [page, button] = place(title);
        goToPage(nav, page);
        ASSERT_TRUE(nav.Activate(button));
        EXPECT_EQ(nav.RunToTitle(), title);
        // The title plays to its end and the menu comes back on its page, its button selected.
        ASSERT_TRUE(nav.RunToMenu()) << ::testing::PrintToString(nav.Complaints());
        EXPECT_EQ(nav.TitlesEntered(), std::vector<int>{title});
        EXPECT_EQ(nav.Selected(), button);
        EXPECT_EQ(nav.Buttons(), static_cast<int>(layout().pages[page - 1].buttons.size()));
        EXPECT_TRUE(nav.Complaints().empty()) << ::testing::PrintToString(nav.Complaints());
    }
}

TEST_P(MenuDiscPlay, PlayAllPlaysEveryTitleInOrderThenComesBack) {
    const int titles = GetParam().titles;
    MenuNavigator nav(root());
    ASSERT_TRUE(nav.RunToMenu());
    const int playAll = layout().pages[0].Find(MenuButtonKind::PlayAll);
    ASSERT_TRUE(nav.Activate(playAll));
    ASSERT_TRUE(nav.RunToMenu(2000000)) << ::testing::PrintToString(nav.Complaints());
    std::vector<int> every;
    for (int t = 1; t <= titles; ++t)
        every.push_back(t);
    EXPECT_EQ(nav.TitlesEntered(), every);
    EXPECT_EQ(nav.Selected(), playAll);
}

TEST_P(MenuDiscPlay, MenuAndTitleKeysInATitleLeadBackToTheMenu) {
    const int titles = GetParam().titles;
    for (bool titleKey : {false, true}) {
        SCOPED_TRACE(titleKey ? "Title key" : "Menu key");
        MenuNavigator nav(root());
        ASSERT_TRUE(nav.RunToMenu());
        ASSERT_TRUE(nav.Activate(layout().pages[0].Find(MenuButtonKind::PlayAll)));
        ASSERT_EQ(nav.RunToTitle(), 1);
        if (titles > 1) {
            ASSERT_EQ(nav.RunToTitle(), 2); // "Play all" goes on with title 2
        }
        ASSERT_TRUE(titleKey ? nav.TitleKey() : nav.MenuKey());
        ASSERT_TRUE(nav.RunToMenu()) << ::testing::PrintToString(nav.Complaints());
        EXPECT_GT(nav.Buttons(), 1);
        EXPECT_EQ(nav.Selected(), layout().pages[0].Find(MenuButtonKind::PlayAll));
    }
}

TEST_P(MenuDiscPlay, ArrowKeysMoveInDrawnOrder) {
    MenuNavigator nav(root());
    ASSERT_TRUE(nav.RunToMenu());
    const int buttons = nav.Buttons();
    ASSERT_TRUE(nav.Arrow('r'));
    EXPECT_EQ(nav.Selected(), 2);
    ASSERT_TRUE(nav.Arrow('l'));
    ASSERT_TRUE(nav.Arrow('l'));
    EXPECT_EQ(nav.Selected(), buttons); // round to the last one
    // Down from the first movie reaches the bar at the bottom (or the second row of movies).
    ASSERT_TRUE(nav.Arrow('r'));
    ASSERT_TRUE(nav.Arrow('d'));
    EXPECT_EQ(nav.Selected(), layout().pages[0].buttons[0].down);
}

TEST_P(MenuDiscPlay, NextAndPreviousMoveBetweenPages) {
    if (layout().pages.size() < 2) {
        EXPECT_EQ(layout().pages[0].Find(MenuButtonKind::Next), 0);
        EXPECT_EQ(layout().pages[0].Find(MenuButtonKind::Previous), 0);
        return;
    }
    MenuNavigator nav(root());
    ASSERT_TRUE(nav.RunToMenu());
    ASSERT_TRUE(nav.Activate(layout().pages[0].Find(MenuButtonKind::Next)));
    ASSERT_TRUE(nav.RunToMenu());
    EXPECT_EQ(nav.Buttons(), static_cast<int>(layout().pages[1].buttons.size()));
    EXPECT_EQ(nav.Selected(), 1);
    ASSERT_TRUE(nav.Activate(layout().pages[1].Find(MenuButtonKind::Previous)));
    ASSERT_TRUE(nav.RunToMenu());
    EXPECT_EQ(nav.Buttons(), static_cast<int>(layout().pages[0].buttons.size()));
    EXPECT_TRUE(nav.TitlesEntered().empty());
}

TEST_P(MenuDiscPlay, LibdvdreadReadsEveryInformationFile) {
    DvdReadReport report = ReadDvdFolder(root());
    ASSERT_TRUE(report.opened);
    EXPECT_TRUE(report.complaints.empty()) << ::testing::PrintToString(report.complaints);
    EXPECT_EQ(report.titleSets, 1);
    EXPECT_EQ(report.titles.size(), static_cast<size_t>(GetParam().titles));
    const int pages = static_cast<int>(layout().pages.size());
    EXPECT_EQ(report.managerMenuPgcs, 1 + pages + 1 + GetParam().titles);
    EXPECT_EQ(report.titleSetMenuPgcs, std::vector<int>{1});
    EXPECT_EQ(report.firstPlayCommands.size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Cases, MenuDiscPlay, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<MenuDiscCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
