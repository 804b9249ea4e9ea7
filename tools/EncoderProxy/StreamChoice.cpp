#include "StreamChoice.h"

#include <cstdio>
#include <vector>

extern "C" {
#include <libavutil/dict.h>
}

namespace qx::enc {
namespace {

bool IsAttachedPicture(const AVStream* st) {
    return (st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

// The streams of the program that holds `video`; every stream when the file has no programs or
// the picture is in none of them.
std::vector<int> StreamsBeside(AVFormatContext* fmt, int video) {
    std::vector<int> all;
    for (unsigned p = 0; video >= 0 && p < fmt->nb_programs; ++p) {
        const AVProgram* program = fmt->programs[p];
        bool holds = false;
        for (unsigned i = 0; i < program->nb_stream_indexes; ++i)
            holds = holds || static_cast<int>(program->stream_index[i]) == video;
        if (!holds)
            continue;
        for (unsigned i = 0; i < program->nb_stream_indexes; ++i)
            all.push_back(static_cast<int>(program->stream_index[i]));
        return all;
    }
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        all.push_back(static_cast<int>(i));
    return all;
}

std::vector<int> SoundTracks(AVFormatContext* fmt, int video) {
    std::vector<int> tracks;
    for (int i : StreamsBeside(fmt, video))
        if (i >= 0 && i < static_cast<int>(fmt->nb_streams) &&
            fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            tracks.push_back(i);
    return tracks;
}

bool Decodable(const AVStream* st) {
    return avcodec_find_decoder(st->codecpar->codec_id) != nullptr;
}

std::string Facts(const AVStream* st) {
    const AVCodecParameters* par = st->codecpar;
    char text[160];
    std::snprintf(text, sizeof text, "%s, %d Hz, %d channel%s", avcodec_get_name(par->codec_id), par->sample_rate,
                  par->ch_layout.nb_channels, par->ch_layout.nb_channels == 1 ? "" : "s");
    std::string facts = text;
    // The movie's own words: only a tag's letters reach the log, never a control character.
    if (const AVDictionaryEntry* lang = av_dict_get(st->metadata, "language", nullptr, 0)) {
        std::string tag;
        for (const char* c = lang->value; *c != '\0' && tag.size() < 16; ++c)
            if ((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || *c == '-')
                tag += *c;
        if (!tag.empty())
            facts += ", " + tag;
    }
    return facts;
}

std::string TrackText(const std::vector<int>& tracks, int index, const char* why) {
    int position = 0;
    for (size_t i = 0; i < tracks.size(); ++i)
        if (tracks[i] == index)
            position = static_cast<int>(i) + 1;
    char text[96];
    std::snprintf(text, sizeof text, "track %d of %d%s", position, static_cast<int>(tracks.size()), why);
    return text;
}

} // namespace

int ChooseVideoStream(AVFormatContext* fmt) {
    int best = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (best >= 0 && !IsAttachedPicture(fmt->streams[best]))
        return best;
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !IsAttachedPicture(fmt->streams[i]))
            return static_cast<int>(i);
    return -1;
}

SoundChoice ChooseSoundStream(AVFormatContext* fmt, int video) {
    SoundChoice choice;
    const std::vector<int> tracks = SoundTracks(fmt, video);
    choice.tracks = static_cast<int>(tracks.size());
    int first = -1, marked = -1;
    for (int i : tracks) {
        if (!Decodable(fmt->streams[i]))
            continue;
        if (first < 0)
            first = i;
        if (marked < 0 && (fmt->streams[i]->disposition & AV_DISPOSITION_DEFAULT))
            marked = i;
    }
    if (first < 0) {
        choice.undecodable = !tracks.empty();
        choice.text =
            tracks.empty() ? "none" : "none of the " + std::to_string(tracks.size()) + " sound tracks can be decoded";
        return choice;
    }
    const char* why = "";
    if (tracks.size() > 1)
        why = marked >= 0 ? " (marked default)" : " (the first; none is marked default)";
    choice.index = marked >= 0 ? marked : first;
    choice.text = TrackText(tracks, choice.index, why) + ": " + Facts(fmt->streams[choice.index]);
    return choice;
}

std::string DescribeSoundStream(AVFormatContext* fmt, int index) {
    if (index < 0 || index >= static_cast<int>(fmt->nb_streams))
        return "none";
    SoundChoice now = ChooseSoundStream(fmt, ChooseVideoStream(fmt));
    if (now.index == index)
        return now.text;
    return TrackText(SoundTracks(fmt, ChooseVideoStream(fmt)), index, "") + ": " + Facts(fmt->streams[index]);
}

} // namespace qx::enc
