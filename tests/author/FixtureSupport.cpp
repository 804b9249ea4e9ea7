#include "FixtureSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string FixtureStream(TvStandard standard, int seconds) {
    const bool pal = standard == TvStandard::Pal;
    fs::create_directories(QX_FIXTURE_DIR);
    std::string name =
        std::string(QX_FIXTURE_DIR) + "/" + (pal ? "pal" : "ntsc") + "-" + std::to_string(seconds) + ".mpg";
    if (fs::exists(name))
        return name;
    // Test programs running side by side generate each stream once: the first takes the lock, the others
    // wait for it and then find the file. It is written under a private name and renamed, so nobody ever
    // sees half a file.
    int lock = open((name + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock >= 0)
        flock(lock, LOCK_EX);
    struct Unlock {
        int fd;
        ~Unlock() {
            if (fd >= 0)
                close(fd);
        }
    } unlock{lock};
    if (fs::exists(name))
        return name;
    std::string partial = name + ".tmp" + std::to_string(getpid());
    std::string video = pal ? "testsrc2=size=352x288:rate=25" : "testsrc2=size=352x240:rate=30000/1001";
    ProgramResult result = RunProgram({"ffmpeg",       "-nostdin",
                                       "-hide_banner", "-loglevel",
                                       "error",        "-y",
                                       "-f",           "lavfi",
                                       "-i",           video,
                                       "-f",           "lavfi",
                                       "-i",           "sine=frequency=440:sample_rate=48000",
                                       "-t",           std::to_string(seconds),
                                       "-target",      pal ? "pal-dvd" : "ntsc-dvd",
                                       "-s",           pal ? "352x288" : "352x240",
                                       "-aspect",      "4:3",
                                       "-b:v",         "300k",
                                       "-b:a",         "64k",
                                       "-f",           "dvd",
                                       partial});
    if (result.exitStatus != 0) {
        ADD_FAILURE() << "ffmpeg failed: " << result.output;
        return name;
    }
    fs::rename(partial, name);
    return name;
}

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "qxauthoring-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        ADD_FAILURE() << "mkdtemp failed";
    m_path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    // Tests may have taken write permission away; give it back so the folder can go.
    for (auto it = fs::recursive_directory_iterator(m_path, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
        if (it->is_directory(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(m_path, ignored);
}

ProgramResult RunProgram(const std::vector<std::string>& argv, int timeoutSeconds) {
    ProgramResult result;
    char outputName[] = "/tmp/qxauthoring-output-XXXXXX";
    int outputFd = mkstemp(outputName);
    if (outputFd < 0)
        return result;
    unlink(outputName);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outputFd, 1);
        dup2(outputFd, 2);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (true) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.output = "timed out\n";
            close(outputFd);
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    lseek(outputFd, 0, SEEK_SET);
    char buffer[4096];
    ssize_t n;
    while ((n = read(outputFd, buffer, sizeof buffer)) > 0)
        result.output.append(buffer, static_cast<size_t>(n));
    close(outputFd);
    return result;
}

std::vector<unsigned char> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
    return fs::exists(path);
}
