// Which subpicture stream each movie's subtitles become: one language per stream over the disc,
// left-out subtitles and a job without subtitles take none, and no more than 32.
#include "SubtitlePlan.h"
#include "JobTestSupport.h"

#include <gtest/gtest.h>

namespace {

qx::SubtitleInfo Sub(const std::string& language, bool leftOut = false) {
    qx::SubtitleInfo s;
    s.kind = qx::SubtitleInfo::Kind::File;
    s.suffix = "." + language + ".srt";
    s.language = language;
    s.leftOut = leftOut;
    return s;
}

CSourceInfo MovieWith(std::vector<qx::SubtitleInfo> subtitles) {
    CSourceInfo movie;
    movie.strPath = "/movies/Movie.rm";
    movie.subtitles = std::move(subtitles);
    return movie;
}

std::vector<int> Streams(const CSourceInfo& movie) {
    std::vector<int> streams;
    for (const qx::SubtitleInfo& s : movie.subtitles)
        streams.push_back(s.stream);
    return streams;
}

} // namespace

TEST(SubtitlePlan, EachLanguageKeepsOneStreamOverTheDisc) {
    std::vector<CSourceInfo> movies = {MovieWith({Sub("en"), Sub("de")}), MovieWith({}),
                                       MovieWith({Sub("de"), Sub("fr"), Sub("en", true), Sub("de")}),
                                       MovieWith({Sub(""), Sub("")})};
    std::vector<std::string> notes;
    const std::vector<std::string> languages = PlanSubtitleStreams(movies, true, &notes);
    EXPECT_EQ(languages, (std::vector<std::string>{"en", "de", "fr", "de", "", ""}));
    EXPECT_EQ(Streams(movies[0]), (std::vector<int>{1, 2}));
    EXPECT_EQ(Streams(movies[2]), (std::vector<int>{2, 3, 0, 4})) << "a second German one takes a stream of its own";
    EXPECT_EQ(Streams(movies[3]), (std::vector<int>{5, 6})) << "a language-less stream per subtitle without one";
    EXPECT_EQ(SubtitleStreamLanguages(movies), languages);
    EXPECT_EQ(SubtitleStreamIds(movies[2]), (std::vector<uint8_t>{0x21, 0x22, 0, 0x23}));
    EXPECT_EQ(TitleSubpictureStreams(movies[2]), (std::vector<int>{2, 3, 4}));
    EXPECT_TRUE(SubtitleStreamIds(movies[1]).empty());
    EXPECT_TRUE(notes.empty());

    // Subtitles off: no movie asks the encoder for any, the disc has no stream.
    PlanSubtitleStreams(movies, false, &notes);
    for (const CSourceInfo& movie : movies)
        EXPECT_TRUE(SubtitleStreamIds(movie).empty());
    EXPECT_TRUE(SubtitleStreamLanguages(movies).empty());
}

TEST(SubtitlePlan, TheThirtyThirdStreamIsLeftOutWithANote) {
    std::vector<qx::SubtitleInfo> many;
    for (int i = 0; i < 33; ++i)
        many.push_back(Sub(""));
    std::vector<CSourceInfo> movies = {MovieWith(many)};
    std::vector<std::string> notes;
    EXPECT_EQ(PlanSubtitleStreams(movies, true, &notes).size(), 32u);
    EXPECT_EQ(movies[0].subtitles[31].stream, 32);
    EXPECT_EQ(movies[0].subtitles[32].stream, 0);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("at most 32"), std::string::npos);
}

// The job hands each movie's substreams to the encoder and each title's streams to the engine;
// subtitles off, neither gets any.
class SubtitleJobTest : public JobTest {
protected:
    void RunWithSubtitles(bool on) {
        DiscJobParams spec = TwoMovies();
        spec.subtitles = on;
        spec.showSubtitles = true;
        spec.movies[0].subtitles = {Sub("en"), Sub("de", true)};
        spec.movies[1].subtitles = {Sub("de")};
        encoder->onConvert = [this](int, const CSourceInfo& source) { requested.push_back(SubtitleStreamIds(source)); };
        ASSERT_TRUE(Run(spec));
        ASSERT_EQ(requested.size(), 2u);
        ASSERT_EQ(authoring->titles.size(), 2u);
    }
    std::vector<std::vector<uint8_t>> requested;
};

TEST_F(SubtitleJobTest, TheEncoderAndTheEngineGetTheSubtitlesStreams) {
    RunWithSubtitles(true);
    EXPECT_EQ(requested[0], (std::vector<uint8_t>{0x20, 0}));
    EXPECT_EQ(requested[1], (std::vector<uint8_t>{0x21}));
    EXPECT_EQ(authoring->titles[0].subpictureStreams, std::vector<int>{1});
    EXPECT_EQ(authoring->titles[0].subpictureLanguages, std::vector<std::string>{"en"});
    EXPECT_EQ(authoring->titles[1].subpictureStreams, std::vector<int>{2});
    EXPECT_EQ(authoring->titles[1].subpictureLanguages, std::vector<std::string>{"de"});
    EXPECT_TRUE(authoring->titles[1].showSubpictures);
}

TEST_F(SubtitleJobTest, WithSubtitlesOffNeitherGetsAny) {
    RunWithSubtitles(false);
    EXPECT_TRUE(requested[0].empty() && requested[1].empty());
    EXPECT_TRUE(authoring->titles[0].subpictureStreams.empty());
    EXPECT_TRUE(authoring->titles[1].subpictureStreams.empty());
}
