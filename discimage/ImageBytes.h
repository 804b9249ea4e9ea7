// Numbers as the two file systems store them: UDF little-endian, ISO 9660 in both byte orders, and the
// CRC of UDF descriptor tags.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qx::discimage {

inline void PutLe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLe32(std::uint8_t* p, std::uint32_t v) {
    PutLe16(p, v);
    PutLe16(p + 2, v >> 16);
}
inline void PutLe64(std::uint8_t* p, std::uint64_t v) {
    PutLe32(p, static_cast<std::uint32_t>(v));
    PutLe32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
inline void PutBe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
inline void PutBe32(std::uint8_t* p, std::uint32_t v) {
    PutBe16(p, v >> 16);
    PutBe16(p + 2, v);
}
// ISO 9660 "both-byte orders": little-endian copy first, big-endian copy after it.
inline void PutBoth16(std::uint8_t* p, std::uint32_t v) {
    PutLe16(p, v);
    PutBe16(p + 2, v);
}
inline void PutBoth32(std::uint8_t* p, std::uint32_t v) {
    PutLe32(p, v);
    PutBe32(p + 4, v);
}
inline std::uint32_t GetLe16(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8);
}
inline std::uint32_t GetLe32(const std::uint8_t* p) {
    return GetLe16(p) | (GetLe16(p + 2) << 16);
}
inline std::uint32_t GetBe16(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 8) | p[1];
}
inline std::uint32_t GetBe32(const std::uint8_t* p) {
    return (GetBe16(p) << 16) | GetBe16(p + 2);
}

// CRC-ITU-T: polynomial 0x1021, initial value 0, no reflection, no final inversion.
std::uint16_t Crc16Itu(const std::uint8_t* data, std::size_t size);

} // namespace qx::discimage
