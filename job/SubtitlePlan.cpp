#include "SubtitlePlan.h"

#include <algorithm>

std::vector<std::string> PlanSubtitleStreams(std::vector<CSourceInfo>& movies, bool enabled,
                                             std::vector<std::string>* notes) {
    std::vector<std::string> languages;
    for (CSourceInfo& movie : movies) {
        std::vector<bool> used(qx::kMaxSubtitleStreams, false);
        for (qx::SubtitleInfo& s : movie.subtitles) {
            s.stream = 0;
            if (!enabled || s.leftOut)
                continue;
            int slot = -1;
            for (size_t j = 0; j < languages.size() && slot < 0; ++j)
                if (!used[j] && languages[j] == s.language)
                    slot = static_cast<int>(j);
            if (slot < 0 && languages.size() < static_cast<size_t>(qx::kMaxSubtitleStreams)) {
                slot = static_cast<int>(languages.size());
                languages.push_back(s.language);
            }
            if (slot < 0) {
                notes->push_back("Subtitles " + qx::DescribeSubtitle(s, movie.strPath) +
                                 " left out: the disc holds at most 32 subtitle streams\n");
                continue;
            }
            used[static_cast<size_t>(slot)] = true;
            s.stream = slot + 1;
        }
    }
    return languages;
}

std::vector<std::string> SubtitleStreamLanguages(const std::vector<CSourceInfo>& movies) {
    std::vector<std::string> languages;
    for (const CSourceInfo& movie : movies)
        for (const qx::SubtitleInfo& s : movie.subtitles)
            if (s.stream > 0) {
                if (languages.size() < static_cast<size_t>(s.stream))
                    languages.resize(static_cast<size_t>(s.stream));
                if (languages[static_cast<size_t>(s.stream - 1)].empty())
                    languages[static_cast<size_t>(s.stream - 1)] = s.language;
            }
    return languages;
}

std::vector<uint8_t> SubtitleStreamIds(const CSourceInfo& movie) {
    std::vector<uint8_t> ids;
    bool any = false;
    for (const qx::SubtitleInfo& s : movie.subtitles) {
        const bool on = s.stream > 0 && s.stream <= qx::kMaxSubtitleStreams;
        ids.push_back(on ? static_cast<uint8_t>(qx::kFirstSubpictureStreamId + s.stream - 1) : 0);
        any = any || on;
    }
    // None on the disc: the request asks for no subtitles at all, as before there were any.
    if (!any)
        ids.clear();
    return ids;
}

std::vector<int> TitleSubpictureStreams(const CSourceInfo& movie) {
    std::vector<int> streams;
    for (const qx::SubtitleInfo& s : movie.subtitles)
        if (s.stream > 0)
            streams.push_back(s.stream);
    return streams;
}
