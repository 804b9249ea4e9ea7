#include "EncoderTestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace qxtest {

int Shell(const std::string& command) {
    int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string Fixture(const std::string& name, const std::string& ffmpegArgs) {
    static std::mutex mutex;
    static std::map<std::string, std::string> made;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = made.find(name);
    if (it != made.end())
        return it->second;
    std::string path = TestRoot() + name;
    std::string cmd = "ffmpeg -nostdin -y -loglevel error " + ffmpegArgs + " '" + path + "'";
    if (Shell(cmd) != 0) {
        std::fprintf(stderr, "fixture command failed: %s\n", cmd.c_str());
        std::abort();
    }
    made[name] = path;
    return path;
}

std::string Rv20Ac3Movie() {
    return Fixture("rv20-ac3.rm", "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=sample_rate=44100 "
                                  "-t 4 -c:v rv20 -b:v 300k -c:a ac3 -b:a 96k");
}

std::string CalmBusyMovie() {
    return Fixture("calm-busy.rm",
                   "-f lavfi -i color=c=gray:size=320x240:rate=25:d=5 -f lavfi -i "
                   "testsrc2=size=320x240:rate=25,noise=alls=20:allf=t,trim=duration=5 -filter_complex "
                   "[0:v][1:v]concat=n=2:v=1[v] -f lavfi -i sine=d=10 -map [v] -map 2:a -t 10 -c:v rv20 -b:v 400k "
                   "-qmin 8 -g 50 -c:a ac3 -b:a 96k");
}

std::string Rv10Real144Movie() {
    return Fixture("rv10-real144.rm",
                   "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine -t 4 -c:v rv10 -b:v 300k -c:a real_144");
}

std::string LongMovie() {
    return Fixture("long.rm", "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=sample_rate=44100 "
                              "-t 20 -c:v rv20 -b:v 300k -c:a ac3 -b:a 96k");
}

std::string EncoderProgram() {
    return std::string(QX_BIN_DIR) + "/EncoderProxy";
}

StreamFacts ReadStreamFacts(const std::string& path) {
    StreamFacts f;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return f;
    if (avformat_find_stream_info(fmt, nullptr) < 0) {
        avformat_close_input(&fmt);
        return f;
    }
    f.opened = true;
    int v = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    int a = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (v >= 0) {
        const AVCodecParameters* p = fmt->streams[v]->codecpar;
        f.videoCodec = avcodec_get_name(p->codec_id);
        f.width = p->width;
        f.height = p->height;
        AVRational sar = p->sample_aspect_ratio.num ? p->sample_aspect_ratio : AVRational{1, 1};
        AVRational dar;
        av_reduce(&dar.num, &dar.den, static_cast<int64_t>(p->width) * sar.num,
                  static_cast<int64_t>(p->height) * sar.den, 1 << 20);
        f.darNum = dar.num;
        f.darDen = dar.den;
        f.frameRate = av_q2d(fmt->streams[v]->avg_frame_rate.num ? fmt->streams[v]->avg_frame_rate
                                                                 : fmt->streams[v]->r_frame_rate);
    }
    if (a >= 0) {
        const AVCodecParameters* p = fmt->streams[a]->codecpar;
        f.audioCodec = avcodec_get_name(p->codec_id);
        f.sampleRate = p->sample_rate;
        f.channels = p->ch_layout.nb_channels;
    }
    // Count pictures per GOP in coded order from the key flags of the packets.
    AVPacket* pkt = av_packet_alloc();
    int run = 0;
    int64_t vEnd = 0, aEnd = 0, vStart = INT64_MAX, aStart = INT64_MAX;
    while (av_read_frame(fmt, pkt) >= 0) {
        AVStream* st = fmt->streams[pkt->stream_index];
        if (pkt->stream_index == v) {
            if (pkt->flags & AV_PKT_FLAG_KEY) {
                if (run > f.maxGop)
                    f.maxGop = run;
                run = 0;
            }
            ++run;
            ++f.pictures;
            if (pkt->pts != AV_NOPTS_VALUE) {
                int64_t us = av_rescale_q(pkt->pts, st->time_base, AV_TIME_BASE_Q);
                vStart = std::min(vStart, us);
                vEnd = std::max(vEnd, us + static_cast<int64_t>(1e6 / std::max(1.0, f.frameRate)));
            }
        } else if (pkt->stream_index == a && pkt->pts != AV_NOPTS_VALUE) {
            int64_t us = av_rescale_q(pkt->pts, st->time_base, AV_TIME_BASE_Q);
            aStart = std::min(aStart, us);
            aEnd = std::max(aEnd, us + av_rescale_q(pkt->duration, st->time_base, AV_TIME_BASE_Q));
        }
        av_packet_unref(pkt);
    }
    if (run > f.maxGop)
        f.maxGop = run;
    av_packet_free(&pkt);
    if (vStart != INT64_MAX)
        f.videoSeconds = (vEnd - vStart) / 1e6;
    if (aStart != INT64_MAX)
        f.audioSeconds = (aEnd - aStart) / 1e6;
    avformat_close_input(&fmt);
    CheckPacks(path, &f.navPacks);
    return f;
}

std::string CheckPacks(const std::string& path, int* navPacks) {
    std::string d = ReadFile(path);
    *navPacks = 0;
    if (d.empty() || d.size() % 2048 != 0)
        return "size " + std::to_string(d.size()) + " is not a whole number of 2048-byte packs";
    auto u8 = [&](size_t i) { return static_cast<uint8_t>(d[i]); };
    auto code = [&](size_t i, uint8_t id) { return u8(i) == 0 && u8(i + 1) == 0 && u8(i + 2) == 1 && u8(i + 3) == id; };
    for (size_t at = 0; at < d.size(); at += 2048) {
        if (!code(at, 0xBA))
            return "no pack header at " + std::to_string(at);
        if (!code(at + 14, 0xBB))
            continue;
        size_t sysLen = (u8(at + 18) << 8) | u8(at + 19);
        if (sysLen != 18)
            return "system header of " + std::to_string(sysLen) + " bytes at " + std::to_string(at);
        if (!code(at + 38, 0xBF) || ((u8(at + 42) << 8) | u8(at + 43)) != 0x3D4 || u8(at + 44) != 0)
            return "no PCI at byte 38 of the nav pack at " + std::to_string(at);
        if (!code(at + 1024, 0xBF) || ((u8(at + 1028) << 8) | u8(at + 1029)) != 0x3FA || u8(at + 1030) != 1)
            return "no DSI at byte 1024 of the nav pack at " + std::to_string(at);
        // The pack after a nav pack opens the GOP: its picture stream starts with a sequence header.
        ++*navPacks;
    }
    return "";
}

std::vector<GopFacts> ReadGops(const std::string& path) {
    std::string d = ReadFile(path);
    auto u8 = [&](const std::string& b, size_t i) { return static_cast<unsigned>(static_cast<uint8_t>(b[i])); };
    std::string es;
    std::vector<size_t> navAt; // elementary stream offsets at which a nav pack was met
    for (size_t at = 0; at + 2048 <= d.size(); at += 2048) {
        if (u8(d, at + 14) == 0 && u8(d, at + 15) == 0 && u8(d, at + 16) == 1 && u8(d, at + 17) == 0xBB)
            navAt.push_back(es.size());
        size_t i = at + 14 + (u8(d, at + 13) & 7);
        while (i + 6 <= at + 2048 && u8(d, i) == 0 && u8(d, i + 1) == 0 && u8(d, i + 2) == 1) {
            unsigned id = u8(d, i + 3);
            size_t len = (u8(d, i + 4) << 8) | u8(d, i + 5);
            if (id == 0xE0 && i + 9 <= at + 2048) {
                size_t header = 9 + u8(d, i + 8);
                if (i + 6 + len <= at + 2048 && header <= 6 + len)
                    es.append(d, i + header, 6 + len - header);
            }
            i += 6 + len;
        }
    }
    std::vector<GopFacts> gops;
    std::vector<std::pair<size_t, size_t>> begins; // (GOP, where the picture's bytes begin)
    size_t nav = 0, gopStart = 0, sequence = std::string::npos;
    bool linear = true, sliceSeen = true;
    // The non-linear quantiser's steps for codes 1 to 31.
    static const int kNonLinear[] = {1,  2,  3,  4,  5,  6,  7,  8,  10, 12, 14, 16, 18, 20,  22, 24,
                                     28, 32, 36, 40, 44, 48, 52, 56, 64, 72, 80, 88, 96, 104, 112};
    for (size_t i = 0; i + 8 < es.size(); ++i) {
        if (u8(es, i) != 0 || u8(es, i + 1) != 0 || u8(es, i + 2) != 1)
            continue;
        unsigned code = u8(es, i + 3);
        if (code == 0xB5 && (u8(es, i + 4) >> 4) == 8) {
            linear = ((u8(es, i + 7) >> 4) & 1) == 0; // the picture coding extension's q_scale_type
        } else if (code >= 0x01 && code <= 0xAF && !sliceSeen && !gops.empty()) {
            const unsigned scale = u8(es, i + 4) >> 3;
            gops.back().steps.push_back(scale == 0 ? 0 : linear ? static_cast<int>(2 * scale) : kNonLinear[scale - 1]);
            sliceSeen = true;
        }
        if (code == 0xB3) {
            sequence = i;
        } else if (code == 0xB8) {
            GopFacts g;
            g.closed = (u8(es, i + 7) & 0x40) != 0;
            gopStart = sequence != std::string::npos ? sequence : i;
            while (nav < navAt.size() && navAt[nav] < gopStart)
                ++nav;
            g.afterNavPack = nav < navAt.size() && navAt[nav] == gopStart;
            gops.push_back(g);
            sequence = std::string::npos;
        } else if (code == 0x00 && !gops.empty()) {
            GopFacts& g = gops.back();
            begins.emplace_back(gops.size() - 1, g.types.empty() ? gopStart : i);
            g.temporalReferences.push_back(static_cast<int>((u8(es, i + 4) << 2) | (u8(es, i + 5) >> 6)));
            g.types += " IPB"[std::min(3u, (u8(es, i + 5) >> 3) & 7)];
            sliceSeen = false;
        }
    }
    for (size_t k = 0; k < begins.size(); ++k) {
        size_t end = k + 1 < begins.size() ? begins[k + 1].second : es.size();
        gops[begins[k].first].pictureBytes.push_back(static_cast<int64_t>(end - begins[k].second));
    }
    return gops;
}

std::string CheckPictureArrival(const std::string& path, double frameRate) {
    std::string d = ReadFile(path);
    auto u8 = [&](size_t i) { return static_cast<int64_t>(static_cast<uint8_t>(d[i])); };
    auto stamp = [&](size_t i) { // a 33-bit PTS or DTS field, 90 kHz
        return ((u8(i) & 0x0E) << 29) | (u8(i + 1) << 22) | ((u8(i + 2) & 0xFE) << 14) | (u8(i + 3) << 7) |
               (u8(i + 4) >> 1);
    };
    struct Chunk {
        int64_t scr;
        size_t from, to; // elementary stream bytes
    };
    std::vector<Chunk> chunks;
    std::vector<std::pair<size_t, int64_t>> stamps; // (payload offset, DTS) of the PES packets that carry one
    std::string es;
    for (size_t at = 0; at + 2048 <= d.size(); at += 2048) {
        const int64_t scr = ((u8(at + 4) & 0x38) << 27) | ((u8(at + 4) & 0x03) << 28) | (u8(at + 5) << 20) |
                            ((u8(at + 6) & 0xF8) << 12) | ((u8(at + 6) & 0x03) << 13) | (u8(at + 7) << 5) |
                            (u8(at + 8) >> 3);
        size_t i = at + 14 + (u8(at + 13) & 7);
        while (i + 9 <= at + 2048 && u8(i) == 0 && u8(i + 1) == 0 && u8(i + 2) == 1) {
            const size_t len = static_cast<size_t>((u8(i + 4) << 8) | u8(i + 5));
            if (u8(i + 3) == 0xE0 && i + 6 + len <= at + 2048) {
                const size_t header = 9 + static_cast<size_t>(u8(i + 8));
                const int64_t flags = u8(i + 7) >> 6;
                if (flags == 3)
                    stamps.emplace_back(es.size(), stamp(i + 14));
                else if (flags == 2)
                    stamps.emplace_back(es.size(), stamp(i + 9));
                chunks.push_back({scr, es.size(), es.size() + 6 + len - header});
                es.append(d, i + header, 6 + len - header);
            }
            i += 6 + len;
        }
    }
    // Pictures in stream order: where each starts, where its bytes end (the next picture's
    // headers), and its decoding time (its PES packet's, else one picture after the one before).
    struct Picture {
        size_t from, to;
        int64_t dts;
    };
    std::vector<Picture> pictures;
    const auto frame = static_cast<int64_t>(std::lround(90000 / frameRate));
    size_t nextStamp = 0;
    for (size_t i = 0; i + 4 <= es.size(); ++i) {
        if (es[i] != 0 || es[i + 1] != 0 || es[i + 2] != 1)
            continue;
        const int code = static_cast<uint8_t>(es[i + 3]);
        if (code != 0x00 && code != 0xB3 && code != 0xB8)
            continue;
        if (!pictures.empty() && pictures.back().to == std::string::npos)
            pictures.back().to = i;
        if (code != 0x00)
            continue;
        int64_t dts = pictures.empty() ? 0 : pictures.back().dts + frame;
        while (nextStamp < stamps.size() && stamps[nextStamp].first <= i) {
            // A PES packet's time belongs to the first picture that starts in its payload.
            if (nextStamp + 1 >= stamps.size() || stamps[nextStamp + 1].first > i)
                dts = stamps[nextStamp].second;
            ++nextStamp;
        }
        pictures.push_back({i, std::string::npos, dts});
    }
    if (!pictures.empty() && pictures.back().to == std::string::npos)
        pictures.back().to = es.size();
    size_t k = 0;
    for (const Chunk& c : chunks) {
        while (k < pictures.size() && pictures[k].to <= c.from)
            ++k;
        for (size_t p = k; p < pictures.size() && pictures[p].from < c.to; ++p)
            if (c.scr > pictures[p].dts)
                return "picture " + std::to_string(p) + " still arrives " +
                       std::to_string((c.scr - pictures[p].dts) / 90) + " ms after its decoding time";
    }
    return "";
}

std::string CheckVideoBuffer(const std::vector<GopFacts>& gops, double frameRate, double peakBitsPerSecond,
                             double bufferBits) {
    double fullness = bufferBits * 3 / 4;
    int n = 0;
    for (const GopFacts& g : gops) {
        for (int64_t bytes : g.pictureBytes) {
            if (8.0 * bytes > fullness)
                return "picture " + std::to_string(n) + " of " + std::to_string(bytes) + " bytes finds " +
                       std::to_string(static_cast<int64_t>(fullness / 8)) + " in the buffer";
            fullness = std::min(bufferBits, fullness - 8.0 * bytes + peakBitsPerSecond / frameRate);
            ++n;
        }
    }
    return "";
}

std::vector<uint8_t> DecodeLuma(const std::string& path, int n, int* width, int* height) {
    std::vector<uint8_t> luma;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return luma;
    avformat_find_stream_info(fmt, nullptr);
    const AVCodec* codec = nullptr;
    int v = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, fmt->streams[v]->codecpar);
    avcodec_open2(dec, codec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int seen = 0;
    bool done = false;
    auto take = [&]() {
        while (!done && avcodec_receive_frame(dec, frame) == 0) {
            if (seen++ == n) {
                *width = frame->width;
                *height = frame->height;
                for (int y = 0; y < frame->height; ++y)
                    luma.insert(luma.end(), frame->data[0] + y * frame->linesize[0],
                                frame->data[0] + y * frame->linesize[0] + frame->width);
                done = true;
            }
            av_frame_unref(frame);
        }
    };
    while (!done && av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == v) {
            avcodec_send_packet(dec, pkt);
            take();
        }
        av_packet_unref(pkt);
    }
    if (!done) {
        avcodec_send_packet(dec, nullptr);
        take();
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    return luma;
}

namespace {

// Decodes one kind of stream and returns the times (from the file's start) at which `test` holds
// after it has not held for half a second (the first time only, unless `all`). `test` gives the
// place within the frame in seconds, or -1.
template <class Test> std::vector<double> Onsets(const std::string& path, AVMediaType type, Test test, bool all) {
    std::vector<double> onsets;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return onsets;
    avformat_find_stream_info(fmt, nullptr);
    const AVCodec* codec = nullptr;
    int s = av_find_best_stream(fmt, type, -1, -1, &codec, 0);
    if (s < 0) {
        avformat_close_input(&fmt);
        return onsets;
    }
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, fmt->streams[s]->codecpar);
    avcodec_open2(dec, codec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    double start = fmt->start_time != AV_NOPTS_VALUE ? fmt->start_time / 1e6 : 0;
    double lastHeld = -1e9;
    bool done = false;
    AVRational tb = fmt->streams[s]->time_base;
    auto take = [&]() {
        while (!done && avcodec_receive_frame(dec, frame) == 0) {
            double t = frame->best_effort_timestamp * av_q2d(tb) - start;
            double within = test(frame);
            if (within >= 0) {
                if (t + within - lastHeld >= 0.5)
                    onsets.push_back(t + within);
                lastHeld = t + within;
                done = !all;
            }
            av_frame_unref(frame);
        }
    };
    while (!done && av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == s) {
            avcodec_send_packet(dec, pkt);
            take();
        }
        av_packet_unref(pkt);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    return onsets;
}

double Bright(const AVFrame* f) {
    long sum = 0;
    for (int y = 0; y < f->height; y += 4)
        for (int x = 0; x < f->width; x += 4)
            sum += f->data[0][y * f->linesize[0] + x];
    long count = ((f->height + 3) / 4) * ((f->width + 3) / 4);
    return sum / count > 100 ? 0.0 : -1.0;
}

double Loud(const AVFrame* f) {
    if (f->format != AV_SAMPLE_FMT_FLTP)
        return -1.0;
    const float* s = reinterpret_cast<const float*>(f->data[0]);
    for (int i = 0; i < f->nb_samples; ++i)
        if (std::fabs(s[i]) > 0.2f)
            return static_cast<double>(i) / f->sample_rate;
    return -1.0;
}

double First(const std::vector<double>& onsets) {
    return onsets.empty() ? -1 : onsets.front();
}

} // namespace

double FirstBrightPicture(const std::string& path) {
    return First(Onsets(path, AVMEDIA_TYPE_VIDEO, Bright, false));
}

double FirstLoudSound(const std::string& path) {
    return First(Onsets(path, AVMEDIA_TYPE_AUDIO, Loud, false));
}

std::vector<double> BrightPictureTimes(const std::string& path) {
    return Onsets(path, AVMEDIA_TYPE_VIDEO, Bright, true);
}

std::vector<double> LoudSoundTimes(const std::string& path) {
    return Onsets(path, AVMEDIA_TYPE_AUDIO, Loud, true);
}

} // namespace qxtest
