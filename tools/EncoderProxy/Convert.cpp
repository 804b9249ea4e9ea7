#include "Convert.h"
#include "TestHooks.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

#include "DvdWriter.h"
#include "EncodeThread.h"
#include "FfmpegUtil.h"
#include "FilterChain.h"
#include "PictureShape.h"
#include "QuantiserLook.h"
#include "SoundPassThrough.h"
#include "StreamChoice.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

namespace qx::enc {
namespace {

// Pictures decoded ahead of the encoder: enough to ride out a slow picture on either side,
// little memory (a PAL picture is 608 KiB).
constexpr size_t kEncodeQueuePictures = 8;

class MovieConverter {
public:
    MovieConverter(const ConvertRequest& r, const ProgressFn& p, const std::atomic<bool>* s)
        : req_(r), progress_(p), stop_(s) {}

    ConvertResult Run(OutputFileOpener opener);

private:
    bool OpenInput(std::string* error);
    bool SetUpVideo(std::string* error);
    bool SetUpAudio(std::string* error);
    bool Decode(AVCodecContext* dec, Chain* chain, const AVPacket* pkt, bool video, std::string* error);
    bool Push(Chain* chain, AVFrame* frame, bool video, std::string* error);
    bool Pull(Chain* chain, bool video, std::string* error);
    bool Encode(AVFrame* frame, bool video, std::string* error);
    double PostedSeconds() const;
    QuantiserLook LookAtTheMovie() const;
    bool KeepSoundNearPicture(std::string* error);
    void Report();

    ConvertRequest req_;
    ProgressFn progress_;
    const std::atomic<bool>* stop_;
    InputPtr fmt_;
    int video_ = -1, audio_ = -1;
    CodecPtr vdec_, adec_;
    Chain vchain_, achain_;
    DvdWriter writer_;
    SceneCuts cuts_; // of the pictures handed to the encoder
    FramePtr frame_{av_frame_alloc()}, filtered_{av_frame_alloc()};
    int64_t startUs_ = 0;
    double duration_ = 0;
    int64_t nextVideoPts_ = AV_NOPTS_VALUE;
    int64_t videoEndPts_ = AV_NOPTS_VALUE;  // end of the latest picture, in the stream's time base
    int64_t nextAudioPts_ = AV_NOPTS_VALUE; // end of the latest sound frame, in samples
    DvdSound sound_;                        // the movie's AC-3 passed through, or stereo made here
    std::unique_ptr<Ac3Frames> ac3_;        // cuts and times a passed-through track
    int64_t pictures_ = 0;
    int64_t postedPictureEnd_ = 0; // end of the latest picture handed to the encoder, in frames
    int lastPermilleReported_ = -1;
    // Last member: it ends (finishing its jobs) before the writer and frames its jobs use.
    EncodeThread encoder_{kEncodeQueuePictures};
};

bool MovieConverter::OpenInput(std::string* error) {
    fmt_ = OpenMovie(req_.input, error);
    if (!fmt_)
        return false;
    int n = static_cast<int>(fmt_->nb_streams);
    auto isType = [&](int i, AVMediaType t) { return i >= 0 && i < n && fmt_->streams[i]->codecpar->codec_type == t; };
    if (req_.probeA != 0) {
        video_ = ProbeAVideoIndex(req_.probeA);
        audio_ = ProbeAAudioIndex(req_.probeA);
    }
    // Streams chosen at probe time no longer match: the file changed, choose again.
    if (!isType(video_, AVMEDIA_TYPE_VIDEO) || (audio_ >= 0 && !isType(audio_, AVMEDIA_TYPE_AUDIO)) ||
        req_.probeA == 0) {
        video_ = ChooseVideoStream(fmt_.get());
        audio_ = video_ >= 0 ? ChooseSoundStream(fmt_.get(), video_).index : -1;
    }
    if (video_ < 0) {
        *error = "the movie has no picture";
        return false;
    }
    if (audio_ < 0)
        audio_ = -1;
    // Packets of the other tracks are not even read.
    for (int i = 0; i < n; ++i)
        if (i != video_ && i != audio_)
            fmt_->streams[i]->discard = AVDISCARD_ALL;
    if (audio_ >= 0)
        sound_ = SoundForTheDisc(fmt_->streams[audio_]);
    std::fprintf(stderr, "EncoderProxy: sound of %s: %s%s\n", req_.input.c_str(),
                 DescribeSoundStream(fmt_.get(), audio_).c_str(),
                 sound_.passThrough ? " (AC-3 the disc takes as it is)"
                 : audio_ >= 0      ? " (to stereo AC-3)"
                                    : "");
    startUs_ = fmt_->start_time != AV_NOPTS_VALUE ? fmt_->start_time : 0;
    duration_ = req_.probeB > 0 ? req_.probeB : (fmt_->duration > 0 ? fmt_->duration / 1e6 : 0);
    vdec_ = OpenDecoder(fmt_.get(), video_, error);
    if (!vdec_)
        return false;
    if (audio_ >= 0) {
        adec_ = OpenDecoder(fmt_.get(), audio_, error);
        if (!adec_)
            return false;
    }
    return true;
}

bool MovieConverter::SetUpVideo(std::string* error) {
    return BuildPictureChain(&vchain_, fmt_.get(), video_, req_, true, error);
}

bool MovieConverter::SetUpAudio(std::string* error) {
    if (audio_ < 0)
        return true;
    if (sound_.passThrough) {
        ac3_ = std::make_unique<Ac3Frames>(
            fmt_->streams[audio_], startUs_,
            [this](const AVPacket* frame, std::string* e) {
                std::shared_ptr<AVPacket> copy(av_packet_clone(frame), [](AVPacket* p) { av_packet_free(&p); });
                if (!copy) {
                    *e = "out of memory";
                    return false;
                }
                return encoder_.Post([this, copy](std::string* e2) { return writer_.WriteSoundFrame(copy.get(), e2); },
                                     e);
            },
            [this](int frames, std::string* e) {
                return encoder_.Post([this, frames](std::string* e2) { return writer_.WriteSilentFrames(frames, e2); },
                                     e);
            });
        return true;
    }
    AVCodecContext* d = adec_.get();
    AVChannelLayout layout{};
    if (d->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || d->ch_layout.nb_channels == 0)
        av_channel_layout_default(&layout, std::max(1, d->ch_layout.nb_channels));
    else
        av_channel_layout_copy(&layout, &d->ch_layout);
    char desc[128] = {0};
    av_channel_layout_describe(&layout, desc, sizeof desc);
    av_channel_layout_uninit(&layout);
    int rate = d->sample_rate > 0 ? d->sample_rate : 48000;
    char args[256];
    std::snprintf(args, sizeof args, "time_base=1/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s", rate, rate,
                  av_get_sample_fmt_name(d->sample_fmt), desc);
    // async fills gaps with silence and drops overlaps, so sound keeps to its timestamps; first_pts
    // pads the start when the sound begins after the picture.
    return BuildChain(&achain_, "abuffer", args, "abuffersink",
                      "aresample=48000:async=1:first_pts=0,aformat=sample_fmts=fltp:sample_rates=48000:"
                      "channel_layouts=stereo",
                      error);
}

bool MovieConverter::Push(Chain* chain, AVFrame* frame, bool video, std::string* error) {
    if (chain->ended)
        return true;
    int rc;
    if (!frame && video && videoEndPts_ != AV_NOPTS_VALUE)
        // Closing at the end of the last picture (not its start) keeps that picture's full time.
        rc = av_buffersrc_close(chain->src, videoEndPts_, AV_BUFFERSRC_FLAG_PUSH);
    else
        rc = av_buffersrc_add_frame_flags(chain->src, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
    if (rc < 0) {
        *error = "cannot filter the movie: " + AvError(rc);
        return false;
    }
    if (!frame)
        chain->ended = true;
    return Pull(chain, video, error);
}

bool MovieConverter::Pull(Chain* chain, bool video, std::string* error) {
    while (true) {
        int rc = av_buffersink_get_frame(chain->sink, filtered_.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0) {
            *error = "cannot filter the movie: " + AvError(rc);
            return false;
        }
        bool ok = Encode(filtered_.get(), video, error);
        av_frame_unref(filtered_.get());
        if (ok && video && audio_ >= 0)
            ok = KeepSoundNearPicture(error);
        if (!ok)
            return false;
    }
}

// Hands a filtered picture or piece of sound to the encoding thread, in stream order. The picture
// encoder's thread is the one that sets the pace on most movies: what can be done on this side (the
// sound's encoding, the search for scene cuts) is done here, while it encodes the pictures before.
bool MovieConverter::Encode(AVFrame* frame, bool video, std::string* error) {
    if (!video) {
        auto packets = std::make_shared<std::vector<PacketPtr>>();
        if (!writer_.EncodeSound(frame, packets.get(), error))
            return false;
        return packets->empty() ||
               encoder_.Post([this, packets](std::string* e) { return writer_.WriteSoundPackets(packets.get(), e); },
                             error);
    }
    std::shared_ptr<AVFrame> copy(av_frame_clone(frame), [](AVFrame* f) { av_frame_free(&f); });
    if (!copy) {
        *error = "out of memory";
        return false;
    }
    const CutSeen seen = cuts_.See(copy->data[0], copy->linesize[0], copy->width, copy->height);
    AVRational tb = av_buffersink_get_time_base(vchain_.sink);
    copy->pts = av_rescale_q(copy->pts, tb, av_inv_q(writer_.FrameRate()));
    postedPictureEnd_ = std::max(postedPictureEnd_, copy->pts + 1);
    ++pictures_;
    bool silent = audio_ < 0;
    bool ok = encoder_.Post(
        [this, copy, silent, seen](std::string* e) {
            // Without sound the silent track keeps pace with the picture, so the muxer interleaves.
            return writer_.WritePicture(copy.get(), e, &seen) &&
                   (!silent || writer_.PadSound(writer_.PictureSeconds(), e));
        },
        error);
    Report();
    return ok;
}

// How much picture has been handed to the encoder (the writer's own count lags behind it).
double MovieConverter::PostedSeconds() const {
    return postedPictureEnd_ / av_q2d(writer_.FrameRate());
}

bool MovieConverter::Decode(AVCodecContext* dec, Chain* chain, const AVPacket* pkt, bool video, std::string* error) {
    int rc = avcodec_send_packet(dec, pkt);
    // A damaged packet costs a picture or a bit of sound, not the movie.
    if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF && rc != AVERROR_INVALIDDATA && pkt)
        return true;
    AVStream* st = fmt_->streams[video ? video_ : audio_];
    int64_t offset = av_rescale_q(startUs_, AV_TIME_BASE_Q, st->time_base);
    while (true) {
        rc = avcodec_receive_frame(dec, frame_.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0)
            return true; // decoder trouble on one frame: go on with the next packet
        int64_t ts = frame_->best_effort_timestamp;
        if (video) {
            // Pictures without a time follow the previous one.
            if (ts == AV_NOPTS_VALUE && nextVideoPts_ != AV_NOPTS_VALUE)
                ts = nextVideoPts_ + offset;
            if (ts == AV_NOPTS_VALUE) {
                av_frame_unref(frame_.get());
                continue;
            }
            frame_->pts = ts - offset;
            AVRational fr = av_guess_frame_rate(fmt_.get(), st, nullptr);
            // A picture lasts until the next one; its own duration says best how long the last
            // one of a movie whose rate varies is shown.
            int64_t step = FrameDuration(frame_.get()) > 0 ? FrameDuration(frame_.get())
                           : fr.num > 0                    ? av_rescale_q(1, av_inv_q(fr), st->time_base)
                                                           : 1;
            nextVideoPts_ = frame_->pts + std::max<int64_t>(1, step);
            if (videoEndPts_ == AV_NOPTS_VALUE || nextVideoPts_ > videoEndPts_)
                videoEndPts_ = nextVideoPts_;
        } else {
            int64_t pts = ts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE
                                               : av_rescale_q(ts - offset, st->time_base, {1, frame_->sample_rate});
            // Sound whose times do not advance (RealAudio 1.0 in .rm carries one time for a whole
            // block, often 0 for every packet) goes on where the previous frame ended; the
            // resampler would otherwise drop it all as overlap. A real gap keeps its time.
            if (nextAudioPts_ != AV_NOPTS_VALUE && (pts == AV_NOPTS_VALUE || pts < nextAudioPts_))
                pts = nextAudioPts_;
            frame_->pts = pts;
            if (pts != AV_NOPTS_VALUE)
                nextAudioPts_ = pts + frame_->nb_samples;
        }
        bool ok = Push(chain, frame_.get(), video, error);
        av_frame_unref(frame_.get());
        if (!ok)
            return false;
    }
}

QuantiserLook MovieConverter::LookAtTheMovie() const {
    const std::string forced = qx::hooks::Value("QX_ENCODER_QUANTISER");
    std::optional<Quantiser> quantiser;
    if (forced == "linear")
        quantiser = Quantiser::Linear;
    else if (forced == "non-linear")
        quantiser = Quantiser::NonLinear;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t processor = std::clock();
    QuantiserLook look = LookAtMovie(req_, video_, duration_, !qx::hooks::IsSet("QX_ENCODER_ONE_PASS"), quantiser);
    if (qx::hooks::IsSet("QX_ENCODER_DEBUG_RATE"))
        std::fprintf(stderr, "quantiser: %s, %d pictures looked at, %.0f bit/s at the coarsest linear step\n",
                     look.quantiser == Quantiser::Linear ? "linear" : "non-linear", look.pictures, look.linearDemand);
    if (qx::hooks::IsSet("QX_ENCODER_DEBUG_PLAN")) {
        for (const PlaceDifficulty& p : look.places)
            std::fprintf(stderr, "place %.2f s: %.0f finest %.0f\n", p.seconds, p.complexity, p.finest);
        std::fprintf(stderr, "look: %.3f s, processor %.3f s\n",
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                     static_cast<double>(std::clock() - processor) / CLOCKS_PER_SEC);
    }
    return look;
}

// Sound that falls far behind the picture (a track that ends early, pauses or never starts) is
// filled with silence up to a few seconds behind it. The muxer then always has both streams to
// interleave; left alone, it would let the picture run ahead and drop the navigation packs that
// must start every GOP.
bool MovieConverter::KeepSoundNearPicture(std::string* error) {
    constexpr double kMostSoundLagSeconds = 4.0;
    if (ac3_)
        return ac3_->FillTo(static_cast<int64_t>((PostedSeconds() - kMostSoundLagSeconds) * 48000), error);
    AVCodecContext* d = adec_.get();
    if (achain_.ended || d->sample_rate <= 0)
        return true;
    const int64_t target = static_cast<int64_t>((PostedSeconds() - kMostSoundLagSeconds) * d->sample_rate);
    int64_t next = nextAudioPts_ == AV_NOPTS_VALUE ? 0 : nextAudioPts_;
    while (next < target) {
        FramePtr silence(av_frame_alloc());
        silence->format = d->sample_fmt;
        silence->sample_rate = d->sample_rate;
        if (d->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || d->ch_layout.nb_channels == 0)
            av_channel_layout_default(&silence->ch_layout, std::max(1, d->ch_layout.nb_channels));
        else
            av_channel_layout_copy(&silence->ch_layout, &d->ch_layout);
        silence->nb_samples = static_cast<int>(std::min<int64_t>(target - next, d->sample_rate));
        silence->pts = next;
        if (av_frame_get_buffer(silence.get(), 0) < 0) {
            *error = "out of memory";
            return false;
        }
        av_samples_set_silence(silence->extended_data, 0, silence->nb_samples, silence->ch_layout.nb_channels,
                               static_cast<AVSampleFormat>(silence->format));
        next += silence->nb_samples;
        nextAudioPts_ = next;
        if (!Push(&achain_, silence.get(), false, error))
            return false;
    }
    return true;
}

void MovieConverter::Report() {
    if (!progress_)
        return;
    if (duration_ <= 0) {
        // Length unknown: no fraction to give, but the worker still shows it is alive.
        progress_(0.0);
        return;
    }
    double f = std::min(1.0, std::max(0.0, PostedSeconds() / duration_));
    int permille = static_cast<int>(f * 1000);
    if (permille != lastPermilleReported_) {
        lastPermilleReported_ = permille;
        progress_(f);
    }
}

ConvertResult MovieConverter::Run(OutputFileOpener opener) {
    ConvertResult result;
    std::string error;
    if (std::string bad = CheckPictureSize(req_.tv, req_.pictureWidth, req_.pictureHeight); !bad.empty()) {
        result.error = bad;
        return result;
    }
    if (std::string bad = CheckOutputPath(req_.input, req_.output, req_.partFiles); !bad.empty()) {
        result.error = bad;
        return result;
    }
    // An earlier stream at the output is not this movie: gone first, so that a conversion that
    // fails early leaves no old stream to be taken for its result. Part files only when this
    // conversion may write them.
    for (int part = 0; part <= (req_.partFiles ? 2 : 0); ++part)
        std::remove(PartFileOutput::PartName(req_.output, part).c_str());
    if (!OpenInput(&error)) {
        result.error = error;
        return result;
    }
    DvdWriterSettings ws;
    ws.tv = req_.tv;
    ws.wide = req_.wide;
    ws.output = req_.output;
    ws.partFiles = req_.partFiles;
    ws.partLimit = req_.partLimit;
    ws.opener = std::move(opener);
    ws.sound = sound_;
    ws.interlaced = ShapePicture(fmt_.get(), video_, req_).keepFields;
    QuantiserLook look = LookAtTheMovie();
    ws.quantiser = look.quantiser;
    ws.seconds = duration_;
    ws.places = std::move(look.places);
    if (!req_.subtitleStreams.empty()) {
        std::vector<std::string> notes;
        ws.subpictures = std::make_shared<MovieSubpictures>(
            PrepareSubpictures(req_, fmt_.get(), vdec_->width, vdec_->height, duration_, &notes));
        for (const std::string& note : notes)
            std::fprintf(stderr, "EncoderProxy: %s\n", note.c_str());
    }
    bool ok = SetUpVideo(&error) && SetUpAudio(&error) && writer_.Open(ws, &error);
    PacketPtr pkt(av_packet_alloc());
    while (ok) {
        if (stop_ && stop_->load()) {
            result.stopped = true;
            break;
        }
        int rc = av_read_frame(fmt_.get(), pkt.get());
        // The end, or a read error in the middle: keep what was converted up to here. (The file
        // may be read to its end while the reader still holds packets: they come first.)
        if (rc < 0)
            break;
        if (pkt->stream_index == video_)
            ok = Decode(vdec_.get(), &vchain_, pkt.get(), true, &error);
        else if (pkt->stream_index == audio_)
            ok = ac3_ ? ac3_->Take(pkt.get(), &error) : Decode(adec_.get(), &achain_, pkt.get(), false, &error);
        av_packet_unref(pkt.get());
    }
    if (ok)
        ok = Decode(vdec_.get(), &vchain_, nullptr, true, &error) && Push(&vchain_, nullptr, true, &error);
    if (ok && ac3_)
        ok = ac3_->Take(nullptr, &error);
    else if (ok && audio_ >= 0)
        ok = Decode(adec_.get(), &achain_, nullptr, false, &error) && Push(&achain_, nullptr, false, &error);
    // Everything posted is encoded before the stream is ended or thrown away.
    std::string encodeError;
    if (!encoder_.Wait(&encodeError) && ok) {
        ok = false;
        error = encodeError;
    }
    if (ok && pictures_ == 0) {
        ok = false;
        error = "no picture of the movie could be decoded";
    }
    if (ok)
        ok = writer_.Finish(&error);
    if (!ok) {
        writer_.Discard();
        result.error = error;
        return result;
    }
    result.ok = true;
    result.seconds = writer_.PictureSeconds();
    result.bytes = writer_.BytesWritten();
    if (progress_ && !result.stopped)
        progress_(1.0);
    return result;
}

} // namespace

std::string CheckPictureSize(TvStandard tv, int width, int height) {
    if (width == 0 && height == 0)
        return {};
    int lines = FrameLines(tv);
    if (width < 1 || height < 1 || width > 720 || height > lines) {
        char text[128];
        std::snprintf(text, sizeof text, "a picture of %dx%d does not fit the 720x%d frame", width, height, lines);
        return text;
    }
    return {};
}

ConvertResult ConvertMovie(const ConvertRequest& request, const ProgressFn& progress, const std::atomic<bool>* stop,
                           OutputFileOpener opener) {
    MovieConverter converter(request, progress, stop);
    return converter.Run(std::move(opener));
}

ConvertResult WriteSubstitute(TvStandard tv, bool wide, const std::string& output, double seconds) {
    ConvertResult result;
    DvdWriter writer;
    DvdWriterSettings ws;
    ws.tv = tv;
    ws.wide = wide;
    ws.output = output;
    std::string error = CheckOutputPath({}, output, false);
    if (!error.empty()) {
        result.error = error;
        return result;
    }
    if (!writer.Open(ws, &error)) {
        writer.Discard();
        result.error = error;
        return result;
    }
    FramePtr black(av_frame_alloc());
    black->width = 720;
    black->height = writer.Lines();
    black->format = AV_PIX_FMT_YUV420P;
    bool ok = av_frame_get_buffer(black.get(), 0) >= 0;
    if (ok) {
        // Video black: luma 16, chroma 128.
        for (int y = 0; y < black->height; ++y)
            std::fill_n(black->data[0] + y * black->linesize[0], 720, uint8_t{16});
        for (int p = 1; p < 3; ++p)
            for (int y = 0; y < black->height / 2; ++y)
                std::fill_n(black->data[p] + y * black->linesize[p], 360, uint8_t{128});
    } else {
        error = "out of memory";
    }
    int64_t frames = static_cast<int64_t>(std::llround(seconds * av_q2d(writer.FrameRate())));
    for (int64_t i = 0; ok && i < frames; ++i) {
        ok = av_frame_make_writable(black.get()) >= 0;
        black->pts = i;
        ok = ok && writer.WritePicture(black.get(), &error) && writer.PadSound(writer.PictureSeconds(), &error);
    }
    if (ok)
        ok = writer.Finish(&error);
    if (!ok) {
        writer.Discard();
        result.error = error.empty() ? "out of memory" : error;
        return result;
    }
    result.ok = true;
    result.seconds = writer.PictureSeconds();
    result.bytes = writer.BytesWritten();
    return result;
}

} // namespace qx::enc
