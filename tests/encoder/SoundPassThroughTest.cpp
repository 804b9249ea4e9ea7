// A movie's AC-3 frames timed onto the disc's sound clock: gaps become silent frames, times that
// stand still or leap are followed on from, frames the disc cannot take become silence.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FfmpegUtil.h"
#include "SoundPassThrough.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

using namespace qx::enc;

namespace {

// One AC-3 frame of silence at `rate`, made by FFmpeg's encoder.
std::string Ac3Frame(int rate) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AC3);
    CodecPtr enc(avcodec_alloc_context3(codec));
    enc->sample_rate = rate;
    enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
    enc->bit_rate = 192000;
    enc->time_base = AVRational{1, rate};
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&enc->ch_layout, &stereo);
    EXPECT_GE(avcodec_open2(enc.get(), codec, nullptr), 0);
    FramePtr f(av_frame_alloc());
    f->nb_samples = 1536;
    f->format = AV_SAMPLE_FMT_FLTP;
    f->sample_rate = rate;
    av_channel_layout_copy(&f->ch_layout, &stereo);
    av_frame_get_buffer(f.get(), 0);
    av_samples_set_silence(f->extended_data, 0, 1536, 2, AV_SAMPLE_FMT_FLTP);
    f->pts = 0;
    PacketPtr pkt(av_packet_alloc());
    std::string bytes;
    avcodec_send_frame(enc.get(), f.get());
    avcodec_send_frame(enc.get(), nullptr);
    while (avcodec_receive_packet(enc.get(), pkt.get()) == 0) {
        if (bytes.empty())
            bytes.assign(reinterpret_cast<const char*>(pkt->data), pkt->size);
        av_packet_unref(pkt.get());
    }
    return bytes;
}

} // namespace

TEST(Ac3Frames, GapsBecomeSilenceAndBrokenTimesAreFollowedOn) {
    const std::string disc = Ac3Frame(48000), foreign = Ac3Frame(44100);
    ASSERT_FALSE(disc.empty());
    AVStream st{};
    st.time_base = AVRational{1, 1000};
    std::string events;
    Ac3Frames frames(
        &st, 0,
        [&](const AVPacket* p, std::string*) {
            events += std::string(reinterpret_cast<const char*>(p->data), p->size) == disc ? "F" : "?";
            return true;
        },
        [&](int n, std::string*) {
            events += "S" + std::to_string(n);
            return true;
        });
    auto take = [&](const std::string& bytes, int64_t pts) {
        PacketPtr pkt(av_packet_alloc());
        av_new_packet(pkt.get(), static_cast<int>(bytes.size()));
        std::copy(bytes.begin(), bytes.end(), pkt->data);
        pkt->pts = pkt->dts = pts;
        std::string error;
        EXPECT_TRUE(frames.Take(pkt.get(), &error)) << error;
    };
    take(disc, 64);                // the sound starts two frames late
    take(disc, 96);                // on time
    take(disc, 1000);              // 0.872 s later than its place: 27.25 frames of silence, rounded
    take(disc, 1000);              // a time that stands still
    take(disc, 999999999);         // a time that leaps: followed on from
    take(foreign, AV_NOPTS_VALUE); // 44.1 kHz: the disc cannot take it
    take(disc, AV_NOPTS_VALUE);
    take(disc + disc, AV_NOPTS_VALUE);                             // two in one packet
    take("\x0B\x77 damage" + disc.substr(0, 100), AV_NOPTS_VALUE); // a frame cut between packets, after damage
    take(disc.substr(100), AV_NOPTS_VALUE);
    take(disc.substr(0, 50), AV_NOPTS_VALUE); // cut off by the end
    std::string error;
    ASSERT_TRUE(frames.Take(nullptr, &error)) << error;
    EXPECT_EQ(events, "S2FFS27FFFS1FFFF");
    EXPECT_EQ(frames.Samples(), 39 * 1536);
    Ac3Header header;
    ASSERT_TRUE(ReadAc3Header(reinterpret_cast<const uint8_t*>(disc.data()), disc.size(), &header));
    EXPECT_EQ(header.bytes, static_cast<int>(disc.size()));
    EXPECT_EQ(header.kbps, 192);
    EXPECT_TRUE(header.fitsTheDisc);
    ASSERT_TRUE(ReadAc3Header(reinterpret_cast<const uint8_t*>(foreign.data()), foreign.size(), &header));
    EXPECT_EQ(header.bytes, static_cast<int>(foreign.size()));
    EXPECT_FALSE(header.fitsTheDisc);
    // Filling to a place rounds to whole frames.
    events.clear();
    ASSERT_TRUE(frames.FillTo(frames.Samples() + 1536 * 3 + 700, &error));
    ASSERT_TRUE(frames.FillTo(frames.Samples() + 800, &error));
    EXPECT_EQ(events, "S3S1");
}
