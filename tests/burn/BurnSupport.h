// Shared by the burn tests: virtual writers, a data source of known bytes, and recorders of the
// engine's log lines and messages (the private folders and the application come from TestSupport.h).
#pragma once

#include "StarBurn.h"
#include "TestSupport.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace burntest {

using qxtest::DiscImageBytes;
using qxtest::EnsureApp;
using qxtest::FileExists;
using qxtest::FreshFolder;
using qxtest::ReadFile;
// Names in `folder` that start with `prefix`.
std::vector<std::string> FilesStartingWith(const std::string& folder, const std::string& prefix);

// One writers.ini section; empty keys are left out.
struct VirtualWriter {
    std::string name = "Virtual DVD-R";
    std::string image;
    std::string media = "5";
    std::string capacity = "2295104";
    std::string state = "blank";
    std::string speeds = "1385,2770,5540,11080,16620,22160";
    std::string fail = "none";
};
// Writes writers.ini into the configuration folder (replacing any earlier one).
void WriteWriters(const std::vector<VirtualWriter>& writers);
std::string WritersFile();

// Sectors whose bytes tell their number (sector 16 also carries an ISO 9660 signature, so the
// written image counts as a disc image); reading fails from `failAt` on.
class PatternTree : public StarBurnTree {
public:
    explicit PatternTree(uint64_t sectors, uint64_t failAt = UINT64_MAX) : m_sectors(sectors), m_failAt(failAt) {}
    uint64_t SizeInSectors() const override { return m_sectors; }
    bool ReadSectors(uint64_t first, uint32_t count, uint8_t* buffer, std::string* error) override;
    static bool SectorMatches(const uint8_t* sector, uint64_t number);

private:
    uint64_t m_sectors;
    uint64_t m_failAt;
};

// Collects lines from any thread.
class Lines {
public:
    void Add(const std::string& line);
    std::vector<std::string> All() const;
    bool Has(const std::string& line) const;
    // True when every item of `expected` appears, in this order (others may come between).
    bool InOrder(const std::vector<std::string>& expected) const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// Records the engine's messages of both channels while it lives.
class EngineMessages {
public:
    EngineMessages();
    ~EngineMessages();
    Lines status;      // channel 1
    Lines trace;       // channel 0
    Lines errorStatus; // channel 1, severity 3

private:
    int m_ids[2];
};

} // namespace burntest
