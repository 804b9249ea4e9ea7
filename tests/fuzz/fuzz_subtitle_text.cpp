// A subtitle file beside a movie: the first byte chooses the format (.srt, .ass, .vtt), the rest
// are the file's bytes in any character set. Whatever they are, the text is UTF-8 or refused, the
// cues are bounded, and the subpictures drawn of a few of them lie inside the frame, last a while
// and hold the four pixel values only.
#include "FuzzSupport.h"
#include "SubpictureRender.h"
#include "SubtitleSources.h"
#include "SubtitleText.h"

#include <string>
#include <vector>

int QxFuzzSubtitleText(const uint8_t* data, size_t size) {
    using namespace qx::enc;
    if (size < 1)
        return 0;
    static const char* const kNames[] = {"cue.srt", "cue.ass", "cue.vtt"};
    const std::string name = kNames[data[0] % 3];
    SubtitleText text;
    std::string error;
    if (!DecodeSubtitleBytes(std::string(reinterpret_cast<const char*>(data + 1), size - 1), &text, &error))
        return 0;
    SubtitleCues cues;
    std::vector<std::string> notes;
    if (!ParseSubtitleText(text.utf8, name, &cues, &notes, &error))
        return 0;
    QX_FUZZ_CHECK(!cues.picture && cues.pictures.empty());
    QX_FUZZ_CHECK(cues.text.size() <= kMaxSubtitleCues);
    if (cues.text.size() > 8)
        return 0; // drawing is slow; a few cues show what drawing makes of odd ones
    SubpictureFrame frame;
    frame.movieSeconds = 600;
    for (const Subpicture& sp : RenderTextCues(cues, frame, &notes)) {
        QX_FUZZ_CHECK(sp.start >= 0 && sp.start < sp.end && sp.end - sp.start <= kMaxSubpictureTicks);
        QX_FUZZ_CHECK(sp.end <= 600LL * 90000);
        QX_FUZZ_CHECK(sp.x >= 0 && sp.y >= 0 && sp.width > 0 && sp.height > 0);
        QX_FUZZ_CHECK(sp.x + sp.width <= 720 && sp.y + sp.height <= 576);
        QX_FUZZ_CHECK(sp.pixels.size() == static_cast<size_t>(sp.width) * sp.height);
        for (uint8_t p : sp.pixels)
            QX_FUZZ_CHECK(p <= SP_EDGE);
    }
    return 0;
}
