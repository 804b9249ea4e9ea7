// Video payload parsing of the scanner: start codes across packet ends, reference-picture ends,
// field counts of each VOBU and the attribute detection (with its aspect rewrite).
#include "AuthorScanner.h"

#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

bool startCodePrefix(const uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

struct VobuCounters {
    bool hasSequenceEnd;
    int leadingFields;
    int totalFields;
    int refEnds[3];
    int numRefEnds;
};

VobuCounters saveCounters(const VobuInfo& v) {
    VobuCounters c{
        v.hasSequenceEnd, v.leadingFields, v.totalFields, {v.refEnds[0], v.refEnds[1], v.refEnds[2]}, v.numRefEnds};
    return c;
}

void restoreCounters(VobuInfo& v, const VobuCounters& c) {
    v.hasSequenceEnd = c.hasSequenceEnd;
    v.leadingFields = c.leadingFields;
    v.totalFields = c.totalFields;
    std::memcpy(v.refEnds, c.refEnds, sizeof v.refEnds);
    v.numRefEnds = c.numRefEnds;
}

} // namespace

void AuthorScanner::videoPacket(VobuInfo& vobu, uint8_t* s) {
    int start = 23 + s[22];
    int end = 20 + ((s[18] << 8) | s[19]);
    if (end > AUTHOR_SECTOR)
        end = AUTHOR_SECTOR;
    int length = end > start ? end - start : 0;
    uint8_t* payload = s + start;

    AuthorVideoAttributes& video = group_.attributes.video;
    const int formatBefore = video.mpegFormat;
    const VobuCounters counters = saveCounters(vobu);
    const PictureState picture = picture_;
    searchPass(vobu, payload, length);
    if (video.mpegFormat == 0)
        AuthorSetVideoWord(video, "mpeg1", ATTR_MPEG_FORMAT);
    if (video.mpegFormat != formatBefore) {
        // Search again under the format now known, so that the aspect nibble is rewritten correctly.
        restoreCounters(vobu, counters);
        picture_ = picture;
        searchPass(vobu, payload, length);
    }
    if (length >= 8)
        std::memcpy(carry_, payload + length - 7, 7);
    else
        std::memset(carry_, 0xFF, sizeof carry_);
}

// One search over the carried-over bytes and the payload. Start codes that begin in the carry-over are
// charged to the previous video sector.
void AuthorScanner::searchPass(VobuInfo& vobu, uint8_t* payload, int length) {
    uint8_t window[15];
    std::memcpy(window, carry_, 7);
    if (length < 8) {
        std::memcpy(window + 7, payload, static_cast<size_t>(length));
        for (int i = 0; i < length; ++i)
            if (startCodePrefix(window + i))
                startCode(vobu, window + i, lastVideoSector_);
        std::memcpy(payload, window + 7, static_cast<size_t>(length));
        return;
    }
    std::memcpy(window + 7, payload, 8);
    for (int i = 0; i < 8; ++i)
        if (startCodePrefix(window + i))
            startCode(vobu, window + i, i < 7 ? lastVideoSector_ : groupSector_);
    std::memcpy(payload, window + 7, 8);

    // Start codes at positions 1 .. length - 8.
    uint8_t* p = payload + 1;
    uint8_t* const end = payload + length - 7;
#ifdef __SSE2__
    // Sixteen positions at a time: a start code needs a zero byte followed by another one, which is rare
    // in coded pictures. After a start code the search reloads, as the handler may rewrite bytes ahead.
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 16) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        int mask = _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero)));
        int advance = 16;
        while (mask) {
            int i = __builtin_ctz(static_cast<unsigned>(mask));
            if (p[i + 2] == 1) {
                startCode(vobu, p + i, groupSector_);
                advance = i + 3;
                break;
            }
            mask &= mask - 1;
        }
        p += advance;
    }
#endif
    for (; p < end; ++p)
        if (p[0] == 0 && p[1] == 0 && p[2] == 1)
            startCode(vobu, p, groupSector_);
}

void AuthorScanner::recordRefEnd(VobuInfo& vobu, int sector) {
    if (picture_.refPending && vobu.numRefEnds < 3)
        vobu.refEnds[vobu.numRefEnds++] = sector;
    picture_.refPending = false;
}

// `p` is a start code 00 00 01 xx with 8 readable bytes, lying in `sector`.
void AuthorScanner::startCode(VobuInfo& vobu, uint8_t* p, int sector) {
    AuthorVideoAttributes& video = group_.attributes.video;
    switch (p[3]) {
    case 0x00: { // picture
        recordRefEnd(vobu, sector);
        int tempRef = (p[4] << 2) | (p[5] >> 6);
        int type = (p[5] >> 3) & 7;
        if (picture_.firstTempRef < 0)
            picture_.firstTempRef = tempRef;
        picture_.leading = tempRef < picture_.firstTempRef;
        if (type == 1 || type == 2)
            picture_.refPending = true;
        if (video.mpegFormat == MPEG_1) {
            vobu.totalFields += 2;
            if (picture_.leading && picture_.gopStage == 2)
                vobu.leadingFields += 2;
        }
        break;
    }
    case 0xB3: // sequence header
        recordRefEnd(vobu, sector);
        AuthorDetectVideo(video, p);
        break;
    case 0xB5: { // extension
        int id = p[4] >> 4;
        if (id == 1 || id == 2)
            recordRefEnd(vobu, sector);
        AuthorDetectVideo(video, p);
        if (id == 8) { // picture coding extension
            int fields = (p[6] & 3) == 3 ? 2 : 1;
            if (p[7] & 0x02)
                ++fields;
            vobu.totalFields += fields;
            if (picture_.leading && picture_.gopStage == 2)
                vobu.leadingFields += fields;
        }
        break;
    }
    case 0xB7: // sequence end
        vobu.hasSequenceEnd = true;
        break;
    case 0xB8: // GOP
        recordRefEnd(vobu, sector);
        if (picture_.gopStage == 1) {
            picture_.gopStage = 2;
            picture_.firstTempRef = -1;
            picture_.leading = false;
        } else if (picture_.gopStage == 2) {
            picture_.gopStage = 0;
        }
        break;
    default:
        break;
    }
}

// The last 7 bytes of a source's last video packet are never searched with a following packet; a
// sequence end code there (where an encoder puts it) still marks the VOBU holding that packet.
void AuthorScanner::sequenceEndInCarry(AuthorSource& source) {
    bool found = false;
    for (int i = 0; i + 4 <= 7 && !found; ++i)
        found = startCodePrefix(carry_ + i) && carry_[i + 3] == 0xB7;
    if (!found)
        return;
    for (auto it = source.vobus.rbegin(); it != source.vobus.rend(); ++it) {
        if (it->firstSector <= lastVideoSector_) {
            it->hasSequenceEnd = true;
            return;
        }
    }
}
