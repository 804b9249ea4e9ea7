// The part-file output on its own: splits, the last part, stale parts, write failures.
#include <gtest/gtest.h>

#include "EncoderTestSupport.h"
#include "PartFileOutput.h"

using namespace qx::enc;
using namespace qxtest;

namespace {

std::string Base(const std::string& name) {
    return TestRoot() + name;
}

std::vector<uint8_t> Counting(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return v;
}

} // namespace

TEST(PartFileOutput, SplitsAtTheLimitWhateverTheWriteSizes) {
    std::string path = Base("split.vob");
    PartFileOutput out(path, true, 5000); // rounded down to 4096
    std::string error;
    ASSERT_TRUE(out.Open(&error)) << error;
    std::vector<uint8_t> data = Counting(4096 * 2 + 3000 + 4096 * 2);
    for (size_t at = 0; at < data.size(); at += 1000)
        ASSERT_TRUE(out.Write(data.data() + at, std::min<size_t>(1000, data.size() - at), &error)) << error;
    ASSERT_TRUE(out.Close(&error)) << error;
    EXPECT_EQ(FileSize(path), 4096);
    EXPECT_EQ(FileSize(path + ".part1"), 4096);
    EXPECT_EQ(FileSize(path + ".part2"), static_cast<int64_t>(data.size()) - 8192);
    std::string joined = ReadFile(path) + ReadFile(path + ".part1") + ReadFile(path + ".part2");
    EXPECT_TRUE(joined == std::string(data.begin(), data.end()));
    EXPECT_EQ(out.TotalBytes(), data.size());
    EXPECT_EQ(out.Files().size(), 3u);
}

TEST(PartFileOutput, OneFileWithoutTheFlagAndStalePartsRemovedOnlyWithIt) {
    std::string path = Base("single.vob");
    Shell("echo stale > '" + path + ".part1'; echo stale > '" + path + ".part2'");
    PartFileOutput out(path, false, 2048);
    std::string error;
    ASSERT_TRUE(out.Open(&error));
    std::vector<uint8_t> data = Counting(10000);
    ASSERT_TRUE(out.Write(data.data(), data.size(), &error));
    EXPECT_EQ(FileSize(path), -1) << "written under its writing name until complete";
    EXPECT_EQ(FileSize(PartFileOutput::WritingName(path)), 10000);
    ASSERT_TRUE(out.Close(&error));
    EXPECT_EQ(FileSize(path), 10000);
    EXPECT_EQ(FileSize(PartFileOutput::WritingName(path)), -1);
    EXPECT_EQ(FileSize(path + ".part1"), 6) << "part files were not asked for: not ours";
    EXPECT_EQ(FileSize(path + ".part2"), 6);

    PartFileOutput parts(path, true, 8192);
    ASSERT_TRUE(parts.Open(&error));
    ASSERT_TRUE(parts.Write(data.data(), data.size(), &error));
    ASSERT_TRUE(parts.Close(&error));
    EXPECT_EQ(FileSize(path + ".part1"), 10000 - 8192);
    EXPECT_EQ(FileSize(path + ".part2"), -1) << "a stale tail of an earlier, longer run";
}

TEST(PartFileOutput, FailuresAreReportedAndDiscardRemovesEveryPart) {
    std::string path = Base("fail.vob");
    int opened = 0;
    auto opener = [&](const std::string& name, std::string* error) -> std::unique_ptr<OutputFile> {
        if (++opened == 2) {
            *error = "cannot create " + name + ": Permission denied";
            return nullptr;
        }
        return OpenPosixOutputFile(name, error);
    };
    PartFileOutput out(path, true, 2048, opener);
    std::string error;
    ASSERT_TRUE(out.Open(&error));
    std::vector<uint8_t> data = Counting(3000);
    EXPECT_FALSE(out.Write(data.data(), data.size(), &error));
    EXPECT_NE(error.find("Permission denied"), std::string::npos);
    EXPECT_EQ(FileSize(PartFileOutput::WritingName(path)), 2048);
    out.Discard();
    EXPECT_EQ(FileSize(PartFileOutput::WritingName(path)), -1);
    EXPECT_EQ(FileSize(path), -1);

    PartFileOutput missingFolder(Base("no/such/folder.vob"), false, 2048);
    EXPECT_FALSE(missingFolder.Open(&error));
    EXPECT_NE(error.find("folder.vob"), std::string::npos);
}
