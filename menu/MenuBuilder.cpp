#include "MenuBuilder.h"

#include "MenuPicture.h"
#include "MenuStill.h"
#include "MovieFrame.h"

#include <QGuiApplication>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string pageStreamName(const std::string& folder, int page) {
    char name[32];
    std::snprintf(name, sizeof name, "/menu_page_%02d.mpg", page);
    return folder + name;
}

std::string rootStreamName(const std::string& folder) {
    return folder + "/menu_root.mpg";
}

} // namespace

bool BuildDvdMenu(const MenuRequest& request, MenuDisc* disc, std::string* error) {
    const int titles = static_cast<int>(request.movies.size());
    if (titles < 1 || titles > kMenuMaxTitles) {
        *error = "a menu holds 1 to " + std::to_string(kMenuMaxTitles) + " movies, not " + std::to_string(titles);
        return false;
    }
    // Fonts come from the Qt Gui application; without one no text could be drawn.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        *error = "the menu cannot be drawn without a Qt Gui application";
        return false;
    }
    *disc = MenuDisc();
    disc->layout = LayOutMenu(titles, request.tv, request.aspect, !request.label.empty());
    const MenuLayout& layout = disc->layout;
    const int pages = static_cast<int>(layout.pages.size());
    const int steps = titles + pages + 1;
    int done = 0;
    auto advance = [&] {
        ++done;
        if (request.progress && !request.progress(done * 100 / steps)) {
            *error = "the menu was stopped before it was finished";
            return false;
        }
        return true;
    };

    const MenuRect& thumb = layout.pages.front().buttons.front().thumbnail;
    std::vector<MenuMovieFace> faces;
    for (const MenuMovie& movie : request.movies) {
        MenuMovieFace face;
        face.name = movie.name;
        std::string why;
        face.thumbnail =
            DecodeMovieFrame(movie.stream, movie.seconds * kMenuThumbnailShare, thumb.width, thumb.height, &why);
        if (face.thumbnail.isNull())
            disc->warnings.push_back("no picture for " + movie.name + " in the menu: " + why);
        faces.push_back(std::move(face));
        if (!advance())
            return false;
    }

    const bool wide = request.aspect == DisplayAspect::Wide16x9;
    for (int page = 0; page < pages; ++page) {
        MenuStill still;
        still.tv = request.tv;
        still.aspect = request.aspect;
        still.picture = StoredMenuPicture(layout.geometry, DrawMenuPage(layout, page, request.label, faces));
        // Outside a highlighted button the subpicture stays clear.
        const std::array<int, 4> colors{0, 1, 0, 0};
        const std::array<int, 4> clear{0, 0, 0, 0};
        for (bool letterboxed : wide ? std::vector<bool>{false, true} : std::vector<bool>{false}) {
            std::vector<uint8_t> unit =
                EncodeSubpictureUnit(MenuHighlightBitmap(layout, page, letterboxed), colors, clear, error);
            if (unit.empty())
                return false;
            still.subpictures.push_back(std::move(unit));
        }
        const std::string path = pageStreamName(request.folder, page + 1);
        if (!WriteMenuStill(still, path, error))
            return false;
        disc->pageStreams.push_back(path);
        if (!advance())
            return false;
    }

    MenuStill black;
    black.tv = request.tv;
    black.aspect = request.aspect;
    black.picture = QImage(layout.geometry.storedWidth, layout.geometry.storedHeight, QImage::Format_RGB32);
    black.picture.fill(Qt::black);
    if (!WriteMenuStill(black, rootStreamName(request.folder), error))
        return false;
    disc->rootStream = rootStreamName(request.folder);
    return advance();
}

std::string MakeMenuFolder(const std::string& parent, std::string* error) {
    std::string pattern = parent;
    if (pattern.empty() || pattern.back() != '/')
        pattern += '/';
    pattern += "DVD Menu.XXXXXX";
    if (!mkdtemp(pattern.data())) {
        *error = "cannot make a folder for the menu in " + parent + ": " + std::strerror(errno);
        return {};
    }
    struct stat st;
    if (lstat(pattern.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
        *error = "the menu folder " + pattern + " is not this user's private folder";
        return {};
    }
    return pattern;
}

void RemoveMenuFolder(const std::string& folder) {
    if (folder.empty())
        return;
    for (int page = 1; page <= (kMenuMaxTitles + kMenuMoviesPerPage - 1) / kMenuMoviesPerPage; ++page)
        ::unlink(pageStreamName(folder, page).c_str());
    ::unlink(rootStreamName(folder).c_str());
    ::rmdir(folder.c_str());
}

int MenuBudgetMB(int titles) {
    // Measured on test discs: a page stream of six pictures takes about 0.1 MB, the black root still
    // 0.03 MB, the menu tables a few sectors; a picture of a detailed movie codes larger, so each page
    // is given five times that.
    const int pages = (std::max(titles, 1) + kMenuMoviesPerPage - 1) / kMenuMoviesPerPage;
    return static_cast<int>(std::ceil(pages * 0.5 + 0.25));
}
