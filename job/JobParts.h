// The parts a disc job drives, each behind a small interface so that tests replace single parts:
// the encoder program, the authoring engine, the two burn cores and the power service.
// CompleteJobParts fills in the real ones.
#pragma once

#include "BurnCore.h"
#include "EncoderRecord.h"
#include "EncoderRequest.h"
#include "SourceInfo.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The probe answer of the encoder program, as the source list uses it.
using ProbeAnswer = qx::EncoderProbeAnswer;

class EncoderLink {
public:
    virtual ~EncoderLink() = default;
    // Starts the encoder program (killing a running one first). False when it could not start;
    // `error` says why.
    virtual bool Start(std::string* error) = 0;
    virtual void Kill() = 0;
    virtual bool HasWindow() const = 0;
    // Sends the probe request (on the thread that started the encoder) ...
    virtual void SendProbe(const std::string& path, const std::string& workFolder) = 0;
    // ... and waits for its answer (any thread). Bounded only by the encoder's life: a dead
    // encoder is restarted and reported as a crash.
    virtual ProbeWait WaitProbe(ProbeAnswer* answer) = 0;
    // Conversion request of one movie, sent from the conversion thread.
    virtual void SendConvert(const CSourceInfo& source, const qx::EncoderJob& job) = 0;
    virtual void SendStop() = 0;
    // Waits at most timeoutMs; completion is tested before the crash report.
    virtual ConvertWait WaitConvert(int timeoutMs) = 0;
    // Called on the encoder's thread for every progress record: the bar and the status line.
    std::function<void(int percent, const std::string& text)> onProgress;
    // Milliseconds since the current movie's conversion began (for the estimated total time).
    std::function<uint32_t()> convertElapsedMs;
};

// One title of the disc.
struct AuthorTitle {
    std::string vobFile;
    int durationSeconds = 0;
};

struct MenuDisc;

class AuthoringLink {
public:
    virtual ~AuthoringLink() = default;
    // Writes `<outFolder>/VIDEO_TS` from the titles (a chapter every 300 seconds). Without a menu the
    // titles are chained; with one (menu/MenuProgram.h) first play shows it and each title returns
    // to it. `progress(phase, percent)` is the engine's progress hook. False with the engine's error
    // text when the engine failed.
    virtual bool Author(const std::string& outFolder, const std::vector<AuthorTitle>& titles, bool splitOutput,
                        const MenuDisc* menu, const std::function<void(int, int)>& progress, std::string* error) = 0;
    // Set (on any thread) to end a run early: the engine stops within a sector or a navigation pack
    // and removes the files it wrote; Author then returns false.
    std::atomic<bool> stop{false};
};

class PowerLink {
public:
    virtual ~PowerLink() = default;
    virtual void Shutdown() = 0;
};

// Everything a job runs with. Empty members are filled with the real parts by CompleteJobParts
// (all but the power service, which belongs to the desktop session: a front-end without one never
// shuts the computer down).
struct JobParts {
    std::unique_ptr<EncoderLink> encoder;
    std::unique_ptr<AuthoringLink> authoring;
    std::unique_ptr<BurnCore> buildInCore; // core 0 "Build-in"
    std::unique_ptr<BurnCore> neroCore;    // core 1 "Nero"
    std::unique_ptr<PowerLink> power;
    std::string companionFolder; // default.vob and its siblings; empty: the program's folder
    std::string encoderProgram;  // empty: "EncoderProxy" in the program's folder

    // The core at an engine index (0 "Build-in", 1 "Nero"), or null.
    BurnCore* Core(int engine) const {
        return engine == 0 ? buildInCore.get() : engine == 1 ? neroCore.get() : nullptr;
    }
};

// Fills the empty members of `parts` (but power) with the real components. The burn cores' log
// lines go to `engineLog`.
void CompleteJobParts(JobParts& parts, const std::function<void(const std::string&)>& engineLog);

// The real encoder channel (answered through a message window of the calling thread) and engine.
std::unique_ptr<EncoderLink> CreateEncoderLink(const std::string& program);
std::unique_ptr<AuthoringLink> CreateAuthoringLink();
