// Shared pieces of the window tests: an isolated environment, a QApplication, scripted prompts and
// in-process stand-ins for the encoder, log, authoring, burn and power parts.
#pragma once

#include "AppParts.h"
#include "ProgressDlg.h"
#include "PromptService.h"
#include "ScriptedPromptService.h"
#include "TestSupport.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class CQuilvoVidrevoDlg;
class QWidget;

// Creates the QApplication once (in the private folders of TestSupport.h, with numbers written
// the same in every locale). Returns the private folder (with trailing '/').
std::string EnsureTestApp();

using qxtest::FileExists;
using qxtest::FreshFolder;
using qxtest::ReadFile;
using qxtest::SaveScreenshot;

// Writes `bytes` bytes of `fill` into path.
void WriteFile(const std::string& path, size_t bytes, char fill = 'x');

// Makes a RealMedia movie of `seconds` seconds (320x240 `pattern` picture, sine sound) with ffmpeg.
bool MakeRealMediaMovie(const std::string& path, const char* pattern, int seconds = 5);

// Scripted prompts with answers chosen by the box text: the first rule whose text is contained in
// the box's text answers; other boxes get the queued or default answers.
class TestPrompts : public qx::ScriptedPromptService {
public:
    void Answer(const std::string& textPart, qx::PromptAnswer answer) { m_rules.push_back({textPart, answer}); }
    qx::PromptAnswer ShowBox(const qx::PromptBox& box) override;
    std::vector<std::string> DialogTexts() const;
    // Runs while a box is up (before it is answered), like a user clicking around it.
    std::function<void(const qx::PromptBox&)> onBox;

private:
    std::vector<std::pair<std::string, qx::PromptAnswer>> m_rules;
};

// What the fake encoder does with one movie (keyed by file name).
struct FakeMovie {
    enum class Probe { Answer, Unsupported, Crash } probe = Probe::Answer;
    double duration = 60;
    int width = 320;
    int height = 240;
    float frameRate = 25;
    float sizeKB = 1024;
    size_t outputBytes = 20000; // written at completion
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

class FakeLog : public LogLink {
public:
    bool Start() override { return started = true; }
    void Log(int level, const std::string& text) override;
    void End() override {
        ended = true;
        if (endedOut) {
            *endedOut = true;
        }
    }
    std::atomic<bool>* endedOut = nullptr;  // also told here (outlives the log)
    std::vector<std::string> Lines() const; // "<level> <text>"
    size_t Count(const std::string& part) const;
    bool started = false;
    bool ended = false;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

class FakeAuthoring : public AuthoringLink {
public:
    bool Author(const std::string& outFolder, const std::vector<AuthorTitle>& titles, bool splitOutput,
                const std::function<void(int, int)>& progress, std::string* error) override;
    std::string failWith; // non-empty: the engine fails with this text
    std::vector<AuthorTitle> titles;
    std::vector<std::string> titleContents; // each title's stream as the engine found it
    std::string outFolder;
    int runs = 0;
};

class FakeCore : public BurnCore {
public:
    bool available = true;
    std::vector<std::string> writers;
    DVDDeviceInfo info;
    std::vector<std::string> burned; // folders
    bool InitBurnCore() override { return available; }
    void ListWriters(QWidget*, const std::function<void(std::vector<std::string>)>& deliver) override {
        ++listings;
        deliver(writers);
    }
    int GetWriterInfo(int writer, DVDDeviceInfo* out) override;
    BurnOutcome burnResult = BurnOutcome::Done;
    std::vector<std::string> labels;
    int listings = 0;
    std::string progressLine; // handed to the progress window once during a burn, as the engine's timer does
    BurnOutcome BurnDVDFolder(QWidget*, int, const std::string& folder, const std::string& label) override {
        burned.push_back(folder);
        labels.push_back(label);
        if (!progressLine.empty()) {
            if (onProgressLine) {
                onProgressLine({progressLine, 42});
            }
        }
        return burnResult;
    }
    BurnOutcome EraseDisc(QWidget*, int) override { return BurnOutcome::Done; }
    void RequestStopBurn() override {}
    void CancelBurn() override { ++cancels; }
    int cancels = 0;
};

class FakePower : public PowerLink {
public:
    void Shutdown() override { ++shutdowns; }
    int shutdowns = 0;
};

class FakeScreenSaver : public qx::ScreenSaverInhibitor {
public:
    qx::Status Inhibit(const std::string&, const std::string&) override {
        on = true;
        return qx::Status::Ok();
    }
    void UnInhibit() override { on = false; }
    bool active() const override { return on; }
    bool on = false;
};

// Parts built from fakes, with raw pointers kept for the test.
struct FakeParts {
    FakeEncoder* encoder;
    FakeLog* log;
    FakeAuthoring* authoring;
    FakeCore* buildIn;
    FakeCore* nero;
    FakePower* power;
    AppParts parts;
};
FakeParts MakeFakeParts(const std::string& companionFolder);

// Writes a default.vob (and nothing else) into the companion folder.
void MakeCompanionFolder(const std::string& folder);
