#include "Registry.h"

#include "Folders.h"
#include "ProfileIni.h"

namespace qx {

std::string RegistryFile() {
    return ConfigFolder() + "registry.ini";
}

bool RegQueryString(const std::string& keyPath, const std::string& name, std::string* data, size_t maxBytes) {
    const std::string value = GetPrivateProfileString(keyPath, name, "", RegistryFile());
    if (value.empty() || value.size() > maxBytes) {
        return false;
    }
    *data = value;
    return true;
}

Status RegSetString(const std::string& keyPath, const std::string& name, const std::string& data) {
    return WritePrivateProfileString(keyPath, name, data, RegistryFile());
}

} // namespace qx
