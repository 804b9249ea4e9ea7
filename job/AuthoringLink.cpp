// The authoring engine behind a job: one title set, one title per movie, a chapter every 300
// seconds; without a menu each title is chained to the next, with one each returns to the menu.
#include "JobParts.h"
#include "TestHooks.h"

#include "AplAuthor.h"
#include "MenuProgram.h"

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
        }
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
