// Inside the burning library: the read-back check of a written track. While the track is written,
// each block of 16 sectors (a DVD's error-correction block, 32 KB) of the data handed to the drive
// gets a 64-bit fingerprint; afterwards the track is read back from the disc and every block's
// fingerprint taken again and compared. No copy of the track is kept: a block that differs is read
// once more from the track's source to name the first sector that differs and what was read there.
#pragma once

#include "StarBurn.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qx::starburn {

struct CallResult;
class ActiveDrive;

constexpr uint32_t kVerifyBlockSectors = 16;

// The fingerprint of block `block` of a track: seeded with the block's number, so that data read
// from the wrong place differs too.
uint64_t BlockHash(uint64_t block, const uint8_t* data, size_t bytes);

// Fingerprints of a track as it is written, one per block (the last block may be shorter).
class TrackHashes {
public:
    void Reset(uint64_t startSector);
    // The next sector of the track, in order.
    void AddSector(const uint8_t* sector);
    // Closes the last, shorter block.
    void Finish();
    uint64_t StartSector() const { return m_startSector; }
    uint64_t Sectors() const { return m_sectors; }
    const std::vector<uint64_t>& Blocks() const { return m_blocks; }

private:
    uint64_t m_startSector = 0;
    uint64_t m_sectors = 0;
    std::vector<uint64_t> m_blocks;
    std::vector<uint8_t> m_block; // the block being filled
    uint32_t m_fill = 0;          // its sectors so far
};

// Reads sectors of the disc back.
class SectorReader {
public:
    virtual ~SectorReader() = default;
    // Reads `count` sectors from disc sector `first`; `*got` says how many came whole. On a
    // failure the result says why (the text names no sector: the caller does).
    virtual CallResult Read(uint64_t first, uint32_t count, uint8_t* buffer, uint32_t* got) = 0;
};

struct VerifyJob {
    const TrackHashes* hashes = nullptr;
    SectorReader* reader = nullptr;
    StarBurnTree* tree = nullptr; // the written data, to name the sector that differs (may be null)
    ActiveDrive* active = nullptr;
    std::function<void(long event, void* p1, void* p2)> event; // CN_VERIFY_PROGRESS
    // Runs before each run of sectors is read, with the run's first sector relative to the track
    // (the test hooks act there).
    std::function<void(uint64_t sector)> beforeRead;
};

// Compares the whole track. EN_SUCCESS when every sector matches; EN_VERIFY_FAILURE naming the
// first sector that differs and what was read there; EN_READ_FAILURE naming the first sector that
// could not be read; EN_CANCELLED. `*firstBad` gets the disc sector at fault (UINT64_MAX if none).
CallResult VerifyTrack(const VerifyJob& job, uint64_t* firstBad);

// The test hooks of the read-back (TestHooks.h): QX_VERIFY_TEST_PACE_MS holds each run of sectors
// back, QX_VERIFY_TEST_SHORTEN_AT cuts a virtual writer's image at that percent of the track once
// the read-back gets there.
int VerifyPaceMs();
int VerifyShortenPercent(); // -1 when not set

} // namespace qx::starburn
