// Writers of the ISO 9660 side of the bridge: primary volume descriptor, terminator, path tables and
// directory extents whose file records point at the same extents as the UDF file entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace qx::discimage {

struct IsoRecord {
    std::string name; // "VIDEO_TS", "VIDEO_TS.IFO;1"; "\0" for the directory itself, "\1" for its parent
    bool directory = false;
    std::uint32_t sector = 0;
    std::uint32_t size = 0;
};

// Sectors a directory extent of `records` needs (records never cross a sector boundary).
std::uint32_t IsoDirectorySectors(const std::vector<IsoRecord>& records);
// The extent itself, IsoDirectorySectors(records) sectors long.
std::vector<std::uint8_t> IsoDirectory(const std::vector<IsoRecord>& records, const std::tm& time);

struct IsoPathEntry {
    std::string name; // "\0" for the root
    std::uint32_t sector = 0;
    std::uint16_t parent = 1; // 1-based number of the parent directory in the table
};
// One path table in little-endian (type L) or big-endian (type M) order; its size is the same for both.
std::vector<std::uint8_t> IsoPathTable(const std::vector<IsoPathEntry>& entries, bool bigEndian);

struct IsoVolume {
    std::string volumeId;  // d-characters, at most 32
    std::string publisher; // a-characters
    std::string preparer;
    std::tm time{};
    std::uint32_t sectors = 0;
    std::uint32_t pathTableSize = 0;
    std::uint32_t pathTableL = 0;
    std::uint32_t pathTableM = 0;
    IsoRecord root;
};
void WriteIsoPrimary(std::uint8_t* out, const IsoVolume& volume);
void WriteIsoTerminator(std::uint8_t* out);
// A volume recognition descriptor ("BEA01", "NSR02", "TEA01").
void WriteRecognition(std::uint8_t* out, const char* identifier);

} // namespace qx::discimage
