#include "AuthorAttributes.h"

#include "AuthorError.h"
#include "AuthorLog.h"

#include <cstdio>
#include <cstring>

namespace {

const char* const kMpeg[] = {"", "mpeg1", "mpeg2"};
const char* const kResolution[] = {"", "720xfull", "704xfull", "352xfull", "352xhalf"};
const char* const kTvFormat[] = {"", "ntsc", "pal"};
const char* const kAspect[] = {"", "4:3", "16:9"};
const char* const kDisallow[] = {"", "noletterbox", "nopanscan"};
const char* const kFrameRate[] = {"",
                                  "24000.0/1001.0 (NTSC 3:2 pulldown converted FILM)",
                                  "24.0 (NATIVE FILM)",
                                  "25.0 (PAL/SECAM VIDEO / converted FILM)",
                                  "30000.0/1001.0 (NTSC VIDEO)",
                                  "30.0",
                                  "50.0 (PAL FIELD RATE)",
                                  "60000.0/1001.0 (NTSC FIELD RATE)",
                                  "60.0"};
const char* const kAudioFormat[] = {"", "ac3", "mp2", "pcm", "dts"};
const char* const kQuantization[] = {"", "16bps", "20bps", "24bps", "drc"};
const char* const kSurround[] = {"", "surround"};
const char* const kLanguage[] = {"", "nolang", "lang"};
const char* const kChannels[] = {"", "1ch", "2ch", "3ch", "4ch", "5ch", "6ch", "7ch", "8ch"};
const char* const kSampling[] = {"", "48khz", "96khz"};

struct NameTable {
    const char* label;
    const char* const* names;
    int count;
};

template <size_t N> constexpr NameTable table(const char* label, const char* const (&names)[N]) {
    return NameTable{label, names, static_cast<int>(N) - 1};
}

const NameTable kTables[ATTR_KIND_COUNT] = {
    table("mpeg format", kMpeg),         table("resolution", kResolution),           table("tv format", kTvFormat),
    table("aspect ratio", kAspect),      table("16:9 disallow", kDisallow),          table("frame rate", kFrameRate),
    table("audio format", kAudioFormat), table("audio quantization", kQuantization), table("surround", kSurround),
    table("audio language", kLanguage),  table("number of channels", kChannels),     table("sampling rate", kSampling),
};

// Frame-rate tables indexed by frame_rate_code (0 is unused: it counts as 4).
const int kClock[9] = {90090, 90090, 90000, 90000, 90090, 90000, 90000, 90090, 90000};
const int kFps[9] = {30, 24, 24, 25, 30, 30, 50, 60, 60};

int rateIndex(int code) {
    return code >= 1 && code <= 8 ? code : 4;
}

int findWord(AuthorAttrKind kind, const char* word) {
    const NameTable& t = kTables[kind];
    for (int i = 1; i <= t.count; ++i)
        if (std::strcmp(t.names[i], word) == 0)
            return i;
    return 0;
}

int bcd(int x) {
    return x + (x / 10) * 6;
}

void put16(uint8_t* p, int v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

int minus1(int v) {
    return v > 0 ? v - 1 : 0;
}

} // namespace

int AuthorAttrNames(AuthorAttrKind kind, const char* const** names) {
    if (kind < 0 || kind >= ATTR_KIND_COUNT)
        return 0;
    if (names)
        *names = kTables[kind].names;
    return kTables[kind].count;
}

const char* AuthorAttrName(AuthorAttrKind kind, int value) {
    if (kind < 0 || kind >= ATTR_KIND_COUNT || value < 1 || value > kTables[kind].count)
        return "";
    return kTables[kind].names[value];
}

const char* AuthorAttrLabel(AuthorAttrKind kind) {
    return kind >= 0 && kind < ATTR_KIND_COUNT ? kTables[kind].label : "";
}

const char* AuthorGroupName(int groupKind) {
    static const char* const names[] = {"VTS", "VTSM", "VMGM"};
    return groupKind >= 0 && groupKind <= 2 ? names[groupKind] : "";
}

bool AuthorMergeAttr(int& current, int value, int& lastConflict, AuthorAttrKind kind) {
    if (current == 0) {
        current = value;
        return false;
    }
    if (value == current)
        return false;
    if (value != lastConflict) {
        AuthorLog(AUTHOR_LOG_WARN, "WARN: attempt to update %s from %s to %s; skipping\n", AuthorAttrLabel(kind),
                  AuthorAttrName(kind, current), AuthorAttrName(kind, value));
        lastConflict = value;
    }
    return true;
}

bool AuthorSetVideoWord(AuthorVideoAttributes& video, const char* word, AuthorAttrKind kind) {
    int value = findWord(kind, word);
    if (value == 0)
        return false;
    switch (kind) {
    case ATTR_MPEG_FORMAT:
        AuthorMergeAttr(video.mpegFormat, value, video.lastMpegFormat, kind);
        return true;
    case ATTR_TV_FORMAT:
        AuthorMergeAttr(video.tvFormat, value, video.lastTvFormat, kind);
        return true;
    case ATTR_ASPECT:
        AuthorMergeAttr(video.aspect, value, video.lastAspect, kind);
        return true;
    case ATTR_RESOLUTION:
        AuthorMergeAttr(video.resolution, value, video.lastResolution, kind);
        return true;
    default:
        return false;
    }
}

bool AuthorSetAudioWord(AuthorAudioValues& audio, const char* word, AuthorAttrKind kind) {
    int value = findWord(kind, word);
    if (value == 0)
        return false;
    switch (kind) {
    case ATTR_QUANTIZATION:
        AuthorMergeAttr(audio.quantization, value, audio.lastQuantization, kind);
        return true;
    case ATTR_SURROUND:
        AuthorMergeAttr(audio.surround, value, audio.lastSurround, kind);
        return true;
    case ATTR_CHANNELS:
        AuthorMergeAttr(audio.channels, value, audio.lastChannels, kind);
        return true;
    case ATTR_SAMPLING_RATE:
        AuthorMergeAttr(audio.samplingRate, value, audio.lastSamplingRate, kind);
        return true;
    default:
        return false;
    }
}

void AuthorSetResolution(AuthorVideoAttributes& video, const char* text) {
    int width = 0;
    int height = 0;
    if (std::sscanf(text, "%dx%d", &width, &height) != 2)
        return;
    int code = width >= 705 ? RES_720_FULL : width >= 353 ? RES_704_FULL : height >= 384 ? RES_352_FULL : RES_352_HALF;
    AuthorMergeAttr(video.resolution, code, video.lastResolution, ATTR_RESOLUTION);
    if (video.tvFormat == 0) {
        if (height % 5 == 0)
            AuthorSetVideoWord(video, "ntsc", ATTR_TV_FORMAT);
        else if (height % 9 == 0)
            AuthorSetVideoWord(video, "pal", ATTR_TV_FORMAT);
    }
}

void AuthorSetFrameRate(AuthorVideoAttributes& video, int code) {
    // Codes 0 and 9..15 name no frame rate: such a stream cannot be timed, so it is refused.
    if (code < 1 || code > 8)
        AuthorFatal("ERR:  Invalid video frame rate code %d in sequence header\n", code);
    if (video.frameRate == 0 && code != 3 && code != 4)
        AuthorLog(AUTHOR_LOG_WARN, "WARN: not a valid DVD frame rate: %s\n", AuthorAttrName(ATTR_FRAME_RATE, code));
    AuthorMergeAttr(video.frameRate, code, video.lastFrameRate, ATTR_FRAME_RATE);
}

int AuthorFrameClock(int code) {
    return kClock[rateIndex(code)];
}
int AuthorFramesPerSecond(int code) {
    return kFps[rateIndex(code)];
}
int AuthorFrameDuration(int code) {
    return AuthorFrameClock(code) / AuthorFramesPerSecond(code);
}
long long AuthorSecondsToTicks(long long seconds, int code) {
    return seconds * AuthorFrameClock(code);
}
long long AuthorTicksToSeconds(long long ticks, int code) {
    return ticks / AuthorFrameClock(code);
}

uint32_t AuthorPlaybackTime(long long ticks, int code) {
    const long long clock = AuthorFrameClock(code);
    const int fps = clock == 90090 ? 30 : 25;
    const int flag = clock == 90090 ? 3 : 1;
    if (ticks < 0)
        ticks = 0; // a negative duration has no encoding; treat it as none
    long long u = ticks + clock / (2 * fps) + 1;
    long long s = u / clock;
    int hours = static_cast<int>(s / 3600);
    int minutes = static_cast<int>((s / 60) % 60);
    int seconds = static_cast<int>(s % 60);
    int frames = static_cast<int>((u % clock) * fps / clock);
    return (static_cast<uint32_t>(bcd(hours) & 0xFF) << 24) | (static_cast<uint32_t>(bcd(minutes)) << 16) |
           (static_cast<uint32_t>(bcd(seconds)) << 8) | static_cast<uint32_t>((flag << 6) | bcd(frames));
}

void AuthorWritePlaybackTime(uint8_t* out, long long ticks, int code) {
    uint32_t v = AuthorPlaybackTime(ticks, code);
    out[0] = static_cast<uint8_t>(v >> 24);
    out[1] = static_cast<uint8_t>(v >> 16);
    out[2] = static_cast<uint8_t>(v >> 8);
    out[3] = static_cast<uint8_t>(v);
}

int AuthorResolutionWidth(const AuthorVideoAttributes& video) {
    switch (video.resolution) {
    case RES_720_FULL:
        return 720;
    case RES_704_FULL:
        return 704;
    default:
        return 352;
    }
}

int AuthorResolutionHeight(const AuthorVideoAttributes& video) {
    int height = video.resolution == RES_352_HALF ? 240 : 480;
    return video.tvFormat == TV_PAL ? height * 6 / 5 : height;
}

void AuthorWriteAttributeBlock(uint8_t* block, const AuthorAttributes& a) {
    const AuthorVideoAttributes& v = a.video;
    int word = 0;
    if (v.mpegFormat == MPEG_2)
        word |= 1 << 14;
    if (v.tvFormat == TV_PAL)
        word |= 1 << 12;
    if (v.aspect == ASPECT_16_9)
        word |= 3 << 10;
    word |= (v.disallow & 3) << 8;
    word |= (v.caption & 3) << 6;
    word |= (minus1(v.resolution) & 3) << 2;
    put16(block, word);
    put16(block + 2, a.numAudio & 0xFF);
    for (int i = 0; i < a.numAudio && i < AUTHOR_MAX_AUDIO; ++i) {
        const AuthorAudioStream& s = a.audio[i];
        uint8_t* p = block + 4 + 8 * i;
        std::memset(p, 0, 8);
        bool lang = s.languageType == LANG_SET;
        bool surround = s.values.surround != 0;
        p[0] = static_cast<uint8_t>((minus1(s.format) << 6) + (lang ? 4 : 0) + (surround ? 2 : 0));
        p[1] = static_cast<uint8_t>((minus1(s.values.quantization) << 6) | (minus1(s.values.samplingRate) << 4) |
                                    (minus1(s.values.channels) & 7));
        if (lang) {
            p[2] = static_cast<uint8_t>(s.language[0]);
            p[3] = static_cast<uint8_t>(s.language[1]);
        }
        p[7] = surround ? 8 : 0;
    }
    put16(block + 84, a.numSubpicture & 0xFF);
    for (int j = 0; j < a.numSubpicture && j < AUTHOR_MAX_SUBPICTURE; ++j) {
        const AuthorSubpictureStream& s = a.subpicture[j];
        uint8_t* p = block + 86 + 6 * j;
        std::memset(p, 0, 6);
        if (s.languageType == LANG_SET) {
            p[0] = 1;
            p[2] = static_cast<uint8_t>(s.language[0]);
            p[3] = static_cast<uint8_t>(s.language[1]);
        }
    }
}
