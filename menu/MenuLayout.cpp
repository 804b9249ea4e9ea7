#include "MenuLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

int scaled(int size, double share) {
    return static_cast<int>(std::lround(size * share));
}

MenuRect around(const MenuRect& a, const MenuRect& b, int margin) {
    const int x = std::min(a.x, b.x) - margin;
    const int y = std::min(a.y, b.y) - margin;
    return {x, y, std::max(a.right(), b.right()) + margin - x, std::max(a.bottom(), b.bottom()) + margin - y};
}

int centre(const MenuRect& r) {
    return r.x + r.width / 2;
}

// The button of `row` whose centre lies nearest to `x` (the first of two equally near).
int nearest(const std::vector<MenuButton>& buttons, const std::vector<int>& row, int x) {
    int best = row.front();
    for (int index : row)
        if (std::abs(centre(buttons[index].area) - x) < std::abs(centre(buttons[best].area) - x))
            best = index;
    return best;
}

// Left and right follow the drawn order round the page; up and down go to the nearest button of the
// row above or below, round from the bottom row to the top one.
void linkArrows(std::vector<MenuButton>& buttons, const std::vector<std::vector<int>>& rows) {
    const int count = static_cast<int>(buttons.size());
    for (size_t r = 0; r < rows.size(); ++r) {
        const std::vector<int>& above = rows[(r + rows.size() - 1) % rows.size()];
        const std::vector<int>& below = rows[(r + 1) % rows.size()];
        for (int index : rows[r]) {
            MenuButton& b = buttons[index];
            b.left = (index + count - 1) % count + 1;
            b.right = (index + 1) % count + 1;
            b.up = nearest(buttons, above, centre(b.area)) + 1;
            b.down = nearest(buttons, below, centre(b.area)) + 1;
        }
    }
}

} // namespace

int MenuPage::Find(MenuButtonKind kind) const {
    for (size_t i = 0; i < buttons.size(); ++i)
        if (buttons[i].kind == kind)
            return static_cast<int>(i) + 1;
    return 0;
}

MenuRect MenuGeometry::Stored(const MenuRect& display) const {
    const double scale = static_cast<double>(storedWidth) / displayWidth;
    const int x0 = std::clamp(static_cast<int>(std::floor(display.x * scale)), 0, storedWidth);
    const int x1 = std::clamp(static_cast<int>(std::ceil(display.right() * scale)), 0, storedWidth);
    const int y0 = std::clamp(display.y * storedHeight / displayHeight, 0, storedHeight);
    const int y1 = std::clamp((display.bottom() * storedHeight + displayHeight - 1) / displayHeight, 0, storedHeight);
    return {x0, y0, x1 - x0, y1 - y0};
}

MenuRect MenuGeometry::Letterboxed(const MenuRect& stored) const {
    const int top = storedHeight / 8;
    const int y0 = top + stored.y * 3 / 4;
    const int y1 = top + (stored.bottom() * 3 + 3) / 4;
    return {stored.x, y0, stored.width, y1 - y0};
}

bool MenuLayout::Locate(int title, int* page, int* button) const {
    for (size_t p = 0; p < pages.size(); ++p)
        for (size_t b = 0; b < pages[p].buttons.size(); ++b)
            if (pages[p].buttons[b].kind == MenuButtonKind::Movie && pages[p].buttons[b].title == title) {
                *page = static_cast<int>(p) + 1;
                *button = static_cast<int>(b) + 1;
                return true;
            }
    return false;
}

MenuLayout LayOutMenu(int titles, TvStandard tv, DisplayAspect aspect, bool heading) {
    MenuLayout layout;
    layout.titles = std::clamp(titles, 0, kMenuMaxTitles);
    MenuGeometry& g = layout.geometry;
    const bool wide = aspect == DisplayAspect::Wide16x9;
    g.tv = tv;
    g.aspect = aspect;
    g.storedHeight = tv == TvStandard::Pal ? 576 : 480;
    g.displayHeight = g.storedHeight;
    g.displayWidth = static_cast<int>(std::lround(g.displayHeight * (wide ? 16.0 / 9.0 : 4.0 / 3.0)));
    const int W = g.displayWidth;
    const int H = g.displayHeight;

    // Everything stays inside the part of the picture every television shows.
    const int mx = scaled(W, 0.075);
    const int my = scaled(H, 0.07);
    int top = my + scaled(H, 0.04);
    if (heading) {
        g.heading = {mx, my, W - 2 * mx, scaled(H, 0.12)};
        top = g.heading.bottom() + scaled(H, 0.03);
    }
    const int barHeight = scaled(H, 0.085);
    const int barY = H - my - barHeight;
    const int gridBottom = barY - scaled(H, 0.04);
    const int columnGap = scaled(W, 0.03);
    const int rowGap = scaled(H, 0.03);
    const int cellWidth = (W - 2 * mx - 2 * columnGap) / 3;
    const int cellHeight = (gridBottom - top - rowGap) / 2;
    const int labelHeight = scaled(H, 0.055);
    const int pad = 8;
    const double pictureAspect = wide ? 16.0 / 9.0 : 4.0 / 3.0;
    const int thumbWidth =
        std::min(cellWidth - 2 * pad, static_cast<int>((cellHeight - labelHeight - 2 * pad - 4) * pictureAspect));
    const int thumbHeight = static_cast<int>(thumbWidth / pictureAspect);
    const int barWidth = scaled(W, 0.2);

    const int pageCount = (layout.titles + kMenuMoviesPerPage - 1) / kMenuMoviesPerPage;
    for (int p = 0; p < pageCount; ++p) {
        MenuPage page;
        std::vector<std::vector<int>> rows;
        const int first = p * kMenuMoviesPerPage + 1;
        const int count = std::min(kMenuMoviesPerPage, layout.titles - first + 1);
        const int rowCount = (count + 2) / 3;
        for (int r = 0; r < rowCount; ++r) {
            const int inRow = std::min(3, count - 3 * r);
            const int rowWidth = inRow * cellWidth + (inRow - 1) * columnGap;
            const int y = rowCount == 1 ? top + (gridBottom - top - cellHeight) / 2 : top + r * (cellHeight + rowGap);
            rows.emplace_back();
            for (int c = 0; c < inRow; ++c) {
                MenuButton b;
                b.kind = MenuButtonKind::Movie;
                b.title = first + 3 * r + c;
                const int x = (W - rowWidth) / 2 + c * (cellWidth + columnGap);
                b.thumbnail = {x + (cellWidth - thumbWidth) / 2, y + pad, thumbWidth, thumbHeight};
                b.label = {x + pad, b.thumbnail.bottom() + 4, cellWidth - 2 * pad, labelHeight};
                b.area = around(b.thumbnail, b.label, 6);
                rows.back().push_back(static_cast<int>(page.buttons.size()));
                page.buttons.push_back(b);
            }
        }
        rows.emplace_back();
        auto barButton = [&](MenuButtonKind kind, int x) {
            MenuButton b;
            b.kind = kind;
            b.label = {x, barY, barWidth, barHeight};
            b.area = around(b.label, b.label, 6);
            rows.back().push_back(static_cast<int>(page.buttons.size()));
            page.buttons.push_back(b);
        };
        if (p > 0)
            barButton(MenuButtonKind::Previous, mx);
        barButton(MenuButtonKind::PlayAll, (W - barWidth) / 2);
        if (p + 1 < pageCount)
            barButton(MenuButtonKind::Next, W - mx - barWidth);
        linkArrows(page.buttons, rows);
        layout.pages.push_back(std::move(page));
    }
    return layout;
}
