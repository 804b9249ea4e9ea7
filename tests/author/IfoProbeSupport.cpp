#include "IfoProbeSupport.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

uint32_t Be16(const Bytes& b, size_t offset) {
    if (offset + 2 > b.size())
        return 0xDEADBEEF;
    return (uint32_t(b[offset]) << 8) | b[offset + 1];
}

uint32_t Be32(const Bytes& b, size_t offset) {
    if (offset + 4 > b.size())
        return 0xDEADBEEF;
    return (uint32_t(b[offset]) << 24) | (uint32_t(b[offset + 1]) << 16) | (uint32_t(b[offset + 2]) << 8) |
           b[offset + 3];
}

Bytes Slice(const Bytes& b, size_t offset, size_t size) {
    if (offset >= b.size())
        return {};
    return Bytes(b.begin() + offset, b.begin() + std::min(b.size(), offset + size));
}

bool AllZero(const Bytes& b, size_t offset, size_t size) {
    Bytes part = Slice(b, offset, size);
    return part.size() == size && std::all_of(part.begin(), part.end(), [](unsigned char c) { return c == 0; });
}

Bytes ReadSector(const std::string& path, long long sector) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(sector * 2048);
    Bytes b(2048);
    in.read(reinterpret_cast<char*>(b.data()), 2048);
    b.resize(static_cast<size_t>(in.gcount()));
    return b;
}

std::vector<std::pair<std::string, Bytes>> ReadTree(const std::string& folder) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string relative = fs::relative(entry.path(), folder).string();
        if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            files.emplace_back(relative, Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
        } else {
            files.emplace_back(relative + "/", Bytes());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}
