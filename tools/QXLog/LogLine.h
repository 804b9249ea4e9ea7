// What the log program receives and keeps: the 1028-byte record (32-bit little-endian level, then
// a zero-terminated text of 1024 bytes) and the line written to the log file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qxlog {

constexpr size_t kRecordSize = 1028;
constexpr size_t kTextSize = 1024;

struct Record {
    int32_t level = 0;
    std::string text; // up to the first NUL; all 1024 bytes when there is none
};

// Decodes the bytes of one copy-data message. False (with a reason) when the size is not 1028.
bool DecodeRecord(const uint8_t* data, size_t size, Record& out, std::string* error = nullptr);

// "INFO", "FAIL", "END" or "L<n>".
std::string LevelTag(int32_t level);

// The text without its trailing line breaks.
std::string DisplayText(const std::string& text);

// "<time> <tag> <text>\n" with continuation lines indented, so one record stays recognisable.
std::string FileLine(const std::string& time, int32_t level, const std::string& text);

} // namespace qxlog
