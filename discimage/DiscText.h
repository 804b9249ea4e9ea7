// Texts of the volume: the label rules of both file systems and OSTA compressed unicode (CS0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qx::discimage {

constexpr std::size_t kMaxLabelCharacters = 32;

// Characters of UTF-8 `text`; false when it is not valid UTF-8 or holds a NUL or control character.
bool DecodeUtf8(const std::string& text, std::u32string* characters);

// The ISO 9660 volume identifier for a label: letters upper-cased, digits and '_' kept, every other
// character (one per character, not per byte) becomes '_', at most 32 characters.
std::string IsoVolumeLabel(const std::u32string& label);

// `text` as ISO 9660 a-characters for the publisher and preparer fields: printable ASCII kept, every
// other character '_'.
std::string IsoText(const std::u32string& text);

// Writes `text` as a CS0 dstring of `fieldSize` bytes (compression id, characters, length in the last
// byte): 8-bit characters when every character is below U+0100, else 16-bit big-endian. Characters past
// what the field holds are left off; returns how many characters were written. Empty text leaves zeros.
std::size_t PutDString(std::uint8_t* field, std::size_t fieldSize, const std::u32string& text);

// A CS0 file identifier (compression id 8, then the bytes, no length byte) for an ASCII `name`;
// returns its length.
std::size_t PutCs0Name(std::uint8_t* field, const std::string& name);

} // namespace qx::discimage
