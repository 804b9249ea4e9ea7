#include "AuthorStreamSupport.h"

#include "AuthorLog.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <unistd.h>

namespace qxtest {

namespace {

void put16(uint8_t* p, int v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

Bytes packHeader(uint32_t scr) {
    Bytes h = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
    SetScr(h.data(), scr);
    return h;
}

void setTimestamp(uint8_t* p, int prefix, uint32_t t) {
    p[0] = static_cast<uint8_t>((prefix << 4) | (((t >> 30) & 3) << 1) | 1);
    p[1] = static_cast<uint8_t>(t >> 22);
    p[2] = static_cast<uint8_t>(((t >> 15) & 0x7F) << 1 | 1);
    p[3] = static_cast<uint8_t>(t >> 7);
    p[4] = static_cast<uint8_t>((t & 0x7F) << 1 | 1);
}

long long timestampAt(const uint8_t* p) {
    return (static_cast<long long>((p[0] >> 1) & 3) << 30) | (static_cast<long long>(p[1]) << 22) |
           (static_cast<long long>(p[2] >> 1) << 15) | (static_cast<long long>(p[3]) << 7) | (p[4] >> 1);
}

bool hasTimestampedPes(const uint8_t* s) {
    if (!(s[14] == 0 && s[15] == 0 && s[16] == 1))
        return false;
    uint8_t id = s[17];
    return (id == 0xBD || (id >= 0xC0 && id <= 0xEF)) && (s[20] & 0xC0) == 0x80 && (s[21] & 0x80);
}

void padding(uint8_t* p, int total) {
    p[0] = 0;
    p[1] = 0;
    p[2] = 1;
    p[3] = 0xBE;
    put16(p + 4, total - 6);
    std::memset(p + 6, 0xFF, static_cast<size_t>(total - 6));
}

bool isNavPack(const uint8_t* s) {
    static const uint8_t bb[4] = {0, 0, 1, 0xBB};
    static const uint8_t bf[4] = {0, 0, 1, 0xBF};
    return std::memcmp(s + 14, bb, 4) == 0 && std::memcmp(s + 38, bf, 4) == 0 && std::memcmp(s + 1024, bf, 4) == 0;
}

} // namespace

uint32_t ScrOf(const uint8_t* s) {
    const uint8_t* p = s + 4;
    uint64_t v = (static_cast<uint64_t>((p[0] >> 3) & 7) << 30) | (static_cast<uint64_t>(p[0] & 3) << 28) |
                 (static_cast<uint64_t>(p[1]) << 20) | (static_cast<uint64_t>(p[2] >> 3) << 15) |
                 (static_cast<uint64_t>(p[2] & 3) << 13) | (static_cast<uint64_t>(p[3]) << 5) | (p[4] >> 3);
    return static_cast<uint32_t>(v & 0xFFFFFFFFu);
}

void SetScr(uint8_t* s, uint32_t scr) {
    uint8_t* p = s + 4;
    p[0] = static_cast<uint8_t>(0x44 | ((scr >> 30) & 3) << 3 | ((scr >> 28) & 3));
    p[1] = static_cast<uint8_t>(scr >> 20);
    p[2] = static_cast<uint8_t>(((scr >> 15) & 0x1F) << 3 | 0x04 | ((scr >> 13) & 3));
    p[3] = static_cast<uint8_t>(scr >> 5);
    p[4] = static_cast<uint8_t>((scr & 0x1F) << 3 | 0x04 | (p[4] & 3));
}

long long PtsOf(const uint8_t* s) {
    return hasTimestampedPes(s) ? timestampAt(s + 23) : -1;
}
long long DtsOf(const uint8_t* s) {
    return hasTimestampedPes(s) && (s[21] & 0x40) ? timestampAt(s + 28) : -1;
}

Bytes NavPack(uint32_t scr, bool pciDsi) {
    Bytes s(kSector, 0);
    Bytes h = packHeader(scr);
    std::copy(h.begin(), h.end(), s.begin());
    const uint8_t system[24] = {0x00, 0x00, 0x01, 0xBB, 0x00, 0x12, 0x80, 0xC4, 0xE1, 0x04, 0xE1, 0xFF,
                                0xB9, 0xE0, 0xE8, 0xB8, 0xC0, 0x20, 0xBD, 0xE0, 0x3A, 0xBF, 0xE0, 0x02};
    std::memcpy(s.data() + 14, system, sizeof system);
    if (!pciDsi) {
        padding(s.data() + 38, kSector - 38);
        return s;
    }
    const uint8_t pci[6] = {0x00, 0x00, 0x01, 0xBF, 0x03, 0xD4};
    const uint8_t dsi[7] = {0x00, 0x00, 0x01, 0xBF, 0x03, 0xFA, 0x01};
    std::memcpy(s.data() + 38, pci, sizeof pci);
    std::memcpy(s.data() + 1024, dsi, sizeof dsi);
    return s;
}

int MaxPayload(bool pts, bool dts) {
    return kSector - 14 - 9 - (pts ? 5 : 0) - (dts ? 5 : 0);
}

Bytes PesSector(uint32_t scr, uint8_t streamId, const Bytes& payload, long long pts, long long dts) {
    const bool hasPts = pts >= 0;
    const bool hasDts = hasPts && dts >= 0;
    if (static_cast<int>(payload.size()) > MaxPayload(hasPts, hasDts))
        throw std::invalid_argument("payload does not fit a sector");
    Bytes s(kSector, 0);
    Bytes h = packHeader(scr);
    std::copy(h.begin(), h.end(), s.begin());
    int headerData = (hasPts ? 5 : 0) + (hasDts ? 5 : 0);
    int remaining = kSector - 14 - 9 - headerData - static_cast<int>(payload.size());
    int stuffing = remaining < 6 ? remaining : 0;
    uint8_t* p = s.data() + 14;
    p[0] = 0;
    p[1] = 0;
    p[2] = 1;
    p[3] = streamId;
    put16(p + 4, 3 + headerData + stuffing + static_cast<int>(payload.size()));
    p[6] = 0x81;
    p[7] = static_cast<uint8_t>(hasDts ? 0xC0 : hasPts ? 0x80 : 0x00);
    p[8] = static_cast<uint8_t>(headerData + stuffing);
    if (hasPts)
        setTimestamp(p + 9, hasDts ? 3 : 2, static_cast<uint32_t>(pts));
    if (hasDts)
        setTimestamp(p + 14, 1, static_cast<uint32_t>(dts));
    std::memset(p + 9 + headerData, 0xFF, static_cast<size_t>(stuffing));
    std::copy(payload.begin(), payload.end(), s.begin() + 23 + headerData + stuffing);
    if (remaining >= 6)
        padding(s.data() + kSector - remaining, remaining);
    return s;
}

Bytes PaddingSector(uint32_t scr) {
    Bytes s(kSector, 0);
    Bytes h = packHeader(scr);
    std::copy(h.begin(), h.end(), s.begin());
    padding(s.data() + 14, kSector - 14);
    return s;
}

Bytes SequenceHeader(int width, int height, int aspectCode, int frameRateCode) {
    return {0x00,
            0x00,
            0x01,
            0xB3,
            static_cast<uint8_t>(width >> 4),
            static_cast<uint8_t>(((width & 0xF) << 4) | (height >> 8)),
            static_cast<uint8_t>(height),
            static_cast<uint8_t>((aspectCode << 4) | frameRateCode),
            0x17,
            0x70,
            0x23,
            0x80};
}

Bytes SequenceExtension() {
    return {0x00, 0x00, 0x01, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00};
}
Bytes SequenceDisplayExtension(int videoFormat) {
    return {0x00, 0x00, 0x01, 0xB5, static_cast<uint8_t>(0x20 | (videoFormat << 1)), 0x02, 0x02, 0x02,
            0x2D, 0x02, 0x24, 0x00};
}
Bytes GopHeader() {
    return {0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x00};
}
Bytes PictureHeader(int temporalReference, int type) {
    return {0x00,
            0x00,
            0x01,
            0x00,
            static_cast<uint8_t>(temporalReference >> 2),
            static_cast<uint8_t>(((temporalReference & 3) << 6) | (type << 3)),
            0xFF,
            0xF8};
}
Bytes PictureCodingExtension(int pictureStructure, bool repeatFirstField) {
    return {0x00,
            0x00,
            0x01,
            0xB5,
            0x8F,
            0xFF,
            static_cast<uint8_t>(0xF0 | pictureStructure),
            static_cast<uint8_t>(0x80 | (repeatFirstField ? 0x02 : 0x00)),
            0x80,
            0x00};
}
Bytes SequenceEnd() {
    return {0x00, 0x00, 0x01, 0xB7};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes MpegAudioFrame(int bitrateIndex, bool pad) {
    static const int kbits[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    Bytes frame(static_cast<size_t>(3 * kbits[bitrateIndex] + (pad ? 1 : 0)), 0);
    frame[0] = 0xFF;
    frame[1] = 0xFD;
    frame[2] = static_cast<uint8_t>((bitrateIndex << 4) | (1 << 2) | (pad ? 2 : 0));
    frame[3] = 0x44;
    return frame;
}

Bytes Ac3Frame(int fscod, int bsid, int acmod, int mixBits, int dsurmod, bool lfe) {
    Bytes frame(32, 0);
    frame[0] = 0x0B;
    frame[1] = 0x77;
    frame[4] = static_cast<uint8_t>((fscod << 6) | 0x1C);
    frame[5] = static_cast<uint8_t>((bsid << 3) | 0);
    // acmod (3 bits), then cmixlev / surmixlev (mixBits of them, given as zeros), dsurmod for acmod 2, lfeon.
    uint32_t bits = static_cast<uint32_t>(acmod);
    int count = 3 + mixBits;
    bits <<= mixBits;
    if (acmod == 2) {
        bits = (bits << 2) | static_cast<uint32_t>(dsurmod);
        count += 2;
    }
    bits = (bits << 1) | (lfe ? 1u : 0u);
    count += 1;
    bits <<= (16 - count);
    frame[6] = static_cast<uint8_t>(bits >> 8);
    frame[7] = static_cast<uint8_t>(bits);
    return frame;
}

Bytes PrivatePayload(uint8_t substream, int frames, int firstAccess, const Bytes& data) {
    // Sized once and filled: GCC 12 at -O3 takes an insert after a 4-byte start for an overrun.
    Bytes p(4 + data.size());
    p[0] = substream;
    p[1] = static_cast<uint8_t>(frames);
    p[2] = static_cast<uint8_t>(firstAccess >> 8);
    p[3] = static_cast<uint8_t>(firstAccess);
    std::copy(data.begin(), data.end(), p.begin() + 4);
    return p;
}

Bytes ExpectedVob(const Bytes& input) {
    Bytes out;
    const size_t count = input.size() / kSector;
    size_t first = count;
    for (size_t i = 0; i < count && first == count; ++i)
        if (isNavPack(input.data() + i * kSector))
            first = i;
    if (first == count)
        return out;
    const uint32_t offset = ScrOf(input.data() + first * kSector);
    for (size_t i = first; i < count; ++i) {
        Bytes s(input.begin() + static_cast<long>(i * kSector), input.begin() + static_cast<long>((i + 1) * kSector));
        if (s[0] == 0 && s[1] == 0 && s[2] == 1 && s[3] == 0xBA)
            SetScr(s.data(), ScrOf(s.data()) - offset);
        long long pts = PtsOf(s.data());
        if (pts >= 0) {
            int prefix = s[23] >> 4;
            setTimestamp(s.data() + 23, prefix, static_cast<uint32_t>(pts - offset));
            long long dts = DtsOf(s.data());
            if (dts >= 0)
                setTimestamp(s.data() + 28, 1, static_cast<uint32_t>(dts - offset));
        }
        // An end code right after a padding packet joins the padding.
        int pos = 14;
        int previous = -1;
        while (pos + 6 <= kSector && s[pos] == 0 && s[pos + 1] == 0 && s[pos + 2] == 1 && s[pos + 3] >= 0xBD &&
               s[pos + 3] <= 0xEF && pos + 6 + ((s[pos + 4] << 8) | s[pos + 5]) < 2045) {
            previous = pos;
            pos += 6 + ((s[pos + 4] << 8) | s[pos + 5]);
        }
        if (previous >= 0 && s[previous + 3] == 0xBE && s[pos] == 0 && s[pos + 1] == 0 && s[pos + 2] == 1 &&
            s[pos + 3] == 0xB9) {
            put16(s.data() + previous + 4, ((s[previous + 4] << 8) | s[previous + 5]) + 4);
            std::memset(s.data() + pos, 0, 4);
        }
        out.insert(out.end(), s.begin(), s.end());
    }
    return out;
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qx-author-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Join(const std::vector<Bytes>& sectors) {
    Bytes all;
    for (const Bytes& s : sectors)
        all.insert(all.end(), s.begin(), s.end());
    return all;
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

namespace {

class MemoryWriter : public AuthorWriter {
public:
    MemoryWriter(MemoryFiles& owner, std::string path) : owner_(owner), path_(std::move(path)) {}
    size_t Write(const void* data, size_t size) override {
        size_t accepted = size;
        if (owner_.writeBudget >= 0) {
            accepted = std::min<size_t>(size, static_cast<size_t>(owner_.writeBudget));
            owner_.writeBudget -= static_cast<long long>(accepted);
        }
        long long& total = owner_.sizes[path_];
        if (!owner_.discard) {
            Bytes& file = owner_.files[path_];
            if (file.size() < position_ + accepted)
                file.resize(position_ + accepted);
            std::memcpy(file.data() + position_, data, accepted);
        }
        position_ += accepted;
        total = std::max<long long>(total, static_cast<long long>(position_));
        return accepted;
    }
    bool Seek(long long offset) override {
        position_ = static_cast<size_t>(offset);
        return true;
    }
    bool Close() override { return true; }

private:
    MemoryFiles& owner_;
    std::string path_;
    size_t position_ = 0;
};

} // namespace

std::unique_ptr<AuthorWriter> MemoryFiles::Open(const std::string& path, AuthorOpenMode mode, std::string& error) {
    opened.push_back(path);
    if (path == failOpen) {
        error = "No space left on device";
        return nullptr;
    }
    if (mode == AuthorOpenMode::Truncate) {
        files[path].clear();
        sizes[path] = 0;
    } else if (mode == AuthorOpenMode::Update && !sizes.count(path)) {
        error = "No such file or directory";
        return nullptr;
    }
    sizes.emplace(path, 0);
    return std::make_unique<MemoryWriter>(*this, path);
}

namespace {
std::vector<std::string>* g_capture = nullptr;
}

LogCapture::LogCapture() {
    g_capture = &lines;
    AuthorLogSetHandler([](int, const char* text) {
        if (g_capture)
            g_capture->emplace_back(text);
        return 0;
    });
}

LogCapture::~LogCapture() {
    AuthorLogSetHandler({});
    g_capture = nullptr;
}

std::string LogCapture::all() const {
    std::string text;
    for (const std::string& line : lines)
        text += line;
    return text;
}

int LogCapture::count(const std::string& needle) const {
    int n = 0;
    for (const std::string& line : lines)
        for (size_t pos = line.find(needle); pos != std::string::npos; pos = line.find(needle, pos + 1))
            ++n;
    return n;
}

std::string FfmpegFixture(const std::string& name, const std::string& args) {
    const char* base = std::getenv("TMPDIR");
    std::string folder = std::string(base && *base ? base : "/tmp") + "/qx-author-fixtures-" + std::to_string(getuid());
    std::filesystem::create_directories(folder);
    std::string path = folder + "/" + std::to_string(std::hash<std::string>()(args)) + "-" + name;
    if (access(path.c_str(), R_OK) == 0)
        return path;
    // Written under a private name and renamed, so that tests running at once never read half a file.
    std::string partial = path + "." + std::to_string(getpid()) + ".partial" + name.substr(name.rfind('.'));
    std::string command = "ffmpeg -nostdin -v error -y " + args + " '" + partial + "'";
    if (std::system(command.c_str()) != 0 || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        return "";
    }
    return path;
}

} // namespace qxtest
