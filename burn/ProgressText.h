// Status lines of the burn and erase progress, built every 500 ms from the engine's progress
// variables while a burn or erase runs, and the timer that delivers them to the owner.
#pragma once

#include "BurnCore.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// "%02d:%02d:%02d" of whole seconds; hours are not limited to two digits. Negative counts as 0.
std::string FormatProgressTime(int64_t seconds);

// Built-in engine. phase: 0 idle, 1 erasing, 2 writing, 3 verifying. Nothing while idle, nor while
// writing or verifying at 0 %.
std::optional<ProgressLine> BuiltInProgressLine(int phase, int64_t elapsedMs, int percent, int eraseSeconds);

// The read-back after a burn, either engine: nothing at 0 %, as while writing.
std::optional<ProgressLine> VerifyProgressLine(int64_t elapsedMs, int percent);

// Second engine's progress variables; the tick updates lastShown and current as the engine expects.
struct SecondEngineProgress {
    int phase = 0;                // 1 erasing, 2 writing, 3 verifying
    int current = 0;              // current percentage
    int lastShown = 0;            // last percentage shown
    int eraseEstimateSeconds = 0; // 0: unknown
    int majorPhase = 0;           // the library's major phase; lines while writing only in phase 36
};
constexpr int kSecondEngineWritingPhase = 36;
std::optional<ProgressLine> SecondEngineProgressLine(SecondEngineProgress& state, int64_t elapsedMs);

// Calls build every 500 ms on the thread that started it and hands each line to deliver (the
// owner's status-update handler). Runs until Stop or destruction.
class CProgressTimer : public QObject {
    Q_OBJECT
public:
    static constexpr int kPeriodMs = 500;
    explicit CProgressTimer(QObject* parent = nullptr);
    void Start(std::function<std::optional<ProgressLine>()> build, std::function<void(const ProgressLine&)> deliver);
    void Stop();
    bool IsRunning() const { return m_timer.isActive(); }
    // One tick now (also what the timer runs).
    void Tick();

private:
    QTimer m_timer;
    std::function<std::optional<ProgressLine>()> m_build;
    std::function<void(const ProgressLine&)> m_deliver;
};
