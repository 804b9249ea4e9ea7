// One source program stream of a group as the scanner records it: its VOBUs (one per navigation pack)
// and, per audio/subpicture channel, a timeline of packets.
#pragma once

#include "AuthorAttributes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct VobuInfo {
    // Group sector numbers: sectors are counted from 0 over all written sectors of the group.
    int firstSector = 0; // the navigation pack
    int lastSector = 0;  // last sector belonging to the VOBU
    int vobSector = 0;   // sector of the navigation pack within its VOB file
    int vobNumber = 0;   // VOB file number at the navigation pack (-1 for VIDEO_TS.VOB)
    bool hasVideo = false;
    bool hasSequenceEnd = false;
    long long firstVideoPts = -1; // re-timed; -1 = none yet
    int leadingFields = 0;        // fields of the leading pictures of an open GOP
    int totalFields = 0;
    int refEnds[3] = {0, 0, 0}; // group sectors where the 1st..3rd reference picture ends
    int numRefEnds = 0;
    // 90 kHz ticks, computed at the end of the source.
    long long videoStart = 0;
    long long videoEnd = 0;
    long long vobuStart = 0;
    long long vobuEnd = 0;
    uint8_t navHeader[38] = {}; // first 38 bytes of the navigation pack (pack header, system header start)

    // Set by cell building.
    bool cellStart = false;
    int cellKey = 0;       // VOB id * 256 + cell id
    int cellFirstVobu = 0; // index of the first VOBU of its cell
    int cellLastVobu = 0;  // index of the last VOBU of its cell
};

// One packet of an audio or subpicture channel.
struct AuthorTimelineEntry {
    long long start = 0; // 90 kHz ticks (re-timed PTS)
    long long end = 0;
    int sector = 0; // group sector number of the packet
};

struct AuthorChannel {
    std::vector<AuthorTimelineEntry> entries;
    AuthorAudioValues values; // detected audio values (audio channels only)
};

// VOBU range of a cell of the source (cell id = index + 1), filled by cell building.
struct AuthorCellRange {
    int firstVobu = 0;
    int lastVobu = 0;
};

struct AuthorHighlight;

struct AuthorSource {
    std::string path;
    int vobId = 0; // 1, 2, ... over the sources of the group in scan order
    std::vector<VobuInfo> vobus;
    AuthorChannel channels[AUTHOR_CHANNELS];
    std::vector<AuthorCellRange> cells;
    // Menu buttons shown by the source (from its first source reference that has them), or null.
    std::shared_ptr<const AuthorHighlight> highlight;
};

// Audio channel of audio stream (format 1..4, stream number 1..8): (format - 1) * 8 + stream - 1.
inline int AuthorAudioChannel(int format, int streamNumber) {
    return (format - 1) * 8 + streamNumber - 1;
}
