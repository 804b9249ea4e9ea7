#include "LogLine.h"

#include <cstring>

namespace qxlog {

bool DecodeRecord(const uint8_t* data, size_t size, Record& out, std::string* error) {
    if (size != kRecordSize || data == nullptr) {
        if (error)
            *error = "record of " + std::to_string(size) + " bytes, expected " + std::to_string(kRecordSize);
        return false;
    }
    const uint32_t level = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                           static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
    out.level = static_cast<int32_t>(level);
    const char* text = reinterpret_cast<const char*>(data + 4);
    const void* nul = std::memchr(text, 0, kTextSize);
    const size_t len = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : kTextSize;
    out.text.assign(text, len);
    return true;
}

std::string LevelTag(int32_t level) {
    switch (level) {
    case 0:
        return "INFO";
    case 1:
        return "FAIL";
    case 2:
        return "END";
    default:
        return "L" + std::to_string(level);
    }
}

std::string DisplayText(const std::string& text) {
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r'))
        --end;
    return text.substr(0, end);
}

std::string FileLine(const std::string& time, int32_t level, const std::string& text) {
    std::string tag = LevelTag(level);
    tag.resize(4, ' ');
    std::string line = time + " " + tag + " ";
    const std::string body = DisplayText(text);
    for (char c : body) {
        line += c;
        if (c == '\n')
            line += std::string(time.size() + 6, ' ');
    }
    line += '\n';
    return line;
}

} // namespace qxlog
