// The fixed 1152-byte record exchanged with the encoder program as copy-data, in both directions.
// Little-endian, zero-filled before use; the first 32-bit integer is the record type. Text areas
// hold zero-terminated UTF-8; a text that does not fit its area (with the terminator) is refused,
// never cut.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "SubtitleInfo.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the encoder record is read in place as little-endian");

namespace qx {

constexpr size_t kEncoderRecordSize = 1152;

enum EncoderRecordType : int32_t {
    ENC_HANDSHAKE = 0,
    ENC_PROBE = 1,
    ENC_CONVERT = 2,
    ENC_STOP = 3,
    ENC_PROBE_RESULT = 4,
    ENC_PROGRESS = 5,
    ENC_CONVERT_DONE = 6,
    ENC_RESTART = 7,
};

#pragma pack(push, 1)
// One subtitle of a probe answer (SubtitleInfo).
struct EncSubtitleEntry {
    char language[2]; // two letters, or zeros
    uint8_t kind;     // 1 a track inside the movie, 2 a file beside it
    uint8_t picture;  // 1 for picture subtitles
    uint16_t track;   // a track's stream index + 1
    char suffix[18];  // a file's name after the movie's base name, zero-terminated
};

struct EncHandshakeRecord {
    int32_t type;
    uint8_t unused4[4];
    uint32_t systemPid; // process of the main window
    uint8_t unused12[1140];
};

struct EncProbeRecord {
    int32_t type;
    uint8_t unused4[4];
    char path[260];
    char workFolder[350];
    uint8_t unused618[534];
};

struct EncConvertRecord {
    int32_t type;
    uint8_t unused4[4];
    char source[260];
    char output[350];
    char aspect[5]; // "4:3" or "16:9"
    // Per subtitle of the probe answer, in its order: the subpicture stream id (0x20..0x3F) it
    // becomes, or 0 when it stays off the disc. A count of 0 (a zero-filled record): no subtitles.
    uint8_t subtitleCount;
    uint8_t subtitleStreams[32];
    uint8_t unused656[172];
    int32_t tv;    // 0 PAL, 1 NTSC
    int32_t width; // active picture; 0 x 0 = the movie's own size
    int32_t height;
    uint8_t unused840[24];
    char workFolder[260];
    int32_t fixedOne; // always 1
    uint8_t unused1128[4];
    int32_t probeA;
    float probeB;
    int32_t splitOutput;
    int32_t fixedZero; // always 0
    uint8_t unused1148[4];
};

struct EncProbeResultRecord {
    int32_t type;
    uint8_t unused4[4];
    uint8_t supported;
    char path[263];
    float sizeKb;
    uint8_t unused276[4];
    double duration;
    float startTime;
    uint8_t unused292[4];
    float frameRate;
    uint8_t unused300[4];
    int32_t width;
    int32_t height;
    float aspect;
    int32_t probeA;
    float probeB;
    uint8_t subtitleCount; // 0..32 entries follow
    uint8_t unused325[3];
    EncSubtitleEntry subtitles[32];
    char sound[56]; // the sound track the conversion takes, as the log shows it; zero-terminated
};

struct EncProgressRecord {
    int32_t type;
    uint8_t unused4[4];
    int32_t kind; // 0 conversion, other: seeking
    float fraction;
    uint8_t unused16[1136];
};
#pragma pack(pop)

static_assert(sizeof(EncHandshakeRecord) == kEncoderRecordSize);
static_assert(offsetof(EncHandshakeRecord, systemPid) == 8);
static_assert(sizeof(EncProbeRecord) == kEncoderRecordSize);
static_assert(offsetof(EncProbeRecord, path) == 8 && offsetof(EncProbeRecord, workFolder) == 268);
static_assert(sizeof(EncConvertRecord) == kEncoderRecordSize);
static_assert(offsetof(EncConvertRecord, source) == 8 && offsetof(EncConvertRecord, output) == 268);
static_assert(offsetof(EncConvertRecord, aspect) == 618 && offsetof(EncConvertRecord, tv) == 828);
static_assert(offsetof(EncConvertRecord, width) == 832 && offsetof(EncConvertRecord, height) == 836);
static_assert(offsetof(EncConvertRecord, workFolder) == 864 && offsetof(EncConvertRecord, fixedOne) == 1124);
static_assert(offsetof(EncConvertRecord, probeA) == 1132 && offsetof(EncConvertRecord, probeB) == 1136);
static_assert(offsetof(EncConvertRecord, splitOutput) == 1140 && offsetof(EncConvertRecord, fixedZero) == 1144);
static_assert(sizeof(EncProbeResultRecord) == kEncoderRecordSize);
static_assert(offsetof(EncProbeResultRecord, sound) == 1096);
static_assert(offsetof(EncProbeResultRecord, supported) == 8 && offsetof(EncProbeResultRecord, path) == 9);
static_assert(offsetof(EncProbeResultRecord, sizeKb) == 272 && offsetof(EncProbeResultRecord, duration) == 280);
static_assert(offsetof(EncProbeResultRecord, startTime) == 288 && offsetof(EncProbeResultRecord, frameRate) == 296);
static_assert(offsetof(EncProbeResultRecord, width) == 304 && offsetof(EncProbeResultRecord, height) == 308);
static_assert(offsetof(EncProbeResultRecord, aspect) == 312 && offsetof(EncProbeResultRecord, probeA) == 316);
static_assert(offsetof(EncProbeResultRecord, probeB) == 320);
static_assert(sizeof(EncSubtitleEntry) == 24);
static_assert(offsetof(EncProbeResultRecord, subtitleCount) == 324 && offsetof(EncProbeResultRecord, subtitles) == 328);
static_assert(offsetof(EncConvertRecord, subtitleCount) == 623 && offsetof(EncConvertRecord, subtitleStreams) == 624);
static_assert(sizeof(EncProgressRecord) == kEncoderRecordSize);
static_assert(offsetof(EncProgressRecord, kind) == 8 && offsetof(EncProgressRecord, fraction) == 12);

// The record as raw bytes, with typed views copied in and out (no aliasing tricks).
class EncoderRecord {
public:
    EncoderRecord() { Clear(); }
    void Clear() { bytes_.fill(0); }
    int32_t Type() const {
        int32_t t;
        std::memcpy(&t, bytes_.data(), sizeof t);
        return t;
    }
    template <class T> T As() const {
        static_assert(sizeof(T) == kEncoderRecordSize && std::is_trivially_copyable_v<T>);
        T view;
        std::memcpy(&view, bytes_.data(), sizeof view);
        return view;
    }
    template <class T> void Set(const T& view) {
        static_assert(sizeof(T) == kEncoderRecordSize && std::is_trivially_copyable_v<T>);
        std::memcpy(bytes_.data(), &view, sizeof view);
    }
    // A zero-filled record of one type.
    template <class T> static T Blank(int32_t type) {
        T view;
        std::memset(&view, 0, sizeof view);
        view.type = type;
        return view;
    }
    // Takes a received record; false when it is not exactly 1152 bytes.
    bool Assign(const void* data, size_t size) {
        if (size != kEncoderRecordSize)
            return false;
        std::memcpy(bytes_.data(), data, kEncoderRecordSize);
        return true;
    }
    const uint8_t* data() const { return bytes_.data(); }
    static constexpr size_t size() { return kEncoderRecordSize; }

private:
    std::array<uint8_t, kEncoderRecordSize> bytes_;
};

// Puts `text` with its terminator into `area`; false (area untouched) when it does not fit or
// holds a zero byte.
bool PutRecordText(char* area, size_t areaSize, const std::string& text);
template <size_t N> bool PutRecordText(char (&area)[N], const std::string& text) {
    return PutRecordText(area, N, text);
}
// Reads the zero-terminated text of `area`; false when the area holds no terminator.
bool GetRecordText(const char* area, size_t areaSize, std::string* text);
template <size_t N> bool GetRecordText(const char (&area)[N], std::string* text) {
    return GetRecordText(area, N, text);
}

// The display aspect text of a conversion request.
inline const char* AspectText(bool wide) {
    return wide ? "16:9" : "4:3";
}

// The probe answer as the source list takes it.
struct EncoderProbeAnswer {
    bool supported = false;
    std::string path;
    float sizeKb = 0;
    double duration = 0;
    float startTime = 0;
    float frameRate = 0;
    int32_t width = 0;
    int32_t height = 0;
    float aspect = 0;
    int32_t probeA = 0;
    float probeB = 0;
    std::vector<SubtitleInfo> subtitles; // tracks inside the movie first, then files
    std::string sound;                   // which sound track is taken ("track 2 of 3: ac3, …"), or empty
};

// `text` in a record area of `areaSize` bytes with its end mark: a longer text is cut at a character
// boundary and ends in "..." so that the cut shows.
std::string FitRecordText(const std::string& text, size_t areaSize);

// The subtitles of a probe answer into its record (at most 32; an entry that does not fit is
// left out) and back (entries with an unknown kind or an unterminated name are dropped).
void PutSubtitleEntries(EncProbeResultRecord* record, const std::vector<SubtitleInfo>& subtitles);
std::vector<SubtitleInfo> GetSubtitleEntries(const EncProbeResultRecord& record);

// The encoder writes each file of a converted stream (the stream and its part files) under this
// name and renames it only when the whole stream is complete.
inline std::string EncoderWritingName(const std::string& path) {
    return path + ".writing";
}

} // namespace qx
