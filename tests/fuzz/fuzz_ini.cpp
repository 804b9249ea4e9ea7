// INI files: the input's first byte chooses what to write, the rest is the file. Everything the
// file holds is read back through the public calls; then one key is written and removed again, and
// every other line must come out byte for byte as it was.
#include "FuzzSupport.h"
#include "ProfileIni.h"

#include <cctype>
#include <string>
#include <vector>

namespace {

struct Line {
    std::string text;
    std::string ending;
    bool operator==(const Line& o) const { return text == o.text && ending == o.ending; }
};

// Lines as the bytes show them: "\n" or "\r\n" endings, a last line without one.
std::vector<Line> SplitLines(const std::string& bytes) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t nl = bytes.find('\n', pos);
        if (nl == std::string::npos) {
            lines.push_back({bytes.substr(pos), ""});
            break;
        }
        Line l{bytes.substr(pos, nl - pos), "\n"};
        if (!l.text.empty() && l.text.back() == '\r') {
            l.text.pop_back();
            l.ending = "\r\n";
        }
        lines.push_back(l);
        pos = nl + 1;
    }
    return lines;
}

// The lines that differ between `before` and `after` once the common head and tail are set
// aside: how many of each side remain.
void ChangedLines(const std::vector<Line>& before, const std::vector<Line>& after, size_t& head, size_t& oldCount,
                  size_t& newCount) {
    head = 0;
    while (head < before.size() && head < after.size() && before[head] == after[head])
        ++head;
    size_t tail = 0;
    while (tail < before.size() - head && tail < after.size() - head &&
           before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
        ++tail;
    oldCount = before.size() - head - tail;
    newCount = after.size() - head - tail;
}

bool SameAscii(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y && !(x < 0x80 && y < 0x80 && std::tolower(x) == std::tolower(y)))
            return false;
    }
    return true;
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

const std::vector<std::string>& Values() {
    static const std::vector<std::string> values = {"",
                                                    "plain",
                                                    " padded ",
                                                    "\"quoted\"",
                                                    "'single'",
                                                    "x",
                                                    "\xC3\xBCnic\xC3\xB6"
                                                    "de",
                                                    Repeat("\xC3\xA9", 255),
                                                    std::string(256, 'a'),
                                                    "a\nb",
                                                    "=",
                                                    "[not a section]",
                                                    "; not a comment",
                                                    "\t",
                                                    "\"",
                                                    "C:\\path with spaces\\"};
    return values;
}

const char* const kDefault = "\x01no value";

} // namespace

int QxFuzzIni(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    static const std::string file = qxfuzz::ScratchFolder() + "/settings.ini";
    const uint8_t choice = data[0];
    const std::string original(reinterpret_cast<const char*>(data + 1), size - 1);
    qxfuzz::WriteScratchFile(file, data + 1, size - 1);

    // Reading: every key listed for a section reads back through GetPrivateProfileString (the first
    // of equal names wins, an empty value gives the default).
    std::vector<std::string> sections = qx::GetPrivateProfileSectionNames(file);
    for (size_t s = 0; s < sections.size() && s < 8; ++s) {
        auto keys = qx::GetPrivateProfileSection(sections[s], file);
        for (size_t k = 0; k < keys.size() && k < 8; ++k) {
            bool first = true;
            for (size_t j = 0; j < k; ++j)
                first = first && !SameAscii(keys[j].first, keys[k].first);
            if (!first)
                continue;
            std::string error;
            std::string got = qx::GetPrivateProfileString(sections[s], keys[k].first, kDefault, file, nullptr, &error);
            // A section listed twice reads from its first occurrence, which the listing also gives.
            QX_FUZZ_CHECK(error.empty());
            QX_FUZZ_CHECK(got == (keys[k].second.empty() ? std::string(kDefault) : keys[k].second));
            qx::GetPrivateProfileInt(sections[s], keys[k].first, -7, file);
        }
    }

    // Writing: an existing or new section, an existing or new key, one of the awkward values.
    std::string section = "Fuzz Section", key = "FuzzKey";
    bool existingKey = false;
    if ((choice & 0x80) && !sections.empty()) {
        section = sections[(choice >> 4 & 7) % sections.size()];
        auto keys = qx::GetPrivateProfileSection(section, file);
        if ((choice & 0x40) && !keys.empty()) {
            key = keys[(choice >> 4 & 3) % keys.size()].first;
            existingKey = true;
        }
    }
    const std::string& value = Values()[choice & 0x0F];
    qx::Status written = qx::WritePrivateProfileString(section, key, value, file);
    const std::string after = qxfuzz::ReadScratchFile(file);
    if (!written) {
        QX_FUZZ_CHECK(after == original); // a refused write leaves the file alone
        return 0;
    }
    QX_FUZZ_CHECK(qx::GetPrivateProfileString(section, key, kDefault, file) ==
                  (value.empty() ? std::string(kDefault) : value));
    size_t head = 0, oldCount = 0, newCount = 0;
    std::vector<Line> before = SplitLines(original), written1 = SplitLines(after);
    ChangedLines(before, written1, head, oldCount, newCount);
    // One key line replaced, or one key line (and its section header) added; the only other
    // change allowed is an ending for an old last line that had none.
    QX_FUZZ_CHECK(oldCount <= 1 && newCount >= oldCount && newCount - oldCount <= 2);
    if (existingKey)
        QX_FUZZ_CHECK(newCount == oldCount);
    if (oldCount == 1 && newCount > 1) {
        // The old last line keeps its bytes and gains an ending (a lone CR then reads as a CRLF).
        const std::string grown = written1[head].text + written1[head].ending;
        QX_FUZZ_CHECK(before[head].ending.empty() && head + 1 == before.size() &&
                      grown.compare(0, before[head].text.size(), before[head].text) == 0);
    }

    // Removing the key again takes exactly one line away.
    qx::Status removed = qx::DeletePrivateProfileKey(section, key, file);
    QX_FUZZ_CHECK(removed.ok());
    std::vector<Line> afterDelete = SplitLines(qxfuzz::ReadScratchFile(file));
    ChangedLines(written1, afterDelete, head, oldCount, newCount);
    QX_FUZZ_CHECK(oldCount == 1 && newCount == 0);
    return 0;
}
