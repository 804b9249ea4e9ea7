// Attribute detection from video start codes and audio frame headers.
#include "AuthorAttributes.h"
#include "AuthorLog.h"

#include <cstdio>

namespace {

void setTv(AuthorVideoAttributes& v, int tv) {
    AuthorMergeAttr(v.tvFormat, tv, v.lastTvFormat, ATTR_TV_FORMAT);
}
void setAspect(AuthorVideoAttributes& v, int aspect) {
    AuthorMergeAttr(v.aspect, aspect, v.lastAspect, ATTR_ASPECT);
}

void sequenceHeader(AuthorVideoAttributes& v, uint8_t* p) {
    int width = (p[4] << 4) | (p[5] >> 4);
    int height = ((p[5] & 0x0F) << 8) | p[6];
    int aspect = p[7] >> 4;
    int rate = p[7] & 0x0F;
    AuthorSetFrameRate(v, rate);
    if (rate == 1 || rate == 4 || rate == 7)
        setTv(v, TV_NTSC);
    else if (rate == 3 || rate == 6)
        setTv(v, TV_PAL);
    else
        AuthorLog(AUTHOR_LOG_WARN, "WARN: unknown frame rate %d\n", rate);
    char text[32];
    std::snprintf(text, sizeof text, "%dx%d", width, height);
    AuthorSetResolution(v, text);

    if (v.mpegFormat == MPEG_1) {
        switch (aspect) {
        case 3:
            setAspect(v, ASPECT_16_9);
            setTv(v, TV_PAL);
            break;
        case 6:
            setAspect(v, ASPECT_16_9);
            setTv(v, TV_NTSC);
            break;
        case 8:
            setAspect(v, ASPECT_4_3);
            setTv(v, TV_PAL);
            break;
        case 12:
            setAspect(v, ASPECT_4_3);
            setTv(v, TV_NTSC);
            break;
        default:
            AuthorLog(AUTHOR_LOG_WARN, "WARN: unknown mpeg1 aspect ratio %d\n", aspect);
            break;
        }
        // MPEG-1 codes the display aspect together with the tv format (pel aspect ratio).
        int code = -1;
        if (v.tvFormat == TV_NTSC)
            code = v.aspect == ASPECT_16_9 ? 6 : v.aspect == ASPECT_4_3 ? 12 : -1;
        else if (v.tvFormat == TV_PAL)
            code = v.aspect == ASPECT_16_9 ? 3 : v.aspect == ASPECT_4_3 ? 8 : -1;
        if (code >= 0)
            p[7] = static_cast<uint8_t>((code << 4) | (p[7] & 0x0F));
    } else if (v.mpegFormat == MPEG_2) {
        if (aspect == 2)
            setAspect(v, ASPECT_4_3);
        else if (aspect == 3)
            setAspect(v, ASPECT_16_9);
        else
            AuthorLog(AUTHOR_LOG_WARN, "WARN: unknown mpeg2 aspect ratio %d\n", aspect);
        // An aspect still unknown will become 4:3 when the group is completed; writing 16:9 into the
        // stream then would contradict the information file.
        int code = v.aspect == ASPECT_16_9 ? 3 : 2;
        p[7] = static_cast<uint8_t>((code << 4) | (p[7] & 0x0F));
    }
}

// Reads bits most significant first.
class BitReader {
public:
    BitReader(const uint8_t* data, int size) : data_(data), size_(size) {}
    int Get(int count) {
        int value = 0;
        while (count-- > 0) {
            int byte = pos_ >> 3;
            int bit = byte < size_ ? (data_[byte] >> (7 - (pos_ & 7))) & 1 : 0;
            value = (value << 1) | bit;
            ++pos_;
        }
        return value;
    }

private:
    const uint8_t* data_;
    int size_;
    int pos_ = 0;
};

} // namespace

void AuthorDetectVideo(AuthorVideoAttributes& v, uint8_t* p) {
    switch (p[3]) {
    case 0xB3:
        sequenceHeader(v, p);
        break;
    case 0xB5:
        AuthorSetVideoWord(v, "mpeg2", ATTR_MPEG_FORMAT);
        if ((p[4] & 0xF0) == 0x20) { // sequence display extension
            int videoFormat = (p[4] >> 1) & 7;
            if (videoFormat == 1)
                setTv(v, TV_PAL);
            else if (videoFormat == 2)
                setTv(v, TV_NTSC);
        }
        break;
    default:
        break;
    }
}

void AuthorDetectAc3(AuthorAudioValues& audio, const uint8_t* p, int size) {
    if (size < 8 || p[0] != 0x0B || p[1] != 0x77)
        return;
    BitReader bits(p + 4, size - 4);
    int fscod = bits.Get(2);
    bits.Get(6); // frmsizecod
    int bsid = bits.Get(5);
    bits.Get(3); // bsmod
    if (fscod != 0)
        AuthorLog(AUTHOR_LOG_WARN, "WARN: Unknown AC3 sample rate: %d\n", fscod);
    AuthorSetAudioWord(audio, "48khz", ATTR_SAMPLING_RATE);
    if (bsid != 6 && bsid != 8)
        return;
    int acmod = bits.Get(3);
    if ((acmod & 1) && acmod != 1)
        bits.Get(2); // centre mix level
    if (acmod & 4)
        bits.Get(2); // surround mix level
    if (acmod == 2 && bits.Get(2) == 2)
        AuthorSetAudioWord(audio, "surround", ATTR_SURROUND);
    int channels = 2;
    switch (acmod) {
    case 1:
        channels = 1;
        break;
    case 3:
    case 4:
        channels = 3;
        break;
    case 5:
    case 6:
        channels = 4;
        break;
    case 7:
        channels = 5;
        break;
    default:
        break;
    }
    if (bits.Get(1))
        ++channels;
    char word[8];
    std::snprintf(word, sizeof word, "%dch", channels);
    AuthorSetAudioWord(audio, word, ATTR_CHANNELS);
}

void AuthorDetectLpcm(AuthorAudioValues& audio, uint8_t b) {
    static const char* const quant[] = {"16bps", "20bps", "24bps"};
    if ((b >> 6) < 3)
        AuthorSetAudioWord(audio, quant[b >> 6], ATTR_QUANTIZATION);
    char word[8];
    std::snprintf(word, sizeof word, "%dkhz", (b & 0x10) ? 96 : 48);
    AuthorSetAudioWord(audio, word, ATTR_SAMPLING_RATE);
    std::snprintf(word, sizeof word, "%dch", (b & 7) + 1);
    AuthorSetAudioWord(audio, word, ATTR_CHANNELS);
}

void AuthorDetectMpegAudio(AuthorAudioValues& audio) {
    AuthorSetAudioWord(audio, "48khz", ATTR_SAMPLING_RATE);
}
