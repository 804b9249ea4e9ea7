// Reading fields of authored files in tests, independently of the engine's own byte helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

uint32_t Be16(const Bytes& b, size_t offset);
uint32_t Be32(const Bytes& b, size_t offset);
Bytes Slice(const Bytes& b, size_t offset, size_t size);
bool AllZero(const Bytes& b, size_t offset, size_t size);

// One navigation pack of a VOB file (2048 bytes at sector `sector`).
Bytes ReadSector(const std::string& path, long long sector);

// Every file of a folder tree by relative path, with its bytes.
std::vector<std::pair<std::string, Bytes>> ReadTree(const std::string& folder);
