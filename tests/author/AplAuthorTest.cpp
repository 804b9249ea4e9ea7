// The engine object: titles cut into chapters, post-commands, limits, the progress contract, and
// failures that come back as return values with the error text.
#include "AplAuthor.h"
#include "AuthorFolderLock.h"
#include "AuthorLog.h"
#include "DvdLeftovers.h"
#include "FixtureSupport.h"
#include "IfoProbeSupport.h"
#include "MemoryFilesSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace {

struct Cut {
    long long start;
    long long end;
};

std::vector<Cut> cutsOf(const AplAuthor& author, size_t title) {
    std::vector<Cut> cuts;
    const PgcGroup* group = author.TitleGroup(0);
    if (!group || title >= group->pgcs.size())
        return cuts;
    for (const AuthorCellSpec& spec : group->pgcs[title]->sources.at(0).cells) {
        EXPECT_EQ(spec.chapterMark, 1);
        EXPECT_EQ(spec.pause, 0);
        cuts.push_back({spec.start, spec.end});
    }
    return cuts;
}

bool operator==(const Cut& a, const Cut& b) {
    return a.start == b.start && a.end == b.end;
}
std::ostream& operator<<(std::ostream& out, const Cut& c) {
    return out << "[" << c.start << ", " << c.end << "]";
}

constexpr long long kToEnd = -89999; // -1 second in ticks, rounded the engine's way

TEST(AddTitle, CutsChaptersEveryIntervalWithTheLastRunningToTheEnd) {
    AplAuthor author;
    ASSERT_TRUE(author.BeginTitleSet());
    ASSERT_TRUE(author.AddTitle("a.mpg", 300, 700, AUTHOR_POST_NEXT_TITLE, 2));
    ASSERT_TRUE(author.AddTitle("b.mpg", 300, 600, AUTHOR_POST_NEXT_TITLE, 3));
    ASSERT_TRUE(author.AddTitle("c.mpg", 300, 300, AUTHOR_POST_NEXT_TITLE, 4));
    ASSERT_TRUE(author.AddTitle("d.mpg", 300, 301, AUTHOR_POST_NEXT_TITLE, 5));
    ASSERT_TRUE(author.AddTitle("e.mpg", 0, 5000, AUTHOR_POST_NONE));
    const long long s = 90000;
    EXPECT_EQ(cutsOf(author, 0), (std::vector<Cut>{{0, 300 * s}, {300 * s, 600 * s}, {600 * s, kToEnd}}));
    EXPECT_EQ(cutsOf(author, 1), (std::vector<Cut>{{0, 300 * s}, {300 * s, kToEnd}}));
    EXPECT_EQ(cutsOf(author, 2), (std::vector<Cut>{{0, kToEnd}}));
    EXPECT_EQ(cutsOf(author, 3), (std::vector<Cut>{{0, 300 * s}, {300 * s, kToEnd}}));
    EXPECT_EQ(cutsOf(author, 4), (std::vector<Cut>{{0, kToEnd}}));
}

TEST(AddTitle, NoTitleGetsMoreThan99Chapters) {
    LogRecorder log;
    AplAuthor author;
    ASSERT_TRUE(author.BeginTitleSet());
    ASSERT_TRUE(author.AddTitle("long.mpg", 1, 120, AUTHOR_POST_NEXT_TITLE, 2));
    ASSERT_TRUE(author.AddTitle("exact.mpg", 1, 99, AUTHOR_POST_NONE));
    const std::vector<Cut> cuts = cutsOf(author, 0);
    ASSERT_EQ(cuts.size(), 99u);
    EXPECT_EQ(cuts[97], (Cut{97 * 90000LL, 98 * 90000LL}));
    EXPECT_EQ(cuts[98], (Cut{98 * 90000LL, kToEnd}));
    EXPECT_TRUE(log.contains("WARN: long.mpg would have more than 99 chapters")) << log.all();
    EXPECT_EQ(cutsOf(author, 1).size(), 99u);
    EXPECT_FALSE(log.contains("exact.mpg")) << log.all();
}

TEST(AddTitle, PostCommandsJumpToTheNextTitleOrEndPlayback) {
    EXPECT_EQ(AuthorPostCommand(AUTHOR_POST_NEXT_TITLE, 2), AuthorCommand({0x30, 0x03, 0, 0, 0, 0x02, 0, 0}));
    EXPECT_EQ(AuthorPostCommand(AUTHOR_POST_NEXT_TITLE, 99), AuthorCommand({0x30, 0x03, 0, 0, 0, 99, 0, 0}));
    EXPECT_EQ(AuthorPostCommand(AUTHOR_POST_NONE, 7), AuthorCommand({0, 0, 0, 0, 0, 0, 0, 0}));
    AplAuthor author;
    ASSERT_TRUE(author.BeginTitleSet());
    ASSERT_TRUE(author.AddTitle("a.mpg", 300, 10, AUTHOR_POST_NEXT_TITLE, 2));
    ASSERT_TRUE(author.AddTitle("b.mpg", 300, 10, AUTHOR_POST_NONE));
    const PgcGroup* group = author.TitleGroup(0);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->kind, GROUP_TITLES);
    ASSERT_EQ(group->pgcs.size(), 2u);
    EXPECT_EQ(group->pgcs[0]->postCommands, std::vector<AuthorCommand>({AuthorPostCommand(AUTHOR_POST_NEXT_TITLE, 2)}));
    EXPECT_EQ(group->pgcs[1]->postCommands, std::vector<AuthorCommand>({AuthorCommand{}}));
    EXPECT_EQ(group->pgcs[0]->sources[0].path, "a.mpg");
}

TEST(AplAuthorLimits, RefusesWhatCannotBeAuthoredInsteadOfCuttingItShort) {
    AplAuthor author;
    EXPECT_FALSE(author.AddTitle("a.mpg", 300, 10, AUTHOR_POST_NONE));
    EXPECT_NE(author.LastError().find("before a title set"), std::string::npos);
    EXPECT_FALSE(author.SetOutputFolder(std::string(256, 'x')));
    EXPECT_NE(author.LastError().find("longer than 255"), std::string::npos);
    EXPECT_TRUE(author.SetOutputFolder(std::string(255, 'x')));
    EXPECT_TRUE(author.SetOutputFolder("/tmp/out/"));
    EXPECT_EQ(author.OutputFolder(), "/tmp/out");
    for (int i = 0; i < AplAuthor::kMaxTitleSets; ++i)
        EXPECT_TRUE(author.BeginTitleSet());
    EXPECT_FALSE(author.BeginTitleSet());
    EXPECT_EQ(author.NumTitleSets(), 20);
    EXPECT_FALSE(author.AddTitle("a.mpg", 300, 10, AUTHOR_POST_NEXT_TITLE, 100));
    EXPECT_FALSE(author.AddTitle("a.mpg", 300, 10, AUTHOR_POST_NEXT_TITLE, 0));
    for (int i = 0; i < 99; ++i)
        ASSERT_TRUE(author.AddTitle("a.mpg", 300, 10, AUTHOR_POST_NONE));
    EXPECT_FALSE(author.AddTitle("a.mpg", 300, 10, AUTHOR_POST_NONE));
    EXPECT_NE(author.LastError().find("99"), std::string::npos);
}

TEST(ProgressThrottle, UpdatesOnlyOnChangeAndPumpsEveryHundredthCall) {
    int pumps = 0;
    std::vector<std::pair<int, std::string>> shown;
    bool window = true;
    AuthorProgressThrottle throttle([&] { ++pumps; },
                                    [&](int percent, const std::string& text) {
                                        if (window)
                                            shown.emplace_back(percent, text);
                                        return window;
                                    });
    throttle.Report(0, 5);
    throttle.Report(0, 5); // the same percentage changes nothing on screen
    throttle.Report(1, 5);
    throttle.Report(1, 6);
    throttle.Report(1, -7); // a negative percentage counts as its magnitude
    throttle.Report(2, 100);
    throttle.Report(2, 100); // phase 2 always updates
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0], std::make_pair(5, std::string("Generating DVD movie...5%")));
    EXPECT_EQ(shown[1], std::make_pair(6, std::string("Fixing DVD movie...6%")));
    EXPECT_EQ(shown[2], std::make_pair(7, std::string("Fixing DVD movie...7%")));
    EXPECT_EQ(shown[4], std::make_pair(100, std::string("Fixing DVD movie...100%")));
    EXPECT_EQ(pumps, 5); // after every update
    window = false;
    pumps = 0;
    for (int i = 0; i < 93; ++i) // 100 calls in all
        throttle.Report(0, 42);
    EXPECT_EQ(pumps, 1); // no window to update, but the queue still moves every 100th call
}

class CreateDvdFailures : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(author.SetOutputFolder(temp.path() + "/DVD Movie"));
        ASSERT_TRUE(author.BeginTitleSet());
    }
    TempFolder temp;
    AplAuthor author;
    LogRecorder log;
};

TEST_F(CreateDvdFailures, MissingSourceReturnsTheErrorText) {
    std::string missing = temp.path() + "/missing.mpg";
    ASSERT_TRUE(author.AddTitle(missing, 300, 10, AUTHOR_POST_NONE));
    author.EndTitleSet();
    EXPECT_FALSE(author.CreateDVD());
    EXPECT_EQ(author.LastError(), "Error opening " + missing + ": No such file or directory");
    EXPECT_TRUE(log.contains("ERR:  Error opening " + missing + ": No such file or directory\n"));
    EXPECT_FALSE(FileExists(temp.path() + "/DVD Movie/VIDEO_TS/VIDEO_TS.IFO"));
}

TEST_F(CreateDvdFailures, LeftoverTitleSetIsRefusedBeforeAnythingIsWritten) {
    const std::string video = temp.path() + "/DVD Movie/VIDEO_TS";
    std::string error;
    ASSERT_TRUE(AuthorCreateFolderPath(video, error)) << error;
    std::ofstream(video + "/vts_01_0.ifo") << "left from an earlier disc";
    ASSERT_TRUE(author.AddTitle(FixtureStream(TvStandard::Pal, 40), 300, 40, AUTHOR_POST_NONE));
    EXPECT_FALSE(author.CreateDVD());
    EXPECT_EQ(author.LastError(),
              video + "/VTS_01_0.IFO is left from an earlier disc; remove the DVD files there first");
    EXPECT_FALSE(FileExists(video + "/VTS_02_1.VOB"));
    EXPECT_FALSE(FileExists(video + "/VIDEO_TS.IFO"));
}

TEST_F(CreateDvdFailures, NoTitlesIsAnError) {
    EXPECT_FALSE(author.CreateDVD());
    EXPECT_EQ(author.LastError(), "no titles defined");
    EXPECT_TRUE(log.contains("ERR:  no titles defined\n"));
}

TEST_F(CreateDvdFailures, OutputFolderThatCannotBeCreated) {
    std::ofstream(temp.path() + "/DVD Movie") << "a file where the folder should be";
    ASSERT_TRUE(author.AddTitle(FixtureStream(TvStandard::Pal, 40), 300, 40, AUTHOR_POST_NONE));
    EXPECT_FALSE(author.CreateDVD());
    EXPECT_NE(author.LastError().find("Error creating folder"), std::string::npos) << author.LastError();
    std::string error;
    EXPECT_FALSE(AuthorCreateFolderPath(temp.path() + "/DVD Movie/sub", error));
    EXPECT_NE(error.find("cannot create"), std::string::npos);
}

TEST_F(CreateDvdFailures, InformationFileThatCannotBeCreated) {
    MemoryFiles files; // VOBs go to memory; the information file cannot be opened
    files.failOpenContaining = "VTS_01_0.IFO";
    author.SetFileOpener(&files);
    ASSERT_TRUE(author.AddTitle(FixtureStream(TvStandard::Pal, 40), 300, 40, AUTHOR_POST_NONE));
    EXPECT_FALSE(author.CreateDVD());
    EXPECT_EQ(author.LastError(),
              "Error opening " + temp.path() + "/DVD Movie/VIDEO_TS/VTS_01_0.IFO: Permission denied");
    EXPECT_EQ(files.opened.size(), 1u); // the VOB was written, nothing after the failure
}

TEST_F(CreateDvdFailures, DiskFullWhileWritingVobs) {
    MemoryFiles files;
    files.failWritesAfter = 100 * 2048;
    author.SetFileOpener(&files);
    ASSERT_TRUE(author.AddTitle(FixtureStream(TvStandard::Pal, 40), 300, 40, AUTHOR_POST_NONE));
    EXPECT_FALSE(author.CreateDVD());
    EXPECT_EQ(author.LastError().rfind("Error writing data to " + temp.path() + "/DVD Movie/VIDEO_TS/VTS_01_1.VOB", 0),
              0u)
        << author.LastError();
}

// Real files on a disk that fills up: the run fails with the system's reason, removes the files it
// wrote (and nothing else), so the next run is not blocked by them.
class FillingDisk : public AuthorFileOpener {
public:
    long long room = 0;
    std::unique_ptr<AuthorWriter> Open(const std::string& path, AuthorOpenMode mode, std::string& error) override {
        std::unique_ptr<AuthorWriter> real = AuthorDiskFiles().Open(path, mode, error);
        return real ? std::make_unique<Limited>(std::move(real), room) : nullptr;
    }

private:
    struct Limited : AuthorWriter {
        Limited(std::unique_ptr<AuthorWriter> r, long long& left) : real(std::move(r)), room(left) {}
        size_t Write(const void* data, size_t size) override {
            const size_t fits = static_cast<size_t>(std::max(0LL, std::min<long long>(room, size)));
            const size_t done = real->Write(data, fits);
            room -= static_cast<long long>(done);
            return done;
        }
        bool Seek(long long offset) override { return real->Seek(offset); }
        bool Close() override { return real->Close(); }
        std::string Why() const override { return "No space left on device"; }
        std::unique_ptr<AuthorWriter> real;
        long long& room;
    };
};

TEST_F(CreateDvdFailures, FailedRunRemovesWhatItWroteAndSaysWhy) {
    const std::string video = temp.path() + "/DVD Movie/VIDEO_TS/";
    std::string error;
    ASSERT_TRUE(AuthorCreateFolderPath(video, error)) << error;
    std::ofstream(video + "notes.txt") << "the user's";
    FillingDisk disk;
    disk.room = 300 * 2048;
    author.SetFileOpener(&disk);
    ASSERT_TRUE(author.AddTitle(FixtureStream(TvStandard::Pal, 40), 300, 40, AUTHOR_POST_NONE));
    author.EndTitleSet();
    EXPECT_FALSE(author.CreateDVD());
    EXPECT_NE(author.LastError().find("No space left on device"), std::string::npos) << author.LastError();
    EXPECT_FALSE(FileExists(video + "VTS_01_1.VOB"));
    EXPECT_EQ(FindOrDeleteDvdFiles(video, true), 0) << "nothing left to block the next run";
    EXPECT_TRUE(FileExists(video + "notes.txt"));

    AplAuthor again;
    ASSERT_TRUE(again.SetOutputFolder(temp.path() + "/DVD Movie"));
    ASSERT_TRUE(again.BeginTitleSet());
    ASSERT_TRUE(again.AddTitle(FixtureStream(TvStandard::Pal, 40), 300, 40, AUTHOR_POST_NONE));
    again.EndTitleSet();
    EXPECT_TRUE(again.CreateDVD()) << again.LastError();
}

// A stop flag set while the run writes (here from the progress hook, as a window's pump would set
// it) ends the run at the next sector or navigation pack, in either phase, without the files it
// wrote; the user's file stays, and a flag that is set from the start writes nothing at all.
TEST_F(CreateDvdFailures, AStoppedRunEndsSoonAndRemovesWhatItWrote) {
    const std::string video = temp.path() + "/DVD Movie/VIDEO_TS/";
    std::string error;
    ASSERT_TRUE(AuthorCreateFolderPath(video, error)) << error;
    std::ofstream(video + "notes.txt") << "the user's";
    ASSERT_TRUE(author.AddTitle(FixtureStream(TvStandard::Pal, 40), 300, 40, AUTHOR_POST_NONE));
    author.EndTitleSet();
    for (int stopPhase : {0, 1}) {
        std::atomic<bool> stop{false};
        int callsAfterStop = 0;
        author.SetStopFlag(&stop);
        author.SetProgressHook([&](int phase, int percent) {
            if (stop)
                ++callsAfterStop;
            if (phase == stopPhase && percent >= 50)
                stop = true;
        });
        EXPECT_FALSE(author.CreateDVD()) << stopPhase;
        EXPECT_EQ(author.LastError(), AplAuthor::kStoppedError);
        EXPECT_EQ(callsAfterStop, 0) << "the engine stops at the call that set the flag";
        EXPECT_EQ(FindOrDeleteDvdFiles(video, true), 0) << stopPhase;
        EXPECT_TRUE(FileExists(video + "notes.txt"));
    }

    std::atomic<bool> stopped{true};
    int calls = 0;
    author.SetStopFlag(&stopped);
    author.SetProgressHook([&](int, int) { ++calls; });
    EXPECT_FALSE(author.CreateDVD());
    EXPECT_EQ(author.LastError(), AplAuthor::kStoppedError);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(FindOrDeleteDvdFiles(video, true), 0);
}

TEST_F(CreateDvdFailures, AFolderAnotherRunWritesIsRefused) {
    const std::string out = temp.path() + "/DVD Movie";
    std::string error;
    ASSERT_TRUE(AuthorCreateFolderPath(out, error)) << error;
    AuthorFolderLock other;
    ASSERT_TRUE(other.Acquire(out, error)) << error;
    ASSERT_TRUE(author.AddTitle(FixtureStream(TvStandard::Pal, 40), 300, 40, AUTHOR_POST_NONE));
    author.EndTitleSet();
    EXPECT_FALSE(author.CreateDVD());
    EXPECT_NE(author.LastError().find("another authoring run"), std::string::npos) << author.LastError();
    EXPECT_FALSE(FileExists(out + "/VIDEO_TS/VTS_01_1.VOB"));
    other.Release();
    EXPECT_TRUE(author.CreateDVD()) << author.LastError();
}

TEST(CreateDvd, ProgressRunsThroughAllThreePhases) {
    TempFolder temp;
    AplAuthor author;
    ASSERT_TRUE(author.SetOutputFolder(temp.path() + "/out"));
    ASSERT_TRUE(author.BeginTitleSet());
    ASSERT_TRUE(author.AddTitle(FixtureStream(TvStandard::Pal, 40), 300, 40, AUTHOR_POST_NONE));
    author.EndTitleSet();
    std::vector<std::pair<int, int>> calls;
    author.SetProgressHook([&](int phase, int percent) { calls.emplace_back(phase, percent); });
    LogRecorder log;
    ASSERT_TRUE(author.CreateDVD()) << author.LastError();
    EXPECT_TRUE(author.LastError().empty());
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), std::make_pair(2, 100));
    int phase = 0;
    int last = -1;
    for (size_t i = 0; i + 1 < calls.size(); ++i) {
        ASSERT_GE(calls[i].first, phase) << "phases run in order";
        if (calls[i].first != phase)
            last = -1;
        phase = calls[i].first;
        EXPECT_GE(calls[i].second, last) << "percentages never go back within a phase";
        EXPECT_LE(calls[i].second, 100);
        last = calls[i].second;
    }
    EXPECT_EQ(phase, 1);
}

} // namespace
