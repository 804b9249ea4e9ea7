#include "JobDoubles.h"

#include "MenuProgram.h"

#include <QCoreApplication>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

void WriteFile(const std::string& path, size_t bytes, char fill) {
    std::ofstream(path, std::ios::binary) << std::string(bytes, fill);
}

bool FakeEncoder::Start(std::string* error) {
    if (startFails) {
        *error = "scripted start failure";
        return false;
    }
    m_running = true;
    ++m_starts;
    if (startsOut) {
        ++*startsOut;
    }
    return true;
}

void FakeEncoder::SendProbe(const std::string& path, const std::string&) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = movies.find(fs::path(path).filename().string());
    FakeMovie movie;
    movie.probe = FakeMovie::Probe::Unsupported;
    if (it != movies.end()) {
        movie = it->second;
    }
    m_answer = ProbeAnswer();
    m_probeCrashed = movie.probe == FakeMovie::Probe::Crash;
    m_answer.supported = movie.probe == FakeMovie::Probe::Answer;
    m_answer.path = path;
    m_answer.duration = movie.duration;
    m_answer.width = movie.width;
    m_answer.height = movie.height;
    m_answer.frameRate = movie.frameRate;
    m_answer.sizeKb = movie.sizeKB;
    m_answer.aspect = static_cast<float>(movie.width) / static_cast<float>(movie.height ? movie.height : 1);
    m_probePending = true;
    m_cv.notify_all();
}

ProbeWait FakeEncoder::WaitProbe(ProbeAnswer* answer) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_cv.wait_for(lock, std::chrono::seconds(10), [this] { return m_probePending; })) {
        return ProbeWait::Crashed;
    }
    m_probePending = false;
    *answer = m_answer;
    return m_probeCrashed ? ProbeWait::Crashed : ProbeWait::Answered;
}

void FakeEncoder::SendConvert(const CSourceInfo& source, const qx::EncoderJob& job) {
    if (beforeConvert) {
        beforeConvert();
    }
    int index;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_current = source;
        lastJob = job;
        m_converting = true;
        m_stopRequested = false;
        m_passes = 0;
        m_converted.push_back(source.strPath);
        index = static_cast<int>(m_converted.size()) - 1;
    }
    if (onConvert) {
        onConvert(index, source);
    }
}

void FakeEncoder::SendStop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopRequested = true;
    ++m_stops;
}

ConvertWait FakeEncoder::WaitConvert(int timeoutMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 5)));
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_converting) {
        return ConvertWait::None;
    }
    const auto it = movies.find(fs::path(m_current.strPath).filename().string());
    const FakeMovie movie = it == movies.end() ? FakeMovie() : it->second;
    ++m_passes;
    if (movie.holdUntilStopped && !m_stopRequested && m_passes < movie.holdPasses) {
        return ConvertWait::None;
    }
    if (m_passes < 3) {
        return ConvertWait::None;
    }
    m_converting = false;
    if (movie.crashWhileConverting) {
        return ConvertWait::Crashed;
    }
    if (!movie.outputFrom.empty()) {
        fs::copy_file(movie.outputFrom, m_current.strVobFile, fs::copy_options::overwrite_existing);
    } else if (movie.outputBytes > 0) {
        WriteFile(m_current.strVobFile, movie.outputBytes, 'v');
    }
    return ConvertWait::Complete;
}

std::vector<std::string> FakeEncoder::ConvertedSources() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_converted;
}

bool FakeAuthoring::Author(const std::string& folder, const std::vector<AuthorTitle>& list, bool, const MenuDisc* menu,
                           const std::function<void(int, int)>& progress, std::string* error) {
    ++runs;
    outFolder = folder;
    titles = list;
    menuPages = menu ? static_cast<int>(menu->pageStreams.size()) : -1;
    menuFiles.clear();
    if (menu) {
        for (const std::string& stream : menu->pageStreams) {
            if (FileExists(stream)) {
                menuFiles.push_back(stream);
            }
        }
        if (FileExists(menu->rootStream)) {
            menuFiles.push_back(menu->rootStream);
        }
    }
    titleContents.clear();
    for (const AuthorTitle& title : list) {
        titleContents.push_back(ReadFile(title.vobFile));
    }
    if (!failWith.empty()) {
        *error = failWith;
        return false;
    }
    for (const AuthorTitle& title : list) {
        if (!FileExists(title.vobFile)) {
            *error = "missing " + title.vobFile;
            return false;
        }
    }
    fs::create_directories(folder + "/VIDEO_TS");
    WriteFile(folder + "/VIDEO_TS/VIDEO_TS.IFO", 2048);
    WriteFile(folder + "/VIDEO_TS/VTS_01_1.VOB", 3 * 1024 * 1024);
    for (int p = 0; p <= 100; p += 50) {
        progress(0, p);
        if (p == 50 && holdUntilStopped) {
            for (int i = 0; i < 3000 && !stop; ++i) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            }
            fs::remove_all(folder + "/VIDEO_TS");
            *error = "stopped";
            return false;
        }
    }
    progress(2, 100);
    return true;
}

int FakeCore::GetWriterInfo(int writer, DVDDeviceInfo* out) {
    if (writer < 0 || writer >= static_cast<int>(writers.size())) {
        return 0;
    }
    *out = info;
    return 1;
}

void MakeCompanionFolder(const std::string& folder) {
    fs::create_directories(folder);
    WriteFile(folder + "default.vob", 30000, 'd');
}

