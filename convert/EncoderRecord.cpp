#include "EncoderRecord.h"

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

} // namespace qx
