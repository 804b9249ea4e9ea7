// The picture standard and display aspect of a disc, one type each for every part of the program.
// The numbers files and records store for them (settings.ini, the encoder's request record, the
// information files' attribute bits) are converted where those files are read and written.
#pragma once

enum class TvStandard { Pal, Ntsc };
enum class DisplayAspect { Standard4x3, Wide16x9 };

inline const char* TvStandardName(TvStandard tv) {
    return tv == TvStandard::Pal ? "pal" : "ntsc";
}
inline const char* DisplayAspectName(DisplayAspect aspect) {
    return aspect == DisplayAspect::Wide16x9 ? "16:9" : "4:3";
}
