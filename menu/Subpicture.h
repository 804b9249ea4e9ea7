// The 4-colour subpicture of a menu: a bitmap of pixel values 0..3 over the whole picture and its
// encoding as one subpicture unit (run-length coded fields and one control sequence), the form a DVD
// player overlays on the video and recolours inside a highlighted button.
#pragma once

#include "MenuLayout.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Largest subpicture unit a player must take.
constexpr size_t kMaxSubpictureUnit = 53220;

struct SubpictureBitmap {
    SubpictureBitmap() = default;
    SubpictureBitmap(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h, 0) {}
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels; // row by row, values 0..3

    uint8_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    // Sets the pixels of a frame `thickness` pixels wide just inside `r` (clipped to the bitmap).
    void Frame(const MenuRect& r, int thickness, uint8_t value);
};

// The unit: shown at once and until replaced, also while the viewer has subtitles switched off.
// `colors` and `contrasts` are given for pixel values 0..3 (colour-table index, contrast 0..15).
// Empty, with `error`, when the coded unit would be larger than a player takes.
std::vector<uint8_t> EncodeSubpictureUnit(const SubpictureBitmap& bitmap, const std::array<int, 4>& colors,
                                          const std::array<int, 4>& contrasts, std::string* error);
