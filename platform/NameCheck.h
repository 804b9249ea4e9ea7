// Internal: names of kernel objects (locks, events) are kept to a safe alphabet.
#pragma once

#include <string>

namespace qx {

inline bool IsPlainObjectName(const std::string& name, size_t maxLength) {
    if (name.empty() || name.size() > maxLength || name == "." || name == "..")
        return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
                  c == '.';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace qx
