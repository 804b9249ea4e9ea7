#include "EncoderRecord.h"

#include <algorithm>
#include <cctype>

namespace qx {

void PutSubtitleEntries(EncProbeResultRecord* record, const std::vector<SubtitleInfo>& subtitles) {
    int n = 0;
    for (const SubtitleInfo& s : subtitles) {
        if (n == kMaxSubtitleStreams)
            break;
        EncSubtitleEntry e{};
        if (s.language.size() == 2) {
            e.language[0] = s.language[0];
            e.language[1] = s.language[1];
        }
        e.kind = static_cast<uint8_t>(s.kind);
        e.picture = s.picture ? 1 : 0;
        e.track = static_cast<uint16_t>(s.track);
        if (s.kind == SubtitleInfo::Kind::File && !PutRecordText(e.suffix, s.suffix))
            continue;
        record->subtitles[n++] = e;
    }
    record->subtitleCount = static_cast<uint8_t>(n);
}

std::vector<SubtitleInfo> GetSubtitleEntries(const EncProbeResultRecord& record) {
    std::vector<SubtitleInfo> list;
    const int n = std::min<int>(record.subtitleCount, kMaxSubtitleStreams);
    for (int i = 0; i < n; ++i) {
        const EncSubtitleEntry& e = record.subtitles[i];
        SubtitleInfo s;
        if (e.kind != 1 && e.kind != 2)
            continue;
        s.kind = static_cast<SubtitleInfo::Kind>(e.kind);
        s.picture = e.picture != 0;
        s.track = e.track;
        if (s.kind == SubtitleInfo::Kind::File && !GetRecordText(e.suffix, &s.suffix))
            continue;
        if (std::islower(static_cast<unsigned char>(e.language[0])) &&
            std::islower(static_cast<unsigned char>(e.language[1])))
            s.language.assign(e.language, 2);
        list.push_back(s);
    }
    return list;
}

} // namespace qx
