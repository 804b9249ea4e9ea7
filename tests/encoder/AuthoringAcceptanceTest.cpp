// What the encoder writes is what the authoring engine takes: converted streams (one of them in
// part files) and a substitute become a DVD-Video folder that libdvdread (lsdvd) reads.
#include <gtest/gtest.h>

#include <cstdio>

#include "AplAuthor.h"
#include "Convert.h"
#include "EncoderTestSupport.h"

using namespace qx::enc;
using namespace qxtest;

TEST(AuthoringAcceptance, ConvertedStreamsAndSubstituteMakeADisc) {
    std::string whole = TestRoot() + "accept-a.vob";
    std::string split = TestRoot() + "accept-b.vob";
    ConvertRequest r;
    r.input = Rv20Ac3Movie();
    r.output = whole;
    r.tv = TvStandard::Pal;
    r.wide = true;
    r.pictureWidth = 539;
    r.pictureHeight = 576;
    ASSERT_TRUE(ConvertMovie(r, nullptr, nullptr).ok);
    r.input = Rv10Real144Movie();
    r.output = split;
    r.partFiles = true;
    r.partLimit = 600000;
    ASSERT_TRUE(ConvertMovie(r, nullptr, nullptr).ok);
    ASSERT_GT(FileSize(split + ".part2"), 0);
    std::string substitute = std::string(QX_BIN_DIR) + "/default_pal_16x9.vob";

    std::string disc = TestRoot() + "disc/";
    AplAuthor author;
    ASSERT_TRUE(author.SetOutputFolder(disc));
    ASSERT_TRUE(author.BeginTitleSet());
    author.SetPartFiles(true);
    ASSERT_TRUE(author.AddTitle(whole, 300, 4, AUTHOR_POST_NEXT_TITLE, 2));
    ASSERT_TRUE(author.AddTitle(split, 300, 4, AUTHOR_POST_NEXT_TITLE, 3));
    ASSERT_TRUE(author.AddTitle(substitute, 300, 2, AUTHOR_POST_NONE));
    author.EndTitleSet();
    ASSERT_TRUE(author.CreateDVD()) << author.LastError();

    std::string listing = TestRoot() + "lsdvd.txt";
    ASSERT_EQ(Shell("lsdvd '" + disc + "' > '" + listing + "' 2>&1"), 0) << ReadFile(listing);
    std::string text = ReadFile(listing);
    EXPECT_NE(text.find("Title: 01, Length: 00:00:04"), std::string::npos) << text;
    EXPECT_NE(text.find("Title: 02, Length: 00:00:04"), std::string::npos) << text;
    EXPECT_NE(text.find("Title: 03, Length: 00:00:02"), std::string::npos) << text;
}

// Movies that bring fields kept as fields and 5.1 AC-3 passed through make a disc as well.
TEST(AuthoringAcceptance, FieldsAndPassedThroughSoundMakeADisc) {
    const std::string fields = Fixture("accept-fields.mpg", "-f lavfi -i testsrc2=size=720x576:rate=50 -vf "
                                                            "tinterlace=mode=interleave_top,setfield=tff -t 2 -c:v "
                                                            "mpeg2video -b:v 6M -flags +ildct+ilme -top 1");
    const std::string surround =
        Fixture("accept-51.mkv", "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i "
                                 "\"aevalsrc='0.5*sin(2*PI*440*t)':s=48000:c=5.1\" -t 3 -c:v mpeg4 -c:a ac3 -b:a 448k");
    std::vector<std::string> streams;
    for (const std::string& movie : {surround, fields}) {
        ConvertRequest r;
        r.input = movie;
        r.output = TestRoot() + "accept-" + std::to_string(streams.size()) + ".vob";
        r.pictureWidth = 720;
        r.pictureHeight = 576;
        ASSERT_TRUE(ConvertMovie(r, nullptr, nullptr).ok) << movie;
        streams.push_back(r.output);
    }
    const std::string disc = TestRoot() + "disc-any/";
    AplAuthor author;
    ASSERT_TRUE(author.SetOutputFolder(disc));
    ASSERT_TRUE(author.BeginTitleSet());
    ASSERT_TRUE(author.AddTitle(streams[0], 300, 3, AUTHOR_POST_NEXT_TITLE, 2));
    ASSERT_TRUE(author.AddTitle(streams[1], 300, 2, AUTHOR_POST_NONE));
    author.EndTitleSet();
    ASSERT_TRUE(author.CreateDVD()) << author.LastError();
    const std::string listing = TestRoot() + "lsdvd-any.txt";
    ASSERT_EQ(Shell("lsdvd -a '" + disc + "' > '" + listing + "' 2>&1"), 0) << ReadFile(listing);
    const std::string text = ReadFile(listing);
    EXPECT_NE(text.find("Title: 01, Length: 00:00:03"), std::string::npos) << text;
    EXPECT_NE(text.find("Title: 02, Length: 00:00:02"), std::string::npos) << text;
    EXPECT_NE(text.find("Format: ac3, Frequency: 48000, Quantization: drc, Channels: 6"), std::string::npos) << text;
}
