#include "ProfileIni.h"

#include "Folders.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qx {

namespace {

constexpr size_t kMaxFileSize = 16u << 20; // a profile beyond this is certainly not ours

enum class LineKind { Other, Section, Key };

struct Line {
    std::string text;   // without the line ending
    std::string ending; // "\n", "\r\n" or "" (last line without ending)
    LineKind kind = LineKind::Other;
    std::string name;  // section or key name, trimmed
    std::string value; // key value, trimmed and unquoted
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x < 0x80 && y < 0x80) {
            if (std::tolower(x) != std::tolower(y))
                return false;
        } else if (x != y) {
            return false;
        }
    }
    return true;
}

std::string Unquote(const std::string& v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

void Classify(Line& line) {
    std::string t = Trim(line.text);
    if (!t.empty() && t.back() == '\r') // stray carriage return in the middle of "\r\r\n"
        t = Trim(t.substr(0, t.size() - 1));
    if (t.empty() || t[0] == ';' || t[0] == '#')
        return;
    if (t[0] == '[') {
        size_t close = t.find(']');
        if (close == std::string::npos)
            return; // malformed header: kept, ignored
        line.kind = LineKind::Section;
        line.name = Trim(t.substr(1, close - 1));
        return;
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos)
        return;
    std::string key = Trim(t.substr(0, eq));
    if (key.empty())
        return;
    line.kind = LineKind::Key;
    line.name = key;
    line.value = Unquote(Trim(t.substr(eq + 1)));
}

std::vector<Line> Parse(const std::string& bytes) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t nl = bytes.find('\n', pos);
        Line line;
        if (nl == std::string::npos) {
            line.text = bytes.substr(pos);
            pos = bytes.size();
        } else {
            line.text = bytes.substr(pos, nl - pos);
            line.ending = "\n";
            if (!line.text.empty() && line.text.back() == '\r') {
                line.text.pop_back();
                line.ending = "\r\n";
            }
            pos = nl + 1;
        }
        Classify(line);
        lines.push_back(std::move(line));
    }
    return lines;
}

// Reads the whole file. Missing file: ok with *missing set.
Status ReadFile(const std::string& file, std::string& bytes, bool& missing) {
    missing = false;
    bytes.clear();
    // Non-blocking, so that a FIFO at the path is refused below instead of waiting for a writer.
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            missing = true;
            return Status::Ok();
        }
        return Status::Fail(ErrnoText("cannot open " + file, errno));
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return Status::Fail(file + " is not a regular file");
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
        close(fd);
        return Status::Fail(file + " is too large for a settings file (" + std::to_string(st.st_size) + " bytes)");
    }
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int err = errno;
            close(fd);
            return Status::Fail(ErrnoText("cannot read " + file, err));
        }
        if (n == 0)
            break;
        bytes.append(buf, static_cast<size_t>(n));
        if (bytes.size() > kMaxFileSize) {
            close(fd);
            return Status::Fail(file + " is too large for a settings file");
        }
    }
    close(fd);
    return Status::Ok();
}

mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "Umask:") == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 022;
}

bool WriteAll(int fd, const std::string& bytes, int& err) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : ENOSPC;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Replaces `file` by `bytes` through a temporary file in the same folder and a rename.
Status ReplaceFile(const std::string& file, const std::string& bytes) {
    std::string target = file;
    char resolved[PATH_MAX];
    struct stat st {};
    bool exists = false;
    if (lstat(file.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode) && realpath(file.c_str(), resolved) != nullptr)
            target = resolved; // keep the link, replace what it points to
        exists = stat(target.c_str(), &st) == 0;
    }
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (folder.empty())
        folder = "/";
    Status made = MakeFolderPath(folder);
    if (!made)
        return Status::Fail("cannot write " + file + ": " + made.error());

    std::string temp = folder + "/." + base + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return Status::Fail(ErrnoText("cannot write " + file + " (temporary file in " + folder + ")", errno));
    temp = name.data();
    mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
    int err = 0;
    bool ok = WriteAll(fd, bytes, err);
    if (ok && fchmod(fd, mode) != 0)
        ok = false, err = errno;
    if (ok && fsync(fd) != 0)
        ok = false, err = errno;
    if (close(fd) != 0 && ok)
        ok = false, err = errno;
    if (ok && rename(temp.c_str(), target.c_str()) != 0)
        ok = false, err = errno;
    if (!ok) {
        unlink(temp.c_str());
        return Status::Fail(ErrnoText("cannot write " + file + "; the old file is unchanged", err));
    }
    int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd); // make the rename itself durable; a failure here loses nothing
        close(dfd);
    }
    return Status::Ok();
}

size_t CodePoints(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

bool HasControl(const std::string& s) {
    for (char c : s)
        if (c == '\n' || c == '\r' || c == '\0')
            return true;
    return false;
}

Status CheckNames(const std::string& section, const std::string& key) {
    std::string s = Trim(section), k = Trim(key);
    if (s.empty() || HasControl(section) || section.find(']') != std::string::npos)
        return Status::Fail("invalid section name \"" + section + "\"");
    if (k.empty() || HasControl(key) || key.find('=') != std::string::npos || k[0] == '[' || k[0] == ';' || k[0] == '#')
        return Status::Fail("invalid key name \"" + key + "\"");
    return Status::Ok();
}

std::string EncodeValue(const std::string& value) {
    if (value.empty())
        return value;
    bool blankEdge = IsBlank(value.front()) || IsBlank(value.back());
    bool quotedLook =
        value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    return blankEdge || quotedLook ? '"' + value + '"' : value;
}

std::string DominantEnding(const std::vector<Line>& lines) {
    for (const Line& l : lines)
        if (!l.ending.empty())
            return l.ending;
    return "\n";
}

std::string Join(const std::vector<Line>& lines) {
    std::string out;
    for (const Line& l : lines)
        out += l.text + l.ending;
    return out;
}

// Index of the first section header named `section`, or -1.
long FindSection(const std::vector<Line>& lines, const std::string& section) {
    std::string want = Trim(section);
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == LineKind::Section && SameName(lines[i].name, want))
            return static_cast<long>(i);
    return -1;
}

// Index of the first key line named `key` in the section starting at `header`, or -1; *end
// receives the index of the next section header (or the line count).
long FindKey(const std::vector<Line>& lines, long header, const std::string& key, size_t* end) {
    std::string want = Trim(key);
    long found = -1;
    size_t i = static_cast<size_t>(header) + 1;
    for (; i < lines.size() && lines[i].kind != LineKind::Section; ++i)
        if (found < 0 && lines[i].kind == LineKind::Key && SameName(lines[i].name, want))
            found = static_cast<long>(i);
    if (end != nullptr)
        *end = i;
    return found;
}

std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

Status LoadForUpdate(const std::string& file, std::vector<Line>& lines) {
    std::string bytes;
    bool missing = false;
    Status s = ReadFile(file, bytes, missing);
    if (!s)
        return Status::Fail("cannot update " + file + ": " + s.error());
    lines = Parse(bytes);
    return Status::Ok();
}

} // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& def,
                                    const std::string& file, size_t* length, std::string* error) {
    std::string bytes;
    bool missing = false;
    Status s = ReadFile(file, bytes, missing);
    if (error != nullptr)
        *error = s ? std::string() : s.error();
    std::string result = def;
    if (s && !missing) {
        std::vector<Line> lines = Parse(bytes);
        long header = FindSection(lines, section);
        if (header >= 0) {
            long k = FindKey(lines, header, key, nullptr);
            if (k >= 0 && !lines[static_cast<size_t>(k)].value.empty())
                result = lines[static_cast<size_t>(k)].value;
        }
    }
    if (length != nullptr)
        *length = result.size();
    return result;
}

int GetPrivateProfileInt(const std::string& section, const std::string& key, int def, const std::string& file) {
    std::string v = GetPrivateProfileString(section, key, std::string(), file);
    if (v.empty())
        return def;
    size_t i = 0;
    bool negative = false;
    if (i < v.size() && (v[i] == '+' || v[i] == '-'))
        negative = v[i++] == '-';
    long long n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        n = n * 10 + (v[i] - '0');
        if (n > static_cast<long long>(INT_MAX) + 1)
            n = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        n = -n;
    if (n > INT_MAX)
        n = INT_MAX;
    return static_cast<int>(n);
}

Status WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                                 const std::string& file) {
    Status names = CheckNames(section, key);
    if (!names)
        return names;
    if (HasControl(value))
        return Status::Fail("the value for \"" + key + "\" contains a line break or NUL and cannot be stored");
    size_t chars = CodePoints(value);
    if (chars > kProfileMaxValueChars)
        return Status::Fail("the value for \"" + key + "\" has " + std::to_string(chars) + " characters; at most " +
                            std::to_string(kProfileMaxValueChars) + " can be stored");

    std::lock_guard<std::mutex> lock(WriteMutex());
    std::vector<Line> lines;
    Status loaded = LoadForUpdate(file, lines);
    if (!loaded)
        return loaded;
    std::string eol = DominantEnding(lines);
    std::string encoded = EncodeValue(value);

    long header = FindSection(lines, section);
    if (header < 0) {
        if (!lines.empty() && lines.back().ending.empty())
            lines.back().ending = eol;
        lines.push_back(Line{"[" + Trim(section) + "]", eol, LineKind::Section, Trim(section), {}});
        lines.push_back(Line{Trim(key) + "=" + encoded, eol, LineKind::Key, Trim(key), value});
    } else {
        size_t end = 0;
        long k = FindKey(lines, header, key, &end);
        if (k >= 0) {
            Line& line = lines[static_cast<size_t>(k)];
            line.text = line.name + "=" + encoded; // keep the name as spelled in the file
        } else {
            // After the last non-blank line of the section, so blank separators stay in place.
            size_t at = end;
            while (at > static_cast<size_t>(header) + 1 && Trim(lines[at - 1].text).empty())
                --at;
            if (lines[at - 1].ending.empty())
                lines[at - 1].ending = eol;
            lines.insert(lines.begin() + static_cast<long>(at),
                         Line{Trim(key) + "=" + encoded, eol, LineKind::Key, Trim(key), value});
        }
    }
    return ReplaceFile(file, Join(lines));
}

Status DeletePrivateProfileKey(const std::string& section, const std::string& key, const std::string& file) {
    Status names = CheckNames(section, key);
    if (!names)
        return names;
    std::lock_guard<std::mutex> lock(WriteMutex());
    std::vector<Line> lines;
    Status loaded = LoadForUpdate(file, lines);
    if (!loaded)
        return loaded;
    long header = FindSection(lines, section);
    if (header < 0)
        return Status::Ok();
    long k = FindKey(lines, header, key, nullptr);
    if (k < 0)
        return Status::Ok();
    lines.erase(lines.begin() + k);
    return ReplaceFile(file, Join(lines));
}

std::vector<std::string> GetPrivateProfileSectionNames(const std::string& file) {
    std::string bytes;
    bool missing = false;
    std::vector<std::string> names;
    if (!ReadFile(file, bytes, missing) || missing)
        return names;
    for (const Line& l : Parse(bytes))
        if (l.kind == LineKind::Section)
            names.push_back(l.name);
    return names;
}

std::vector<std::pair<std::string, std::string>> GetPrivateProfileSection(const std::string& section,
                                                                          const std::string& file) {
    std::string bytes;
    bool missing = false;
    std::vector<std::pair<std::string, std::string>> keys;
    if (!ReadFile(file, bytes, missing) || missing)
        return keys;
    std::vector<Line> lines = Parse(bytes);
    long header = FindSection(lines, section);
    if (header < 0)
        return keys;
    for (size_t i = static_cast<size_t>(header) + 1; i < lines.size() && lines[i].kind != LineKind::Section; ++i)
        if (lines[i].kind == LineKind::Key)
            keys.emplace_back(lines[i].name, lines[i].value);
    return keys;
}

} // namespace qx
