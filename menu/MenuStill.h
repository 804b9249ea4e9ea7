// A menu page as a short DVD program stream: the picture encoded as MPEG-2 (one GOP of identical
// pictures, ending with a sequence end code so that a player holds the last one), a silent AC-3
// track the length of the pictures, and the page's subpicture units, multiplexed into 2048-byte
// packs with a navigation pack in front (FFmpeg's DVD muxer).
#pragma once

#include "DvdFormat.h"

#include <QImage>

#include <cstdint>
#include <string>
#include <vector>

struct MenuStill {
    TvStandard tv = TvStandard::Pal;
    DisplayAspect aspect = DisplayAspect::Standard4x3;
    QImage picture; // the stored picture: 720 x 576 (PAL) or 720 x 480 (NTSC)
    // Subpicture units, physical streams 0, 1, ... in order (a 16:9 menu has a wide one and a
    // letterboxed one).
    std::vector<std::vector<uint8_t>> subpictures;
};

// Pictures of a still: about half a second.
int MenuStillPictures(TvStandard tv);

// Writes the still to `path` (created or replaced). False with the reason.
bool WriteMenuStill(const MenuStill& still, const std::string& path, std::string* error);
