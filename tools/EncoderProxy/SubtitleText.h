// A subtitle file's bytes as UTF-8: UTF-8 (with or without its byte-order mark), UTF-16 with its
// mark, or a legacy code page guessed from the bytes. The choice is named for the log.
#pragma once

#include <cstddef>
#include <string>

namespace qx::enc {

// Subtitle files larger than this are not read (a 2-hour movie's file is well below 1 MiB).
constexpr size_t kMaxSubtitleFileBytes = 32u << 20;

struct SubtitleText {
    std::string utf8;
    std::string charset; // "UTF-8", "UTF-16LE", "UTF-16BE", "WINDOWS-1252", "WINDOWS-1251"
};

// Converts `bytes`; false (with the reason) when they cannot be turned into UTF-8.
bool DecodeSubtitleBytes(const std::string& bytes, SubtitleText* text, std::string* error);
// Reads and converts the file at `path`; false for an unreadable, empty or oversized file.
bool ReadSubtitleFile(const std::string& path, SubtitleText* text, std::string* error);

} // namespace qx::enc
