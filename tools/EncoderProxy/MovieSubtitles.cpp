#include "MovieSubtitles.h"

#include <algorithm>

#include "SubtitleSources.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace qx::enc {

bool SubpictureEncoder::Open(TvStandard tv, std::string* error) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_DVD_SUBTITLE);
    if (!codec) {
        *error = "FFmpeg lacks the DVD subtitle encoder";
        return false;
    }
    ctx_.reset(avcodec_alloc_context3(codec));
    if (!ctx_) {
        *error = "out of memory";
        return false;
    }
    ctx_->width = 720;
    ctx_->height = FrameLines(tv);
    ctx_->time_base = AVRational{1, 90000};
    // The encoder's palette is the program chain's colour table: the subpicture names its colours
    // by their places in it.
    av_opt_set(ctx_->priv_data, "palette", SubtitlePaletteOption().c_str(), 0);
    av_opt_set_int(ctx_->priv_data, "even_rows_fix", 1, 0);
    const int rc = avcodec_open2(ctx_.get(), codec, nullptr);
    if (rc < 0) {
        *error = "cannot open the DVD subtitle encoder: " + AvError(rc);
        return false;
    }
    return true;
}

bool SubpictureEncoder::Encode(const Subpicture& sp, std::vector<uint8_t>* data, std::string* error) {
    // Transparent, white, black, grey: the subpicture's pixel values.
    static const uint32_t kColours[4] = {0x00000000, 0xFFFFFFFF, 0xFF000000, 0xFF808080};
    AVSubtitleRect rect{};
    rect.x = sp.x;
    rect.y = sp.y;
    rect.w = sp.width;
    rect.h = sp.height;
    rect.nb_colors = 4;
    rect.type = SUBTITLE_BITMAP;
    std::vector<uint8_t> pixels = sp.pixels;
    uint32_t palette[256] = {0};
    std::copy(std::begin(kColours), std::end(kColours), palette);
    rect.data[0] = pixels.data();
    rect.linesize[0] = sp.width;
    rect.data[1] = reinterpret_cast<uint8_t*>(palette);
    AVSubtitleRect* rects[1] = {&rect};
    AVSubtitle sub{};
    sub.format = 0;
    sub.start_display_time = 0;
    sub.end_display_time = static_cast<uint32_t>((sp.end - sp.start) / 90);
    sub.num_rects = 1;
    sub.rects = rects;
    sub.pts = av_rescale_q(sp.start, AVRational{1, 90000}, AV_TIME_BASE_Q);
    data->resize(65536);
    const int n = avcodec_encode_subtitle(ctx_.get(), data->data(), static_cast<int>(data->size()), &sub);
    if (n <= 0) {
        *error = "a subpicture cannot be coded: " + AvError(n);
        return false;
    }
    data->resize(static_cast<size_t>(n));
    return true;
}

bool SubpictureMux::AddStreams(AVFormatContext* oc, std::string* error) {
    // FFmpeg's muxer numbers subtitle streams 0x20, 0x21, ... in the order they are added; a
    // substream no subtitle of this movie uses stays empty, so every title of the disc keeps one
    // language per stream number.
    for (int i = 0; subpictures_ && i < subpictures_->streams; ++i) {
        AVStream* st = avformat_new_stream(oc, nullptr);
        if (!st) {
            *error = "out of memory";
            return false;
        }
        st->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
        st->codecpar->codec_id = AV_CODEC_ID_DVD_SUBTITLE;
        st->time_base = AVRational{1, 90000};
        streams_.push_back(st);
    }
    return true;
}

int SubpictureMux::WriteUntil(AVFormatContext* oc, int64_t ticks, int64_t leadTicks) {
    if (!subpictures_)
        return 0;
    const std::vector<SubpicturePacket>& packets = subpictures_->packets;
    for (; next_ < packets.size(); ++next_) {
        const SubpicturePacket& p = packets[next_];
        if (p.pts > ticks + leadTicks)
            break;
        PacketPtr pkt(av_packet_alloc());
        if (!pkt || av_new_packet(pkt.get(), static_cast<int>(p.data.size())) < 0)
            return AVERROR(ENOMEM);
        std::copy(p.data.begin(), p.data.end(), pkt->data);
        // Each substream's packets go on in time (a packet that would not is dropped, not the movie).
        if (p.pts <= lastPts_[static_cast<size_t>(p.stream)])
            continue;
        lastPts_[static_cast<size_t>(p.stream)] = p.pts;
        AVStream* st = streams_[static_cast<size_t>(p.stream)];
        pkt->stream_index = st->index;
        pkt->pts = pkt->dts = av_rescale_q(p.pts, AVRational{1, 90000}, st->time_base);
        pkt->duration = av_rescale_q(p.durationTicks, AVRational{1, 90000}, st->time_base);
        const int rc = av_interleaved_write_frame(oc, pkt.get());
        if (rc < 0)
            return rc;
    }
    return 0;
}

MovieSubpictures PrepareSubpictures(const ConvertRequest& req, AVFormatContext* movie, int videoWidth, int videoHeight,
                                    double movieSeconds, std::vector<std::string>* notes) {
    MovieSubpictures result;
    if (req.subtitleStreams.empty())
        return result;
    const std::vector<SubtitleSource> sources = ListSubtitles(movie, req.input, notes);
    SubpictureEncoder encoder;
    std::string error;
    if (!encoder.Open(req.tv, &error)) {
        notes->push_back(error + ": the subtitles are left out");
        return result;
    }
    SubpictureFrame frame;
    frame.tv = req.tv;
    frame.wide = req.wide;
    frame.pictureWidth = req.pictureWidth > 0 ? req.pictureWidth : 720;
    frame.pictureHeight = req.pictureHeight > 0 ? req.pictureHeight : FrameLines(req.tv);
    frame.movieSeconds = movieSeconds;
    // The tracks chosen are read in one pass over the movie.
    std::vector<int> tracks;
    for (size_t i = 0; i < req.subtitleStreams.size() && i < sources.size(); ++i)
        if (req.subtitleStreams[i] >= 0x20 && req.subtitleStreams[i] <= 0x3F &&
            sources[i].info.kind == SubtitleInfo::Kind::Track)
            tracks.push_back(sources[i].streamIndex);
    std::vector<SubtitleCues> trackCues;
    std::string trackError;
    const bool tracksRead =
        tracks.empty() || ReadTrackCues(req.input, tracks, videoWidth, videoHeight, &trackCues, notes, &trackError);
    std::vector<bool> taken(kMaxSubtitleStreams, false);
    for (size_t i = 0; i < req.subtitleStreams.size() && i < sources.size(); ++i) {
        const int id = req.subtitleStreams[i];
        if (id < 0x20 || id > 0x3F)
            continue;
        const SubtitleSource& source = sources[i];
        const std::string what = DescribeSubtitle(source.info, req.input);
        if (taken[static_cast<size_t>(id - 0x20)]) {
            notes->push_back("subtitles " + what + " left out: their substream is another's");
            continue;
        }
        taken[static_cast<size_t>(id - 0x20)] = true;
        SubtitleCues cues;
        std::vector<std::string> cueNotes;
        if (source.info.kind == SubtitleInfo::Kind::Track) {
            if (!tracksRead) {
                notes->push_back("subtitles " + what + " left out: " + trackError);
                continue;
            }
            const size_t k =
                static_cast<size_t>(std::find(tracks.begin(), tracks.end(), source.streamIndex) - tracks.begin());
            cues = std::move(trackCues[k]);
        } else if (!ReadSubtitleCues(source, req.input, videoWidth, videoHeight, &cues, &cueNotes, &error)) {
            notes->push_back("subtitles " + what + " left out: " + error);
            continue;
        }
        std::vector<Subpicture> pictures =
            cues.picture ? RenderPictureCues(cues, frame, &cueNotes) : RenderTextCues(cues, frame, &cueNotes);
        for (const std::string& n : cueNotes)
            notes->push_back("subtitles " + what + ": " + n);
        size_t coded = 0;
        for (const Subpicture& sp : pictures) {
            SubpicturePacket pkt;
            pkt.stream = id - 0x20;
            pkt.pts = sp.start;
            pkt.durationTicks = sp.end - sp.start;
            if (!encoder.Encode(sp, &pkt.data, &error)) {
                notes->push_back("subtitles " + what + ": " + error);
                continue;
            }
            result.packets.push_back(std::move(pkt));
            ++coded;
        }
        result.streams = std::max(result.streams, id - 0x20 + 1);
        notes->push_back("subtitles " + what + " as subpicture stream " + std::to_string(id - 0x20 + 1) + ": " +
                         std::to_string(coded) + " subpictures");
    }
    std::stable_sort(result.packets.begin(), result.packets.end(),
                     [](const SubpicturePacket& a, const SubpicturePacket& b) {
                         return a.pts != b.pts ? a.pts < b.pts : a.stream < b.stream;
                     });
    return result;
}

} // namespace qx::enc
