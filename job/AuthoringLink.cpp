// The authoring engine behind a job: one title set, one title per movie, a chapter every 300
// seconds; without a menu each title is chained to the next, with one each returns to the menu.
#include "JobParts.h"
#include "TestHooks.h"

#include "AplAuthor.h"
#include "DvdCommands.h"
#include "MenuProgram.h"
#include "SubtitleInfo.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

constexpr int kChapterSeconds = 300;

// Tests slow the engine down (TestHooks.h) to interrupt a run of a small movie in the middle.
std::function<void(int, int)> PacedForTests(const std::function<void(int, int)>& progress) {
    const int ms = qx::hooks::AuthorPaceMs();
    if (ms == 0) {
        return progress;
    }
    return [progress, ms, last = std::make_shared<int>(-1)](int phase, int percent) {
        if (percent != *last) {
            *last = percent;
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
        if (progress) {
            progress(phase, percent);
        }
    };
}

// A title with subtitles starts on its first stream, shown or not, in the subtitles' colours.
bool AddTitleSubtitles(AplAuthor& author, const AuthorTitle& title) {
    if (title.subpictureStreams.empty())
        return true;
    AuthorColorTable colors;
    const auto palette = qx::SubtitlePaletteYCrCb();
    std::copy(palette.begin(), palette.end(), colors.begin());
    return author.SetLastTitleStart({AuthorCmdSetSubpicture(title.subpictureStreams.front(), title.showSubpictures)},
                                    colors);
}

// The title set's subpicture streams with their languages; none when no title has subtitles (the
// disc is then what it was before subtitles).
bool AddSubtitleLanguages(AplAuthor& author, const std::vector<AuthorTitle>& titles) {
    std::vector<std::string> languages;
    for (const AuthorTitle& title : titles)
        for (size_t k = 0; k < title.subpictureStreams.size(); ++k) {
            const size_t j = static_cast<size_t>(title.subpictureStreams[k] - 1);
            if (languages.size() <= j)
                languages.resize(j + 1);
            if (languages[j].empty() && k < title.subpictureLanguages.size())
                languages[j] = title.subpictureLanguages[k];
        }
    return languages.empty() || author.SetTitleSubpictureLanguages(languages);
}

class EngineAuthoring : public AuthoringLink {
public:
    bool Author(const std::string& outFolder, const std::vector<AuthorTitle>& titles, bool splitOutput,
                const MenuDisc* menu, const std::function<void(int, int)>& progress, std::string* error) override {
        AplAuthor author;
        bool ok = author.SetOutputFolder(outFolder) && author.BeginTitleSet();
        author.SetPartFiles(splitOutput);
        const int count = static_cast<int>(titles.size());
        for (int i = 0; ok && i < count; ++i) {
            const bool last = i + 1 == count;
            ok = menu ? author.AddTitle(titles[i].vobFile, kChapterSeconds, titles[i].durationSeconds,
                                        MenuTitlePostCommands(i + 1, count))
                      : author.AddTitle(titles[i].vobFile, kChapterSeconds, titles[i].durationSeconds,
                                        last ? AUTHOR_POST_NONE : AUTHOR_POST_NEXT_TITLE, last ? 0 : i + 2);
            ok = ok && AddTitleSubtitles(author, titles[i]);
        }
        ok = ok && AddSubtitleLanguages(author, titles);
        if (ok && menu && !AddMenuToAuthor(author, *menu, error)) {
            return false;
        }
        if (ok) {
            author.EndTitleSet();
            author.SetProgressHook(PacedForTests(progress));
            author.SetStopFlag(&stop);
            ok = author.CreateDVD();
        }
        if (!ok) {
            *error = author.LastError();
        }
        return ok;
    }
};

} // namespace

std::unique_ptr<AuthoringLink> CreateAuthoringLink() {
    return std::make_unique<EngineAuthoring>();
}
