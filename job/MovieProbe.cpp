#include "MovieProbe.h"

#include <cstdio>

namespace {

// The probe request carries the path in an area of 260 bytes with its end mark.
constexpr size_t kMaxSourcePathBytes = 259;

ProbedMovie Refused(const std::string& path, int level, const std::string& why) {
    ProbedMovie movie;
    movie.logLevel = level;
    movie.logLine = "Add File:" + path + why;
    return movie;
}

} // namespace

ProbedMovie ProbeMovie(EncoderLink& encoder, const std::string& path, const std::function<void()>& send) {
    if (path.size() > kMaxSourcePathBytes) {
        return Refused(path, 1, " Failed the path is too long\n");
    }
    send();
    ProbeAnswer answer;
    if (encoder.WaitProbe(&answer) == ProbeWait::Crashed) {
        return Refused(path, 1, " Failed encoder proxy crashed\n");
    }
    if (!answer.supported) {
        return Refused(path, 0, " Failed the file is not supported\n");
    }
    if (answer.width < 1 || answer.height < 1 || answer.duration < 0.1) {
        char text[128];
        std::snprintf(text, sizeof text, " Failed by error width:%d, height:%d duration:%d\n", answer.width,
                      answer.height, static_cast<int>(answer.duration));
        return Refused(path, 1, text);
    }
    ProbedMovie movie;
    movie.accepted = true;
    movie.logLine = "Add File:" + path + " Successful\n";
    CSourceInfo& info = movie.info;
    info.strPath = answer.path;
    info.dDuration = answer.duration;
    info.dFrameRate = answer.frameRate;
    info.dStartTime = answer.startTime;
    info.dEndTime = info.dStartTime + info.dDuration;
    info.nWidth = answer.width;
    info.nHeight = answer.height;
    info.fAspect = answer.aspect;
    info.nProbeA = answer.probeA;
    info.fProbeB = answer.probeB;
    info.fSizeKB = answer.sizeKb;
    info.subtitles = answer.subtitles;
    if (!answer.sound.empty()) {
        movie.soundLine = "Sound of " + path + ": " + answer.sound + "\n";
    }
    return movie;
}
