#include "Status.h"

#include <cstring>

namespace qx {

std::string ErrnoText(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

} // namespace qx
