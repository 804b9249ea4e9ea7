#include "ProgressText.h"

#include <cinttypes>
#include <cstdio>

std::string FormatProgressTime(int64_t seconds) {
    if (seconds < 0)
        seconds = 0;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02" PRId64 ":%02d:%02d", seconds / 3600, static_cast<int>(seconds % 3600 / 60),
                  static_cast<int>(seconds % 60));
    return buf;
}

namespace {

constexpr size_t kMaxLine = 511;

std::string Cut(std::string s) {
    if (s.size() > kMaxLine)
        s.resize(kMaxLine);
    return s;
}

std::string Finished2(double percent) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "Finished %.2f%%;", percent);
    return buf;
}

} // namespace

std::optional<ProgressLine> VerifyProgressLine(int64_t elapsedMs, int percent) {
    if (percent <= 0)
        return std::nullopt;
    const int64_t elapsed = elapsedMs / 1000;
    ProgressLine line;
    line.text = Cut("Verifying Data; Total time:" + FormatProgressTime(elapsed * 100 / percent) +
                    "; Elapsed Time:" + FormatProgressTime(elapsed) + "; " + Finished2(percent));
    line.percent = percent;
    return line;
}

std::optional<ProgressLine> BuiltInProgressLine(int phase, int64_t elapsedMs, int percent, int eraseSeconds) {
    if (phase == 3)
        return VerifyProgressLine(elapsedMs, percent);
    const int64_t elapsed = elapsedMs / 1000;
    if (phase == 1) {
        ProgressLine line;
        line.text = "Erasing Disc; Total time:" + FormatProgressTime(eraseSeconds) +
                    "; Elapsed Time:" + FormatProgressTime(elapsed) + "; " + Finished2(percent);
        line.text = Cut(line.text);
        line.percent = percent;
        return line;
    }
    if (phase == 2) {
        if (percent == 0)
            return std::nullopt;
        ProgressLine line;
        line.text = "Writing Data; Total time:" + FormatProgressTime(elapsed * 100 / percent) +
                    "; Elapsed Time:" + FormatProgressTime(elapsed) + "; " + Finished2(percent);
        line.text = Cut(line.text);
        line.percent = percent;
        return line;
    }
    return std::nullopt;
}

std::optional<ProgressLine> SecondEngineProgressLine(SecondEngineProgress& s, int64_t elapsedMs) {
    if (s.phase == 3)
        return VerifyProgressLine(elapsedMs, s.current);
    const int64_t elapsed = elapsedMs / 1000;
    if (s.phase == 1) {
        ProgressLine line;
        line.text = "Erasing Disc; ";
        if (s.eraseEstimateSeconds != 0) {
            const double fraction = static_cast<double>(elapsed) / s.eraseEstimateSeconds;
            line.text += "Total time:" + FormatProgressTime(s.eraseEstimateSeconds) +
                         "; Elapsed Time:" + FormatProgressTime(elapsed) + "; " + Finished2(fraction * 100);
            line.percent = static_cast<int>(fraction * 100);
        }
        line.text = Cut(line.text);
        return line;
    }
    if (s.phase == 2) {
        if (s.majorPhase != kSecondEngineWritingPhase || s.lastShown > 95)
            return std::nullopt;
        s.lastShown = s.current;
        if (s.current >= 95)
            s.current = 100;
        else if (s.current == 0)
            return std::nullopt;
        char finished[32];
        std::snprintf(finished, sizeof finished, "Finished %d%%;", s.current);
        ProgressLine line;
        line.text = "Writing Data; Total time:" + FormatProgressTime(elapsed * 100 / s.current) +
                    "; Elapsed Time:" + FormatProgressTime(elapsed) + "; " + finished;
        line.text = Cut(line.text);
        line.percent = s.current;
        return line;
    }
    return std::nullopt;
}

CProgressTimer::CProgressTimer(QObject* parent) : QObject(parent) {
    m_timer.setInterval(kPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &CProgressTimer::Tick);
}

void CProgressTimer::Start(std::function<std::optional<ProgressLine>()> build,
                           std::function<void(const ProgressLine&)> deliver) {
    m_build = std::move(build);
    m_deliver = std::move(deliver);
    m_timer.start();
}

void CProgressTimer::Stop() {
    m_timer.stop();
}

void CProgressTimer::Tick() {
    if (!m_build)
        return;
    std::optional<ProgressLine> line = m_build();
    if (line && m_deliver)
        m_deliver(*line);
}
