#include "SubtitleText.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qx::enc {
namespace {

bool ValidUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        int more = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (more < 0 || i + more >= s.size() + (more == 0 ? 1 : 0))
            return false;
        for (int k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += static_cast<size_t>(more) + 1;
    }
    return true;
}

bool Convert(const char* from, const std::string& in, std::string* out, std::string* error) {
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        *error = std::string("no converter from ") + from;
        return false;
    }
    out->clear();
    std::string buffer(in);
    char* src = buffer.data();
    size_t left = buffer.size();
    char chunk[4096];
    bool ok = true;
    while (left > 0) {
        char* dst = chunk;
        size_t room = sizeof chunk;
        const size_t rc = iconv(cd, &src, &left, &dst, &room);
        out->append(chunk, static_cast<size_t>(dst - chunk));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            *error = std::string("the text is not valid ") + from;
            ok = false;
            break;
        }
    }
    iconv_close(cd);
    return ok;
}

// Legacy subtitle files are nearly always Windows code pages. Cyrillic text is mostly letters above
// 0x7F (0xC0..0xFF in windows-1251); Western text has a few accented letters among ASCII ones.
const char* GuessCodePage(const std::string& bytes) {
    size_t high = 0, asciiLetters = 0;
    for (unsigned char c : bytes) {
        if (c >= 0xC0)
            ++high;
        else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')
            ++asciiLetters;
    }
    return high > asciiLetters ? "WINDOWS-1251" : "WINDOWS-1252";
}

} // namespace

bool DecodeSubtitleBytes(const std::string& bytes, SubtitleText* text, std::string* error) {
    auto starts = [&](const char* mark, size_t n) {
        return bytes.size() >= n && std::memcmp(bytes.data(), mark, n) == 0;
    };
    if (starts("\xEF\xBB\xBF", 3)) {
        text->charset = "UTF-8";
        text->utf8 = bytes.substr(3);
        if (!ValidUtf8(text->utf8)) {
            *error = "the text is not valid UTF-8";
            return false;
        }
        return true;
    }
    if (starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2)) {
        text->charset = bytes[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE";
        return Convert(text->charset.c_str(), bytes.substr(2), &text->utf8, error);
    }
    if (ValidUtf8(bytes)) {
        text->charset = "UTF-8";
        text->utf8 = bytes;
        return true;
    }
    text->charset = GuessCodePage(bytes);
    return Convert(text->charset.c_str(), bytes, &text->utf8, error);
}

bool ReadSubtitleFile(const std::string& path, SubtitleText* text, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *error = std::string("cannot read it: ") + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = "it is not a file";
        return false;
    }
    if (static_cast<size_t>(st.st_size) > kMaxSubtitleFileBytes) {
        ::close(fd);
        *error = "it is larger than " + std::to_string(kMaxSubtitleFileBytes >> 20) + " MiB";
        return false;
    }
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    if (bytes.empty()) {
        *error = "it is empty";
        return false;
    }
    return DecodeSubtitleBytes(bytes, text, error);
}

} // namespace qx::enc
