// Private-profile (INI) files with the classic semantics:
//  - "[section]" headers and "key=value" lines; names are compared case-insensitively and with
//    surrounding blanks ignored; the first matching section and key win;
//  - a value is read without surrounding blanks, and one pair of matching quotes ('...' or "...")
//    around it is removed;
//  - a missing file, section or key reads as the default;
//  - a write creates the file (and missing parent folders), the section and the key as needed and
//    keeps every other line byte for byte, including comments (';', '#') and malformed lines,
//    which are otherwise ignored; the file is replaced atomically (temporary file + rename), so a
//    failed write (full disk) leaves the old file as it was;
//  - a value holds at most 255 characters (UTF-8 code points) and no line break: a longer value is
//    refused with an error, never cut. A hand-edited longer value is read whole.
#pragma once

#include "Status.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace qx {

constexpr size_t kProfileMaxValueChars = 255;

// Returns the value of `key` in `section` of `file`, or `def` when the file, section or key is
// missing or the value is empty. `*length` (if given) receives the length in bytes of the result;
// `*error` (if given) receives why the file could not be read (empty when it was read or is missing).
std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& def,
                                    const std::string& file, size_t* length = nullptr, std::string* error = nullptr);

// The value read as by GetPrivateProfileString and converted like atoi (optional sign, leading
// digits, clamped to int; no digits gives 0). A missing or empty value gives `def`.
int GetPrivateProfileInt(const std::string& section, const std::string& key, int def, const std::string& file);

// Sets `key` in `section` to `value`, creating what is missing. A value with leading or trailing
// blanks, or enclosed in quotes, is written quoted so that it reads back unchanged.
Status WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                                 const std::string& file);

// Removes `key` from `section` (success when it was not there).
Status DeletePrivateProfileKey(const std::string& section, const std::string& key, const std::string& file);

// Section names in file order; keys and values of the first matching section in file order.
std::vector<std::string> GetPrivateProfileSectionNames(const std::string& file);
std::vector<std::pair<std::string, std::string>> GetPrivateProfileSection(const std::string& section,
                                                                          const std::string& file);

} // namespace qx
