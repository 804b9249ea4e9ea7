// qxauthor's command line and the playing time it reads from the start and end of each stream.
#include "StreamDuration.h"
#include "FixtureSupport.h"
#include "QxAuthorTool.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

TEST(StreamDuration, GeneratedStreamsMeasureTheirLength) {
    StreamDuration pal = MeasureStreamDuration(FixtureStream(TvStandard::Pal, 301));
    ASSERT_TRUE(pal.ok) << pal.error;
    EXPECT_NEAR(pal.seconds, 301.0, 0.001);
    EXPECT_GE(pal.seconds, 301.0); // whole seconds are taken by truncation: 301 must not become 300
    StreamDuration ntsc = MeasureStreamDuration(FixtureStream(TvStandard::Ntsc, 65));
    ASSERT_TRUE(ntsc.ok) << ntsc.error;
    EXPECT_NEAR(ntsc.seconds, 65.0, 0.04);
}

TEST(StreamDuration, PartFilesSupplyTheEnd) {
    TempFolder temp;
    std::vector<unsigned char> bytes = ReadWholeFile(FixtureStream(TvStandard::Pal, 40));
    size_t half = bytes.size() / 2 / 2048 * 2048;
    std::string stream = temp.path() + "/movie.mpg";
    std::ofstream(stream, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), half);
    std::ofstream(stream + ".part1", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data() + half), bytes.size() - half);
    StreamDuration head = MeasureStreamDuration(stream);
    StreamDuration whole = MeasureStreamDuration(stream, stream + ".part1");
    ASSERT_TRUE(head.ok && whole.ok);
    EXPECT_LT(head.seconds, 30);
    EXPECT_NEAR(whole.seconds, 40, 0.001);
}

TEST(StreamDuration, WhatIsNoProgramStreamIsNamed) {
    TempFolder temp;
    std::string junk = temp.path() + "/junk.mpg";
    std::ofstream(junk) << std::string(5000, '\0') << std::string(5000, '\xFF');
    StreamDuration result = MeasureStreamDuration(junk);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, junk + ": no MPEG program stream timestamps found");
    result = MeasureStreamDuration(temp.path() + "/none.mpg");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("No such file or directory"), std::string::npos);
    std::ofstream(temp.path() + "/empty.mpg");
    EXPECT_FALSE(MeasureStreamDuration(temp.path() + "/empty.mpg").ok);
}

TEST(StreamDuration, PresentationTimesWrapAroundAndMpeg1PacksCount) {
    // Two MPEG-1 packs whose clocks straddle the 33-bit wrap: 2^33 - 90000 and 90000 (2 seconds).
    auto pack = [](long long scr) {
        std::vector<unsigned char> p = {0, 0, 1, 0xBA};
        p.push_back(static_cast<unsigned char>(0x21 | ((scr >> 29) & 0x0E)));
        p.push_back(static_cast<unsigned char>(scr >> 22));
        p.push_back(static_cast<unsigned char>(((scr >> 14) & 0xFE) | 1));
        p.push_back(static_cast<unsigned char>(scr >> 7));
        p.push_back(static_cast<unsigned char>(((scr << 1) & 0xFE) | 1));
        p.insert(p.end(), {0x80, 0x00, 0x01});
        return p;
    };
    std::vector<unsigned char> head = pack((1LL << 33) - 90000);
    std::vector<unsigned char> tail = pack(90000);
    StreamDuration result = MeasureStreamDurationOf(head.data(), head.size(), tail.data(), tail.size());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_DOUBLE_EQ(result.seconds, 2.0);
}

TEST(QxAuthorArgs, ParsesTheDriversOptions) {
    QxAuthorArgs args;
    std::string error;
    ASSERT_TRUE(ParseQxAuthorArgs(
        {"qxauthor", "-o", "out", "--chapter-seconds", "120", "--parts", "a.mpg", "--", "-b.mpg"}, args, error))
        << error;
    EXPECT_EQ(args.outputFolder, "out");
    EXPECT_EQ(args.chapterSeconds, 120);
    EXPECT_TRUE(args.partFiles);
    EXPECT_FALSE(args.replace);
    EXPECT_EQ(args.streams, std::vector<std::string>({"a.mpg", "-b.mpg"}));
    ASSERT_TRUE(ParseQxAuthorArgs({"qxauthor", "a.mpg", "-o", "out"}, args, error));
    EXPECT_EQ(args.chapterSeconds, 300);
}

TEST(QxAuthorArgs, RefusesIncompleteOrMalformedCommandLines) {
    QxAuthorArgs args;
    std::string error;
    EXPECT_FALSE(ParseQxAuthorArgs({"qxauthor", "a.mpg"}, args, error));
    EXPECT_EQ(error, "no output folder (-o OUTDIR)");
    EXPECT_FALSE(ParseQxAuthorArgs({"qxauthor", "-o", "out"}, args, error));
    EXPECT_EQ(error, "no streams given");
    EXPECT_FALSE(ParseQxAuthorArgs({"qxauthor", "-o"}, args, error));
    EXPECT_EQ(error, "-o needs a value");
    for (const char* bad : {"-5", "ten", "", "99999999999", "30000"})
        EXPECT_FALSE(ParseQxAuthorArgs({"qxauthor", "-o", "out", "--chapter-seconds", bad, "a.mpg"}, args, error))
            << bad;
    EXPECT_FALSE(ParseQxAuthorArgs({"qxauthor", "-o", "out", "--fast", "a.mpg"}, args, error));
    EXPECT_EQ(error, "unknown option --fast");
}

} // namespace
