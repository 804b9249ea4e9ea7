// Shared helpers of the encoder tests (their private folders come from TestSupport.h): fixture
// movies made with the ffmpeg program, and an independent read-back of converted streams through
// libavformat.
#pragma once

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qxtest {

// Runs a shell command; its exit status.
int Shell(const std::string& command);
// Makes (once per program) a movie with `ffmpegArgs` as output options and inputs; its path.
std::string Fixture(const std::string& name, const std::string& ffmpegArgs);
// The standard fixtures.
std::string Rv20Ac3Movie();     // 320x240, 25 fps, 4 s, RealVideo 2 + AC-3
std::string Rv10Real144Movie(); // 320x240, 25 fps, 4 s, RealVideo 1 + RealAudio 1.0
std::string LongMovie();        // 320x240, 25 fps, 20 s, RealVideo 2 + AC-3 (for stopping)
std::string CalmBusyMovie();    // 320x240, 25 fps, 10 s: 5 s of a still grey picture, then 5 s of camera noise
std::string EncoderProgram();   // the built EncoderProxy

struct StreamFacts {
    bool opened = false;
    std::string videoCodec, audioCodec;
    int width = 0, height = 0;
    double darNum = 0, darDen = 1; // display aspect from the sequence header
    double frameRate = 0;
    int maxGop = 0; // most pictures from one key picture to the next
    int pictures = 0;
    int sampleRate = 0, channels = 0;
    double videoSeconds = 0, audioSeconds = 0;
    int navPacks = 0;
};
// Reads a stream with libavformat/libavcodec (pictures decoded for the GOP count).
StreamFacts ReadStreamFacts(const std::string& path);

// Checks the pack structure byte by byte: every 2048-byte pack starts with a pack header; nav
// packs carry an 18-byte system header, the PCI packet at byte 38 and the DSI packet at 1024.
// "" when sound, else what is wrong. *navPacks counts them.
std::string CheckPacks(const std::string& path, int* navPacks);

// The picture stream's GOPs, read from the bytes: the video PES payloads joined in pack order and
// scanned for sequence, GOP and picture start codes.
struct GopFacts {
    bool afterNavPack = false; // the GOP's sequence header opens the first video payload after a nav pack
    bool closed = false;
    std::string types;                   // picture coding types in stream order, "IPPB..."
    std::vector<int> temporalReferences; // in stream order
    std::vector<int64_t> pictureBytes; // from one picture start code to the next (headers before a picture count to it)
    std::vector<int> steps;            // the quantiser step of each picture's first slice
};
std::vector<GopFacts> ReadGops(const std::string& path);

// "" when the pictures pass through a decoder's buffer of `bufferBits` filled at `peakBitsPerSecond`
// from 3/4 full (the encoder's start) without running dry, else the first picture that would not
// arrive in time.
std::string CheckVideoBuffer(const std::vector<GopFacts>& gops, double frameRate, double peakBitsPerSecond,
                             double bufferBits);

// "" when every byte of every picture leaves the multiplex (by the clock of the pack that carries
// it) no later than the picture's decoding time, else the first picture that arrives late. The
// encoder's own buffer model cannot see this: the mux rate is shared with sound and headers.
std::string CheckPictureArrival(const std::string& path, double frameRate);

// The luma plane of the n-th decoded picture (width x height bytes).
std::vector<uint8_t> DecodeLuma(const std::string& path, int n, int* width, int* height);

// First time (seconds, from the stream's own start) at which the picture turns bright / the sound
// turns loud; -1 when never.
double FirstBrightPicture(const std::string& path);
double FirstLoudSound(const std::string& path);
// Every time (seconds, from the stream's own start) the picture turns bright / the sound turns loud
// after being dark / quiet for at least half a second.
std::vector<double> BrightPictureTimes(const std::string& path);
std::vector<double> LoudSoundTimes(const std::string& path);

// What a probe of Rv20Ac3Movie() or Rv10Real144Movie() says, whichever side (the program's prober or
// the channel's answer record) is asked.
template <class ProbeAnswer> void ExpectFixtureMovieProbe(const ProbeAnswer& a, const std::string& movie) {
    EXPECT_EQ(a.path, movie);
    EXPECT_EQ(a.width, 320);
    EXPECT_EQ(a.height, 240);
    EXPECT_NEAR(a.duration, 4.0, 0.1);
    EXPECT_NEAR(a.frameRate, 25.0, 0.01);
    EXPECT_NEAR(a.aspect, 4.0 / 3.0, 0.001);
}

} // namespace qxtest
