// Big-endian numbers in information files and navigation packs, and a growable zero-filled table
// builder that tables are assembled in before they are written sector-aligned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline void IfoPut8(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
}
inline void IfoPut16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void IfoPut32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
inline uint32_t IfoGet16(const uint8_t* p) {
    return (uint32_t(p[0]) << 8) | p[1];
}
inline uint32_t IfoGet32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

constexpr int DVD_SECTOR = 2048;

// Sectors needed for `bytes` bytes.
inline uint32_t IfoSectors(size_t bytes) {
    return static_cast<uint32_t>((bytes + DVD_SECTOR - 1) / DVD_SECTOR);
}

// A table under construction: grows with zeros as fields are written beyond its end.
class IfoTable {
public:
    uint8_t* at(size_t offset, size_t width) {
        if (offset + width > m_bytes.size())
            m_bytes.resize(offset + width, 0);
        return m_bytes.data() + offset;
    }
    void put8(size_t offset, uint32_t v) { IfoPut8(at(offset, 1), v); }
    void put16(size_t offset, uint32_t v) { IfoPut16(at(offset, 2), v); }
    void put32(size_t offset, uint32_t v) { IfoPut32(at(offset, 4), v); }
    void append(const uint8_t* data, size_t size) { m_bytes.insert(m_bytes.end(), data, data + size); }
    size_t size() const { return m_bytes.size(); }
    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};
