// The parts the main window drives, each behind a small interface: the encoder program, the log
// program, the authoring engine, the burn cores and the power service. AppParts.cpp maps them onto
// the real components; tests replace single parts.
#pragma once

#include "BurnCore.h"
#include "EncoderRecord.h"
#include "SourceInfo.h"
#include "SystemServices.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;

// The probe answer of the encoder program, as the source list uses it.
using ProbeAnswer = qx::EncoderProbeAnswer;

enum class ProbeOutcome { Answered, Crashed };
enum class ConvertWait { None, Complete, Crashed };

// What a conversion request carries besides the movie.
struct ConvertJob {
    std::string workFolder; // with trailing '/'
    int tvMode = 2;         // 1 PAL, 2 NTSC
    int aspectIndex = 1;    // 1 "16:9", anything else "4:3"
    bool keepAspect = true;
    bool splitOutput = true;
};

class EncoderLink {
public:
    virtual ~EncoderLink() = default;
    // Starts the encoder program (killing a running one first). False when it could not start;
    // `error` says why.
    virtual bool Start(std::string* error) = 0;
    virtual void Kill() = 0;
    virtual bool HasWindow() const = 0;
    // Sends the probe request (window thread) ...
    virtual void SendProbe(const std::string& path, const std::string& workFolder) = 0;
    // ... and waits for its answer (adding thread). Bounded only by the encoder's life: a dead
    // encoder is restarted and reported as a crash.
    virtual ProbeOutcome WaitProbe(ProbeAnswer* answer) = 0;
    // Conversion request of one movie, sent from the conversion thread.
    virtual void SendConvert(const CSourceInfo& source, const ConvertJob& job) = 0;
    virtual void SendStop() = 0;
    // Waits at most timeoutMs; completion is tested before the crash report.
    virtual ConvertWait WaitConvert(int timeoutMs) = 0;
    // Called on the window's thread for every progress record: the bar and the status line.
    std::function<void(int percent, const std::string& text)> onProgress;
    // Milliseconds since the current movie's conversion began (for the estimated total time).
    std::function<uint32_t()> convertElapsedMs;
};

class LogLink {
public:
    virtual ~LogLink() = default;
    // Starts the log program; false (message already shown) when it could not start.
    virtual bool Start() = 0;
    virtual void Log(int level, const std::string& text) = 0;
    // The end hand-shake ("Abort Normal"), bounded.
    virtual void End() = 0;
};

// One title of the disc.
struct AuthorTitle {
    std::string vobFile;
    int durationSeconds = 0;
};

class AuthoringLink {
public:
    virtual ~AuthoringLink() = default;
    // Writes `<outFolder>/VIDEO_TS` from the titles (chained, a chapter every 300 seconds).
    // `progress(phase, percent)` is the engine's progress hook. False with the engine's error text
    // when the engine failed.
    virtual bool Author(const std::string& outFolder, const std::vector<AuthorTitle>& titles, bool splitOutput,
                        const std::function<void(int, int)>& progress, std::string* error) = 0;
    // Set (on any thread) to end a run early: the engine stops within a sector or a navigation pack
    // and removes the files it wrote; Author then returns false.
    std::atomic<bool> stop{false};
};

class PowerLink {
public:
    virtual ~PowerLink() = default;
    virtual void Shutdown() = 0;
};

// Everything the window is built with. Empty members are filled with the real parts.
struct AppParts {
    std::unique_ptr<EncoderLink> encoder;
    std::unique_ptr<LogLink> log;
    std::unique_ptr<AuthoringLink> authoring;
    std::unique_ptr<BurnCore> buildInCore; // core 0 "Build-in"
    std::unique_ptr<BurnCore> neroCore;    // core 1 "Nero"
    std::unique_ptr<PowerLink> power;
    // Holds off the screen saver and idle sleep while the main window lives.
    std::unique_ptr<qx::ScreenSaverInhibitor> screenSaver;
    std::string companionFolder; // default.vob, link.ini, help/; empty: the program's folder
    std::string encoderProgram;  // empty: "EncoderProxy" in the program's folder
    std::string logProgram;      // empty: "QXLog" in the program's folder
    std::string settingsFile;    // empty: settings.ini in the configuration folder
    // Opens a web address or a local help page; empty: the desktop's default handler.
    std::function<bool(const std::string& url)> openUrl;
};

// Fills the empty members of `parts` with the real components.
void CompleteAppParts(AppParts& parts);

// Opens a page or address with the desktop's default program; false when no program took it.
bool OpenWithDesktop(const std::string& url);
