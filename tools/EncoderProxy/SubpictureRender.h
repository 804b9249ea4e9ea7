// Subtitle cues drawn into 4-colour DVD subpictures on the disc's frame: text with libass inside
// the title-safe area, wrapped, with the frame's pixel shape (a 16:9 title's text is drawn narrow
// so that it is not stretched when shown wide); pictures scaled onto the movie's active picture.
// Every subpicture starts and ends on a picture of the disc.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EncoderTypes.h"
#include "SubtitleSources.h"

namespace qx::enc {

// The pixel values of a subpicture (also the index of its colour in the encoder's 4 colours).
enum SubpicturePixel : uint8_t { SP_BACKGROUND = 0, SP_TEXT = 1, SP_OUTLINE = 2, SP_EDGE = 3 };

// One subpicture shown from `start` to `end` (90 kHz ticks of the disc's time line).
struct Subpicture {
    int64_t start = 0, end = 0;
    int x = 0, y = 0, width = 0, height = 0; // on the 720 x lines frame
    std::vector<uint8_t> pixels;             // width x height SubpicturePixel values
};

struct SubpictureFrame {
    TvStandard tv = TvStandard::Pal;
    bool wide = false;
    int pictureWidth = 720, pictureHeight = 576; // the movie's active picture, centred in the frame
    double movieSeconds = 0;                     // cues are clipped to it (0: not clipped)
};

// The title-safe area: a tenth of the frame kept free on every side.
struct SafeArea {
    int x, y, width, height;
};
SafeArea TitleSafeArea(TvStandard tv);

// A subpicture lasts at most this long: its stop time has 16 bits of 1024/90000 s.
constexpr int64_t kMaxSubpictureTicks = 600LL * 90000;

// Draws text cues with the cues' ASS header (styles, script size). Notes tell what was clipped.
std::vector<Subpicture> RenderTextCues(const SubtitleCues& cues, const SubpictureFrame& frame,
                                       std::vector<std::string>* notes);
// Reduces picture cues to the four colours: transparent, white (bright), black (dark), grey.
std::vector<Subpicture> RenderPictureCues(const SubtitleCues& cues, const SubpictureFrame& frame,
                                          std::vector<std::string>* notes);

// 90 kHz ticks of `ms` on the nearest picture boundary of the standard.
int64_t TicksOnFrame(int64_t ms, TvStandard tv);

} // namespace qx::enc
