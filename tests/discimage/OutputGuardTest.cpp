// The shared checks every front-end runs before it writes: an output against its inputs, and names
// made safe for a terminal.
#include "OutputGuard.h"
#include "FixtureSupport.h"
#include "TerminalText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace qx::discimage;

namespace {

class OutputGuard : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(at("movies"));
        fs::create_directories(at("dvd/VIDEO_TS"));
        std::ofstream(at("movies/holiday.rm")) << "movie";
        std::ofstream(at("dvd/VIDEO_TS/VIDEO_TS.IFO")) << "ifo";
    }
    std::string at(const std::string& name) const { return m_temp.path() + "/" + name; }
    // The refusal, checked to name what it should.
    void expectRefusal(const std::string& output, OutputKind kind, const std::vector<std::string>& files,
                       const std::vector<std::string>& folders, const std::string& words) {
        const std::string refusal = OutputRefusal(output, kind, files, folders);
        EXPECT_NE(refusal.find(words), std::string::npos) << output << ": '" << refusal << "'";
    }
    TempFolder m_temp;
};

TEST_F(OutputGuard, AFileOutputIsRefusedWhenItIsAnInputUnderAnyNameOrLiesInAnInputFolder) {
    const std::string movie = at("movies/holiday.rm");
    const std::vector<std::string> movies = {movie};
    const std::vector<std::string> folders = {at("dvd/VIDEO_TS")};
    fs::create_symlink(movie, at("link.iso"));
    fs::create_hard_link(movie, at("hard.iso"));
    fs::create_directory_symlink("dvd", at("dvdlink"));
    for (const std::string& same : {movie, at("movies/../movies/./holiday.rm"), at("link.iso"), at("hard.iso")})
        expectRefusal(same, OutputKind::File, movies, {}, "is the input " + movie + " (the same file)");
    for (const std::string& inside :
         {at("dvd/VIDEO_TS/new.iso"), at("dvd/VIDEO_TS/sub/deeper/new.iso"), at("dvdlink/VIDEO_TS/new.iso"),
          at("dvd/VIDEO_TS/VIDEO_TS.IFO"), at("dvd/VIDEO_TS")})
        expectRefusal(inside, OutputKind::File, {}, folders, "the input folder " + at("dvd/VIDEO_TS"));
    // Relative names are taken from the current folder.
    const std::string here = fs::current_path();
    fs::current_path(at("movies"));
    expectRefusal("holiday.rm", OutputKind::File, {"./holiday.rm"}, {}, "is the input ./holiday.rm");
    fs::current_path(here);

    for (const std::string& fine : {at("holiday.iso"), at("dvd/holiday.iso"), at("movies/holiday.iso")})
        EXPECT_EQ(OutputRefusal(fine, OutputKind::File, movies, folders), "") << fine;
    EXPECT_EQ(OutputRefusal(at("x.iso"), OutputKind::File, {at("missing.rm")}, {at("missing")}), "");
}

TEST_F(OutputGuard, AFolderOutputIsRefusedWhenItHoldsOrLiesInAnInput) {
    const std::string movie = at("movies/holiday.rm");
    expectRefusal(at("movies"), OutputKind::Folder, {movie}, {}, "The input " + movie + " lies inside");
    expectRefusal(at("."), OutputKind::Folder, {movie}, {}, "lies inside the output folder");
    expectRefusal(at("dvd"), OutputKind::Folder, {}, {at("dvd/VIDEO_TS")}, "The input folder");
    expectRefusal(at("dvd/VIDEO_TS/new"), OutputKind::Folder, {}, {at("dvd/VIDEO_TS")}, "lies inside the input");
    // Another name of the input among the folder's entries; the folder reached through a link.
    fs::create_hard_link(movie, at("dvd/VIDEO_TS/VTS_01_1.VOB"));
    expectRefusal(at("dvd/VIDEO_TS"), OutputKind::Folder, {movie}, {}, "holds VTS_01_1.VOB, which is the input");
    fs::create_directory_symlink(at("movies"), at("dvd/linked"));
    expectRefusal(at("dvd/linked"), OutputKind::Folder, {movie}, {}, "lies inside the output folder");
    // A folder not made yet holds nothing; a sibling folder holds nothing of ours.
    EXPECT_EQ(OutputRefusal(at("new/VIDEO_TS"), OutputKind::Folder, {movie}, {at("dvd/VIDEO_TS")}), "");
    EXPECT_EQ(OutputRefusal(at("dvd/AUDIO_TS"), OutputKind::Folder, {at("movies/other.rm")}, {at("dvd/VIDEO_TS")}), "");
}

TEST_F(OutputGuard, PathsResolveThroughLinksAndALoopIsRefused) {
    std::string resolved, error;
    fs::create_directory_symlink("movies", at("m"));
    ASSERT_TRUE(ResolvePath(at("m/../m/./new/../x.iso"), &resolved, &error)) << error;
    EXPECT_EQ(resolved, fs::canonical(at("movies")).string() + "/x.iso");
    fs::create_symlink("b", at("a"));
    fs::create_symlink("a", at("b"));
    EXPECT_FALSE(ResolvePath(at("a/x.iso"), &resolved, &error));
    expectRefusal(at("a/x.iso"), OutputKind::File, {}, {}, "cannot be checked");
}

TEST(PrintableText, ControlCharactersAndBrokenUtf8AreWrittenOut) {
    struct Case {
        std::string text, printed;
    } cases[] = {
        {"plain name ü 中 🎬 \\ x", "plain name ü 中 🎬 \\ x"},
        {"a\x1b]0;title\x07z", "a\\x1b]0;title\\x07z"},
        {"line\nfeed\ttab\rcr\x7f", "line\\nfeed\\ttab\\rcr\\x7f"},
        {"c1 \xc2\x9b"
         "2J",
         "c1 \\u009b2J"},
        {"bad \xff\xc3 end \xe4\xb8", "bad \\xff\\xc3 end \\xe4\\xb8"},
        {"overlong \xc0\xaf", "overlong \\xc0\\xaf"},
        {std::string("nul\0x", 5), "nul\\x00x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PrintableText(c.text), c.printed);
    EXPECT_EQ(PrintableText("ERR: a\x1b\n", true), "ERR: a\\x1b\n");
}

} // namespace
