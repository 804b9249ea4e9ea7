// Stream attributes of a program-chain group: video coding, audio and subpicture streams, the name
// tables behind every value, the first-value-wins merge rule, frame-rate tables and the playback time.
#pragma once

#include <cstdint>
#include <string>

// Every attribute value is an index into its name table; 0 means "not set".
enum AuthorAttrKind {
    ATTR_MPEG_FORMAT,   // "mpeg1", "mpeg2"
    ATTR_RESOLUTION,    // "720xfull", "704xfull", "352xfull", "352xhalf"
    ATTR_TV_FORMAT,     // "ntsc", "pal"
    ATTR_ASPECT,        // "4:3", "16:9"
    ATTR_DISALLOW,      // "noletterbox", "nopanscan" (3 = both)
    ATTR_FRAME_RATE,    // index = MPEG frame_rate_code 1..8
    ATTR_AUDIO_FORMAT,  // "ac3", "mp2", "pcm", "dts"
    ATTR_QUANTIZATION,  // "16bps", "20bps", "24bps", "drc"
    ATTR_SURROUND,      // "surround"
    ATTR_LANGUAGE,      // "nolang", "lang"
    ATTR_CHANNELS,      // "1ch" .. "8ch"
    ATTR_SAMPLING_RATE, // "48khz", "96khz"
    ATTR_KIND_COUNT
};

enum { MPEG_1 = 1, MPEG_2 = 2 };
enum { RES_720_FULL = 1, RES_704_FULL = 2, RES_352_FULL = 3, RES_352_HALF = 4 };
enum { TV_NTSC = 1, TV_PAL = 2 };
enum { ASPECT_4_3 = 1, ASPECT_16_9 = 2 };
enum { DISALLOW_LETTERBOX = 1, DISALLOW_PANSCAN = 2 };
enum { AUDIO_AC3 = 1, AUDIO_MP2 = 2, AUDIO_PCM = 3, AUDIO_DTS = 4 };
enum { QUANT_16 = 1, QUANT_20 = 2, QUANT_24 = 3, QUANT_DRC = 4 };
enum { LANG_NONE = 1, LANG_SET = 2 };
enum { SAMPLING_48K = 1, SAMPLING_96K = 2 };
enum { GROUP_TITLES = 0, GROUP_TITLE_MENUS = 1, GROUP_VMG_MENUS = 2 };

constexpr int AUTHOR_MAX_AUDIO = 8;
constexpr int AUTHOR_MAX_SUBPICTURE = 32;
constexpr int AUTHOR_CHANNELS = 64;       // per source: 0..31 audio, 32..63 subpictures
constexpr int AUTHOR_AUDIO_CHANNELS = 32; // AC-3 0..7, MPEG audio 8..15, LPCM 16..23, DTS 24..31
constexpr int AUTHOR_FIRST_SUBPICTURE_CHANNEL = 32;

// Name table of a kind: names[1..count]; names[0] is unused. Returns the count.
int AuthorAttrNames(AuthorAttrKind kind, const char* const** names);
// Name of value `value` of `kind`, or "" for 0 / out of the table.
const char* AuthorAttrName(AuthorAttrKind kind, int value);
// Name used in log lines for the attribute ("mpeg format", "tv format", ...).
const char* AuthorAttrLabel(AuthorAttrKind kind);
// "VTS", "VTSM", "VMGM" for group kinds 0..2.
const char* AuthorGroupName(int groupKind);

struct AuthorVideoAttributes {
    int mpegFormat = 0;
    int resolution = 0;
    int tvFormat = 0;
    int aspect = 0;
    int disallow = 0;  // 16:9 disallow bits (permitted display)
    int frameRate = 0; // frame_rate_code 1..8
    int caption = 0;   // line-21 flags: bit 1 field 1, bit 0 field 2 (never set)
    // Last value reported as a conflict for each merged value (the warning is logged once per value).
    int lastMpegFormat = 0;
    int lastResolution = 0;
    int lastTvFormat = 0;
    int lastAspect = 0;
    int lastFrameRate = 0;
};

// The audio values detected per source channel and bound to an audio stream.
struct AuthorAudioValues {
    int quantization = 0;
    int surround = 0;
    int channels = 0;
    int samplingRate = 0;
    int lastQuantization = 0;
    int lastSurround = 0;
    int lastChannels = 0;
    int lastSamplingRate = 0;
};

struct AuthorAudioStream {
    int format = 0;
    int lastFormat = 0;
    AuthorAudioValues values;
    int languageType = 0;
    int streamNumber = 0; // 1..8 within its format; 0 = not bound to a channel
    char language[2] = {0, 0};
};

struct AuthorSubpictureStream {
    int streamNumber = 0; // 1..32; 0 = free slot
    int languageType = 0;
    char language[2] = {0, 0};
};

struct AuthorAttributes {
    int numAudio = 0;      // 0..8
    int numSubpicture = 0; // 0..32
    AuthorVideoAttributes video;
    AuthorAudioStream audio[AUTHOR_MAX_AUDIO];
    AuthorSubpictureStream subpicture[AUTHOR_MAX_SUBPICTURE];
};

// First value wins. Logs "WARN: attempt to update %s from %s to %s; skipping\n" once per new conflicting
// value. Returns true when there was a conflict.
bool AuthorMergeAttr(int& current, int value, int& lastConflict, AuthorAttrKind kind);

// Looks `word` up (exact, case-sensitive) in the kind's table and merges its index. Video kinds: mpeg
// format, tv format, aspect, resolution; audio kinds: quantization, surround, channels, sampling rate.
// Returns false when the word is not in the table or the kind does not belong to the record.
bool AuthorSetVideoWord(AuthorVideoAttributes& video, const char* word, AuthorAttrKind kind);
bool AuthorSetAudioWord(AuthorAudioValues& audio, const char* word, AuthorAttrKind kind);

// Resolution from "%dx%d"; also sets the tv format from the height when it is still unset.
void AuthorSetResolution(AuthorVideoAttributes& video, const char* text);
// Merges a frame-rate code 1..8 (warning when the first one is not a DVD rate). Codes outside 1..8 are
// refused fatally ("ERR:  Invalid video frame rate code %d in sequence header\n").
void AuthorSetFrameRate(AuthorVideoAttributes& video, int code);

// Frame-rate tables; code 0 (unset) and any code outside 1..8 count as 4.
int AuthorFrameClock(int code); // 90000 or 90090
int AuthorFramesPerSecond(int code);
int AuthorFrameDuration(int code); // 90 kHz ticks
long long AuthorSecondsToTicks(long long seconds, int code);
long long AuthorTicksToSeconds(long long ticks, int code);

// Playback time (hours, minutes, seconds, flag|frames in BCD) of `ticks` for the group's rate code, as a
// big-endian 32-bit value, and written as 4 bytes.
uint32_t AuthorPlaybackTime(long long ticks, int code);
void AuthorWritePlaybackTime(uint8_t* out, long long ticks, int code);

// Video start-code detection: `p` points at 00 00 01 xx with at least 8 readable bytes. May rewrite the
// aspect nibble of a sequence header (byte 7).
void AuthorDetectVideo(AuthorVideoAttributes& video, uint8_t* p);
// AC-3 frame at `p` (must start 0B 77), `size` bytes readable; LPCM header byte 2 (`header[1]`); MPEG audio.
void AuthorDetectAc3(AuthorAudioValues& audio, const uint8_t* p, int size);
void AuthorDetectLpcm(AuthorAudioValues& audio, uint8_t secondHeaderByte);
void AuthorDetectMpegAudio(AuthorAudioValues& audio);

// Width and height shown in the summary for the record's resolution and tv format.
int AuthorResolutionWidth(const AuthorVideoAttributes& video);
int AuthorResolutionHeight(const AuthorVideoAttributes& video);

// Writes the attribute block at `block`: video word, audio count, the used audio slots (4 + 8i), the
// subpicture count (84) and the used subpicture slots (86 + 6j). Bytes of unused slots are left alone.
void AuthorWriteAttributeBlock(uint8_t* block, const AuthorAttributes& attributes);
