// One movie of the source list and the pure rules around it: row texts, the row record handed from
// the add-files thread to the window, and the names of the converted streams.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct CSourceInfo {
    std::string strPath;   // full path of the movie file, as the probe answered it
    double dDuration = 0;  // seconds
    double dFrameRate = 0; // frames per second
    double dStartTime = 0; // seconds
    double dEndTime = 0;   // dStartTime + dDuration
    int32_t nWidth = 0;
    int32_t nHeight = 0;
    std::string strVobFile; // converted program stream
    std::string strStatus = "Ready";
    float fAspect = 0;   // display aspect ratio
    int32_t nProbeA = 0; // returned with the conversion request
    float fProbeB = 0;   // returned with the conversion request
    float fSizeKB = 0;   // file size from the probe, units of 1024 bytes (shown in the list)
    // Set when the job reserved strVobFile as a name nobody else uses: only then may the job
    // delete what lies there (the stream and its part files are the job's own).
    bool bOwnsOutput = false;

    double PlayingSeconds() const { return dEndTime - dStartTime; }
};

// The three cells of a row.
struct RowTexts {
    std::string source; // " name.rm"
    std::string info;   // "Dimension:..."
    std::string status; // "Ready"
};

// The part of a path after its last '/'.
std::string FileNameOf(const std::string& path);

// The cell texts for a movie.
RowTexts MakeRowTexts(const CSourceInfo& info);

// "Dimension:%dX%d File size:%.1fM   Duration:%02d:%02d:%02d Frame rate:%.2f ".
std::string MakeInfoText(int width, int height, double sizeMB, double durationSeconds, double frameRate);

// "%02d:%02d:%02d" of whole seconds.
std::string FormatHMS(long long seconds);

// The 560-byte row record: column texts at 0 (260 bytes), 260 (200 bytes), 460 (100 bytes), each
// zero-terminated.
constexpr size_t ROW_RECORD_SIZE = 560;
using RowRecord = std::array<char, ROW_RECORD_SIZE>;

// Fills a record; false (record untouched beyond zero-fill) when a text does not fit its area.
bool PackRowRecord(const RowTexts& texts, RowRecord* record);
RowTexts UnpackRowRecord(const RowRecord& record);

// Base name of the converted stream: the file name without its last extension (empty when the
// name has no '.').
std::string ConvertedBaseName(const std::string& path);

// Picks "<folder><base>.vob", appending "0" to the base while `taken` says the name is in use.
// `folder` ends with '/'. Gives up (empty result) after `maxTries` candidates.
std::string ChooseConvertedName(const std::string& folder, std::string base,
                                const std::function<bool(const std::string&)>& taken, int maxTries = 1000);

// A converted-stream name is in use when a record of the list already has it, or when the stream or
// one of its part files already exists on disk (a file the program did not create).
bool ConvertedNameOnDisk(const std::string& vobPath);

// Re-points every stream into `folder` under its base name (a record without a stream name yet takes
// the movie's base name). A name already used by an earlier
// record or by a file on disk gets "0"s appended like a new movie would. Marks each record as
// owning its output. Returns false (and stops) when no free name was found for a record.
bool RebaseOutputNames(std::vector<CSourceInfo>& sources, const std::string& folder,
                       const std::function<bool(const std::string&)>& onDisk = ConvertedNameOnDisk);
