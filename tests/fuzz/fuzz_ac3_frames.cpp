// A movie's AC-3 packets as the conversion passes them to the disc: the input is records of a
// 2-byte length (little-endian), a time code (0 none, else code x 32 ms) and the packet's bytes.
// Whatever arrives, every frame handed on is one whole AC-3 frame the disc takes, and the sound
// clock counts exactly the frames and silent frames handed on.
#include "FfmpegUtil.h"
#include "FuzzSupport.h"
#include "SoundPassThrough.h"

#include <algorithm>
#include <cstring>
#include <string>

int QxFuzzAc3Frames(const uint8_t* data, size_t size) {
    using namespace qx::enc;
    AVStream stream{};
    stream.time_base = AVRational{1, 1000};
    int64_t handed = 0; // frames, silent ones included
    Ac3Frames frames(
        &stream, 0,
        [&](const AVPacket* p, std::string*) {
            Ac3Header header;
            QX_FUZZ_CHECK(ReadAc3Header(p->data, static_cast<size_t>(p->size), &header));
            QX_FUZZ_CHECK(header.bytes == p->size && header.fitsTheDisc);
            ++handed;
            return true;
        },
        [&](int n, std::string*) {
            QX_FUZZ_CHECK(n > 0);
            handed += n;
            return true;
        });
    PacketPtr pkt(av_packet_alloc());
    std::string error;
    size_t at = 0;
    int64_t before = 0;
    while (at + 3 <= size) {
        const size_t length = std::min<size_t>(data[at] | (data[at + 1] << 8), size - at - 3);
        const uint8_t code = data[at + 2];
        at += 3;
        QX_FUZZ_CHECK(av_new_packet(pkt.get(), static_cast<int>(length)) == 0);
        std::memcpy(pkt->data, data + at, length);
        pkt->pts = code == 0 ? AV_NOPTS_VALUE : code * 32;
        QX_FUZZ_CHECK(frames.Take(pkt.get(), &error));
        av_packet_unref(pkt.get());
        // The clock only goes on, and a time far ahead is not taken for a pause of its length.
        QX_FUZZ_CHECK(frames.Samples() >= before);
        QX_FUZZ_CHECK(frames.Samples() - before <= (31 * 48000) + static_cast<int64_t>(length) / 6 * 1536);
        before = frames.Samples();
        at += length;
    }
    QX_FUZZ_CHECK(frames.Take(nullptr, &error));
    QX_FUZZ_CHECK(frames.Samples() == handed * 1536);
    return 0;
}
