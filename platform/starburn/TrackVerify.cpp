#include "TrackVerify.h"

#include "StarBurnDrive.h"
#include "TestHooks.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace qx::starburn {

namespace {

constexpr uint32_t kSectorBytes = 2048;
constexpr uint32_t kBlockBytes = kVerifyBlockSectors * kSectorBytes;
constexpr uint32_t kRunBlocks = 32; // 1 MB read back at a time

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ULL;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ULL;

uint64_t Rotl(uint64_t x, int r) {
    return (x << r) | (x >> (64 - r));
}

uint64_t Round(uint64_t acc, uint64_t input) {
    return Rotl(acc + input * kPrime2, 31) * kPrime1;
}

uint64_t Word(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

std::string SectorText(uint64_t sector) {
    return "sector " + std::to_string(sector);
}

} // namespace

// Four independent lanes of multiply-rotate rounds over 64-bit words (fast enough that the
// read-back, not the hashing, sets the pace), folded and mixed at the end.
uint64_t BlockHash(uint64_t block, const uint8_t* data, size_t bytes) {
    uint64_t v1 = block + kPrime1 + kPrime2, v2 = block + kPrime2, v3 = block, v4 = block - kPrime1;
    size_t at = 0;
    for (; at + 32 <= bytes; at += 32) {
        v1 = Round(v1, Word(data + at));
        v2 = Round(v2, Word(data + at + 8));
        v3 = Round(v3, Word(data + at + 16));
        v4 = Round(v4, Word(data + at + 24));
    }
    uint64_t h = Rotl(v1, 1) + Rotl(v2, 7) + Rotl(v3, 12) + Rotl(v4, 18);
    for (uint64_t v : {v1, v2, v3, v4}) {
        h = (h ^ Round(0, v)) * kPrime1 + kPrime4;
    }
    for (; at < bytes; ++at) {
        h = Rotl(h ^ (data[at] * kPrime3), 11) * kPrime1;
    }
    h += bytes;
    h ^= h >> 33;
    h *= kPrime2;
    h ^= h >> 29;
    h *= kPrime3;
    h ^= h >> 32;
    return h;
}

void TrackHashes::Reset(uint64_t startSector) {
    m_startSector = startSector;
    m_sectors = 0;
    m_blocks.clear();
    m_block.resize(kBlockBytes);
    m_fill = 0;
}

void TrackHashes::AddSector(const uint8_t* sector) {
    if (m_block.size() != kBlockBytes) {
        m_block.resize(kBlockBytes);
    }
    std::memcpy(m_block.data() + static_cast<size_t>(m_fill) * kSectorBytes, sector, kSectorBytes);
    ++m_sectors;
    if (++m_fill == kVerifyBlockSectors) {
        m_blocks.push_back(BlockHash(m_blocks.size(), m_block.data(), kBlockBytes));
        m_fill = 0;
    }
}

void TrackHashes::Finish() {
    if (m_fill > 0) {
        m_blocks.push_back(BlockHash(m_blocks.size(), m_block.data(), static_cast<size_t>(m_fill) * kSectorBytes));
        m_fill = 0;
    }
}

int VerifyPaceMs() {
    const int ms = std::atoi(qx::hooks::Value("QX_VERIFY_TEST_PACE_MS").c_str());
    return ms > 0 && ms <= 1000 ? ms : 0;
}

int VerifyShortenPercent() {
    const std::string value = qx::hooks::Value("QX_VERIFY_TEST_SHORTEN_AT");
    if (value.empty()) {
        return -1;
    }
    const int percent = std::atoi(value.c_str());
    return percent >= 0 && percent <= 100 ? percent : -1;
}

namespace {

// Names the first sector of block `block` (track sectors `first` .. `first + count - 1`, read back
// into `read`) that differs from the data written, and what was read there.
CallResult DescribeMismatch(const VerifyJob& job, uint64_t block, uint64_t first, uint32_t count, const uint8_t* read,
                            uint64_t* firstBad) {
    const uint64_t start = job.hashes->StartSector();
    const std::string blockText =
        "sectors " + std::to_string(start + first) + " to " + std::to_string(start + first + count - 1);
    *firstBad = start + first;
    if (!job.tree) {
        return CallResult::Fail(EN_VERIFY_FAILURE, blockText + " do not read back as they were written");
    }
    std::vector<uint8_t> written(static_cast<size_t>(count) * kSectorBytes);
    std::string error;
    if (!job.tree->ReadSectors(first, count, written.data(), &error)) {
        return CallResult::Fail(EN_VERIFY_FAILURE, blockText + " do not read back as they were written (the data " +
                                                       "written could not be read again: " + error + ")");
    }
    if (BlockHash(block, written.data(), written.size()) != job.hashes->Blocks()[block]) {
        return CallResult::Fail(EN_VERIFY_FAILURE, blockText + " do not read back as they were written, and the " +
                                                       "data they were written from has changed since");
    }
    for (uint32_t s = 0; s < count; ++s) {
        const uint8_t* got = read + static_cast<size_t>(s) * kSectorBytes;
        const uint8_t* want = written.data() + static_cast<size_t>(s) * kSectorBytes;
        if (std::memcmp(got, want, kSectorBytes) == 0) {
            continue;
        }
        uint32_t differing = 0, firstByte = kSectorBytes;
        for (uint32_t i = 0; i < kSectorBytes; ++i) {
            if (got[i] != want[i]) {
                ++differing;
                firstByte = std::min(firstByte, i);
            }
        }
        *firstBad = start + first + s;
        char text[256];
        std::snprintf(text, sizeof text,
                      "%s does not read back as it was written: byte %u reads 0x%02x where 0x%02x was written (%u of "
                      "its 2048 bytes differ)",
                      SectorText(*firstBad).c_str(), firstByte, got[firstByte], want[firstByte], differing);
        return CallResult::Fail(EN_VERIFY_FAILURE, text);
    }
    return CallResult::Fail(EN_VERIFY_FAILURE, blockText + " do not read back as they were written");
}

} // namespace

CallResult VerifyTrack(const VerifyJob& job, uint64_t* firstBad) {
    *firstBad = UINT64_MAX;
    const TrackHashes& hashes = *job.hashes;
    const uint64_t sectors = hashes.Sectors();
    int64_t total = static_cast<int64_t>(sectors) * kSectorBytes;
    int64_t done = 0;
    auto progress = [&] {
        if (job.event) {
            job.event(CN_VERIFY_PROGRESS, &total, &done);
        }
    };
    progress();
    const int paceMs = VerifyPaceMs();
    std::vector<uint8_t> buffer(static_cast<size_t>(kRunBlocks) * kBlockBytes);
    for (uint64_t block = 0; block < hashes.Blocks().size(); block += kRunBlocks) {
        if (job.active && job.active->CancelRequested()) {
            return CallResult::Fail(EN_CANCELLED, "cancelled");
        }
        if (paceMs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(paceMs));
        }
        const uint64_t first = block * kVerifyBlockSectors;
        const uint32_t count = static_cast<uint32_t>(
            std::min<uint64_t>(static_cast<uint64_t>(kRunBlocks) * kVerifyBlockSectors, sectors - first));
        uint32_t got = 0;
        const CallResult read = job.reader->Read(hashes.StartSector() + first, count, buffer.data(), &got);
        got = std::min(got, count);
        // Whole blocks that came are compared first: a sector that differs before the one that could
        // not be read is the first fault.
        for (uint32_t at = 0; at < got; at += kVerifyBlockSectors) {
            const uint32_t n = std::min(kVerifyBlockSectors, count - at);
            const uint64_t index = block + at / kVerifyBlockSectors;
            const uint8_t* data = buffer.data() + static_cast<size_t>(at) * kSectorBytes;
            if (at + n <= got) {
                if (BlockHash(index, data, static_cast<size_t>(n) * kSectorBytes) != hashes.Blocks()[index]) {
                    return DescribeMismatch(job, index, first + at, n, data, firstBad);
                }
            } else if (job.tree) {
                // The sectors of a block cut short by a read error, one by one against the data written.
                std::vector<uint8_t> written(static_cast<size_t>(got - at) * kSectorBytes);
                std::string error;
                if (job.tree->ReadSectors(first + at, got - at, written.data(), &error) &&
                    std::memcmp(written.data(), data, written.size()) != 0) {
                    return DescribeMismatch(job, index, first + at, got - at, data, firstBad);
                }
            }
        }
        if (read.code == EN_CANCELLED) {
            return read;
        }
        if (read.code != EN_SUCCESS || got < count) {
            *firstBad = hashes.StartSector() + first + got;
            return CallResult::Fail(EN_READ_FAILURE,
                                    SectorText(*firstBad) + " could not be read back: " +
                                        (read.text.empty() ? std::string("the drive returned no data") : read.text),
                                    read.status);
        }
        done = static_cast<int64_t>(first + count) * kSectorBytes;
        progress();
    }
    return {};
}

} // namespace qx::starburn
