// The authoring engine behind a job: one title set, one title per movie, a chapter every 300
// seconds, each title chained to the next, no menus.
#include "JobParts.h"
#include "TestHooks.h"

#include "AplAuthor.h"

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
                const std::function<void(int, int)>& progress, std::string* error) override {
        AplAuthor author;
        bool ok = author.SetOutputFolder(outFolder) && author.BeginTitleSet();
        author.SetPartFiles(splitOutput);
        for (size_t i = 0; ok && i < titles.size(); ++i) {
            const bool last = i + 1 == titles.size();
            ok = author.AddTitle(titles[i].vobFile, kChapterSeconds, titles[i].durationSeconds,
                                 last ? AUTHOR_POST_NONE : AUTHOR_POST_NEXT_TITLE, last ? 0 : static_cast<int>(i) + 2);
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
