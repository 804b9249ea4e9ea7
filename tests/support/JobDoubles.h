// Stand-ins for the parts a disc job drives (job/JobParts.h): an encoder, an authoring engine, a burn
// core and a power service that do what a test scripts, in process and at once.
#pragma once

#include "JobParts.h"
#include "TestSupport.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

using qxtest::FileExists;
using qxtest::FreshFolder;
using qxtest::ReadFile;

// Writes `bytes` bytes of `fill` into path.
void WriteFile(const std::string& path, size_t bytes, char fill = 'x');

// What the fake encoder does with one movie (keyed by file name).
struct FakeMovie {
    enum class Probe { Answer, Unsupported, Crash } probe = Probe::Answer;
    double duration = 60;
    int width = 320;
    int height = 240;
    float frameRate = 25;
    float sizeKB = 1024;
    size_t outputBytes = 20000; // written at completion
    std::string outputFrom{};   // when set, this file is the converted stream (a real one)
    bool crashWhileConverting = false;
    bool holdUntilStopped = false; // completes only after a stop request, or after holdPasses waits
    int holdPasses = 400;
};

class FakeEncoder : public EncoderLink {
public:
    std::map<std::string, FakeMovie> movies;
    bool startFails = false;
    bool noWindow = false;
    std::atomic<int>* startsOut = nullptr; // also counts starts here (outlives the encoder)
    // Runs on the conversion thread when a conversion request arrives (row index by order).
    std::function<void(int requestIndex, const CSourceInfo&)> onConvert;
    // Runs on the conversion thread before a conversion request is taken (to delay it).
    std::function<void()> beforeConvert;

    bool Start(std::string* error) override;
    void Kill() override { m_running = false; }
    bool HasWindow() const override { return m_running && !noWindow; }
    void SendProbe(const std::string& path, const std::string& workFolder) override;
    ProbeWait WaitProbe(ProbeAnswer* answer) override;
    void SendConvert(const CSourceInfo& source, const qx::EncoderJob& job) override;
    void SendStop() override;
    ConvertWait WaitConvert(int timeoutMs) override;

    int starts() const { return m_starts; }
    int stops() const { return m_stops; }
    std::vector<std::string> ConvertedSources() const;
    qx::EncoderJob lastJob;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::atomic<bool> m_running{false};
    std::atomic<int> m_starts{0};
    std::atomic<int> m_stops{0};
    bool m_probePending = false;
    ProbeAnswer m_answer;
    bool m_probeCrashed = false;
    CSourceInfo m_current;
    bool m_converting = false;
    bool m_stopRequested = false;
    int m_passes = 0;
    std::vector<std::string> m_converted;
};

class FakeAuthoring : public AuthoringLink {
public:
    bool Author(const std::string& outFolder, const std::vector<AuthorTitle>& titles, bool splitOutput,
                const MenuDisc* menu, const std::function<void(int, int)>& progress, std::string* error) override;
    std::string failWith; // non-empty: the engine fails with this text
    // The run waits at half way (serving events) until `stop` is set, then fails as the engine does.
    bool holdUntilStopped = false;
    std::vector<AuthorTitle> titles;
    std::vector<std::string> titleContents; // each title's stream as the engine found it
    std::string outFolder;
    int runs = 0;
    int menuPages = -1;                 // pages of the menu handed over; -1 without a menu
    std::vector<std::string> menuFiles; // the menu's streams, which existed while the engine ran
};

class FakeCore : public BurnCore {
public:
    bool available = true;
    std::vector<std::string> writers;
    DVDDeviceInfo info;
    std::vector<std::string> burned; // folders
    std::vector<bool> verifies;      // whether each burn was asked to read the disc back
    std::string verifyFailure;       // a failed burn's read-back reason, when set
    bool InitBurnCore() override { return available; }
    void ListWriters(QObject*, const std::function<void(std::vector<std::string>)>& deliver) override {
        ++listings;
        deliver(writers);
    }
    int GetWriterInfo(int writer, DVDDeviceInfo* out) override;
    BurnOutcome burnResult = BurnOutcome::Done;
    std::vector<std::string> labels;
    int listings = 0;
    std::string progressLine;         // handed to the progress window once during a burn, as the engine's timer does
    std::function<void()> duringBurn; // runs inside the burn; a cancel meanwhile ends it cancelled
    BurnOutcome BurnDVDFolder(QObject*, int, const std::string& folder, const std::string& label) override {
        burned.push_back(folder);
        labels.push_back(label);
        verifies.push_back(verifyAfterBurn);
        m_strVerifyFailure = burnResult == BurnOutcome::Failed ? verifyFailure : std::string();
        if (duringBurn) {
            const int before = cancels;
            duringBurn();
            if (cancels > before) {
                return BurnOutcome::Cancelled;
            }
        }
        if (!progressLine.empty()) {
            if (onProgressLine) {
                onProgressLine({progressLine, 42});
            }
        }
        return burnResult;
    }
    BurnOutcome EraseDisc(QObject*, int) override { return BurnOutcome::Done; }
    void RequestStopBurn() override {}
    void CancelBurn() override { ++cancels; }
    int cancels = 0;
};

class FakePower : public PowerLink {
public:
    void Shutdown() override { ++shutdowns; }
    int shutdowns = 0;
};

// Writes a default.vob (and nothing else) into the companion folder.
void MakeCompanionFolder(const std::string& folder);
