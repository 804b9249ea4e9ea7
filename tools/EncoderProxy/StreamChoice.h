// Which of a movie's streams are converted: its picture and one sound track. The probe and the
// conversion choose alike, so a conversion that has to choose again (the file changed) still
// takes the same tracks.
#pragma once

#include <string>

#include "FfmpegUtil.h"

namespace qx::enc {

// The movie's picture: FFmpeg's best video stream unless that is a cover picture, else the first
// video stream that is not one; -1 when there is none.
int ChooseVideoStream(AVFormatContext* fmt);

struct SoundChoice {
    int index = -1;           // the stream; -1 when the movie has no sound we can decode
    int tracks = 0;           // sound tracks of the movie (beside the picture's program)
    bool undecodable = false; // there is sound, but FFmpeg decodes none of it
    std::string
        text; // the choice as one log line, e.g. "track 2 of 3 (marked default): aac, 48000 Hz, 6 channels, eng"
};

// Among the sound tracks FFmpeg can decode (within the picture's program when the file has
// programs): the first marked default, else the first.
SoundChoice ChooseSoundStream(AVFormatContext* fmt, int video);

// The choice's text for the stream `index` (chosen earlier, e.g. at probe time).
std::string DescribeSoundStream(AVFormatContext* fmt, int index);

} // namespace qx::enc
