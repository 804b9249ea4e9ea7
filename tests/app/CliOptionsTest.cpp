// The console front-end's command line.
#include "CliJob.h"

#include <gtest/gtest.h>

namespace {

bool Parse(std::vector<std::string> args, CliOptions* options, std::string* error) {
    return ParseCliOptions(args, options, error);
}

} // namespace

TEST(CliOptions, DefaultsAndEveryOption) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"a.rm"}, &o, &error));
    EXPECT_EQ(o.tv, TvStandard::Ntsc);
    EXPECT_EQ(o.aspect, DisplayAspect::Wide16x9);
    EXPECT_TRUE(o.keepAspect);
    EXPECT_FALSE(o.dualLayer);
    EXPECT_FALSE(o.assumeYes);
    EXPECT_EQ(o.movies, std::vector<std::string>{"a.rm"});

    CliOptions all;
    ASSERT_TRUE(Parse({"--tv", "pal", "--aspect", "4:3", "--no-keep-aspect", "--disc", "d9", "--work", "/w", "--yes",
                       "x.rm", "y.rmvb"},
                      &all, &error))
        << error;
    EXPECT_EQ(all.tv, TvStandard::Pal);
    EXPECT_EQ(all.aspect, DisplayAspect::Standard4x3);
    EXPECT_FALSE(all.keepAspect);
    EXPECT_TRUE(all.dualLayer);
    EXPECT_EQ(all.workFolder, "/w");
    EXPECT_TRUE(all.assumeYes);
    EXPECT_EQ(all.movies.size(), 2u);
    EXPECT_EQ(all.writer, -1);

    CliOptions burn;
    // 32 characters of any script fit the label box.
    const std::string label = "Ferien \u00e9t\u00e9 " + std::string(21, 'x');
    ASSERT_TRUE(Parse({"--writer", "1", "--label", label, "a.rm"}, &burn, &error)) << error;
    EXPECT_EQ(burn.writer, 1);
    EXPECT_EQ(burn.label, label);
    CliOptions image;
    ASSERT_TRUE(Parse({"--iso", "disc.iso", "--label", label, "a.rm"}, &image, &error)) << error;
    EXPECT_EQ(image.isoFile, "disc.iso");
    EXPECT_EQ(image.label, label);
    EXPECT_FALSE(image.menu);
    CliOptions menu; // the label heads the menu
    ASSERT_TRUE(Parse({"--menu", "--label", label, "a.rm"}, &menu, &error)) << error;
    EXPECT_TRUE(menu.menu);
    EXPECT_EQ(menu.label, label);
}

TEST(CliOptions, BadInputIsRefusedWithAReason) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--tv", "secam", "a.rm"}, "--tv takes pal or ntsc, not 'secam'"},
        {{"--aspect", "2.35:1", "a.rm"}, "--aspect takes 4:3 or 16:9, not '2.35:1'"},
        {{"--disc", "bd", "a.rm"}, "--disc takes d5 or d9, not 'bd'"},
        {{"a.rm", "--work"}, "--work needs a value"},
        {{"--work", "", "a.rm"}, "--work needs a folder"},
        {{"--frobnicate", "a.rm"}, "unknown option --frobnicate"},
        {{"--yes"}, "no movie given"},
        {{"--writer", "x", "a.rm"}, "--writer takes a writer number (0, 1, ...), not 'x'"},
        {{"--writer", "-1", "a.rm"}, "--writer takes a writer number (0, 1, ...), not '-1'"},
        {{"--writer", "1a", "a.rm"}, "--writer takes a writer number (0, 1, ...), not '1a'"},
        {{"--writer", "0", "--label", std::string(33, 'L'), "a.rm"}, "--label takes at most 32 characters"},
        {{"--label", "HOLIDAY", "a.rm"}, "--label needs --writer, --iso or --menu"},
        {{"--list-writers", "--menu"}, "--menu goes with a job"},
        {{"--iso", "", "a.rm"}, "--iso needs a file name"},
    };
    for (const auto& c : cases) {
        CliOptions o;
        std::string error;
        EXPECT_FALSE(Parse(c.first, &o, &error)) << c.second;
        EXPECT_EQ(error, c.second);
    }
}

TEST(CliOptions, DemoAndHelpNeedNoMovie) {
    CliOptions demo;
    std::string error;
    EXPECT_TRUE(Parse({"--demo"}, &demo, &error));
    EXPECT_TRUE(demo.demo);
    CliOptions help;
    EXPECT_TRUE(Parse({"--help"}, &help, &error));
    EXPECT_TRUE(help.help);
    EXPECT_NE(CliUsage().find("--keep-aspect|--no-keep-aspect"), std::string::npos);
}

TEST(CliOptions, WriterOperationsTakeOneOperationAndNoMovies) {
    CliOptions list;
    std::string error;
    ASSERT_TRUE(Parse({"--list-writers", "--engine", "0"}, &list, &error)) << error;
    EXPECT_TRUE(list.listWriters && list.WriterOperation());
    EXPECT_EQ(list.engine, 0);
    CliOptions burn;
    ASSERT_TRUE(Parse({"--burn-folder", "/d/VIDEO_TS", "--writer", "2", "--label", "MY DISC", "--yes"}, &burn, &error))
        << error;
    EXPECT_EQ(burn.burnFolder, "/d/VIDEO_TS");
    EXPECT_EQ(burn.writer, 2);
    EXPECT_EQ(burn.label, "MY DISC");
    CliOptions erase;
    ASSERT_TRUE(Parse({"--erase", "0"}, &erase, &error));
    EXPECT_EQ(erase.erase, 0);
    EXPECT_FALSE(CliOptions{}.WriterOperation());

    const std::vector<std::vector<std::string>> bad = {{"--list-writers", "--erase", "1"},
                                                       {"--writer-info", "x"},
                                                       {"--writer-info", "-1"},
                                                       {"--engine", "2"},
                                                       {"--burn-folder", "/d"},
                                                       {"--erase", "0", "a.rm"},
                                                       {"--label", "L", "a.rm"},
                                                       {"--writer-info"},
                                                       {"--erase", "99999999"}};
    for (const auto& args : bad) {
        CliOptions o;
        std::string why;
        EXPECT_FALSE(Parse(args, &o, &why)) << args[0];
        EXPECT_FALSE(why.empty());
    }
}
