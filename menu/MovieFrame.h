// One picture of a movie for its menu button, decoded with FFmpeg's libraries from the converted
// program stream.
#pragma once

#include <QImage>

#include <string>

// The picture shown `seconds` into the stream (or the last one before the end when the stream is
// shorter), scaled to `width` x `height` square pixels with the picture's own display aspect kept
// (bars where it differs). A null image, with `error`, when the stream has no picture to decode.
QImage DecodeMovieFrame(const std::string& path, double seconds, int width, int height, std::string* error);
