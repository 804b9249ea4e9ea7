#include "TestSupport.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace qxtest {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

std::string DiscImageBytes(size_t bytes, char fill) {
    std::string image(std::max<size_t>(bytes, 17 * 2048), fill);
    image.replace(16 * 2048, 7,
                  "\x01"
                  "CD001"
                  "\x01");
    return image;
}

} // namespace qxtest
