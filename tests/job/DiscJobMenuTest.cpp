// The "Create DVD menu" option of a job: the menu step between the conversion and the authoring, the
// menu handed to the authoring and taken away after it, a menu that cannot be made, an interruption
// during the menu, and the menu's room in the disc budget.
#include "JobTestSupport.h"

#include "MenuBuilder.h"

#include <algorithm>
#include <csignal>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Folders the menu step left in the working folder.
int MenuFoldersIn(const std::string& work) {
    int found = 0;
    for (const auto& entry : fs::directory_iterator(work))
        found += entry.path().filename().string().rfind("DVD Menu.", 0) == 0 ? 1 : 0;
    return found;
}

} // namespace

TEST_F(JobTest, TheMenuIsMadeAfterTheConversionHandedToTheAuthoringAndThenRemoved) {
    DiscJobParams spec = TwoMovies();
    spec.menu = true;
    spec.label = "TRIP";
    ASSERT_TRUE(Run(spec));
    const std::vector<std::string> tail = {
        "all converted", "step Creating DVD menu", "step end", "step DVD authoring", "step end", "controls on",
        "finished"};
    ASSERT_GE(observer.events.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(observer.events.end() - tail.size(), observer.events.end()), tail);
    EXPECT_EQ(authoring->menuPages, 1);
    EXPECT_EQ(authoring->menuFiles.size(), 2u) << "a page and the root menu, there while the engine ran";
    for (const std::string& file : authoring->menuFiles)
        EXPECT_FALSE(FileExists(file));
    EXPECT_EQ(MenuFoldersIn(work), 0);
    EXPECT_EQ(observer.LogCount("0 Creating DVD menu"), 1u);
    EXPECT_EQ(observer.LogCount("0 DVD menu created: 1 page(s)"), 1u);
    // The stand-in encoder's streams hold no pictures: the buttons get placeholders, and the log says so.
    EXPECT_EQ(observer.LogCount("1 no picture for one.rm in the menu"), 1u);
    EXPECT_EQ(std::count(observer.progress.begin(), observer.progress.end(), "100 Creating DVD menu...100%"), 1);
    EXPECT_EQ(observer.boxes, std::vector<std::string>{"Mission accomplished!"});

    // Without the option the authoring gets no menu.
    observer.Answer("Found vob or ifo files", qx::PromptAnswer::Ok);
    ASSERT_TRUE(Run(TwoMovies()));
    EXPECT_EQ(authoring->menuPages, -1);
}

TEST_F(JobTest, AMenuThatCannotBeMadeStopsTheJobBeforeTheAuthoringAndSaysWhy) {
    DiscJobParams spec;
    spec.workFolder = work;
    for (int i = 0; i <= kMenuMaxTitles; ++i)
        spec.movies.push_back(Movie("m" + std::to_string(i) + ".rm", 5));
    spec.menu = true;
    ASSERT_TRUE(Run(spec));
    EXPECT_EQ(authoring->runs, 0);
    EXPECT_TRUE(observer.outcome.authorFailed);
    EXPECT_FALSE(observer.outcome.accomplished);
    EXPECT_EQ(observer.boxes, std::vector<std::string>{"Creating the DVD menu failed:\na menu holds 1 to 99 movies, "
                                                       "not 100"});
    EXPECT_EQ(MenuFoldersIn(work), 0);
    EXPECT_FALSE(FileExists(work + "m0.vob")) << "the converted streams go as after a failed authoring";
}

TEST_F(JobTest, AnInterruptionDuringTheMenuEndsTheJobWithoutADisc) {
    observer.actAt = JobStep::Menu;
    observer.act = [this] { job->Interrupt(SIGTERM); };
    DiscJobParams spec = TwoMovies();
    spec.menu = true;
    ASSERT_TRUE(Run(spec));
    EXPECT_EQ(observer.outcome.interruptSignal, SIGTERM);
    EXPECT_TRUE(observer.outcome.authorFailed);
    EXPECT_EQ(authoring->runs, 0);
    EXPECT_TRUE(observer.boxes.empty());
    EXPECT_EQ(MenuFoldersIn(work), 0);
    EXPECT_EQ(observer.LogCount("1 Creating DVD menu stopped: the job was interrupted"), 1u);
}

TEST_F(JobTest, TheMenuCountsInTheDiscBudget) {
    // 10908 seconds make an estimate of exactly 4250 MB, a full single-layer disc: only the menu's
    // room takes it over, and a burning job asks.
    for (bool menu : {false, true}) {
        SCOPED_TRACE(menu ? "with a menu" : "without");
        observer.boxes.clear();
        DiscJobParams spec;
        spec.workFolder = work;
        spec.movies = {Movie("long.rm", 10908)};
        spec.burn = true;
        spec.burnTarget = {0, 0};
        spec.menu = menu;
        observer.Answer("over DVD-D5 size. Do you want to continue?", qx::PromptAnswer::No);
        const bool started = job->Start(spec);
        EXPECT_EQ(started, !menu);
        size_t asked = 0;
        for (const std::string& box : observer.boxes)
            asked += box.find("over DVD-D5 size. Do you want to continue?") != std::string::npos ? 1 : 0;
        EXPECT_EQ(asked, menu ? 1u : 0u);
        if (started) {
            job->Close();
            job = std::make_unique<DiscJob>(parts, observer);
        }
    }
}
