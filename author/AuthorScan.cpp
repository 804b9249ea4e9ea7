// Sector loop of the program-stream scanner: files, SCR checks and re-timing, VOBUs, VOB splitting,
// padding repair and the VOBU times at the end of each source.
#include "AuthorScanner.h"

#include "AuthorError.h"
#include "AuthorLog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isStartCode(const uint8_t* p, uint8_t id) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == id;
}

bool isPack(const uint8_t* s) {
    return isStartCode(s, 0xBA);
}

// A retimable PES (private stream 1, audio or video) at byte 14 with the MPEG-2 header flags at 20..22.
bool retimablePes(const uint8_t* s) {
    if (!(s[14] == 0 && s[15] == 0 && s[16] == 1))
        return false;
    uint8_t id = s[17];
    return (id == 0xBD || (id >= 0xC0 && id <= 0xEF)) && (s[20] & 0xC0) == 0x80;
}

bool pesHasPts(const uint8_t* s) {
    return retimablePes(s) && (s[21] & 0x80);
}

long long fileSectors(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    return st.st_size / AUTHOR_SECTOR;
}

// Closes the source descriptor however the scan of a source ends.
struct FdGuard {
    int& fd;
    ~FdGuard() {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

int readFully(int fd, uint8_t* data, int size) {
    int done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, data + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<int>(n);
    }
    return done;
}

long long ceilDiv(long long a, long long b) {
    return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}

} // namespace

uint32_t AuthorReadScr(const uint8_t* p) {
    return (static_cast<uint32_t>((p[0] >> 3) & 3) << 30) | (static_cast<uint32_t>(p[0] & 3) << 28) |
           (static_cast<uint32_t>(p[1]) << 20) | (static_cast<uint32_t>(p[2] >> 3) << 15) |
           (static_cast<uint32_t>(p[2] & 3) << 13) | (static_cast<uint32_t>(p[3]) << 5) |
           static_cast<uint32_t>(p[4] >> 3);
}

void AuthorWriteScr(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>((p[0] & 0xC4) | (((v >> 30) & 3) << 3) | ((v >> 28) & 3));
    p[1] = static_cast<uint8_t>(v >> 20);
    p[2] = static_cast<uint8_t>((((v >> 15) & 0x1F) << 3) | (p[2] & 4) | ((v >> 13) & 3));
    p[3] = static_cast<uint8_t>(v >> 5);
    p[4] = static_cast<uint8_t>(((v & 0x1F) << 3) | (p[4] & 7));
}

uint32_t AuthorReadPts(const uint8_t* p) {
    return (static_cast<uint32_t>((p[0] >> 1) & 3) << 30) | (static_cast<uint32_t>(p[1]) << 22) |
           (static_cast<uint32_t>(p[2] >> 1) << 15) | (static_cast<uint32_t>(p[3]) << 7) |
           static_cast<uint32_t>(p[4] >> 1);
}

void AuthorWritePts(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>((p[0] & 0xF1) | (((v >> 30) & 3) << 1));
    p[1] = static_cast<uint8_t>(v >> 22);
    p[2] = static_cast<uint8_t>((((v >> 15) & 0x7F) << 1) | (p[2] & 1));
    p[3] = static_cast<uint8_t>(v >> 7);
    p[4] = static_cast<uint8_t>(((v & 0x7F) << 1) | (p[4] & 1));
}

std::string AuthorVobFileName(const std::string& baseName, int vobNumber) {
    if (vobNumber < 0)
        return baseName;
    return baseName + "_" + std::to_string(vobNumber) + ".VOB";
}

int AuthorGroupSectors(const PgcGroup& group) {
    for (auto it = group.sources.rbegin(); it != group.sources.rend(); ++it)
        if (!(*it)->vobus.empty())
            return (*it)->vobus.back().lastSector + 1;
    return 0;
}

void ScanGroup(const std::string& baseName, PgcGroup& group, int kind, const AuthorScanOptions& options) {
    AuthorScanner scanner(baseName, group, kind, options);
    scanner.Run();
}

AuthorScanner::AuthorScanner(const std::string& baseName, PgcGroup& group, int kind, const AuthorScanOptions& options)
    : baseName_(baseName), group_(group), kind_(kind), options_(options),
      files_(options.files ? options.files : &AuthorDiskFiles()), firstVob_(1 - kind), vobNumber_(1 - kind),
      buffer_(new uint8_t[kSlots * AUTHOR_SECTOR]) {
    if (options_.vobSectorLimit <= 0)
        options_.vobSectorLimit = AUTHOR_VOB_SECTORS;
    numPgcs_ = options.numPgcs >= 0 ? options.numPgcs : static_cast<int>(group.pgcs.size());
}

void AuthorScanner::Run() {
    for (const auto& source : group_.sources) {
        totalSectors_ += fileSectors(source->path);
        if (options_.partFiles) {
            totalSectors_ += fileSectors(source->path + ".part1");
            totalSectors_ += fileSectors(source->path + ".part2");
        }
    }
    int vobId = 0;
    for (const auto& source : group_.sources) {
        source->vobId = ++vobId;
        scanSource(*source);
    }
    closeVob(0);
    statLine("\r\n");
}

void AuthorScanner::statLine(const char* tail) {
    AuthorLog(AUTHOR_LOG_WARN, "STAT: VOBU %d at %dMB, %d PGCS%s", totalVobus_, groupSector_ / 512, numPgcs_, tail);
}

void AuthorScanner::scanSource(AuthorSource& source) {
    source.vobus.clear();
    source.cells.clear();
    for (auto& channel : source.channels)
        channel = AuthorChannel();
    haveScr_ = false;
    lastScr_ = 0;
    offset_ = 0;
    haveVobu_ = false;
    lastVideoSector_ = -1;
    std::memset(carry_, 0xFF, sizeof carry_);
    picture_ = PictureState();
    for (auto& walk : mpegAudio_)
        walk = MpegAudioWalk();

    AuthorLog(AUTHOR_LOG_WARN, "\nSTAT: Processing %s...\n", source.path.c_str());
    int fd = ::open(source.path.c_str(), O_RDONLY | O_CLOEXEC);
    FdGuard guard{fd};
    if (fd < 0)
        AuthorFatal("ERR:  Error opening %s: %s\n", source.path.c_str(), std::strerror(errno));
    int partCounter = 0;
    std::string currentPath = source.path;

    // Sectors are read straight into the free slots of the output buffer, as many as fit at once; the
    // `pending` ones behind the used slots wait there for their turn.
    int pending = 0;
    int partial = 0; // bytes of a partial last sector: the source ends after the pending sectors
    auto progress = [this] {
        if (kind_ == GROUP_TITLES && totalSectors_ != 0 && options_.progress)
            options_.progress(0, static_cast<int>(groupSector_ * 100LL / totalSectors_));
    };
    for (;;) {
        if (vobSectors_ == options_.vobSectorLimit) {
            closeVob(pending);
            if (firstVob_ < 1)
                AuthorFatal("\nERR:  Menu VOB reached 1gb\n");
            ++vobNumber_;
        }
        if (used_ == kSlots)
            flush(0);
        progress();
        uint8_t* slot = buffer_.get() + used_ * AUTHOR_SECTOR;
        if (pending == 0) {
            if (partial > 0) {
                AuthorLog(AUTHOR_LOG_WARN, "WARN: Dropping %d bytes at the end of %s (not a whole sector)\n", partial,
                          currentPath.c_str());
                break;
            }
            int n = readBlock(fd, source, slot, (kSlots - used_) * AUTHOR_SECTOR, partCounter, currentPath);
            if (n == 0)
                break;
            pending = n / AUTHOR_SECTOR;
            partial = n % AUTHOR_SECTOR;
            if (pending == 0)
                continue; // only a partial sector was read
        }
        --pending;
        if (processSector(source, slot)) {
            ++used_;
        } else if (pending > 0) { // a dropped sector gives its slot back to the ones read after it
            std::memmove(slot, slot + AUTHOR_SECTOR, static_cast<size_t>(pending) * AUTHOR_SECTOR);
        }
    }
    ::close(fd);
    fd = -1;
    sequenceEndInCarry(source);
    closeVobu(source);
    if (source.vobus.empty())
        AuthorFatal("ERR:  No navigation packs found in %s; a source must be a DVD program stream\n",
                    source.path.c_str());
    computeTimes(source);
    logTimes(source);
}

// Reads up to `size` bytes into `data`, continuing in the part files when the source is exhausted.
// Returns the bytes read; 0 ends the source.
int AuthorScanner::readBlock(int& fd, AuthorSource& source, uint8_t* data, int size, int& partCounter,
                             std::string& currentPath) {
    int n = readFully(fd, data, size);
    while (n == 0 && options_.partFiles && partCounter < 2) {
        ++partCounter;
        std::string part = source.path + ".part" + std::to_string(partCounter);
        int next = ::open(part.c_str(), O_RDONLY | O_CLOEXEC);
        if (next < 0)
            return 0;
        ::close(fd);
        fd = next;
        currentPath = part;
        n = readFully(fd, data, size);
    }
    if (n < 0)
        AuthorFatal("ERR:  Error reading %s: %s\n", currentPath.c_str(), std::strerror(errno));
    return n;
}

// Handles one input sector in its buffer slot; false when the sector is dropped.
bool AuthorScanner::processSector(AuthorSource& source, uint8_t* s) {
    const bool pack = isPack(s);
    if (pack) {
        uint32_t scr = AuthorReadScr(s + 4);
        if (haveScr_ && scr < lastScr_)
            AuthorFatal("ERR:  SCR moves backwards, remultiplex input.\n");
        haveScr_ = true;
        lastScr_ = scr;
        if (!haveVobu_)
            offset_ = scr;
        AuthorWriteScr(s + 4, scr - offset_);
    }
    if (pesHasPts(s)) {
        AuthorWritePts(s + 23, AuthorReadPts(s + 23) - offset_);
        if (s[21] & 0x40)
            AuthorWritePts(s + 28, AuthorReadPts(s + 28) - offset_);
    }
    if (vobSectors_ < 0)
        openVob();

    if (isStartCode(s + 14, 0xBB)) {
        if (isStartCode(s + 38, 0xBF) && isStartCode(s + 1024, 0xBF)) {
            startVobu(source, s);
        } else {
            AuthorLog(AUTHOR_LOG_WARN, "WARN: System header found, but PCI/DSI information is not where expected\n"
                                       "\t(make sure your system header is 18 bytes!)\n");
        }
    }
    if (!haveVobu_) {
        AuthorLog(AUTHOR_LOG_WARN, "WARN: Skipping sector, waiting for first VOBU...\n");
        return false;
    }
    VobuInfo& vobu = source.vobus.back();
    vobu.lastSector = groupSector_;
    fixPadding(s);

    if (pack && isStartCode(s + 14, 0xE0)) {
        vobu.hasVideo = true;
        videoPacket(vobu, s);
        if (pesHasPts(s) && vobu.firstVideoPts < 0)
            vobu.firstVideoPts = AuthorReadPts(s + 23);
        lastVideoSector_ = groupSector_;
    } else if (s[14] == 0 && s[15] == 0 && s[16] == 1 && (s[17] == 0xBD || (s[17] >= 0xC0 && s[17] <= 0xC7)) &&
               pesHasPts(s)) {
        audioPacket(source, s);
    }
    ++groupSector_;
    ++vobSectors_;
    return true;
}

void AuthorScanner::startVobu(AuthorSource& source, const uint8_t* s) {
    closeVobu(source);
    VobuInfo vobu;
    vobu.firstSector = groupSector_;
    vobu.lastSector = groupSector_;
    vobu.vobSector = vobSectors_;
    vobu.vobNumber = vobNumber_;
    std::memcpy(vobu.navHeader, s, sizeof vobu.navHeader);
    source.vobus.push_back(vobu);
    haveVobu_ = true;
    picture_ = PictureState();
    ++totalVobus_;
    if (source.vobus.size() % 16 == 0)
        statLine("\r");
}

void AuthorScanner::closeVobu(AuthorSource& source) {
    if (!source.vobus.empty())
        recordRefEnd(source.vobus.back(), lastVideoSector_);
}

// A program end code right after a padding packet becomes part of the padding.
void AuthorScanner::fixPadding(uint8_t* s) {
    int pos = 14;
    int previous = -1;
    while (pos + 6 <= AUTHOR_SECTOR && s[pos] == 0 && s[pos + 1] == 0 && s[pos + 2] == 1 && s[pos + 3] >= 0xBD &&
           s[pos + 3] <= 0xEF) {
        int next = pos + ((s[pos + 4] << 8) | s[pos + 5]) + 6;
        if (next >= 2045)
            return;
        previous = pos;
        pos = next;
    }
    if (previous >= 0 && s[previous + 3] == 0xBE && isStartCode(s + pos, 0xB9)) {
        int length = ((s[previous + 4] << 8) | s[previous + 5]) + 4;
        s[previous + 4] = static_cast<uint8_t>(length >> 8);
        s[previous + 5] = static_cast<uint8_t>(length);
        std::memset(s + pos, 0, 4);
    }
}

void AuthorScanner::openVob() {
    outName_ = AuthorVobFileName(baseName_, vobNumber_);
    std::string error;
    out_ = files_->Open(outName_, AuthorOpenMode::Create, error);
    if (!out_)
        AuthorFatal("ERR:  Error opening %s: %s\n", outName_.c_str(), error.c_str());
    vobSectors_ = 0;
}

// Writes the used slots and moves the `pending` sectors read after them to the start of the buffer.
void AuthorScanner::flush(int pending) {
    if (used_ > 0) {
        size_t size = static_cast<size_t>(used_) * AUTHOR_SECTOR;
        if (!out_ || out_->Write(buffer_.get(), size) != size)
            AuthorWriteFailed(out_.get(), outName_);
        if (pending > 0)
            std::memmove(buffer_.get(), buffer_.get() + size, static_cast<size_t>(pending) * AUTHOR_SECTOR);
    }
    used_ = 0;
}

void AuthorScanner::closeVob(int pending) {
    flush(pending);
    if (out_) {
        bool closed = out_->Close();
        if (!closed)
            AuthorWriteFailed(out_.get(), outName_);
        out_.reset();
    }
    vobSectors_ = -1;
}

void AuthorScanner::computeTimes(AuthorSource& source) {
    const long long frame = AuthorFrameDuration(group_.attributes.video.frameRate);
    long long audioEnd = -1;
    for (int ch = 0; ch < AUTHOR_AUDIO_CHANNELS; ++ch)
        if (!source.channels[ch].entries.empty())
            audioEnd = std::max(audioEnd, source.channels[ch].entries.back().end);

    std::vector<VobuInfo>& vobus = source.vobus;
    // A VOBU is timed by its video when it has a video PTS; a video VOBU without one is timed like a
    // VOBU without video.
    auto timedByVideo = [](const VobuInfo& v) { return v.hasVideo && v.firstVideoPts >= 0; };
    for (VobuInfo& v : vobus) {
        if (!timedByVideo(v))
            continue;
        v.videoStart = v.firstVideoPts - v.leadingFields * frame / 2;
        v.videoEnd = v.videoStart + v.totalFields * frame / 2;
        v.vobuStart = v.videoStart;
        v.vobuEnd = v.videoEnd;
    }
    // Index of the first timeline entry at or after a sector, per audio channel (VOBUs are in order).
    size_t cursor[AUTHOR_AUDIO_CHANNELS] = {};
    for (size_t i = 0; i < vobus.size(); ++i) {
        VobuInfo& v = vobus[i];
        if (timedByVideo(v))
            continue;
        long long start = -1;
        for (int ch = 0; ch < AUTHOR_AUDIO_CHANNELS; ++ch) {
            const auto& entries = source.channels[ch].entries;
            size_t& k = cursor[ch];
            while (k < entries.size() && entries[k].sector < v.firstSector)
                ++k;
            if (k < entries.size() && (start < 0 || entries[k].start < start))
                start = entries[k].start;
        }
        if (start < 0) {
            AuthorLog(AUTHOR_LOG_WARN,
                      "WARN: Cannot detect pts for VOBU if there is no audio or video\nWARN: Using SCR instead.\n");
            start = static_cast<long long>(AuthorReadScr(v.navHeader + 4)) + 588;
        }
        if (i == 0)
            AuthorFatal("ERR:  Cannot infer pts for VOBU if there is no audio or video and it is the\n"
                        "ERR:  first VOBU.\n");
        VobuInfo& previous = vobus[i - 1];
        // A VOBU never starts before the previous one has shown its video (or at least one frame): the
        // SCR fallback in particular lies well before the video of the previous VOBU.
        long long earliest = previous.vobuStart + frame;
        if (timedByVideo(previous) && previous.videoEnd > earliest)
            earliest = previous.videoEnd;
        if (start < earliest)
            start = earliest;
        start = previous.vobuStart + ceilDiv(start - previous.vobuStart, frame) * frame;
        v.vobuStart = start;
        previous.vobuEnd = start;
        if (i + 1 == vobus.size())
            v.vobuEnd = start < audioEnd ? audioEnd : start + frame;
        else if (timedByVideo(vobus[i + 1]))
            v.vobuEnd = vobus[i + 1].videoStart;
    }
}

void AuthorScanner::logTimes(const AuthorSource& source) {
    std::string text = "\nINFO: Video pts = " + AuthorLogTime(source.vobus.front().videoStart) + " .. ";
    const VobuInfo* lastVideo = nullptr;
    for (const VobuInfo& v : source.vobus)
        if (v.hasVideo)
            lastVideo = &v;
    text += lastVideo ? AuthorLogTime(lastVideo->videoEnd) : std::string("??");
    for (int ch = 0; ch < AUTHOR_CHANNELS; ++ch) {
        const auto& entries = source.channels[ch].entries;
        if (entries.empty())
            continue;
        std::string line = "\nINFO: Audio[" + std::to_string(ch) + "] pts = " + AuthorLogTime(entries.front().start) +
                           " .. " + AuthorLogTime(entries.back().end);
        if (text.size() + line.size() + 1 > AUTHOR_LOG_MAX_TEXT) { // one message holds at most 1023 characters
            AuthorLog(AUTHOR_LOG_WARN, "%s", text.c_str());
            text.clear();
        }
        text += line;
    }
    text += "\n";
    AuthorLog(AUTHOR_LOG_WARN, "%s", text.c_str());
}
