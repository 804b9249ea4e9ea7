#include "TerminalText.h"

#include <cstdio>

namespace qx::discimage {
namespace {

// Length of the valid UTF-8 sequence at `p` (at most `left` bytes), 0 when it is not one.
std::size_t sequenceLength(const unsigned char* p, std::size_t left, char32_t* character) {
    const unsigned char c = p[0];
    std::size_t more = 0;
    char32_t value = 0, min = 0;
    if (c < 0x80)
        return *character = c, 1;
    if (c >= 0xC2 && c <= 0xDF)
        more = 1, value = c & 0x1F, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF)
        more = 2, value = c & 0x0F, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4)
        more = 3, value = c & 0x07, min = 0x10000;
    else
        return 0;
    if (more >= left)
        return 0;
    for (std::size_t i = 1; i <= more; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (p[i] & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *character = value;
    return more + 1;
}

} // namespace

std::string PrintableText(const std::string& text, bool keepLineBreaks) {
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    char escaped[8];
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t length = sequenceLength(bytes + i, text.size() - i, &c);
        if (length == 0) {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", bytes[i]);
            out += escaped;
            ++i;
            continue;
        }
        if (c == '\n' && keepLineBreaks)
            out += '\n';
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(c));
            out += escaped;
        } else if (c >= 0x80 && c <= 0x9F) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

} // namespace qx::discimage
