// Where a movie's subtitles come from, and their cues: the subtitle tracks inside the movie (text:
// SubRip, ASS/SSA, WebVTT, mov_text; pictures: DVD, PGS, DVB) and the files beside it with its base
// name ("Movie.srt", "Movie.en.srt", "Movie.eng.ass"; .srt .ass .ssa .vtt).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FfmpegUtil.h"
#include "SubtitleInfo.h"

namespace qx::enc {

// A cue of more than this many is left out (a 2-hour movie has about 1,500).
constexpr size_t kMaxSubtitleCues = 100000;

struct SubtitleSource {
    SubtitleInfo info;
    int streamIndex = -1; // a track's stream in the movie
    std::string path;     // a file's path
};

// The movie's subtitles in their stable order: its tracks (by stream), then the files (by name),
// at most 32. Each one left out (a codec no decoder here takes, a file that cannot be read or has
// no cue, a name too long for the probe answer, the 33rd) gets a line in `notes`.
std::vector<SubtitleSource> ListSubtitles(AVFormatContext* movie, const std::string& moviePath,
                                          std::vector<std::string>* notes);

// A text cue: times in milliseconds from the movie's start, and the ASS event FFmpeg's decoders make
// of every text format ("ReadOrder,Layer,Style,Name,MarginL,MarginR,MarginV,Effect,Text").
struct TextCue {
    int64_t startMs = 0;
    int64_t endMs = 0;
    std::string event;
};
// A picture cue: one rectangle of 32-bit ARGB pixels on a canvas of the source's size.
struct PictureCue {
    int64_t startMs = 0;
    int64_t endMs = 0;
    int canvasWidth = 0, canvasHeight = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<uint32_t> argb;
};
struct SubtitleCues {
    bool picture = false;
    std::string assHeader; // the script header the text cues are drawn with
    std::vector<TextCue> text;
    std::vector<PictureCue> pictures;
};

// Parses a subtitle file's text (UTF-8) in the format its name's extension says (.srt .ass .ssa
// .vtt); false when it is none of them or cannot be parsed at all.
bool ParseSubtitleText(const std::string& utf8, const std::string& name, SubtitleCues* cues,
                       std::vector<std::string>* notes, std::string* error);

// Reads every cue of a subtitle; `movie` is the movie's path (for its tracks), `videoWidth` and
// `videoHeight` the canvas of picture cues that name none. False with the reason when the source
// cannot be read at all; cues that cannot be decoded are skipped.
bool ReadSubtitleCues(const SubtitleSource& source, const std::string& movie, int videoWidth, int videoHeight,
                      SubtitleCues* cues, std::vector<std::string>* notes, std::string* error);

// The cues of several subtitle tracks of the movie (stream indexes), read in one pass over it.
bool ReadTrackCues(const std::string& movie, const std::vector<int>& streams, int videoWidth, int videoHeight,
                   std::vector<SubtitleCues>* cues, std::vector<std::string>* notes, std::string* error);

} // namespace qx::enc
