#include "AppTestSupport.h"
#include "NumericLocale.h"

#include <QApplication>
#include <QProcess>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

std::string EnsureTestApp() {
    qxtest::EnsureApp();
    static const bool prepared = [] {
        qx::UseLocaleIndependentNumbers();
        QApplication::setQuitOnLastWindowClosed(false);
        return true;
    }();
    (void)prepared;
    return qxtest::TestRoot();
}

qx::PromptAnswer TestPrompts::ShowBox(const qx::PromptBox& box) {
    if (onBox) {
        onBox(box);
    }
    for (const auto& rule : m_rules) {
        if (box.text.find(rule.first) != std::string::npos) {
            qx::ScriptedPromptService::QueueAnswer(rule.second);
            break;
        }
    }
    return qx::ScriptedPromptService::ShowBox(box);
}

std::vector<std::string> TestPrompts::DialogTexts() const {
    std::vector<std::string> out;
    for (const qx::PromptRecord& r : Records()) {
        if (r.kind == qx::PromptRecord::Kind::Dialog) {
            out.push_back(r.text);
        }
    }
    return out;
}

void FakeLog::Log(int level, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.push_back(std::to_string(level) + " " + text);
}

std::vector<std::string> FakeLog::Lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

size_t FakeLog::Count(const std::string& part) const {
    size_t n = 0;
    for (const std::string& line : Lines()) {
        n += line.find(part) != std::string::npos;
    }
    return n;
}

FakeParts MakeFakeParts(const std::string& companionFolder) {
    FakeParts f;
    auto encoder = std::make_unique<FakeEncoder>();
    auto log = std::make_unique<FakeLog>();
    auto authoring = std::make_unique<FakeAuthoring>();
    auto buildIn = std::make_unique<FakeCore>();
    auto nero = std::make_unique<FakeCore>();
    nero->available = false;
    auto power = std::make_unique<FakePower>();
    f.encoder = encoder.get();
    f.log = log.get();
    f.authoring = authoring.get();
    f.buildIn = buildIn.get();
    f.nero = nero.get();
    f.power = power.get();
    f.parts.encoder = std::move(encoder);
    f.parts.log = std::move(log);
    f.parts.authoring = std::move(authoring);
    f.parts.buildInCore = std::move(buildIn);
    f.parts.neroCore = std::move(nero);
    f.parts.power = std::move(power);
    f.parts.screenSaver = std::make_unique<FakeScreenSaver>();
    f.parts.companionFolder = companionFolder;
    f.parts.openUrl = [](const std::string&) { return true; };
    return f;
}

bool MakeRealMediaMovie(const std::string& path, const char* pattern, int seconds) {
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-y", "-v", "error", "-f", "lavfi", "-i", QString("%1=size=320x240:rate=25").arg(pattern),
                            "-f", "lavfi", "-i", "sine", "-t", QString::number(seconds), "-c:v", "rv20", "-c:a", "ac3",
                            QString::fromStdString(path)});
    return ffmpeg.waitForFinished(120000) && ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0;
}
