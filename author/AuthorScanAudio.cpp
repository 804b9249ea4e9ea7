// Audio and subpicture packets of the scanner: channel classification, attribute detection, the MPEG
// audio frame walk across packets and the channel timelines.
#include "AuthorScanner.h"

#include "AuthorLog.h"

#include <string>

namespace {

const int kMpegBitrate[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};

std::string sectorTimes(const char* heading, long long previousStart, long long previousEnd, long long start,
                        long long end) {
    return std::string(heading) + "WARN: Previous sector: " + AuthorLogTime(previousStart) + " - " +
           AuthorLogTime(previousEnd) + "\nWARN: Current sector: " + AuthorLogTime(start) + " - " + AuthorLogTime(end) +
           "\n";
}

} // namespace

void AuthorScanner::audioPacket(AuthorSource& source, uint8_t* s) {
    const int start = 23 + s[22];
    int end = 20 + ((s[18] << 8) | s[19]);
    if (end > AUTHOR_SECTOR)
        end = AUTHOR_SECTOR;
    const int length = end > start ? end - start : 0;
    const uint8_t* payload = s + start;
    const long long m = AuthorReadPts(s + 23);

    if (s[17] != 0xBD) {
        const int stream = s[17] - 0xC0;
        const int channel = 8 + stream;
        int framesPrev = 0;
        int framesCur = 0;
        walkMpegAudio(stream, payload, length, framesPrev, framesCur);
        AuthorDetectMpegAudio(source.channels[channel].values);
        addEntry(source, channel, m, m + 2160LL * framesCur, 2160LL * framesPrev);
        return;
    }
    if (length < 1)
        return;
    const int sub = payload[0];
    if (sub >= 0x20 && sub <= 0x3F) {
        addEntry(source, sub, m, m, 0);
    } else if (sub >= 0x80 && sub <= 0x87) {
        const int channel = sub - 0x80;
        const int frames = length > 1 ? payload[1] : 0;
        if (length >= 4) {
            // The first access unit pointer counts from its own last byte.
            int frame = 3 + ((payload[2] << 8) | payload[3]);
            if (frame < length)
                AuthorDetectAc3(source.channels[channel].values, payload + frame, length - frame);
        }
        addEntry(source, channel, m, m + 2880LL * frames, 0);
    } else if (sub >= 0x88 && sub <= 0x8F) {
        addEntry(source, sub - 0x88 + 24, m, m, 0);
    } else if (sub >= 0xA0 && sub <= 0xA7) {
        const int channel = sub - 0xA0 + 16;
        const int frames = length > 1 ? payload[1] : 0;
        if (length >= 6)
            AuthorDetectLpcm(source.channels[channel].values, payload[5]);
        addEntry(source, channel, m, m + 150LL * frames, 0);
    } else {
        AuthorLog(AUTHOR_LOG_WARN, "WARN: Invalid audio channel %d\n", -1);
    }
}

// Counts the MPEG audio frames (layer II, 48 kHz) whose header starts in this packet, and those whose
// header started in the last bytes of the previous packet (`framesPrev`).
void AuthorScanner::walkMpegAudio(int stream, const uint8_t* payload, int length, int& framesPrev, int& framesCur) {
    MpegAudioWalk& walk = mpegAudio_[stream];
    auto byteAt = [&](int i) -> int { return i < 0 ? walk.tail[3 + i] : payload[i]; };
    int offset = walk.nextOffset;
    if (offset < -3)
        offset = -3;
    while (offset + 4 <= length) {
        const int b0 = byteAt(offset);
        const int b1 = byteAt(offset + 1);
        const int b2 = byteAt(offset + 2);
        const int b3 = byteAt(offset + 3);
        const int bitrate = b2 >> 4;
        const bool valid = b0 == 0xFF && (b1 == 0xFC || b1 == 0xFD) && ((b2 >> 2) & 3) == 1 && bitrate >= 1 &&
                           bitrate <= 14 && (b3 & 3) != 2;
        if (!valid) {
            ++offset;
            continue;
        }
        if (offset < 0)
            ++framesPrev;
        else
            ++framesCur;
        offset += 3 * kMpegBitrate[bitrate] + ((b2 >> 1) & 1);
    }
    walk.nextOffset = offset - length;
    // Keep the last 3 bytes of the stream seen so far (shorter payloads keep older bytes).
    uint8_t tail[3];
    for (int i = 0; i < 3; ++i)
        tail[i] = static_cast<uint8_t>(byteAt(length - 3 + i));
    std::copy(tail, tail + 3, walk.tail);
}

void AuthorScanner::addEntry(AuthorSource& source, int channel, long long start, long long end, long long carried) {
    auto& entries = source.channels[channel].entries;
    if (!entries.empty()) {
        AuthorTimelineEntry& previous = entries.back();
        if (channel >= 24 && channel < 32)
            previous.end = start;
        else
            previous.end += carried;
        if (previous.end < start && channel < AUTHOR_AUDIO_CHANNELS) {
            AuthorLog(AUTHOR_LOG_WARN, "%s",
                      sectorTimes(("WARN: Discontinuity in audio channel " + std::to_string(channel) +
                                   "; please remultiplex input.\n")
                                      .c_str(),
                                  previous.start, previous.end, start, end)
                          .c_str());
            previous.end = start;
        }
        if (start < previous.end) {
            AuthorLog(AUTHOR_LOG_WARN, "%s",
                      sectorTimes(("WARN: Audio pts for channel " + std::to_string(channel) +
                                   " moves backwards; please remultiplex input.\n")
                                      .c_str(),
                                  previous.start, previous.end, start, end)
                          .c_str());
            previous.end = start;
        }
    }
    entries.push_back(AuthorTimelineEntry{start, end, groupSector_});
}
