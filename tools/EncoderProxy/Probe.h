// Probing a movie: can we convert it, and what are its length, picture and sound.
#pragma once

#include <string>

#include "EncoderTypes.h"

namespace qx::enc {

// Opens the movie, chooses its picture and sound streams and decodes its first picture. Anything
// FFmpeg cannot open or decode is answered "not supported" with a reason; never throws.
ProbeAnswer ProbeMovie(const std::string& path);

// The name=value lines of the command line (and of the worker's answer to its parent).
std::string FormatProbeLines(const ProbeAnswer& answer);
// Reads lines written by FormatProbeLines; false when a line is malformed or "supported" is missing.
bool ParseProbeLines(const std::string& text, ProbeAnswer* answer);

} // namespace qx::enc
