// A dual-layer sized image (over 4 GiB) of a folder whose title fills five 1 GiB VOBs: sparse files, so
// the test writes almost nothing, yet every offset past 4 GiB is read back through the readers.
#include "DiscImageSupport.h"
#include "FixtureSupport.h"
#include "UdfReadSupport.h"

#include <gtest/gtest.h>

#include <dvdread/dvd_reader.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace qx::discimage;

namespace {

constexpr uint64_t kVobSectors = kFullVobSectors;
constexpr int kVobs = 5;

TEST(LargeImage, OffsetsPastFourGibibytesReachTheRightBytes) {
    TempFolder temp;
    std::string video = AuthorFolder(temp.path() + "/small", {1}, 4);
    ASSERT_FALSE(fs::exists(video + "/VTS_01_2.VOB"));
    std::string big = temp.path() + "/big/VIDEO_TS";
    CopyFolder(video, big);
    InflateTitleVobs(big, kVobs);

    std::string error;
    auto image = DvdVideoImage::Create(big, TestDescriptor("Big"), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_GT(image->SizeInBytes(), (uint64_t(kVobs) << 30) - 4096 * kVobs);
    EXPECT_EQ(image->SizeInBytes(), image->SizeInSectors() * 2048);

    const Bytes bup = ReadWholeFile(big + "/VTS_01_0.BUP");
    const uint64_t bupSector = image->FileSector(image->Files().size() - 1);
    EXPECT_GT(bupSector * 2048, uint64_t(4) << 30);
    Bytes sector(2048);
    ASSERT_TRUE(image->ReadSectors(bupSector, 1, sector.data(), &error)) << error;
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(), bup.begin()));

    {
        UdfImage udf(*image);
        ASSERT_TRUE(udf.ok());
        EXPECT_TRUE(udf.ReadFile("/VIDEO_TS/VTS_01_0.BUP") == bup);
        EXPECT_TRUE(udf.LayoutFaults().empty());
        for (const UdfEntry& e : udf.Tree(false)) {
            if (e.path == "/VIDEO_TS/VTS_01_5.VOB") {
                EXPECT_EQ(e.size, kVobSectors * 2048);
            }
        }
    }

    std::string iso = temp.path() + "/big.iso";
    WriteSparseImage(*image, iso);
    for (const auto& [name, extent] : IsoinfoVideoTsExtents(iso)) {
        size_t i = 0;
        while (i < image->Files().size() && image->Files()[i].name != name)
            ++i;
        ASSERT_LT(i, image->Files().size()) << name;
        EXPECT_EQ(extent.sector, image->FileSector(i)) << name;
        EXPECT_EQ(extent.size, image->Files()[i].size) << name;
    }
    EXPECT_EQ(Field(UdfinfoFields(iso), "blocks"), std::to_string(image->SizeInSectors()));

    // libdvdread reads the title VOBs as one run of more than 2^21 sectors.
    dvd_reader_t* dvd = DVDOpen(iso.c_str());
    ASSERT_NE(dvd, nullptr);
    dvd_file_t* titles = DVDOpenFile(dvd, 1, DVD_READ_TITLE_VOBS);
    ASSERT_NE(titles, nullptr);
    EXPECT_EQ(uint64_t(DVDFileSize(titles)), kVobs * kVobSectors);
    Bytes first(2048), last(2048, 0xFF);
    EXPECT_EQ(DVDReadBlocks(titles, 0, 1, first.data()), 1);
    EXPECT_EQ(DVDReadBlocks(titles, static_cast<int>(kVobs * kVobSectors - 1), 1, last.data()), 1);
    Bytes vob = ReadWholeFile(video + "/VTS_01_1.VOB");
    EXPECT_TRUE(std::equal(first.begin(), first.end(), vob.begin()));
    EXPECT_TRUE(std::all_of(last.begin(), last.end(), [](unsigned char c) { return c == 0; }));
    DVDCloseFile(titles);
    DVDClose(dvd);
}

} // namespace
