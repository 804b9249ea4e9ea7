#include "Probe.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

#include "FfmpegUtil.h"
#include "PictureShape.h"
#include "StreamChoice.h"

namespace qx::enc {
namespace {

// Bounds of the first-picture search: a file that yields no picture within these is not a movie.
constexpr int kMaxProbePackets = 4000;

// Decodes until the first picture of stream `index`; false when there is none.
bool DecodeFirstPicture(AVFormatContext* fmt, int index, AVCodecContext* dec, int* width, int* height, AVRational* sar,
                        std::string* error) {
    PacketPtr pkt(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    bool draining = false;
    for (int n = 0; n < kMaxProbePackets;) {
        int rc = 0;
        if (!draining) {
            rc = av_read_frame(fmt, pkt.get());
            if (rc < 0) {
                draining = true;
                avcodec_send_packet(dec, nullptr);
            } else {
                bool ours = pkt->stream_index == index;
                if (ours) {
                    ++n;
                    rc = avcodec_send_packet(dec, pkt.get());
                    if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_INVALIDDATA) {
                        av_packet_unref(pkt.get());
                        *error = "the picture cannot be decoded: " + AvError(rc);
                        return false;
                    }
                }
                av_packet_unref(pkt.get());
                if (!ours)
                    continue;
            }
        }
        rc = avcodec_receive_frame(dec, frame.get());
        if (rc == 0) {
            *width = frame->width;
            *height = frame->height;
            *sar = frame->sample_aspect_ratio;
            return true;
        }
        if (rc == AVERROR_EOF || (draining && rc == AVERROR(EAGAIN))) {
            *error = "no picture could be decoded";
            return false;
        }
        if (rc < 0 && rc != AVERROR(EAGAIN)) {
            *error = "the picture cannot be decoded: " + AvError(rc);
            return false;
        }
    }
    *error = "no picture could be decoded";
    return false;
}

// Length from the container, else from the stream, else from the last packet.
double FindDuration(AVFormatContext* fmt, int video) {
    if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
        return fmt->duration / static_cast<double>(AV_TIME_BASE);
    const AVStream* st = fmt->streams[video];
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        return st->duration * av_q2d(st->time_base);
    return 0;
}

double ScanDuration(AVFormatContext* fmt, double start) {
    if (av_seek_frame(fmt, -1, 0, AVSEEK_FLAG_BACKWARD) < 0)
        return 0;
    PacketPtr pkt(av_packet_alloc());
    double end = 0;
    while (av_read_frame(fmt, pkt.get()) >= 0) {
        const AVStream* st = fmt->streams[pkt->stream_index];
        int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (ts != AV_NOPTS_VALUE)
            end = std::max(end, (ts + pkt->duration) * av_q2d(st->time_base));
        av_packet_unref(pkt.get());
    }
    return std::max(0.0, end - start);
}

} // namespace

ProbeAnswer ProbeMovie(const std::string& path) {
    ProbeAnswer a;
    a.path = path;
    struct stat sb {};
    if (stat(path.c_str(), &sb) != 0) {
        a.reason = "cannot read " + path + ": " + std::strerror(errno);
        return a;
    }
    if (!S_ISREG(sb.st_mode)) {
        a.reason = path + " is not a file";
        return a;
    }
    a.sizeKb = static_cast<float>(static_cast<double>(sb.st_size) / 1024.0);
    if (sb.st_size == 0) {
        a.reason = path + " is empty";
        return a;
    }
    std::string error;
    InputPtr fmt = OpenMovie(path, &error);
    if (!fmt) {
        a.reason = error;
        return a;
    }
    int video = ChooseVideoStream(fmt.get());
    if (video < 0) {
        a.reason = "the file has no picture";
        return a;
    }
    const SoundChoice sound = ChooseSoundStream(fmt.get(), video);
    a.sound = sound.text;
    if (sound.undecodable) {
        a.reason = "the sound cannot be decoded: " + sound.text;
        return a;
    }
    const int audio = sound.index;
    if (audio >= 0) {
        CodecPtr adec = OpenDecoder(fmt.get(), audio, &error);
        if (!adec) {
            a.reason = "the sound cannot be decoded: " + error;
            return a;
        }
    }
    CodecPtr vdec = OpenDecoder(fmt.get(), video, &error);
    if (!vdec) {
        a.reason = "the picture cannot be decoded: " + error;
        return a;
    }
    AVStream* st = fmt->streams[video];
    AVRational sar{0, 1};
    if (!DecodeFirstPicture(fmt.get(), video, vdec.get(), &a.width, &a.height, &sar, &error)) {
        a.reason = error;
        return a;
    }
    double start = fmt->start_time != AV_NOPTS_VALUE ? fmt->start_time / static_cast<double>(AV_TIME_BASE) : 0.0;
    a.duration = FindDuration(fmt.get(), video);
    if (a.duration <= 0)
        a.duration = ScanDuration(fmt.get(), start);
    a.startTime = static_cast<float>(start);
    AVRational rate = av_guess_frame_rate(fmt.get(), st, nullptr);
    a.frameRate = rate.num > 0 && rate.den > 0 ? static_cast<float>(av_q2d(rate)) : 0.0f;
    if (sar.num <= 0 || sar.den <= 0)
        sar = av_guess_sample_aspect_ratio(fmt.get(), st, nullptr);
    double sarValue = sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0;
    a.aspect = a.height > 0 ? static_cast<float>(a.width * sarValue / a.height) : 0.0f;
    const int turn = DisplayTurn(st);
    if ((turn == 90 || turn == 270) && a.aspect > 0) {
        // A phone movie held upright: the list, the picture size and the conversion see it so.
        std::swap(a.width, a.height);
        a.aspect = 1.0f / a.aspect;
    }
    a.probeA = PackProbeA(video, audio);
    a.probeB = static_cast<float>(a.duration);
    if (a.width < 1 || a.height < 1) {
        a.reason = "the picture has no size";
        return a;
    }
    a.supported = true;
    return a;
}

namespace {

// A name may hold any byte but NUL, a newline among them: '\\', '\n' and '\r' are written as
// escapes so that every answer stays one name=value line per field.
std::string EscapeValue(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

bool UnescapeValue(const std::string& value, std::string* out) {
    out->clear();
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            *out += value[i];
            continue;
        }
        if (++i == value.size())
            return false;
        if (value[i] == 'n')
            *out += '\n';
        else if (value[i] == 'r')
            *out += '\r';
        else if (value[i] == '\\')
            *out += '\\';
        else
            return false;
    }
    return true;
}

// Numbers with a '.' whatever the process's locale: the answer travels between programs.
std::string Number(double v, int precision) {
    char buf[64];
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision);
    return std::string(buf, r.ptr);
}

bool ReadNumber(const std::string& text, double* v) {
    const char* end = text.data() + text.size();
    const std::from_chars_result r = std::from_chars(text.data(), end, *v);
    return !text.empty() && r.ec == std::errc() && r.ptr == end;
}

} // namespace

std::string FormatProbeLines(const ProbeAnswer& a) {
    std::ostringstream out;
    out << "supported=" << (a.supported ? 1 : 0) << "\n";
    out << "path=" << EscapeValue(a.path) << "\n";
    out << "size_kb=" << Number(a.sizeKb, 9) << "\n";
    out << "duration=" << Number(a.duration, 17) << "\n";
    out << "start_time=" << Number(a.startTime, 9) << "\n";
    out << "frame_rate=" << Number(a.frameRate, 9) << "\n";
    out << "width=" << a.width << "\n";
    out << "height=" << a.height << "\n";
    out << "aspect=" << Number(a.aspect, 9) << "\n";
    out << "probe_a=" << a.probeA << "\n";
    out << "probe_b=" << Number(a.probeB, 9) << "\n";
    if (!a.sound.empty())
        out << "sound=" << EscapeValue(a.sound) << "\n";
    if (!a.reason.empty())
        out << "reason=" << EscapeValue(a.reason) << "\n";
    return out.str();
}

bool ParseProbeLines(const std::string& text, ProbeAnswer* answer) {
    ProbeAnswer a;
    bool sawSupported = false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            return false;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "path") {
            if (!UnescapeValue(value, &a.path))
                return false;
            continue;
        }
        if (key == "reason") {
            if (!UnescapeValue(value, &a.reason))
                return false;
            continue;
        }
        if (key == "sound") {
            if (!UnescapeValue(value, &a.sound))
                return false;
            continue;
        }
        double d = 0;
        if (!ReadNumber(value, &d) || !std::isfinite(d))
            return false;
        if (key == "supported") {
            a.supported = d != 0;
            sawSupported = true;
        } else if (key == "size_kb") {
            a.sizeKb = static_cast<float>(d);
        } else if (key == "duration") {
            a.duration = d;
        } else if (key == "start_time") {
            a.startTime = static_cast<float>(d);
        } else if (key == "frame_rate") {
            a.frameRate = static_cast<float>(d);
        } else if (key == "width") {
            a.width = static_cast<int>(d);
        } else if (key == "height") {
            a.height = static_cast<int>(d);
        } else if (key == "aspect") {
            a.aspect = static_cast<float>(d);
        } else if (key == "probe_a") {
            a.probeA = static_cast<int32_t>(std::strtoll(value.c_str(), nullptr, 10));
        } else if (key == "probe_b") {
            a.probeB = static_cast<float>(d);
        }
    }
    if (!sawSupported)
        return false;
    *answer = a;
    return true;
}

} // namespace qx::enc
