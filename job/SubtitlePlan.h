// Which DVD subpicture stream each movie's subtitles become. All titles share one title set, whose
// attributes give each stream number one language: a movie's subtitle takes the first stream of
// its language that the movie does not use yet, else a new one (at most 32 over the disc).
#pragma once

#include "SourceInfo.h"

#include <cstdint>
#include <string>
#include <vector>

// Sets every subtitle's `stream` (1..32; 0 when subtitles are off, the subtitle is left out or the
// streams are all taken) and returns the language of each stream, in stream order. Each subtitle
// that found no stream adds a line to `notes`.
std::vector<std::string> PlanSubtitleStreams(std::vector<CSourceInfo>& movies, bool enabled,
                                             std::vector<std::string>* notes);
// The languages of the streams the movies' subtitles were given (as PlanSubtitleStreams returned).
std::vector<std::string> SubtitleStreamLanguages(const std::vector<CSourceInfo>& movies);
// Per subtitle of the movie, its subpicture substream id for the encoder (0x20..0x3F), or 0.
std::vector<uint8_t> SubtitleStreamIds(const CSourceInfo& movie);
// The streams of the movie's subtitles on the disc, in the movie's order.
std::vector<int> TitleSubpictureStreams(const CSourceInfo& movie);
