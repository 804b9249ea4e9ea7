#include "MenuDiscSupport.h"

#include "JobParts.h"
#include "MenuBuilder.h"

#include "TestSupport.h"

#include <filesystem>

namespace fs = std::filesystem;

void PrintTo(const MenuDiscCase& c, std::ostream* out) {
    *out << c.name;
}

void EnsureGuiApp() {
    qxtest::EnsureApp(); // off screen, in the process's private user folders
}

std::unique_ptr<AuthoredMenuDisc> AuthorMenuDisc(const MenuDiscCase& c, const std::string& label) {
    EnsureGuiApp();
    auto out = std::make_unique<AuthoredMenuDisc>();
    out->temp = std::make_unique<TempFolder>();
    const std::string stream = FixtureStream(c.tv, kMenuTestTitleSeconds);
    MenuRequest request;
    request.label = label;
    request.tv = c.tv;
    request.aspect = c.aspect;
    std::vector<AuthorTitle> titles;
    for (int t = 1; t <= c.titles; ++t) {
        const std::string name = "Movie " + std::to_string(t) + ".mpg";
        const std::string link = out->temp->path() + "/" + name;
        fs::create_symlink(stream, link);
        request.movies.push_back({name, link, kMenuTestTitleSeconds});
        titles.push_back({link, kMenuTestTitleSeconds});
    }
    out->menuFolder = MakeMenuFolder(out->temp->path(), &out->error);
    if (out->menuFolder.empty())
        return out;
    request.folder = out->menuFolder;
    if (!BuildDvdMenu(request, &out->menu, &out->error))
        return out;
    out->root = out->temp->path() + "/DVD Movie";
    std::unique_ptr<AuthoringLink> link = CreateAuthoringLink();
    out->ok = link->Author(
        out->root, titles, false, &out->menu, [](int, int) {}, &out->error);
    return out;
}
