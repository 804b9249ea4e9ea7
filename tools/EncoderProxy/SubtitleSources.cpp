#include "SubtitleSources.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "SubtitleText.h"

extern "C" {
#include <libavutil/dict.h>
}

namespace qx::enc {
namespace {

constexpr int kIoBufferBytes = 32 * 1024;
// A cue whose end is not known lasts until the next one, at most this long.
constexpr int64_t kOpenCueMs = 5000;

bool IsTextCodec(AVCodecID id) {
    return id == AV_CODEC_ID_SUBRIP || id == AV_CODEC_ID_SRT || id == AV_CODEC_ID_ASS || id == AV_CODEC_ID_SSA ||
           id == AV_CODEC_ID_WEBVTT || id == AV_CODEC_ID_MOV_TEXT || id == AV_CODEC_ID_TEXT;
}
bool IsPictureCodec(AVCodecID id) {
    return id == AV_CODEC_ID_DVD_SUBTITLE || id == AV_CODEC_ID_HDMV_PGS_SUBTITLE || id == AV_CODEC_ID_DVB_SUBTITLE;
}

std::string LowerCase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The FFmpeg reader of a subtitle file's extension, or null.
const char* FileFormat(const std::string& name) {
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : LowerCase(name.substr(dot + 1));
    if (ext == "srt")
        return "srt";
    if (ext == "ass" || ext == "ssa")
        return "ass";
    if (ext == "vtt")
        return "webvtt";
    return nullptr;
}

// The language a file's tag names: "Movie.en.srt", "Movie.eng.forced.ass", "Movie.pt-BR.srt".
std::string FileLanguage(const std::string& tag) {
    size_t start = 0;
    while (start < tag.size()) {
        size_t end = tag.find('.', start);
        if (end == std::string::npos)
            end = tag.size();
        const std::string letters = SubtitleLanguageLetters(tag.substr(start, end - start));
        if (!letters.empty())
            return letters;
        start = end + 1;
    }
    return {};
}

struct MemoryReader {
    const std::string* bytes;
    size_t at = 0;
};

int ReadMemory(void* opaque, uint8_t* buf, int size) {
    auto* r = static_cast<MemoryReader*>(opaque);
    const size_t n = std::min(static_cast<size_t>(size), r->bytes->size() - r->at);
    if (n == 0)
        return AVERROR_EOF;
    std::memcpy(buf, r->bytes->data() + r->at, n);
    r->at += n;
    return static_cast<int>(n);
}

struct AvioFree {
    void operator()(AVIOContext* pb) const {
        if (pb) {
            av_freep(&pb->buffer);
            avio_context_free(&pb);
        }
    }
};

int64_t ToMs(int64_t ts, AVRational tb) {
    return av_rescale_q(ts, tb, AVRational{1, 1000});
}

// The cues of one subtitle stream of an open input, decoded packet by packet; `offsetMs` is taken
// off every time (the movie's start).
class CueDecoder {
public:
    CueDecoder(AVFormatContext* fmt, int index, int64_t offsetMs, int videoWidth, int videoHeight, SubtitleCues* cues,
               std::vector<std::string>* notes)
        : st_(fmt->streams[index]), offsetMs_(offsetMs), videoWidth_(videoWidth), videoHeight_(videoHeight),
          cues_(cues), notes_(notes) {
        std::string error;
        dec_ = OpenDecoder(fmt, index, &error);
        if (!dec_) {
            notes->push_back(error);
            return;
        }
        cues->picture = IsPictureCodec(st_->codecpar->codec_id);
        if (dec_->subtitle_header && dec_->subtitle_header_size > 0)
            cues->assHeader.assign(reinterpret_cast<const char*>(dec_->subtitle_header),
                                   static_cast<size_t>(dec_->subtitle_header_size));
    }

    void Take(AVPacket* pkt) {
        if (!dec_ || full_ || pkt->pts == AV_NOPTS_VALUE)
            return;
        const int64_t startMs = ToMs(pkt->pts, st_->time_base) - offsetMs_;
        const int64_t packetMs = pkt->duration > 0 ? ToMs(pkt->duration, st_->time_base) : -1;
        AVSubtitle sub{};
        int got = 0;
        if (avcodec_decode_subtitle2(dec_.get(), &sub, &got, pkt) < 0 || !got)
            return;
        const int64_t begin = startMs + sub.start_display_time;
        const int64_t end = packetMs > 0 ? startMs + packetMs
                            : sub.end_display_time > 0 && sub.end_display_time < 600000u
                                ? startMs + sub.end_display_time
                                : -1;
        if (cues_->picture)
            CloseOpenPicture(begin);
        for (unsigned i = 0; i < sub.num_rects && !full_; ++i) {
            const AVSubtitleRect* r = sub.rects[i];
            if (cues_->text.size() + cues_->pictures.size() >= kMaxSubtitleCues) {
                full_ = true;
                notes_->push_back("more than " + std::to_string(kMaxSubtitleCues) + " cues: the rest is left out");
            } else if (r->type == SUBTITLE_ASS && r->ass && !cues_->picture) {
                cues_->text.push_back({begin, end < 0 ? begin + kOpenCueMs : end, r->ass});
            } else if (r->type == SUBTITLE_BITMAP && cues_->picture && r->w > 0 && r->h > 0 && r->data[0] &&
                       r->data[1]) {
                cues_->pictures.push_back(Picture(*r, begin, end));
            }
        }
        avsubtitle_free(&sub);
    }

    void Finish() { CloseOpenPicture(cues_->pictures.empty() ? 0 : cues_->pictures.back().startMs + kOpenCueMs); }

private:
    // A picture cue without an end lasts until the next one starts (or clears it).
    void CloseOpenPicture(int64_t at) {
        if (!cues_->pictures.empty() && cues_->pictures.back().endMs < 0)
            cues_->pictures.back().endMs = std::max(cues_->pictures.back().startMs + 1, at);
    }

    PictureCue Picture(const AVSubtitleRect& r, int64_t begin, int64_t end) const {
        PictureCue c;
        c.startMs = begin;
        c.endMs = end;
        c.canvasWidth = dec_->width > 0 ? dec_->width : videoWidth_;
        c.canvasHeight = dec_->height > 0 ? dec_->height : videoHeight_;
        c.x = r.x;
        c.y = r.y;
        c.width = r.w;
        c.height = r.h;
        const auto* palette = reinterpret_cast<const uint32_t*>(r.data[1]);
        c.argb.resize(static_cast<size_t>(r.w) * static_cast<size_t>(r.h));
        for (int y = 0; y < r.h; ++y)
            for (int x = 0; x < r.w; ++x)
                c.argb[static_cast<size_t>(y) * r.w + x] = palette[r.data[0][y * r.linesize[0] + x]];
        return c;
    }

    const AVStream* st_;
    int64_t offsetMs_;
    int videoWidth_, videoHeight_;
    SubtitleCues* cues_;
    std::vector<std::string>* notes_;
    CodecPtr dec_;
    bool full_ = false;
};

// Decodes streams `indexes` of an open input into `cues` (one each) in one pass over it.
void DecodeCues(AVFormatContext* fmt, const std::vector<int>& indexes, int64_t offsetMs, int videoWidth,
                int videoHeight, std::vector<SubtitleCues>* cues, std::vector<std::string>* notes) {
    cues->assign(indexes.size(), SubtitleCues{});
    std::vector<std::unique_ptr<CueDecoder>> decoders;
    for (size_t k = 0; k < indexes.size(); ++k)
        decoders.push_back(
            std::make_unique<CueDecoder>(fmt, indexes[k], offsetMs, videoWidth, videoHeight, &(*cues)[k], notes));
    PacketPtr pkt(av_packet_alloc());
    while (av_read_frame(fmt, pkt.get()) >= 0) {
        for (size_t k = 0; k < indexes.size(); ++k)
            if (pkt->stream_index == indexes[k])
                decoders[k]->Take(pkt.get());
        av_packet_unref(pkt.get());
    }
    for (auto& d : decoders)
        d->Finish();
}

bool ReadFileCues(const SubtitleSource& source, SubtitleCues* cues, std::vector<std::string>* notes,
                  std::string* error) {
    SubtitleText text;
    if (!ReadSubtitleFile(source.path, &text, error))
        return false;
    notes->push_back("read as " + text.charset);
    return ParseSubtitleText(text.utf8, source.path, cues, notes, error);
}

} // namespace

bool ParseSubtitleText(const std::string& utf8, const std::string& name, SubtitleCues* cues,
                       std::vector<std::string>* notes, std::string* error) {
    const char* formatName = FileFormat(name);
    const AVInputFormat* format = formatName ? av_find_input_format(formatName) : nullptr;
    if (!format) {
        *error = "not a subtitle file";
        return false;
    }
    MemoryReader reader{&utf8};
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
    std::unique_ptr<AVIOContext, AvioFree> pb(
        avio_alloc_context(buffer, kIoBufferBytes, 0, &reader, ReadMemory, nullptr, nullptr));
    AVFormatContext* raw = avformat_alloc_context();
    if (!pb || !raw) {
        if (!pb)
            av_free(buffer);
        avformat_free_context(raw);
        *error = "out of memory";
        return false;
    }
    raw->pb = pb.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    int rc = avformat_open_input(&raw, nullptr, format, nullptr);
    if (rc < 0) {
        *error = "it cannot be parsed: " + AvError(rc);
        return false;
    }
    InputPtr fmt(raw);
    rc = avformat_find_stream_info(fmt.get(), nullptr);
    if (rc < 0 || fmt->nb_streams < 1) {
        *error = "it cannot be parsed";
        return false;
    }
    std::vector<SubtitleCues> one;
    DecodeCues(fmt.get(), {0}, 0, 0, 0, &one, notes);
    *cues = std::move(one[0]);
    fmt.reset(); // before the reader it reads through
    return true;
}

namespace {

// The files beside the movie named "<base>.<tag>.<ext>" or "<base>.<ext>", by name.
std::vector<std::string> SubtitleFileNames(const std::string& folder, const std::string& base) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() > base.size() + 1 && name.compare(0, base.size(), base) == 0 && name[base.size()] == '.' &&
            FileFormat(name))
            names.push_back(name);
        if (names.size() > 1000) // a folder of thousands of look-alike names: enough of them
            break;
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::vector<SubtitleSource> ListSubtitles(AVFormatContext* movie, const std::string& moviePath,
                                          std::vector<std::string>* notes) {
    std::vector<SubtitleSource> list;
    auto full = [&](const std::string& what) {
        if (list.size() < static_cast<size_t>(kMaxSubtitleStreams))
            return false;
        notes->push_back("subtitles " + what + " left out: a title holds at most 32 subtitle streams");
        return true;
    };
    for (unsigned i = 0; movie && i < movie->nb_streams; ++i) {
        const AVStream* st = movie->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE)
            continue;
        const AVCodecID id = st->codecpar->codec_id;
        const std::string what = "track " + std::to_string(i + 1) + " (" + avcodec_get_name(id) + ")";
        if ((!IsTextCodec(id) && !IsPictureCodec(id)) || !avcodec_find_decoder(id)) {
            notes->push_back("subtitles " + what + " left out: no decoder for them");
            continue;
        }
        if (full(what))
            continue;
        SubtitleSource s;
        s.info.kind = SubtitleInfo::Kind::Track;
        s.info.picture = IsPictureCodec(id);
        s.info.track = static_cast<int>(i) + 1;
        if (const AVDictionaryEntry* lang = av_dict_get(st->metadata, "language", nullptr, 0))
            s.info.language = SubtitleLanguageLetters(lang->value);
        s.streamIndex = static_cast<int>(i);
        list.push_back(s);
    }
    const size_t slash = moviePath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : moviePath.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? moviePath : moviePath.substr(slash + 1);
    const size_t dot = base.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return list;
    base.resize(dot);
    for (const std::string& name : SubtitleFileNames(folder, base)) {
        const std::string path = (slash == std::string::npos ? "" : folder) + name;
        const std::string suffix = name.substr(base.size());
        if (suffix.size() > kMaxSubtitleSuffix) {
            notes->push_back("subtitles " + path + " left out: the name after the movie's is longer than " +
                             std::to_string(kMaxSubtitleSuffix) + " characters");
            continue;
        }
        if (full(path))
            continue;
        SubtitleSource s;
        s.info.kind = SubtitleInfo::Kind::File;
        s.info.suffix = suffix;
        const size_t lastDot = suffix.rfind('.');
        s.info.language = FileLanguage(suffix.substr(1, lastDot > 0 ? lastDot - 1 : 0));
        s.path = path;
        // A file is listed only when it gives cues: what the probe lists the conversion can draw.
        SubtitleCues cues;
        std::vector<std::string> fileNotes;
        std::string error;
        if (!ReadSubtitleCues(s, moviePath, 0, 0, &cues, &fileNotes, &error)) {
            notes->push_back("subtitles " + path + " left out: " + error);
            continue;
        }
        for (const std::string& n : fileNotes)
            notes->push_back("subtitles " + path + ": " + n);
        if (cues.text.empty()) {
            notes->push_back("subtitles " + path + " left out: no cue could be read");
            continue;
        }
        list.push_back(s);
    }
    return list;
}

bool ReadSubtitleCues(const SubtitleSource& source, const std::string& movie, int videoWidth, int videoHeight,
                      SubtitleCues* cues, std::vector<std::string>* notes, std::string* error) {
    *cues = SubtitleCues{};
    if (source.info.kind == SubtitleInfo::Kind::File)
        return ReadFileCues(source, cues, notes, error);
    std::vector<SubtitleCues> read;
    if (!ReadTrackCues(movie, {source.streamIndex}, videoWidth, videoHeight, &read, notes, error))
        return false;
    *cues = std::move(read[0]);
    return true;
}

bool ReadTrackCues(const std::string& movie, const std::vector<int>& streams, int videoWidth, int videoHeight,
                   std::vector<SubtitleCues>* cues, std::vector<std::string>* notes, std::string* error) {
    InputPtr fmt = OpenMovie(movie, error);
    if (!fmt)
        return false;
    for (int index : streams) {
        if (index < 0 || index >= static_cast<int>(fmt->nb_streams) ||
            fmt->streams[index]->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) {
            *error = "the movie no longer has its subtitle track " + std::to_string(index + 1);
            return false;
        }
    }
    // Only the subtitle packets are read out of the movie.
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (std::find(streams.begin(), streams.end(), static_cast<int>(i)) == streams.end())
            fmt->streams[i]->discard = AVDISCARD_ALL;
    const int64_t offsetMs = fmt->start_time != AV_NOPTS_VALUE ? fmt->start_time / 1000 : 0;
    DecodeCues(fmt.get(), streams, offsetMs, videoWidth, videoHeight, cues, notes);
    return true;
}

} // namespace qx::enc
