// A movie's subtitles as the probe finds them (tracks inside the movie first, then files beside it
// with the movie's base name), how they travel in the encoder records, and the four colours every
// DVD subpicture of a converted movie is drawn with.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qx {

// DVD subpicture streams are private-stream-1 substreams 0x20..0x3F: at most 32 per title set.
constexpr int kMaxSubtitleStreams = 32;
constexpr uint8_t kFirstSubpictureStreamId = 0x20;
// A file's name after the movie's base name (".en.srt") fits 17 bytes in the probe record.
constexpr size_t kMaxSubtitleSuffix = 17;

struct SubtitleInfo {
    enum class Kind : uint8_t { Track = 1, File = 2 };
    Kind kind = Kind::Track;
    bool picture = false; // DVD, PGS or DVB pictures (else text)
    int track = 0;        // a track's number in the movie (its stream index + 1)
    std::string suffix;   // a file's name after the movie's base name, e.g. ".en.srt"
    std::string language; // two lower-case letters, or empty when unknown
    bool leftOut = false; // the user left it off the disc
    int stream = 0;       // the job's DVD subpicture stream, 1..32 (0: not on the disc)
};

// "en (Movie.en.srt)", "de (track 3)", "track 4" when the language is unknown.
std::string DescribeSubtitle(const SubtitleInfo& subtitle, const std::string& moviePath);
// "Subtitles: en (Movie.en.srt), de (track 3)"; empty when the movie has none.
std::string DescribeSubtitles(const std::vector<SubtitleInfo>& subtitles, const std::string& moviePath);

// ISO 639-1 letters of an ISO 639-1/639-2 (B or T) code or an English language name, any case;
// empty when not known ("und", "zxx", "mis", ...).
std::string SubtitleLanguageLetters(const std::string& code);

// The palette of every subtitle subpicture: entry 0 black, 1 white, 2 grey, the other thirteen
// black. A subpicture shows white text, a black outline and a grey edge between them over a
// transparent background. The encoder's palette as RGB; the program chain's colour table, the
// same colours as Y Cr Cb.
constexpr int kSubtitleColours = 16;
std::array<uint32_t, kSubtitleColours> SubtitlePaletteRgb();
std::array<uint32_t, kSubtitleColours> SubtitlePaletteYCrCb();
// The palette as FFmpeg's DVD subtitle codecs take it ("000000,ffffff,...").
std::string SubtitlePaletteOption();

} // namespace qx
