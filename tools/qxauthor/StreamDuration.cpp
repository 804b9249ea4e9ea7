#include "StreamDuration.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kChunk = 1 << 20;
constexpr long long kWrap = 1LL << 33;

struct Timestamps {
    bool hasVideo = false;
    long long minVideoPts = 0;
    long long maxVideoPts = 0;
    bool hasScr = false;
    long long firstScr = 0;
    long long lastScr = 0;
    int frameRateCode = 0;
};

// 90 kHz ticks of one frame for an MPEG frame_rate_code (fractional rates rounded down).
long long frameTicks(int code) {
    static const long long ticks[] = {0, 3753, 3750, 3600, 3003, 3000, 1800, 1501, 1500};
    return code >= 1 && code <= 8 ? ticks[code] : 0;
}

bool readTimestamp(const uint8_t* p, long long& value) {
    // 4-bit prefix, three groups of bits each closed by a marker bit.
    if ((p[0] & 1) == 0 || (p[2] & 1) == 0 || (p[4] & 1) == 0)
        return false;
    value = (static_cast<long long>((p[0] >> 1) & 7) << 30) |
            (static_cast<long long>((p[1] << 7) | (p[2] >> 1)) << 15) | ((p[3] << 7) | (p[4] >> 1));
    return true;
}

// Reads a pack header at p (00 00 01 BA); returns its length or 0 when it is not a valid one.
size_t readPack(const uint8_t* p, size_t avail, long long& scr) {
    if (avail >= 14 && (p[4] & 0xC4) == 0x44 && (p[6] & 4) && (p[8] & 4)) {
        scr = (static_cast<long long>((p[4] >> 3) & 7) << 30) |
              (static_cast<long long>(((p[4] & 3) << 13) | (p[5] << 5) | (p[6] >> 3)) << 15) |
              (((p[6] & 3) << 13) | (p[7] << 5) | (p[8] >> 3));
        size_t length = 14 + (p[13] & 7);
        return length <= avail ? length : 0;
    }
    if (avail >= 12 && (p[4] & 0xF1) == 0x21) {
        // MPEG-1 packs carry the clock in the same layout as a presentation time.
        return readTimestamp(p + 4, scr) ? 12 : 0;
    }
    return 0;
}

// The PTS of a video PES at p, if it carries one; also where its payload starts.
bool readPesPts(const uint8_t* p, size_t packetEnd, long long& pts, size_t& payload) {
    if ((p[6] & 0xC0) == 0x80) { // MPEG-2 PES header
        if (9 > packetEnd)
            return false;
        payload = 9 + p[8];
        if (!(p[7] & 0x80) || 14 > packetEnd || (p[9] & 0xE0) != 0x20)
            return false;
        return readTimestamp(p + 9, pts);
    }
    size_t k = 6; // MPEG-1: stuffing, optional buffer size, then the timestamps
    while (k < packetEnd && p[k] == 0xFF && k < 6 + 16)
        ++k;
    if (k + 2 <= packetEnd && (p[k] & 0xC0) == 0x40)
        k += 2;
    if (k >= packetEnd)
        return false;
    if ((p[k] & 0xF0) == 0x20 || (p[k] & 0xF0) == 0x30) {
        payload = k + ((p[k] & 0xF0) == 0x30 ? 10 : 5);
        return payload <= packetEnd && readTimestamp(p + k, pts);
    }
    payload = k + 1;
    return false;
}

void findFrameRate(const uint8_t* p, size_t begin, size_t end, Timestamps& ts) {
    for (size_t k = begin; k + 8 <= end && ts.frameRateCode == 0; ++k)
        if (p[k] == 0 && p[k + 1] == 0 && p[k + 2] == 1 && p[k + 3] == 0xB3)
            ts.frameRateCode = p[k + 7] & 0x0F;
}

void walk(const uint8_t* p, size_t n, Timestamps& ts) {
    size_t i = 0;
    while (i + 4 <= n) {
        if (!(p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xBA)) {
            ++i; // resynchronise on the next pack header
            continue;
        }
        long long scr = 0;
        size_t packLength = readPack(p + i, n - i, scr);
        if (packLength == 0) {
            ++i;
            continue;
        }
        if (!ts.hasScr)
            ts.firstScr = scr;
        ts.hasScr = true;
        ts.lastScr = scr;
        size_t j = i + packLength;
        while (j + 6 <= n && p[j] == 0 && p[j + 1] == 0 && p[j + 2] == 1 && p[j + 3] > 0xBA) {
            size_t end = j + 6 + ((p[j + 4] << 8) | p[j + 5]);
            if (end > n)
                break;
            uint8_t id = p[j + 3];
            long long pts = 0;
            size_t payload = 0;
            if (id >= 0xE0 && id <= 0xEF && readPesPts(p + j, end - j, pts, payload)) {
                if (!ts.hasVideo || pts < ts.minVideoPts)
                    ts.minVideoPts = pts;
                if (!ts.hasVideo || pts > ts.maxVideoPts)
                    ts.maxVideoPts = pts;
                ts.hasVideo = true;
            }
            if (id >= 0xE0 && id <= 0xEF && ts.frameRateCode == 0)
                findFrameRate(p, j + 6, end, ts);
            j = end;
        }
        i = std::max(j, i + 1);
    }
}

bool readChunk(FILE* file, long long offset, std::vector<uint8_t>& out) {
    if (fseeko(file, offset, SEEK_SET) != 0)
        return false;
    size_t got = std::fread(out.data(), 1, out.size(), file);
    out.resize(got);
    return !std::ferror(file);
}

} // namespace

StreamDuration MeasureStreamDurationOf(const unsigned char* head, size_t headSize, const unsigned char* tail,
                                       size_t tailSize) {
    StreamDuration result;
    Timestamps first;
    walk(head, headSize, first);
    Timestamps last;
    walk(tail, tailSize, last);
    if (first.hasVideo && last.hasVideo) {
        long long end = std::max(first.maxVideoPts, last.maxVideoPts);
        if (end < first.minVideoPts)
            end += kWrap;
        int code = first.frameRateCode ? first.frameRateCode : last.frameRateCode;
        result.seconds = static_cast<double>(end - first.minVideoPts + frameTicks(code)) / 90000.0;
        result.ok = true;
    } else if (first.hasScr && last.hasScr) {
        long long end = last.lastScr < first.firstScr ? last.lastScr + kWrap : last.lastScr;
        result.seconds = static_cast<double>(end - first.firstScr) / 90000.0;
        result.ok = true;
    } else {
        result.error = "no MPEG program stream timestamps found";
    }
    return result;
}

StreamDuration MeasureStreamDuration(const std::string& path, const std::string& tailPath) {
    StreamDuration result;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        result.error = "cannot open " + path + ": " + std::strerror(errno);
        return result;
    }
    std::vector<uint8_t> head(kChunk);
    bool ok = readChunk(file, 0, head);
    FILE* tailFile = file;
    const std::string& tailName = tailPath.empty() ? path : tailPath;
    if (!tailPath.empty()) {
        tailFile = std::fopen(tailPath.c_str(), "rb");
        if (!tailFile) {
            std::fclose(file);
            result.error = "cannot open " + tailPath + ": " + std::strerror(errno);
            return result;
        }
    }
    std::vector<uint8_t> tail;
    if (ok && fseeko(tailFile, 0, SEEK_END) == 0) {
        long long size = ftello(tailFile);
        long long start = size > static_cast<long long>(kChunk) ? size - static_cast<long long>(kChunk) : 0;
        start -= start % 2048; // DVD streams are whole sectors; start at a pack boundary when there is one
        tail.resize(static_cast<size_t>(size - start));
        ok = readChunk(tailFile, start, tail);
    } else {
        ok = false;
    }
    if (tailFile != file)
        std::fclose(tailFile);
    std::fclose(file);
    if (!ok) {
        result.error = "cannot read " + tailName + ": " + std::strerror(errno);
        return result;
    }
    result = MeasureStreamDurationOf(head.data(), head.size(), tail.data(), tail.size());
    if (!result.ok)
        result.error = path + ": " + result.error;
    return result;
}
