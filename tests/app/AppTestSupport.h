// Shared pieces of the window tests: an isolated environment, a QApplication, scripted prompts and
// in-process stand-ins for the encoder, log, authoring, burn and power parts.
#pragma once

#include "AppParts.h"
#include "JobDoubles.h"
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

