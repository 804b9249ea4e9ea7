#include "SubtitleInfo.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace qx {
namespace {

// Two letters and the ISO 639-2 codes (bibliographic and terminology) and English names that
// mean them.
struct LanguageNames {
    const char* letters;
    const char* codes[4];
};
const LanguageNames kLanguages[] = {
    {"en", {"eng", "english"}},
    {"de", {"ger", "deu", "german", "deutsch"}},
    {"fr", {"fre", "fra", "french", "francais"}},
    {"es", {"spa", "spanish", "espanol"}},
    {"it", {"ita", "italian", "italiano"}},
    {"pt", {"por", "portuguese"}},
    {"nl", {"dut", "nld", "dutch"}},
    {"sv", {"swe", "swedish"}},
    {"no", {"nor", "norwegian"}},
    {"nb", {"nob"}},
    {"nn", {"nno"}},
    {"da", {"dan", "danish"}},
    {"fi", {"fin", "finnish"}},
    {"is", {"ice", "isl", "icelandic"}},
    {"pl", {"pol", "polish"}},
    {"cs", {"cze", "ces", "czech"}},
    {"sk", {"slo", "slk", "slovak"}},
    {"sl", {"slv", "slovenian"}},
    {"hu", {"hun", "hungarian"}},
    {"ro", {"rum", "ron", "romanian"}},
    {"bg", {"bul", "bulgarian"}},
    {"hr", {"hrv", "croatian"}},
    {"sr", {"srp", "serbian"}},
    {"bs", {"bos", "bosnian"}},
    {"mk", {"mac", "mkd", "macedonian"}},
    {"sq", {"alb", "sqi", "albanian"}},
    {"el", {"gre", "ell", "greek"}},
    {"tr", {"tur", "turkish"}},
    {"ru", {"rus", "russian"}},
    {"uk", {"ukr", "ukrainian"}},
    {"be", {"bel", "belarusian"}},
    {"et", {"est", "estonian"}},
    {"lv", {"lav", "latvian"}},
    {"lt", {"lit", "lithuanian"}},
    {"ga", {"gle", "irish"}},
    {"cy", {"wel", "cym", "welsh"}},
    {"eu", {"baq", "eus", "basque"}},
    {"ca", {"cat", "catalan"}},
    {"gl", {"glg", "galician"}},
    {"ar", {"ara", "arabic"}},
    {"he", {"heb", "hebrew"}},
    {"fa", {"per", "fas", "persian"}},
    {"hi", {"hin", "hindi"}},
    {"bn", {"ben", "bengali"}},
    {"ur", {"urd", "urdu"}},
    {"ta", {"tam", "tamil"}},
    {"te", {"tel", "telugu"}},
    {"th", {"tha", "thai"}},
    {"vi", {"vie", "vietnamese"}},
    {"id", {"ind", "indonesian"}},
    {"ms", {"may", "msa", "malay"}},
    {"tl", {"tgl", "tagalog"}},
    {"zh", {"chi", "zho", "chinese"}},
    {"ja", {"jpn", "japanese"}},
    {"ko", {"kor", "korean"}},
    {"la", {"lat", "latin"}},
    {"eo", {"epo", "esperanto"}},
    {"af", {"afr", "afrikaans"}},
    {"sw", {"swa", "swahili"}},
    {"ka", {"geo", "kat", "georgian"}},
    {"hy", {"arm", "hye", "armenian"}},
    {"az", {"aze", "azerbaijani"}},
    {"kk", {"kaz", "kazakh"}},
};

std::string Lower(const std::string& s) {
    std::string out = s;
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

} // namespace

std::string SubtitleLanguageLetters(const std::string& code) {
    const std::string c = Lower(code);
    for (const LanguageNames& l : kLanguages) {
        if (c == l.letters)
            return l.letters;
        for (const char* name : l.codes)
            if (name && c == name)
                return l.letters;
    }
    // Regional tags ("en-US", "pt_BR") name their language first.
    const size_t dash = c.find_first_of("-_");
    if (dash != std::string::npos && dash > 0)
        return SubtitleLanguageLetters(c.substr(0, dash));
    return {};
}

std::string DescribeSubtitle(const SubtitleInfo& subtitle, const std::string& moviePath) {
    std::string where;
    if (subtitle.kind == SubtitleInfo::Kind::Track) {
        where = "track " + std::to_string(subtitle.track);
    } else {
        const size_t slash = moviePath.rfind('/');
        std::string name = slash == std::string::npos ? moviePath : moviePath.substr(slash + 1);
        const size_t dot = name.rfind('.');
        if (dot != std::string::npos && dot > 0)
            name.resize(dot);
        where = name + subtitle.suffix;
    }
    return subtitle.language.empty() ? where : subtitle.language + " (" + where + ")";
}

std::string DescribeSubtitles(const std::vector<SubtitleInfo>& subtitles, const std::string& moviePath) {
    if (subtitles.empty())
        return {};
    std::string text = "Subtitles: ";
    for (size_t i = 0; i < subtitles.size(); ++i) {
        if (i > 0)
            text += ", ";
        text += DescribeSubtitle(subtitles[i], moviePath);
        if (subtitles[i].leftOut)
            text += " (left out)";
    }
    return text;
}

std::array<uint32_t, kSubtitleColours> SubtitlePaletteRgb() {
    std::array<uint32_t, kSubtitleColours> rgb{};
    rgb[1] = 0xFFFFFF;
    rgb[2] = 0x808080;
    return rgb;
}

std::array<uint32_t, kSubtitleColours> SubtitlePaletteYCrCb() {
    std::array<uint32_t, kSubtitleColours> ycrcb{};
    const std::array<uint32_t, kSubtitleColours> rgb = SubtitlePaletteRgb();
    for (int i = 0; i < kSubtitleColours; ++i) {
        // Greys only: Cr = Cb = 128, Y in the TV range 16..235.
        const uint32_t grey = rgb[i] & 0xFF;
        const uint32_t y = 16 + (grey * 219 + 127) / 255;
        ycrcb[i] = (y << 16) | 0x8080;
    }
    return ycrcb;
}

std::string SubtitlePaletteOption() {
    std::string text;
    for (uint32_t c : SubtitlePaletteRgb()) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%06x", c);
        text += (text.empty() ? "" : ",") + std::string(hex);
    }
    return text;
}

} // namespace qx
