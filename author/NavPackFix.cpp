#include "NavPackFix.h"

#include "AuthorError.h"
#include "AuthorLog.h"
#include "AuthorScan.h"
#include "IfoBytes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Search steps in half-seconds, smallest first; a step of h half-seconds is h * 45000 ticks.
constexpr int kSteps[19] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 20, 60, 120, 240};
constexpr int kStepCount = 19;
constexpr int kFirstWideStep = 15; // the four largest steps may carry the intermediate-video flag

// PCI and DSI field offsets within the pack.
constexpr int kPciHeader = 0x026;
constexpr int kPciLbn = 0x02D;
constexpr int kPciStart = 0x039;
constexpr int kPciEnd = 0x03D;
constexpr int kPciSequenceEnd = 0x041;
constexpr int kPciCellElapsed = 0x045;
constexpr int kDsiHeader = 0x400;
constexpr int kDsiScr = 0x407;
constexpr int kDsiLbn = 0x40B;
constexpr int kDsiEndAddress = 0x40F;
constexpr int kDsiRefEnds = 0x413;
constexpr int kDsiVobId = 0x41F;
constexpr int kDsiCellId = 0x422;
constexpr int kDsiCellElapsed = 0x423;
constexpr int kDsiVobStart = 0x433;
constexpr int kDsiVobEnd = 0x437;
constexpr int kDsiNextVideo = 0x4F1;
constexpr int kDsiForward = 0x4F5;
constexpr int kDsiNext = 0x541;
constexpr int kDsiPrevious = 0x545;
constexpr int kDsiBackward = 0x549;
constexpr int kDsiPreviousVideo = 0x595;
constexpr int kDsiAudioSync = 0x599;
constexpr int kDsiSubpictureSync = 0x5A9;

// Per source: how many VOBUs up to each index have video, to answer "is there video strictly between".
class VideoCounts {
public:
    explicit VideoCounts(const AuthorSource& source) : m_prefix(source.vobus.size() + 1, 0) {
        for (size_t i = 0; i < source.vobus.size(); ++i)
            m_prefix[i + 1] = m_prefix[i] + (source.vobus[i].hasVideo ? 1 : 0);
    }
    // Whether some VOBU with index strictly between a and b (either order) has video.
    bool between(int a, int b) const {
        int lo = std::min(a, b) + 1;
        int hi = std::max(a, b); // exclusive
        lo = std::max(lo, 0);
        hi = std::min(hi, static_cast<int>(m_prefix.size()) - 1);
        return hi > lo && m_prefix[hi] - m_prefix[lo] > 0;
    }

private:
    std::vector<int> m_prefix;
};

uint32_t searchPointer(const AuthorSource& source, const VideoCounts& video, int from, int to, uint32_t fallback,
                       bool flagRequested) {
    const std::vector<VobuInfo>& v = source.vobus;
    uint32_t flag = flagRequested && video.between(from, to) ? NAV_VIDEO_BETWEEN : 0;
    if (to < 0 || to >= static_cast<int>(v.size()) || v[to].cellKey != v[from].cellKey)
        return fallback + flag;
    uint32_t value = static_cast<uint32_t>(std::abs(v[to].firstSector - v[from].firstSector));
    if (v[to].hasVideo)
        value += NAV_TARGET_HAS_VIDEO;
    return value + flag;
}

// Index of the last VOBU in [first, last] whose start is at or before t; first - 1 when t lies before
// them all, last + 1 when t lies at or after the end of the last one.
int vobuAtTime(const std::vector<VobuInfo>& v, int first, int last, long long t) {
    if (t >= v[last].vobuEnd)
        return last + 1;
    auto begin = v.begin() + first;
    auto end = v.begin() + last + 1;
    auto it =
        std::upper_bound(begin, end, t, [](long long time, const VobuInfo& vobu) { return time < vobu.vobuStart; });
    return static_cast<int>(it - v.begin()) - 1;
}

uint32_t scrOf(const uint8_t* pack) {
    // 33-bit clock of an MPEG-2 pack header; the low 32 bits are kept.
    uint64_t scr = (uint64_t((pack[4] >> 3) & 7) << 30) | (uint64_t(pack[4] & 3) << 28) | (uint64_t(pack[5]) << 20) |
                   (uint64_t(pack[6] >> 3) << 15) | (uint64_t(pack[6] & 3) << 13) | (uint64_t(pack[7]) << 5) |
                   (pack[8] >> 3);
    return static_cast<uint32_t>(scr);
}

uint16_t audioSyncWord(const PgcGroup& group, const AuthorSource& source, int index, int stream) {
    const AuthorAudioStream& audio = group.attributes.audio[stream];
    if (audio.format == 0 || audio.streamNumber == 0)
        return 0x3FFF;
    const std::vector<AuthorTimelineEntry>& entries =
        source.channels[AuthorAudioChannel(audio.format, audio.streamNumber)].entries;
    if (entries.empty())
        return 0x3FFF;
    const VobuInfo& vobu = source.vobus[index];
    auto it = std::upper_bound(entries.begin(), entries.end(), vobu.vobuStart,
                               [](long long t, const AuthorTimelineEntry& e) { return t < e.start; });
    const AuthorTimelineEntry& entry = it == entries.begin() ? entries.front() : *(it - 1);
    if (entry.start > vobu.vobuEnd)
        return 0x3FFF;
    int d = entry.sector - vobu.firstSector;
    if (std::abs(d) > 8191) {
        AuthorLog(AUTHOR_LOG_WARN, "\nWARN: audio sector out of range: %d (vobu #%d, pts %d)\n", d, index,
                  static_cast<int>(vobu.vobuStart));
        return 0;
    }
    return static_cast<uint16_t>(d < 0 ? -d + 0x8000 : d);
}

// VOBU of the source that holds group sector `sector`, or -1.
int vobuHolding(const AuthorSource& source, int sector) {
    const std::vector<VobuInfo>& v = source.vobus;
    auto it =
        std::upper_bound(v.begin(), v.end(), sector, [](int s, const VobuInfo& vobu) { return s < vobu.firstSector; });
    if (it == v.begin())
        return -1;
    int index = static_cast<int>(it - v.begin()) - 1;
    return sector <= v[index].lastSector ? index : -1;
}

uint32_t subpictureSyncWord(const PgcGroup& group, const AuthorSource& source, const VideoCounts& video, int index,
                            int stream) {
    // The stream's own channel: a slot bound to stream number s plays subpicture channel 31 + s.
    int streamNumber = group.attributes.subpicture[stream].streamNumber;
    int channel = streamNumber > 0 ? AUTHOR_FIRST_SUBPICTURE_CHANNEL + streamNumber - 1
                                   : AUTHOR_FIRST_SUBPICTURE_CHANNEL + stream;
    const std::vector<AuthorTimelineEntry>& entries = source.channels[channel].entries;
    if (entries.empty())
        return 0;
    const VobuInfo& vobu = source.vobus[index];
    auto it = std::upper_bound(entries.begin(), entries.end(), vobu.vobuStart,
                               [](long long t, const AuthorTimelineEntry& e) { return t < e.start; });
    int last = static_cast<int>(it - entries.begin()) - 1; // last entry starting at or before the VOBU start
    int next = last + 1;
    bool hasNext = next < static_cast<int>(entries.size());
    int target;
    if (last >= 0 && entries[last].start < vobu.vobuEnd && entries[last].end >= vobu.vobuStart)
        target = vobuHolding(source, entries[last].sector);
    else if (last >= 0 && entries[last].end >= vobu.vobuStart)
        target = hasNext ? vobuHolding(source, entries[next].sector) : -1;
    else if (!hasNext || entries[next].start >= vobu.vobuEnd)
        target = index;
    else
        target = vobuHolding(source, entries[next].sector);
    if (target < 0)
        return 0x7FFFFFFF;
    uint32_t word = searchPointer(source, video, index, target, NAV_NO_VOBU, false) & ~NAV_TARGET_HAS_VIDEO;
    if (target < index)
        word |= 0x80000000;
    return word;
}

void buildPack(uint8_t* pack, const PgcGroup& group, const AuthorSource& source, const VideoCounts& video, int index) {
    const std::vector<VobuInfo>& v = source.vobus;
    const VobuInfo& s = v[index];
    const int rate = group.attributes.video.frameRate;
    std::memset(pack, 0, DVD_SECTOR);
    std::memcpy(pack, s.navHeader, sizeof s.navHeader);

    static const uint8_t pciHeader[7] = {0x00, 0x00, 0x01, 0xBF, 0x03, 0xD4, 0x00};
    static const uint8_t dsiHeader[7] = {0x00, 0x00, 0x01, 0xBF, 0x03, 0xFA, 0x01};
    std::memcpy(pack + kPciHeader, pciHeader, sizeof pciHeader);
    std::memcpy(pack + kDsiHeader, dsiHeader, sizeof dsiHeader);

    const long long cellElapsed = s.vobuStart - v[s.cellFirstVobu].vobuStart;
    IfoPut32(pack + kPciLbn, static_cast<uint32_t>(s.firstSector));
    IfoPut32(pack + kPciStart, static_cast<uint32_t>(s.vobuStart));
    IfoPut32(pack + kPciEnd, static_cast<uint32_t>(s.vobuEnd));
    IfoPut32(pack + kPciSequenceEnd, s.hasSequenceEnd ? static_cast<uint32_t>(s.videoEnd) : 0);
    AuthorWritePlaybackTime(pack + kPciCellElapsed, cellElapsed, rate);

    IfoPut32(pack + kDsiScr, scrOf(s.navHeader));
    IfoPut32(pack + kDsiLbn, static_cast<uint32_t>(s.firstSector));
    IfoPut32(pack + kDsiEndAddress, static_cast<uint32_t>(s.lastSector - s.firstSector));
    for (int r = 0; r < s.numRefEnds && r < 3; ++r)
        IfoPut32(pack + kDsiRefEnds + 4 * r, static_cast<uint32_t>(s.refEnds[r] - s.firstSector));
    IfoPut16(pack + kDsiVobId, static_cast<uint32_t>(source.vobId));
    pack[kDsiCellId] = static_cast<uint8_t>(s.cellKey & 0xFF);
    AuthorWritePlaybackTime(pack + kDsiCellElapsed, cellElapsed, rate);
    IfoPut32(pack + kDsiVobStart, static_cast<uint32_t>(v.front().vobuStart));
    IfoPut32(pack + kDsiVobEnd, static_cast<uint32_t>(v.back().vobuEnd));

    // Search pointers, both directions, smallest step first so each step knows the previous step's target.
    const int first = s.cellFirstVobu;
    const int last = s.cellLastVobu;
    int previousForward = index;
    int previousBackward = index;
    for (int step = 0; step < kStepCount; ++step) {
        long long reach = static_cast<long long>(kSteps[step]) * 45000;
        int forward = index == last ? index + 1 : vobuAtTime(v, first, last, s.vobuStart + reach);
        int backward =
            s.vobuStart - reach < v[first].vobuStart ? first - 1 : vobuAtTime(v, first, last, s.vobuStart - reach);
        bool wide = step >= kFirstWideStep;
        bool forwardFlag = wide && forward > previousForward + 1;
        bool backwardFlag = wide && backward < previousBackward - 1;
        IfoPut32(pack + kDsiForward + 4 * (kStepCount - 1 - step),
                 searchPointer(source, video, index, forward, NAV_NO_VOBU, forwardFlag));
        IfoPut32(pack + kDsiBackward + 4 * step,
                 searchPointer(source, video, index, backward, NAV_NO_VOBU, backwardFlag));
        previousForward = forward;
        previousBackward = backward;
    }
    IfoPut32(pack + kDsiNext, searchPointer(source, video, index, index + 1, NAV_NO_VOBU, false));
    IfoPut32(pack + kDsiPrevious, searchPointer(source, video, index, index - 1, NAV_NO_VOBU, false));

    int nextVideo = index + 1;
    while (nextVideo < static_cast<int>(v.size()) && !v[nextVideo].hasVideo)
        ++nextVideo;
    int previousVideo = index - 1;
    while (previousVideo >= 0 && !v[previousVideo].hasVideo)
        --previousVideo;
    IfoPut32(pack + kDsiNextVideo, searchPointer(source, video, index, nextVideo, NAV_NO_VIDEO_VOBU, false));
    IfoPut32(pack + kDsiPreviousVideo, searchPointer(source, video, index, previousVideo, NAV_NO_VIDEO_VOBU, false));

    for (int a = 0; a < group.attributes.numAudio && a < AUTHOR_MAX_AUDIO; ++a)
        IfoPut16(pack + kDsiAudioSync + 2 * a, audioSyncWord(group, source, index, a));
    for (int j = 0; j < group.attributes.numSubpicture && j < AUTHOR_MAX_SUBPICTURE; ++j)
        IfoPut32(pack + kDsiSubpictureSync + 4 * j, subpictureSyncWord(group, source, video, index, j));

    // A menu's buttons are valid while its cell plays: its first VOBU brings them, the others repeat them.
    if (source.highlight)
        AuthorWriteHighlight(pack, *source.highlight, index != first, static_cast<uint32_t>(v[first].vobuStart),
                             static_cast<uint32_t>(v[last].vobuEnd));
}

} // namespace

void AuthorBuildNavPack(uint8_t* pack, const PgcGroup& group, const AuthorSource& source, int index) {
    VideoCounts video(source);
    buildPack(pack, group, source, video, index);
}

void FixNavPacks(const std::string& baseName, const PgcGroup& group, int /*kind*/, const AuthorNavFixOptions& options) {
    AuthorFileOpener& files = options.files ? *options.files : AuthorDiskFiles();
    long long total = 0;
    for (const auto& source : group.sources)
        total += static_cast<long long>(source->vobus.size());

    std::unique_ptr<AuthorWriter> file;
    std::string fileName;
    int openVob = 0;
    bool haveFile = false;
    uint8_t pack[DVD_SECTOR];
    long long done = 0;
    for (const auto& source : group.sources) {
        if (source->highlight) {
            const AuthorVideoAttributes& picture = group.attributes.video;
            const std::string problem = AuthorHighlightProblem(*source->highlight, AuthorResolutionWidth(picture),
                                                               AuthorResolutionHeight(picture));
            if (!problem.empty())
                AuthorFatal("ERR:  Menu buttons of %s: %s\n", source->path.c_str(), problem.c_str());
        }
        VideoCounts video(*source);
        for (int i = 0; i < static_cast<int>(source->vobus.size()); ++i) {
            const VobuInfo& vobu = source->vobus[i];
            if (!haveFile || vobu.vobNumber != openVob) {
                if (file && !file->Close())
                    AuthorWriteFailed(file.get(), fileName);
                fileName = AuthorVobFileName(baseName, vobu.vobNumber);
                std::string why;
                file = files.Open(fileName, AuthorOpenMode::Update, why);
                if (!file)
                    AuthorFatal("\nERR:  Error opening %s: %s\n", fileName.c_str(), why.c_str());
                openVob = vobu.vobNumber;
                haveFile = true;
            }
            buildPack(pack, group, *source, video, i);
            // A pack that does not reach the disk would leave a stale navigation pack behind.
            if (!file->Seek(static_cast<long long>(vobu.vobSector) * DVD_SECTOR) ||
                file->Write(pack, sizeof pack) != sizeof pack)
                AuthorWriteFailed(file.get(), fileName);
            int percent = static_cast<int>(done * 100 / total);
            if (options.progress)
                options.progress(1, percent);
            if (done % 16 == 0)
                AuthorLog(AUTHOR_LOG_WARN, "STAT: fixing VOBU at %dMB (%d/%d, %d%%)\r", vobu.firstSector / 512,
                          static_cast<int>(done + 1), static_cast<int>(total), percent);
            ++done;
        }
    }
    if (file && !file->Close())
        AuthorWriteFailed(file.get(), fileName);
    if (total > 0) {
        AuthorLog(AUTHOR_LOG_WARN, "STAT: fixed %d VOBUS                         ", static_cast<int>(total));
        AuthorLog(AUTHOR_LOG_WARN, "\n");
    }
}
