// Encodes pictures and sound into an MPEG-2 program stream with DVD navigation packs:
// 720 x 576 at 25 frames (PAL) or 720 x 480 at 29.97 frames (NTSC), closed GOPs, AC-3 48 kHz
// stereo, 2048-byte packs with a nav pack (PCI at byte 38, DSI at byte 1024) at each VOBU.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BitPlan.h"

#include "EncoderTypes.h"
#include "FfmpegUtil.h"
#include "MovieSubtitles.h"
#include "PartFileOutput.h"
#include "SceneCuts.h"
#include "SoundPassThrough.h"

namespace qx::enc {

// Every converted stream aims at 399 KB (of 1024 bytes) per second of movie, the rate the disc
// budget counts with.
constexpr double kTargetBytesPerSecond = 399.0 * 1024.0;
constexpr int64_t kAudioBitrate = 192000;
constexpr int64_t kPeakVideoBitrate = 9800000;
// The rate at which the multiplex can bring the picture to the decoder: the mux rate less sound,
// pack and PES headers and nav packs, with room for how the muxer schedules its packs. The
// encoder's buffer model fills at this rate: at the picture limit above, busy scenes coded near
// the peak had pictures still arriving after their decoding time.
constexpr int64_t kBufferFillBitrate = 9500000;
constexpr int kVbvBufferBits = 1835008;
constexpr int kAudioFrameSamples = 1536;

// The average picture rate that makes the whole stream (sound, packs, nav packs) come out at
// kTargetBytesPerSecond.
int64_t ChooseVideoBitrate();

enum class Quantiser { Linear, NonLinear };

// The I picture's step against the P pictures' of its GOP, for each quantiser.
constexpr double kLinearKeyFactor = 0.6;
constexpr double kNonLinearKeyFactor = 0.8;

// The quantiser step (quantiser_scale) of a code, fractions interpolated, and back.
double QuantiserStep(Quantiser quantiser, double code);
double QuantiserCode(Quantiser quantiser, double step);

// The picture encoder's fixed settings: frame, aspect, GOP, quantiser, threads, colours. The rate
// is the caller's.
void SetPictureEncoder(AVCodecContext* v, TvStandard tv, bool wide, Quantiser quantiser);

// Slice threads of the picture encoder: the machine's cores (at most 8, where the gain ends).
int EncoderThreads();

// 25 (PAL) or 30000/1001 (NTSC) pictures per second.
AVRational DvdFrameRate(TvStandard tv);

struct DvdWriterSettings {
    TvStandard tv = TvStandard::Pal;
    bool wide = false;
    std::string output;
    bool partFiles = false;
    uint64_t partLimit = kDefaultPartLimit;
    OutputFileOpener opener = OpenPosixOutputFile;
    Quantiser quantiser = Quantiser::NonLinear;
    // The movie's length and the look at its difficulty: with both, the bits are spread over the
    // movie by a BitPlan; without, the encoder's one-pass rate control keeps to the average.
    double seconds = 0;
    std::vector<PlaceDifficulty> places;
    // The movie's own AC-3 frames (WriteSoundFrame) or stereo encoded here (WriteSound); the
    // picture's rates give way to a richer sound so the stream keeps its size and mux rate.
    DvdSound sound;
    // Pictures coded as two fields (the movie's interlaced pictures kept as they are).
    bool interlaced = false;
    // Subpictures of the movie's subtitles (null or no streams: the stream has none).
    std::shared_ptr<const MovieSubpictures> subpictures;
};

class DvdWriter {
public:
    DvdWriter();
    ~DvdWriter();
    DvdWriter(const DvdWriter&) = delete;
    DvdWriter& operator=(const DvdWriter&) = delete;

    bool Open(const DvdWriterSettings& settings, std::string* error);
    // A full 720 x lines yuv420p picture; its pts counts frames from 0. `seen`: what SceneCuts found
    // on it, given by a caller that looks for cuts on its own thread (null: the writer looks).
    bool WritePicture(AVFrame* picture, std::string* error, const CutSeen* seen = nullptr);
    // fltp 48 kHz samples in the track's channels, following on from the previous ones without gaps:
    // encoded into `packets`, which WriteSoundPackets then writes. The two may run on different
    // threads (the sound is encoded beside the pictures, off the thread that writes them), while
    // the sound's own calls keep one order and PadSound, WriteSilentFrames and Finish do not run.
    bool EncodeSound(const AVFrame* samples, std::vector<PacketPtr>* packets, std::string* error);
    bool WriteSoundPackets(std::vector<PacketPtr>* packets, std::string* error);
    // A passed-through track: the next AC-3 frame as it is, or `frames` silent ones.
    bool WriteSoundFrame(const AVPacket* frame, std::string* error);
    bool WriteSilentFrames(int frames, std::string* error);
    // Adds silence until the sound reaches `seconds` (used when the movie has no sound, or its
    // sound ends before its picture).
    bool PadSound(double seconds, std::string* error);
    // Flushes the encoders, evens the sound out to the picture, writes the end of the stream.
    bool Finish(std::string* error);
    // Deletes what was written, after a failure.
    void Discard();

    AVRational FrameRate() const;
    int Lines() const { return FrameLines(settings_.tv); }
    double PictureSeconds() const;
    uint64_t BytesWritten() const;

    struct Impl; // FFmpeg state; public so that the output callback can reach it

private:
    // Encodes whole AC-3 frames from the sound waiting; each packet goes to `take`, or is written.
    bool DrainSound(std::string* error, const std::function<bool(AVPacket*, std::string*)>& take = nullptr);
    bool PadSoundTo(int64_t samples, std::string* error);
    void KeepPace();
    void FollowPlan(AVFrame* picture, const CutSeen* seen);
    bool EncodeAndMux(AVCodecContext* enc, AVStream* st, const AVFrame* frame, std::string* error);
    bool Encode(AVCodecContext* enc, const AVFrame* frame, AVPacket* pkt, std::string* error,
                const std::function<bool(AVPacket*, std::string*)>& take);
    bool Mux(AVStream* st, AVPacket* pkt, const AVFrame* frame, std::string* error);

    DvdWriterSettings settings_;
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<SubpictureMux> subpictureMux_;
};

} // namespace qx::enc
