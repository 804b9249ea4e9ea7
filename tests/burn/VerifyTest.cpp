// The read-back after a write, in the burning library: a sound virtual disc matches; a byte changed
// while writing (fail=corrupt:N) or afterwards is found in its sector with what was read there; an
// image that ends early is a read error at the first missing sector; and the real writers' read-back
// through libburn, on a stdio drive. (Whole burns with the test hooks, cancel included: EndToEndTest.)
#include "LibraryFixture.h"

#include "StarBurnDrive.h"
#include "TrackVerify.h"

#include <unistd.h>

#include <fstream>

using namespace burntest;
using namespace qx::starburn;

namespace {

class VerifyLibrary : public StarBurnLibrary {
protected:
    long Verify(StarBurnTree* tree) {
        return StarBurn_CdvdBurnerGrabber_VerifyTrack(m_handle, m_text, sizeof m_text, &m_status, tree, &m_bad);
    }
    // A virtual writer in a fresh folder, written with `sectors` pattern sectors.
    std::string WriteDisc(const std::string& folder, uint64_t sectors, const std::string& fail = "none") {
        VirtualWriter w;
        w.image = FreshFolder(folder) + "disc.iso";
        w.fail = fail;
        WriteWriters({w});
        EXPECT_TRUE(Open(1, Events::Callback, &m_events));
        m_tree = std::make_unique<PatternTree>(sectors);
        EXPECT_EQ(Write(m_tree.get()), EN_SUCCESS) << m_text;
        return w.image;
    }
    static void PokeByte(const std::string& image, uint64_t offset, char value) {
        std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(offset));
        f.put(value);
    }
    Events m_events;
    std::unique_ptr<PatternTree> m_tree;
    uint64_t m_bad = 0;
};

} // namespace

TEST(BlockHash, DependsOnEveryBitAndOnTheBlocksPlace) {
    std::vector<uint8_t> block(16 * 2048, 0x5A);
    const uint64_t base = BlockHash(7, block.data(), block.size());
    EXPECT_NE(BlockHash(8, block.data(), block.size()), base) << "the same bytes in another place";
    for (size_t at : {size_t{0}, size_t{1}, size_t{2047}, size_t{16 * 2048 - 1}}) {
        block[at] ^= 0x01;
        EXPECT_NE(BlockHash(7, block.data(), block.size()), base) << at;
        block[at] ^= 0x01;
    }
    EXPECT_EQ(BlockHash(7, block.data(), block.size()), base);
    EXPECT_NE(BlockHash(7, block.data(), 2048), base) << "a shorter last block";
}

TEST_F(VerifyLibrary, ASoundDiscMatchesAndTheProgressReachesTheWholeTrack) {
    WriteDisc("sound", 1000);
    m_events.order.clear();
    ASSERT_EQ(Verify(m_tree.get()), EN_SUCCESS) << m_text;
    EXPECT_EQ(m_bad, UINT64_MAX);
    ASSERT_FALSE(m_events.order.empty());
    EXPECT_EQ(m_events.order.front(), CN_VERIFY_PROGRESS);
    EXPECT_EQ(m_events.total, 1000 * 2048);
    EXPECT_EQ(m_events.done, 1000 * 2048);
    // Without the data written at hand the check still holds: the fingerprints were taken while writing.
    EXPECT_EQ(Verify(nullptr), EN_SUCCESS) << m_text;

    // A handle that wrote nothing has nothing to compare.
    ASSERT_TRUE(Open(1));
    EXPECT_EQ(Verify(m_tree.get()), EN_INVALID_PARAMETER);
}

TEST_F(VerifyLibrary, InjectedCorruptionIsFoundAtItsSectorWithWhatWasRead) {
    const std::string image = WriteDisc("corrupt", 1000, "corrupt:50");
    ASSERT_EQ(Verify(m_tree.get()), EN_VERIFY_FAILURE);
    EXPECT_EQ(m_bad, 500u);
    std::vector<uint8_t> expected(2048);
    std::string error;
    ASSERT_TRUE(m_tree->ReadSectors(500, 1, expected.data(), &error));
    const size_t at = 500 * 131 % 2048;
    char text[256];
    std::snprintf(text, sizeof text,
                  "sector 500 does not read back as it was written: byte %zu reads 0x%02x where 0x%02x was written "
                  "(1 of its 2048 bytes differ)",
                  at, static_cast<uint8_t>(expected[at] ^ 0xFF), expected[at]);
    EXPECT_STREQ(m_text, text);
    const std::string data = ReadFile(image);
    EXPECT_EQ(static_cast<uint8_t>(data[500 * 2048 + at]), expected[at] ^ 0xFF);

    // Without the data written the block is named.
    EXPECT_EQ(Verify(nullptr), EN_VERIFY_FAILURE);
    EXPECT_STREQ(m_text, "sectors 496 to 511 do not read back as they were written");
    EXPECT_EQ(m_bad, 496u);
}

TEST_F(VerifyLibrary, AChangeAfterTheWriteAndAShortImageAreFound) {
    const std::string image = WriteDisc("changed", 1000);
    PokeByte(image, 999 * 2048 + 7, 'X'); // the last sector, in the last (shorter) block
    PokeByte(image, 123 * 2048 + 20, 'Y');
    ASSERT_EQ(Verify(m_tree.get()), EN_VERIFY_FAILURE);
    EXPECT_EQ(m_bad, 123u) << "the first bad sector, not the last";
    EXPECT_EQ(std::string(m_text).rfind("sector 123 does not read back as it was written: byte 20 reads 0x59", 0), 0u)
        << m_text;

    ASSERT_EQ(truncate(image.c_str(), 600 * 2048 + 100), 0);
    ASSERT_EQ(Verify(m_tree.get()), EN_VERIFY_FAILURE) << "the sector that differs comes before the end";
    EXPECT_EQ(m_bad, 123u);
    PokeByte(image, 123 * 2048 + 20, static_cast<char>(123)); // the pattern's byte again
    ASSERT_EQ(Verify(m_tree.get()), EN_READ_FAILURE) << m_text;
    EXPECT_EQ(m_bad, 600u);
    EXPECT_EQ(std::string(m_text),
              "sector 600 could not be read back: nothing: the disc image " + image + " ends after 600 sectors");
}

// A real writer's read-back goes through libburn; a stdio drive on a file takes the disc's place.
TEST_F(VerifyLibrary, ARealWritersReadBackGoesThroughLibburn) {
    const std::string image = FreshFolder("real") + "disc.iso";
    PatternTree tree(700);
    std::vector<uint8_t> data(700 * 2048);
    std::string error;
    ASSERT_TRUE(tree.ReadSectors(0, 700, data.data(), &error));
    {
        std::ofstream out(image, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    TrackHashes hashes;
    hashes.Reset(0);
    for (size_t s = 0; s < 700; ++s) {
        hashes.AddSector(data.data() + s * 2048);
    }
    hashes.Finish();
    auto drive = MakeRealDrive("stdio:" + image);
    auto check = [&](uint64_t* bad) {
        std::unique_ptr<SectorReader> reader;
        const CallResult opened = drive->OpenReader(0, 700, &reader);
        if (opened.code != EN_SUCCESS) {
            return opened;
        }
        VerifyJob job;
        job.hashes = &hashes;
        job.reader = reader.get();
        job.tree = &tree;
        return VerifyTrack(job, bad);
    };
    uint64_t bad = 0;
    CallResult r = check(&bad);
    ASSERT_EQ(r.code, EN_SUCCESS) << r.text;
    std::fstream(image, std::ios::in | std::ios::out | std::ios::binary).seekp(650 * 2048 + 3).put('Z');
    r = check(&bad);
    EXPECT_EQ(r.code, EN_VERIFY_FAILURE) << r.text;
    EXPECT_EQ(bad, 650u);
    ASSERT_EQ(truncate(image.c_str(), 300 * 2048), 0);
    r = check(&bad);
    EXPECT_EQ(r.code, EN_READ_FAILURE) << r.text << " " << bad;
    EXPECT_EQ(bad, 300u);
}
