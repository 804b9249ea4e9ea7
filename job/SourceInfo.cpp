#include "SourceInfo.h"

#include "EncoderRecord.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FormatHMS(long long seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, seconds % 3600 / 60, seconds % 60);
    return text;
}

std::string MakeInfoText(int width, int height, double sizeMB, double durationSeconds, double frameRate) {
    char dimension[64];
    char size[64];
    char rate[64];
    std::snprintf(dimension, sizeof dimension, "Dimension:%dX%d ", width, height);
    std::snprintf(size, sizeof size, "File size:%.1fM   ", sizeMB);
    std::snprintf(rate, sizeof rate, " Frame rate:%.2f ", frameRate);
    const long long seconds = durationSeconds > 0 ? static_cast<long long>(durationSeconds) : 0;
    return std::string(dimension) + size + "Duration:" + FormatHMS(seconds) + rate;
}

RowTexts MakeRowTexts(const CSourceInfo& info) {
    RowTexts texts;
    texts.source = " " + FileNameOf(info.strPath);
    texts.info = MakeInfoText(info.nWidth, info.nHeight, info.fSizeKB / 1024.0, info.dDuration, info.dFrameRate);
    texts.status = info.strStatus;
    return texts;
}

namespace {

bool PutText(const std::string& text, char* area, size_t size) {
    if (text.size() >= size) {
        return false;
    }
    std::memcpy(area, text.c_str(), text.size() + 1);
    return true;
}

std::string GetText(const char* area, size_t size) {
    return std::string(area, strnlen(area, size));
}

} // namespace

bool PackRowRecord(const RowTexts& texts, RowRecord* record) {
    record->fill(0);
    char* bytes = record->data();
    if (!PutText(texts.source, bytes, 260) || !PutText(texts.info, bytes + 260, 200) ||
        !PutText(texts.status, bytes + 460, 100)) {
        record->fill(0);
        return false;
    }
    return true;
}

RowTexts UnpackRowRecord(const RowRecord& record) {
    const char* bytes = record.data();
    return RowTexts{GetText(bytes, 260), GetText(bytes + 260, 200), GetText(bytes + 460, 100)};
}

std::string ConvertedBaseName(const std::string& path) {
    const std::string name = FileNameOf(path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

std::string ChooseConvertedName(const std::string& folder, std::string base,
                                const std::function<bool(const std::string&)>& taken, int maxTries) {
    for (int i = 0; i < maxTries; ++i) {
        std::string candidate = folder + base + ".vob";
        if (!taken(candidate)) {
            return candidate;
        }
        base += "0";
    }
    return std::string();
}

bool ConvertedNameOnDisk(const std::string& vobPath) {
    struct stat st;
    for (const char* suffix : {"", ".part1", ".part2"}) {
        // A writing name left by an interrupted conversion blocks the name as well.
        if (lstat((vobPath + suffix).c_str(), &st) == 0 ||
            lstat(qx::EncoderWritingName(vobPath + suffix).c_str(), &st) == 0) {
            return true;
        }
    }
    return false;
}

bool RebaseOutputNames(std::vector<CSourceInfo>& sources, const std::string& folder,
                       const std::function<bool(const std::string&)>& onDisk) {
    for (size_t i = 0; i < sources.size(); ++i) {
        // A movie not yet named takes its base name from the movie itself.
        const std::string name = FileNameOf(sources[i].strVobFile);
        const std::string base = sources[i].strVobFile.empty() ? ConvertedBaseName(sources[i].strPath)
                                 : name.size() >= 4           ? name.substr(0, name.size() - 4)
                                                              : std::string();
        auto taken = [&](const std::string& candidate) {
            for (size_t j = 0; j < i; ++j) {
                if (sources[j].strVobFile == candidate) {
                    return true;
                }
            }
            return onDisk(candidate);
        };
        const std::string chosen = ChooseConvertedName(folder, base, taken);
        if (chosen.empty()) {
            return false;
        }
        sources[i].strVobFile = chosen;
        sources[i].bOwnsOutput = true;
    }
    return true;
}
