// File names made printable for a terminal: byte 0 chooses whether line breaks are kept, the rest is
// the name. Whatever the bytes, the printed text must be valid UTF-8 without a control character
// (but the kept line breaks), and a name that already was printable must come back unchanged.
#include "DiscText.h"
#include "FuzzSupport.h"
#include "TerminalText.h"

#include <string>

namespace {

// Valid UTF-8 without C0, DEL or C1 characters, between the `allowed` ones (each piece on its own, so
// that a sequence cut by an allowed character is not mended by leaving that character out).
bool printable(const std::string& text, char allowed) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = allowed ? text.find(allowed, start) : std::string::npos;
        if (end == std::string::npos)
            end = text.size();
        std::u32string characters;
        if (!qx::discimage::DecodeUtf8(text.substr(start, end - start), &characters))
            return false;
        for (char32_t c : characters)
            if (c >= 0x80 && c <= 0x9F)
                return false;
        start = end + 1;
    }
    return true;
}

} // namespace

int QxFuzzPrintableText(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const bool keepLineBreaks = data[0] & 1;
    const std::string name(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string printed = qx::discimage::PrintableText(name, keepLineBreaks);
    QX_FUZZ_CHECK(printable(printed, keepLineBreaks ? '\n' : '\0'));
    if (printable(name, keepLineBreaks ? '\n' : '\0') && name.find('\0') == std::string::npos)
        QX_FUZZ_CHECK(printed == name);
    return 0;
}
