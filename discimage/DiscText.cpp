#include "DiscText.h"

#include <cstring>

namespace qx::discimage {

bool DecodeUtf8(const std::string& text, std::u32string* characters) {
    characters->clear();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        char32_t c = *p++;
        int more = 0;
        char32_t min = 0;
        if (c >= 0xF0 && c <= 0xF4) {
            more = 3, c &= 0x07, min = 0x10000;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2, c &= 0x0F, min = 0x800;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1, c &= 0x1F, min = 0x80;
        } else if (c >= 0x80) {
            return false;
        }
        for (int i = 0; i < more; ++i) {
            if (p == end || (*p & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (*p++ & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || c < 0x20 || c == 0x7F)
            return false;
        characters->push_back(c);
    }
    return true;
}

std::string IsoVolumeLabel(const std::u32string& label) {
    std::string out;
    for (char32_t c : label) {
        if (out.size() == kMaxLabelCharacters)
            break;
        if (c >= 'a' && c <= 'z')
            out += static_cast<char>(c - 'a' + 'A');
        else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')
            out += static_cast<char>(c);
        else
            out += '_';
    }
    return out;
}

std::string IsoText(const std::u32string& text) {
    std::string out;
    for (char32_t c : text)
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '_';
    return out;
}

std::size_t PutDString(std::uint8_t* field, std::size_t fieldSize, const std::u32string& text) {
    std::memset(field, 0, fieldSize);
    if (text.empty() || fieldSize < 3)
        return 0;
    bool wide = false;
    for (char32_t c : text)
        wide = wide || c > 0xFF;
    const std::size_t width = wide ? 2 : 1;
    const std::size_t room = (fieldSize - 2) / width;
    std::size_t count = text.size() < room ? text.size() : room;
    field[0] = wide ? 16 : 8;
    for (std::size_t i = 0; i < count; ++i) {
        // Characters beyond the basic plane have no 16-bit form here.
        char32_t c = text[i] > 0xFFFF ? U'_' : text[i];
        if (wide) {
            field[1 + 2 * i] = static_cast<std::uint8_t>(c >> 8);
            field[2 + 2 * i] = static_cast<std::uint8_t>(c);
        } else {
            field[1 + i] = static_cast<std::uint8_t>(c);
        }
    }
    field[fieldSize - 1] = static_cast<std::uint8_t>(1 + width * count);
    return count;
}

std::size_t PutCs0Name(std::uint8_t* field, const std::string& name) {
    field[0] = 8;
    std::memcpy(field + 1, name.data(), name.size());
    return 1 + name.size();
}

} // namespace qx::discimage
