// Byte-level checks of the image's structures: descriptor tags (checksum, CRC, location) everywhere,
// the places players and readers look, the label rules, the recorded time, and identical bytes for a
// fixed clock.
#include "DiscImageSupport.h"
#include "DiscText.h"
#include "FixtureSupport.h"
#include "ImageBytes.h"
#include "UdfReadSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace qx::discimage;

namespace {

constexpr uint32_t kPartition = 257;

// Small stand-in files: the structures do not depend on what the files hold.
std::vector<ImageFile> stubFiles(const std::string& folder, const std::vector<std::pair<std::string, size_t>>& spec) {
    std::vector<ImageFile> files;
    for (const auto& [name, sectors] : spec) {
        std::string path = folder + "/" + name;
        std::ofstream out(path, std::ios::binary);
        for (size_t s = 0; s < sectors; ++s) {
            std::string sector(kSectorSize, static_cast<char>('A' + files.size()));
            out << sector;
        }
        out.close();
        ImageFile file;
        file.name = name;
        file.path = path;
        file.size = sectors * kSectorSize;
        struct stat info;
        stat(path.c_str(), &info);
        file.device = info.st_dev;
        file.inode = info.st_ino;
        files.push_back(file);
    }
    return files;
}

const std::vector<std::pair<std::string, size_t>> kSmallDisc = {{"VIDEO_TS.IFO", 3}, {"VIDEO_TS.BUP", 3},
                                                                {"VTS_01_0.IFO", 6}, {"VTS_01_1.VOB", 40},
                                                                {"VTS_01_2.VOB", 7}, {"VTS_01_0.BUP", 6}};

uint16_t le16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(GetLe16(b.data() + at));
}
uint32_t le32(const Bytes& b, size_t at) {
    return GetLe32(b.data() + at);
}

// Checks the tag at byte `at`; returns its identifier, 0 when the tag is broken.
uint16_t checkTag(const Bytes& b, size_t at, uint32_t location) {
    uint8_t sum = 0;
    for (int i = 0; i < 16; ++i)
        if (i != 4)
            sum = static_cast<uint8_t>(sum + b[at + i]);
    uint16_t crcLength = le16(b, at + 10);
    bool ok = sum == b[at + 4] && le16(b, at + 2) == 2 && le16(b, at + 8) == Crc16Itu(b.data() + at + 16, crcLength) &&
              le32(b, at + 12) == location;
    return ok ? le16(b, at) : 0;
}

class Structures : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        m_image = DvdVideoImage::FromFiles(stubFiles(m_temp.path(), kSmallDisc), TestDescriptor("Test Movie"), &error);
        ASSERT_TRUE(m_image) << error;
        m_bytes = ImageBytes(*m_image);
    }
    const uint8_t* sector(uint64_t s) const { return m_bytes.data() + s * kSectorSize; }

    TempFolder m_temp;
    std::unique_ptr<DvdVideoImage> m_image;
    Bytes m_bytes;
};

TEST(Crc, IsTheItuPolynomialStartingFromZero) {
    const char* check = "123456789";
    EXPECT_EQ(Crc16Itu(reinterpret_cast<const uint8_t*>(check), 9), 0x31C3);
    EXPECT_EQ(Crc16Itu(nullptr, 0), 0);
}

TEST_F(Structures, EveryDescriptorTagHasItsChecksumCrcAndLocation) {
    const uint64_t last = m_image->SizeInSectors() - 1;
    // Volume structures by absolute sector.
    const std::vector<std::pair<uint64_t, uint16_t>> volume = {{32, 1}, {33, 4}, {34, 5},  {35, 6},  {36, 7}, {37, 8},
                                                               {48, 1}, {49, 4}, {50, 5},  {51, 6},  {52, 7}, {53, 8},
                                                               {64, 9}, {65, 8}, {256, 2}, {last, 2}};
    for (auto [s, id] : volume)
        EXPECT_EQ(checkTag(m_bytes, s * kSectorSize, static_cast<uint32_t>(s)), id) << "sector " << s;
    // File set, then every file entry and its directory's identifiers, by partition block.
    EXPECT_EQ(checkTag(m_bytes, kPartition * kSectorSize, 0), 256);
    EXPECT_EQ(checkTag(m_bytes, (kPartition + 1) * kSectorSize, 1), 8);
    int entries = 0, identifiers = 0;
    for (uint32_t block = 2; kPartition + block < m_image->FileSector(0); ++block) {
        size_t at = (kPartition + block) * size_t(kSectorSize);
        if (le16(m_bytes, at) != 261)
            continue;
        ASSERT_EQ(checkTag(m_bytes, at, block), 261) << "entry at block " << block;
        ++entries;
        if (m_bytes[at + 16 + 11] != 4)
            continue;
        uint64_t size = le32(m_bytes, at + 56);
        uint32_t data = le32(m_bytes, at + 176 + 4);
        size_t dir = (kPartition + data) * size_t(kSectorSize);
        for (size_t p = 0; p < size;) {
            uint32_t location = data + static_cast<uint32_t>(p / kSectorSize);
            ASSERT_EQ(checkTag(m_bytes, dir + p, location), 257) << "identifier at byte " << p << " of block " << data;
            ++identifiers;
            p += (38 + le16(m_bytes, dir + p + 36) + m_bytes[dir + p + 19] + 3) / 4 * 4;
        }
    }
    EXPECT_EQ(entries, 3 + static_cast<int>(kSmallDisc.size()));
    EXPECT_EQ(identifiers, 5 + static_cast<int>(kSmallDisc.size())); // parents, AUDIO_TS, VIDEO_TS, files
}

TEST_F(Structures, PlacesWhereReadersAndPlayersLook) {
    EXPECT_TRUE(std::all_of(m_bytes.begin(), m_bytes.begin() + 16 * kSectorSize, [](uint8_t c) { return c == 0; }));
    EXPECT_EQ(std::memcmp(sector(16), "\1CD001\1", 7), 0);
    EXPECT_EQ(std::memcmp(sector(17),
                          "\xff"
                          "CD001\1",
                          7),
              0);
    EXPECT_EQ(std::memcmp(sector(18), "\0BEA01\1", 7), 0);
    EXPECT_EQ(std::memcmp(sector(19), "\0NSR02\1", 7), 0);
    EXPECT_EQ(std::memcmp(sector(20), "\0TEA01\1", 7), 0);
    // Volume size in both byte orders; the anchor points at both sequences.
    EXPECT_EQ(GetLe32(sector(16) + 80), m_image->SizeInSectors());
    EXPECT_EQ(GetBe32(sector(16) + 84), m_image->SizeInSectors());
    EXPECT_EQ(GetLe32(sector(256) + 20), 32u);
    EXPECT_EQ(GetLe32(sector(256) + 28), 48u);
    // The partition starts right after the anchor and ends before the closing one.
    EXPECT_EQ(GetLe32(sector(34) + 188), kPartition);
    EXPECT_EQ(GetLe32(sector(34) + 192), m_image->SizeInSectors() - 1 - kPartition);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sector(35) + 217), 19), "*OSTA UDF Compliant");
    EXPECT_EQ(GetLe16(sector(35) + 240), 0x0102u);
    EXPECT_EQ(GetLe32(sector(64) + 28), 1u) << "integrity closed";
    // Files: contiguous in the order given, each on its own sector, holding its bytes.
    uint64_t expected = m_image->FileSector(0);
    for (size_t i = 0; i < kSmallDisc.size(); ++i) {
        EXPECT_EQ(m_image->FileSector(i), expected) << kSmallDisc[i].first;
        EXPECT_EQ(sector(expected)[0], 'A' + i);
        EXPECT_EQ(sector(expected + kSmallDisc[i].second - 1)[kSectorSize - 1], 'A' + i);
        expected += kSmallDisc[i].second;
    }
    EXPECT_EQ(expected + 1, m_image->SizeInSectors());
    EXPECT_EQ(m_image->SizeInBytes(), m_image->SizeInSectors() * kSectorSize);
}

TEST_F(Structures, DatesCarryTheClockAndItsZone) {
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sector(16) + 813), 16), "2026120814301500");
    EXPECT_EQ(sector(16)[813 + 16], 4) << "UTC+1 in quarter hours";
    const uint8_t* stamp = sector(32) + 376;
    EXPECT_EQ(GetLe16(stamp), 0x1000u | 60u);
    EXPECT_EQ(GetLe16(stamp + 2), 2026u);
    EXPECT_EQ(std::vector<int>(stamp + 4, stamp + 9), (std::vector<int>{12, 8, 14, 30, 15}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sector(16) + 318), 8), "DE Veza ");
}

TEST_F(Structures, AFixedClockGivesIdenticalBytesAndAnotherTimeDoesNot) {
    std::string error;
    auto again = DvdVideoImage::FromFiles(m_image->Files(), TestDescriptor("Test Movie"), &error);
    ASSERT_TRUE(again);
    EXPECT_TRUE(ImageBytes(*again, 512) == m_bytes);
    ImageDescriptor later = TestDescriptor("Test Movie");
    later.localTime.tm_sec += 1;
    auto other = DvdVideoImage::FromFiles(m_image->Files(), later, &error);
    ASSERT_TRUE(other);
    EXPECT_FALSE(ImageBytes(*other) == m_bytes);
}

TEST_F(Structures, ReadsPastTheEndAreRefused) {
    std::vector<uint8_t> buffer(2 * kSectorSize);
    std::string error;
    EXPECT_TRUE(m_image->ReadSectors(m_image->SizeInSectors() - 1, 1, buffer.data(), &error));
    EXPECT_FALSE(m_image->ReadSectors(m_image->SizeInSectors() - 1, 2, buffer.data(), &error));
    EXPECT_NE(error.find("past the end"), std::string::npos);
    EXPECT_FALSE(m_image->ReadSectors(UINT64_MAX, 1, buffer.data(), &error));
}

TEST(Extents, AFileOfExactlyOneGibibyteTakesTwoContiguousExtents) {
    TempFolder temp;
    std::vector<ImageFile> files = stubFiles(temp.path(), kSmallDisc);
    fs::resize_file(files[3].path, uint64_t(1) << 30); // sparse
    files[3].size = uint64_t(1) << 30;
    std::string error;
    auto image = DvdVideoImage::FromFiles(files, TestDescriptor(), &error);
    ASSERT_TRUE(image) << error;
    Bytes head(image->FileSector(0) * kSectorSize);
    ASSERT_TRUE(image->ReadSectors(0, static_cast<uint32_t>(image->FileSector(0)), head.data(), &error));
    int found = 0;
    for (size_t at = 0; at < head.size(); at += kSectorSize) {
        if (le16(head, at) != 261 || GetLe32(head.data() + at + 56) != (1u << 30))
            continue;
        ++found;
        ASSERT_EQ(le32(head, at + 172), 16u) << "two short allocation descriptors";
        EXPECT_EQ(le32(head, at + 176), 0x3FFFF800u);
        EXPECT_EQ(le32(head, at + 184), 0x800u);
        EXPECT_EQ(le32(head, at + 180) + kPartition, image->FileSector(3));
        EXPECT_EQ(le32(head, at + 188), le32(head, at + 180) + 0x3FFFF800u / kSectorSize);
    }
    EXPECT_EQ(found, 1);
    UdfImage udf(*image);
    for (const UdfEntry& e : udf.Tree(false)) {
        if (e.path == "/VIDEO_TS/VTS_01_1.VOB") {
            EXPECT_EQ(e.size, uint64_t(1) << 30);
            EXPECT_EQ(e.sector, image->FileSector(3));
        }
    }
}

TEST(Label, IsoRuleUpperCasesAndReplacesOneUnderscorePerCharacter) {
    std::u32string label;
    ASSERT_TRUE(DecodeUtf8("My Movie 2: été", &label));
    EXPECT_EQ(IsoVolumeLabel(label), "MY_MOVIE_2___T_");
    ASSERT_TRUE(DecodeUtf8("abcdefghijklmnopqrstuvwxyz_01234", &label));
    EXPECT_EQ(IsoVolumeLabel(label), "ABCDEFGHIJKLMNOPQRSTUVWXYZ_01234");
    EXPECT_FALSE(DecodeUtf8("bad \xC3", &label));
    EXPECT_FALSE(DecodeUtf8("over\xC0\xAFlong", &label));
    EXPECT_FALSE(DecodeUtf8("tab\there", &label));
}

TEST(Label, UdfKeepsTheLabelInEightOrSixteenBitCharacters) {
    uint8_t field[128];
    std::u32string label;
    ASSERT_TRUE(DecodeUtf8("Été", &label));
    EXPECT_EQ(PutDString(field, sizeof field, label), 3u);
    EXPECT_EQ(std::vector<uint8_t>(field, field + 4), (std::vector<uint8_t>{8, 0xC9, 't', 0xE9}));
    EXPECT_EQ(field[127], 4);
    ASSERT_TRUE(DecodeUtf8("日本", &label));
    EXPECT_EQ(PutDString(field, sizeof field, label), 2u);
    EXPECT_EQ(std::vector<uint8_t>(field, field + 5), (std::vector<uint8_t>{16, 0x65, 0xE5, 0x67, 0x2C}));
    EXPECT_EQ(field[127], 5);
    // A 32-byte field holds 30 8-bit characters.
    ASSERT_TRUE(DecodeUtf8(std::string(32, 'x'), &label));
    EXPECT_EQ(PutDString(field, 32, label), 30u);
    EXPECT_EQ(field[31], 31);
}

TEST(Label, LongerThan32CharactersOrNotUtf8IsRefusedAndEmptyGetsADefault) {
    TempFolder temp;
    std::vector<ImageFile> files = stubFiles(temp.path(), kSmallDisc);
    std::string error;
    std::string thirtyTwo = "Ünïcödé ünïcödé ünïcödé ünïcödé!";
    EXPECT_TRUE(DvdVideoImage::FromFiles(files, TestDescriptor(thirtyTwo), &error)) << error;
    EXPECT_FALSE(DvdVideoImage::FromFiles(files, TestDescriptor(thirtyTwo + "x"), &error));
    EXPECT_NE(error.find("longer than 32 characters"), std::string::npos) << error;
    EXPECT_FALSE(DvdVideoImage::FromFiles(files, TestDescriptor("bad \xFF"), &error));
    auto image = DvdVideoImage::FromFiles(files, TestDescriptor(""), &error);
    ASSERT_TRUE(image);
    Bytes bytes = ImageBytes(*image);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 16 * kSectorSize + 40), 10), "DVD_VIDEO ");
}

} // namespace
