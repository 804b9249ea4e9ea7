// The encoder record's bytes, the text-area refusals, the picture-size algorithm and the
// progress texts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "EncoderChannel.h"
#include "EncoderProgressText.h"
#include "EncoderRecord.h"
#include "PictureSize.h"

using namespace qx;

namespace {

int32_t I32At(const EncoderRecord& r, size_t at) {
    int32_t v;
    std::memcpy(&v, r.data() + at, 4);
    return v;
}
float F32At(const EncoderRecord& r, size_t at) {
    float v;
    std::memcpy(&v, r.data() + at, 4);
    return v;
}

} // namespace

TEST(EncoderRecord, ConvertRequestLandsAtItsOffsetsLittleEndian) {
    auto req = EncoderRecord::Blank<EncConvertRecord>(ENC_CONVERT);
    ASSERT_TRUE(PutRecordText(req.source, "/movies/a.rm"));
    ASSERT_TRUE(PutRecordText(req.output, "/work/a.vob"));
    ASSERT_TRUE(PutRecordText(req.aspect, "16:9"));
    ASSERT_TRUE(PutRecordText(req.workFolder, "/work/"));
    req.tv = 1;
    req.width = 539;
    req.height = 576;
    req.fixedOne = 1;
    req.probeA = 0x00020001;
    req.probeB = 4.5f;
    req.splitOutput = 1;
    EncoderRecord r;
    r.Set(req);
    const uint8_t* b = r.data();
    EXPECT_EQ(b[0], 2);
    EXPECT_EQ(b[1] | b[2] | b[3], 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(b + 8), "/movies/a.rm");
    EXPECT_STREQ(reinterpret_cast<const char*>(b + 268), "/work/a.vob");
    EXPECT_STREQ(reinterpret_cast<const char*>(b + 618), "16:9");
    EXPECT_EQ(b[828], 1);
    EXPECT_EQ(b[832], 539 & 0xFF);
    EXPECT_EQ(b[833], 539 >> 8);
    EXPECT_EQ(I32At(r, 836), 576);
    EXPECT_STREQ(reinterpret_cast<const char*>(b + 864), "/work/");
    EXPECT_EQ(I32At(r, 1124), 1);
    EXPECT_EQ(b[1132], 0x01);
    EXPECT_EQ(b[1134], 0x02);
    EXPECT_FLOAT_EQ(F32At(r, 1136), 4.5f);
    EXPECT_EQ(I32At(r, 1140), 1);
    EXPECT_EQ(I32At(r, 1144), 0);
    // Everything not named stays zero.
    for (size_t i = 268 + 12; i < 618; ++i)
        ASSERT_EQ(b[i], 0) << i;
    for (size_t i = 623; i < 828; ++i)
        ASSERT_EQ(b[i], 0) << i;
    for (size_t i = 840; i < 864; ++i)
        ASSERT_EQ(b[i], 0) << i;
}

TEST(EncoderRecord, ProbeAnswerIsReadFromItsOffsets) {
    EncoderRecord r;
    uint8_t raw[kEncoderRecordSize] = {0};
    raw[0] = 4;
    raw[8] = 1;
    std::strcpy(reinterpret_cast<char*>(raw + 9), "/m/x.rm");
    float size = 358.5f, start = 1.5f, rate = 25.0f, aspect = 1.3333334f, b = 4.0f;
    double duration = 4.005;
    int32_t w = 320, h = 240, a = 0x20001;
    std::memcpy(raw + 272, &size, 4);
    std::memcpy(raw + 280, &duration, 8);
    std::memcpy(raw + 288, &start, 4);
    std::memcpy(raw + 296, &rate, 4);
    std::memcpy(raw + 304, &w, 4);
    std::memcpy(raw + 308, &h, 4);
    std::memcpy(raw + 312, &aspect, 4);
    std::memcpy(raw + 316, &a, 4);
    std::memcpy(raw + 320, &b, 4);
    std::strcpy(reinterpret_cast<char*>(raw + 1096), "track 2 of 3 (marked default)");
    ASSERT_TRUE(r.Assign(raw, sizeof raw));
    EncoderProbeAnswer ans = ReadProbeAnswer(r);
    EXPECT_EQ(ans.sound, "track 2 of 3 (marked default)");
    EXPECT_TRUE(ans.supported);
    EXPECT_EQ(ans.path, "/m/x.rm");
    EXPECT_FLOAT_EQ(ans.sizeKb, 358.5f);
    EXPECT_DOUBLE_EQ(ans.duration, 4.005);
    EXPECT_FLOAT_EQ(ans.startTime, 1.5f);
    EXPECT_FLOAT_EQ(ans.frameRate, 25.0f);
    EXPECT_EQ(ans.width, 320);
    EXPECT_EQ(ans.height, 240);
    EXPECT_FLOAT_EQ(ans.aspect, 1.3333334f);
    EXPECT_EQ(ans.probeA, 0x20001);
    EXPECT_FLOAT_EQ(ans.probeB, 4.0f);

    // Byte 8 cleared: not supported, whatever the rest says.
    raw[8] = 0;
    ASSERT_TRUE(r.Assign(raw, sizeof raw));
    EXPECT_FALSE(ReadProbeAnswer(r).supported);
    EXPECT_EQ(ReadProbeAnswer(r).width, 0);
    // A path that runs to byte 271 without a terminator is not taken.
    raw[8] = 1;
    std::memset(raw + 9, 'x', 263);
    ASSERT_TRUE(r.Assign(raw, sizeof raw));
    EXPECT_FALSE(ReadProbeAnswer(r).supported);
    // Records of another size are refused.
    EXPECT_FALSE(r.Assign(raw, kEncoderRecordSize - 1));
}

TEST(EncoderRecord, TextsThatDoNotFitAreRefusedNotCut) {
    auto req = EncoderRecord::Blank<EncProbeRecord>(ENC_PROBE);
    std::string fits(259, 'p'), tooLong(260, 'p');
    EXPECT_TRUE(PutRecordText(req.path, fits));
    EXPECT_EQ(req.path[259], '\0');
    auto before = req;
    EXPECT_FALSE(PutRecordText(req.path, tooLong));
    EXPECT_EQ(std::memcmp(&before, &req, sizeof req), 0) << "a refused text must leave the area as it was";
    EXPECT_TRUE(PutRecordText(req.workFolder, std::string(349, 'f')));
    EXPECT_FALSE(PutRecordText(req.workFolder, std::string(350, 'f')));
    EXPECT_FALSE(PutRecordText(req.workFolder, std::string("a\0b", 3)));
    auto conv = EncoderRecord::Blank<EncConvertRecord>(ENC_CONVERT);
    EXPECT_TRUE(PutRecordText(conv.aspect, "16:9"));
    EXPECT_FALSE(PutRecordText(conv.aspect, "16:10"));
    std::string out;
    char area[4] = {'a', 'b', 'c', 'd'};
    EXPECT_FALSE(GetRecordText(area, &out));

    // A text only shown to the user may be shortened, but the cut shows and no character is split.
    EXPECT_EQ(FitRecordText("track 1 of 1", 56), "track 1 of 1");
    const std::string longer =
        FitRecordText(std::string(40, 'a') + "\xc3\xa9\xc3\xa9\xc3\xa9" + std::string(20, 'b'), 46);
    EXPECT_EQ(longer, std::string(40, 'a') + "\xc3\xa9...");
    EXPECT_LE(FitRecordText(std::string(200, 'x'), 56).size(), 55u);
    EXPECT_TRUE(PutRecordText(conv.aspect, FitRecordText("16:10", sizeof conv.aspect)));
    EXPECT_STREQ(conv.aspect, "1...");
}

TEST(PictureSize, WithoutKeepAspectTheWholeFrame) {
    EXPECT_EQ(ComputePictureSize(false, 320, 240, 1.3333334f, true, true), (PictureSize{720, 576}));
    EXPECT_EQ(ComputePictureSize(false, 1920, 1080, 1.7777778f, false, false), (PictureSize{720, 480}));
    EXPECT_EQ(ComputePictureSize(false, 0, 0, 0, false, true), (PictureSize{720, 480}));
}

TEST(PictureSize, ThirtyTwoBitTargetAspectDecidesTheLastPixel) {
    // 640 x 480 on PAL 16:9: 720 x 4/3 / (16/9 as a float, slightly above) = 539.99... -> 539.
    EXPECT_EQ(ComputePictureSize(true, 640, 480, 1.3333334f, true, true), (PictureSize{539, 576}));
    // 720 x 576 shown at 16:9: widened to 1024 x 576, which is just under the float 16/9 -> 719.
    EXPECT_EQ(ComputePictureSize(true, 720, 576, 1.7777778f, true, true), (PictureSize{719, 576}));
    // The same movie on a 4:3 disc: w = 1023 (1.7777 x 576), then 720 x 432.
    EXPECT_EQ(ComputePictureSize(true, 720, 576, 1.7777f, true, false), (PictureSize{720, 432}));
    // NTSC keeps the same widths with 480 lines.
    EXPECT_EQ(ComputePictureSize(true, 640, 480, 1.3333334f, false, true), (PictureSize{539, 480}));
    EXPECT_EQ(ComputePictureSize(true, 1280, 720, 1.7777778f, false, false), (PictureSize{720, 360}));
}

TEST(PictureSize, AspectBandAndOutOfRangeAspects) {
    // Inside t +- 0.01 the stored size counts as the shape: 352 x 288 (1.2222) with f = 1.2300.
    EXPECT_EQ(ComputePictureSize(true, 352, 288, 1.2300f, true, false),
              ComputePictureSize(true, 352, 288, 0.0f, true, false));
    // Taller shape: h = w / f.
    EXPECT_EQ(ComputePictureSize(true, 400, 300, 1.0f, true, false), (PictureSize{539, 576}));
    // f outside (0.1, 10) is ignored.
    EXPECT_EQ(ComputePictureSize(true, 320, 240, 12.0f, true, false),
              ComputePictureSize(true, 320, 240, 0.0f, true, false));
    // A movie without a size gets the whole frame instead of a division by zero.
    EXPECT_EQ(ComputePictureSize(true, 0, 240, 1.0f, true, false), (PictureSize{720, 576}));
}

TEST(PictureSize, ExactOwnSizeIsSentAsZero) {
    // 352 x 576 stored, shown 0.6536 wide: widened to 376, which on a PAL 4:3 disc maps back to
    // exactly 352 x 576, the movie's own size.
    EXPECT_EQ(ComputePictureSize(true, 352, 576, 0.65364f, true, false), (PictureSize{0, 0}));
    // One line off and it is sent as it is.
    EXPECT_EQ(ComputePictureSize(true, 352, 575, 0.65364f, true, false).height, 576);
}

TEST(ProgressText, ConversionLine) {
    EncoderProgressLine l = FormatConvertProgress(60000, 0.5f);
    EXPECT_EQ(l.text, "Total time:00:02:00; Elapsed Time:00:01:00;Finished 50.00%;");
    EXPECT_EQ(l.percent, 50);
    l = FormatConvertProgress(3723999, 1.0f);
    EXPECT_EQ(l.text, "Total time:01:02:03; Elapsed Time:01:02:03;Finished 100.00%;");
    EXPECT_EQ(l.percent, 100);
    l = FormatConvertProgress(1500, 0.333f);
    EXPECT_EQ(l.text, "Total time:00:00:04; Elapsed Time:00:00:01;Finished 33.30%;");
    EXPECT_EQ(l.percent, 33);
}

TEST(ProgressText, NothingDoneYetAndNonsenseFractions) {
    // Fraction 0 would divide by zero: the total is not known yet.
    EXPECT_EQ(FormatConvertProgress(5000, 0.0f).text, "Total time:00:00:00; Elapsed Time:00:00:05;Finished 0.00%;");
    EXPECT_EQ(FormatConvertProgress(5000, std::numeric_limits<float>::quiet_NaN()).percent, 0);
    EXPECT_EQ(FormatConvertProgress(5000, -3.0f).percent, 0);
    EXPECT_EQ(FormatConvertProgress(5000, 7.0f).percent, 100);
}

TEST(ProgressText, SeekLineSetsTheBarToZero) {
    EncoderProgressLine l = FormatSeekProgress(0.25f);
    EXPECT_EQ(l.text, "Seeking complete 25.00%;");
    EXPECT_EQ(l.percent, 0);
}
