#include "IsoDescriptors.h"

#include "DvdVideoImage.h"
#include "ImageBytes.h"

#include <cstdio>
#include <cstring>

namespace qx::discimage {
namespace {

std::size_t recordSize(const IsoRecord& r) {
    std::size_t size = 33 + r.name.size();
    return size + (size & 1);
}

int zoneQuarters(const std::tm& time) {
    long quarters = time.tm_gmtoff / 900;
    return quarters >= -48 && quarters <= 52 ? static_cast<int>(quarters) : 0;
}

int clampField(int value, int low, int high) {
    return value < low ? low : value > high ? high : value;
}

void putRecord(std::uint8_t* p, const IsoRecord& r, const std::tm& t) {
    p[0] = static_cast<std::uint8_t>(recordSize(r));
    PutBoth32(p + 2, r.sector);
    PutBoth32(p + 10, r.size);
    p[18] = static_cast<std::uint8_t>(clampField(t.tm_year, 0, 255));
    p[19] = static_cast<std::uint8_t>(clampField(t.tm_mon + 1, 1, 12));
    p[20] = static_cast<std::uint8_t>(clampField(t.tm_mday, 1, 31));
    p[21] = static_cast<std::uint8_t>(clampField(t.tm_hour, 0, 23));
    p[22] = static_cast<std::uint8_t>(clampField(t.tm_min, 0, 59));
    p[23] = static_cast<std::uint8_t>(clampField(t.tm_sec, 0, 59));
    p[24] = static_cast<std::uint8_t>(static_cast<std::int8_t>(zoneQuarters(t)));
    p[25] = r.directory ? 2 : 0;
    PutBoth16(p + 28, 1);
    p[32] = static_cast<std::uint8_t>(r.name.size());
    std::memcpy(p + 33, r.name.data(), r.name.size());
}

// A padded text field (space-filled).
void putText(std::uint8_t* p, std::size_t size, const std::string& text) {
    std::memset(p, ' ', size);
    std::memcpy(p, text.data(), text.size() < size ? text.size() : size);
}

// "YYYYMMDDHHMMSScc" and the zone in quarter hours.
void putLongDate(std::uint8_t* p, const std::tm& t) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d00", clampField(t.tm_year + 1900, 1, 9999),
                  clampField(t.tm_mon + 1, 1, 12), clampField(t.tm_mday, 1, 31), clampField(t.tm_hour, 0, 23),
                  clampField(t.tm_min, 0, 59), clampField(t.tm_sec, 0, 59));
    std::memcpy(p, digits, 16);
    p[16] = static_cast<std::uint8_t>(static_cast<std::int8_t>(zoneQuarters(t)));
}

void putUnsetDate(std::uint8_t* p) {
    std::memset(p, '0', 16);
    p[16] = 0;
}

} // namespace

std::uint32_t IsoDirectorySectors(const std::vector<IsoRecord>& records) {
    std::uint32_t sectors = 1;
    std::size_t used = 0;
    for (const IsoRecord& r : records) {
        if (used + recordSize(r) > kSectorSize) {
            ++sectors;
            used = 0;
        }
        used += recordSize(r);
    }
    return sectors;
}

std::vector<std::uint8_t> IsoDirectory(const std::vector<IsoRecord>& records, const std::tm& time) {
    std::vector<std::uint8_t> bytes(std::size_t(IsoDirectorySectors(records)) * kSectorSize, 0);
    std::size_t at = 0;
    for (const IsoRecord& r : records) {
        if (at % kSectorSize + recordSize(r) > kSectorSize)
            at = (at / kSectorSize + 1) * kSectorSize;
        putRecord(bytes.data() + at, r, time);
        at += recordSize(r);
    }
    return bytes;
}

std::vector<std::uint8_t> IsoPathTable(const std::vector<IsoPathEntry>& entries, bool bigEndian) {
    std::vector<std::uint8_t> bytes;
    for (const IsoPathEntry& e : entries) {
        std::size_t at = bytes.size();
        bytes.resize(at + 8 + e.name.size() + (e.name.size() & 1), 0);
        std::uint8_t* p = bytes.data() + at;
        p[0] = static_cast<std::uint8_t>(e.name.size());
        if (bigEndian) {
            PutBe32(p + 2, e.sector);
            PutBe16(p + 6, e.parent);
        } else {
            PutLe32(p + 2, e.sector);
            PutLe16(p + 6, e.parent);
        }
        std::memcpy(p + 8, e.name.data(), e.name.size());
    }
    return bytes;
}

void WriteIsoPrimary(std::uint8_t* out, const IsoVolume& v) {
    std::memset(out, 0, kSectorSize);
    out[0] = 1;
    std::memcpy(out + 1, "CD001", 5);
    out[6] = 1;
    putText(out + 8, 32, "");
    putText(out + 40, 32, v.volumeId);
    PutBoth32(out + 80, v.sectors);
    PutBoth16(out + 120, 1);
    PutBoth16(out + 124, 1);
    PutBoth16(out + 128, kSectorSize);
    PutBoth32(out + 132, v.pathTableSize);
    PutLe32(out + 140, v.pathTableL);
    PutBe32(out + 148, v.pathTableM);
    putRecord(out + 156, v.root, v.time);
    putText(out + 190, 128, v.volumeId);
    putText(out + 318, 128, v.publisher);
    putText(out + 446, 128, v.preparer);
    putText(out + 574, 128, "QX MOVIE DISC");
    putText(out + 702, 37, "");
    putText(out + 739, 37, "");
    putText(out + 776, 37, "");
    putLongDate(out + 813, v.time);
    putLongDate(out + 830, v.time);
    putUnsetDate(out + 847);
    putLongDate(out + 864, v.time);
    out[881] = 1;
}

void WriteIsoTerminator(std::uint8_t* out) {
    std::memset(out, 0, kSectorSize);
    out[0] = 255;
    std::memcpy(out + 1, "CD001", 5);
    out[6] = 1;
}

void WriteRecognition(std::uint8_t* out, const char* identifier) {
    std::memset(out, 0, kSectorSize);
    std::memcpy(out + 1, identifier, 5);
    out[6] = 1;
}

} // namespace qx::discimage
