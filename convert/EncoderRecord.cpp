#include "EncoderRecord.h"

#include <algorithm>

namespace qx {

bool PutRecordText(char* area, size_t areaSize, const std::string& text) {
    if (text.size() >= areaSize || text.find('\0') != std::string::npos)
        return false;
    std::memcpy(area, text.c_str(), text.size() + 1);
    return true;
}

bool GetRecordText(const char* area, size_t areaSize, std::string* text) {
    const void* end = std::memchr(area, '\0', areaSize);
    if (!end)
        return false;
    text->assign(area, static_cast<const char*>(end));
    return true;
}

std::string FitRecordText(const std::string& text, size_t areaSize) {
    if (areaSize == 0)
        return {};
    std::string fitted = text.substr(0, text.find('\0'));
    if (fitted.size() < areaSize)
        return fitted;
    const std::string mark = "...";
    size_t cut = areaSize - 1 - std::min(mark.size(), areaSize - 1);
    // Never split a UTF-8 character: step back over continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(fitted[cut]) & 0xC0) == 0x80)
        --cut;
    return fitted.substr(0, cut) + mark.substr(0, areaSize - 1 - cut);
}

} // namespace qx
