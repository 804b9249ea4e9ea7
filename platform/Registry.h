// The machine-wide registry the program consults, kept as an INI file: one section per key path
// ("[SOFTWARE\ahead\Shared]"), one "name=data" line per string value. Lives at
// $XDG_CONFIG_HOME/qxmoviedisc/registry.ini and follows the profile-file rules (case-insensitive
// names, every other line kept on a write).
#pragma once

#include "Status.h"

#include <cstddef>
#include <string>

namespace qx {

std::string RegistryFile();

// The string value `name` of key `keyPath`. False when the file, key or value is missing, empty,
// or longer than `maxBytes` (a value that does not fit is not read, never cut).
bool RegQueryString(const std::string& keyPath, const std::string& name, std::string* data, size_t maxBytes = 255);

// Sets the string value, creating the file and key as needed.
Status RegSetString(const std::string& keyPath, const std::string& name, const std::string& data);

} // namespace qx
