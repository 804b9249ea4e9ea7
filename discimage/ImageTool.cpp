#include "ImageTool.h"

#include "DiscText.h"
#include "DvdVideoImage.h"
#include "TerminalText.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx::discimage {
namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<int> g_signal{0};
std::atomic<int> g_depth{0};

void onSignal(int signal) {
    g_signal.store(signal);
    g_interrupted.store(true);
}

std::string lastName(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string parentOf(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool holdsName(const std::string& folder, const char* name) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (dirent* entry = readdir(dir))
        found = found || strcasecmp(entry->d_name, name) == 0;
    closedir(dir);
    return found;
}

} // namespace

InterruptCancel::InterruptCancel() {
    // Only the outermost one starts with the flag down: a signal already taken stays taken.
    if (g_depth.fetch_add(1) == 0) {
        g_interrupted.store(false);
        g_signal.store(0);
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
}

InterruptCancel::~InterruptCancel() {
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
    g_depth.fetch_sub(1);
}

const std::atomic<bool>& InterruptCancel::Flag() const {
    return g_interrupted;
}

int InterruptCancel::Signal() const {
    return g_signal.load();
}

bool ImageClock(std::tm* time, std::string* error) {
    std::time_t now = std::time(nullptr);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        char* end = nullptr;
        errno = 0;
        long long value = std::strtoll(epoch, &end, 10);
        if (errno != 0 || end == epoch || *end != '\0' || value < 0) {
            *error = std::string("SOURCE_DATE_EPOCH is not a number of seconds: '") + epoch + "'";
            return false;
        }
        now = static_cast<std::time_t>(value);
    }
    if (!localtime_r(&now, time)) {
        *error = "Cannot read the local time";
        return false;
    }
    return true;
}

std::string DefaultLabel(const std::string& videoTsFolder) {
    std::string name = lastName(videoTsFolder);
    if (strcasecmp(name.c_str(), "VIDEO_TS") == 0) {
        std::string parent = lastName(parentOf(videoTsFolder));
        if (!parent.empty() && parent != "/" && parent != "." && parent != "..")
            name = parent;
    }
    std::u32string characters;
    if (!DecodeUtf8(name, &characters))
        return "";
    // Keep whole characters: cut the UTF-8 text after the 32nd one.
    std::size_t bytes = 0, count = 0;
    while (bytes < name.size() && count < kMaxLabelCharacters) {
        unsigned char c = static_cast<unsigned char>(name[bytes]);
        bytes += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        ++count;
    }
    return name.substr(0, bytes);
}

std::string FindVideoTsFolder(const std::string& folder) {
    if (holdsName(folder, "VIDEO_TS.IFO"))
        return folder;
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    auto isFolder = [&](const std::string& name) {
        struct stat info;
        return stat((base + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    };
    if (isFolder("VIDEO_TS"))
        return base + "VIDEO_TS";
    // "video_ts", "Video_Ts": taken when it is the only such folder (with two, neither is guessed).
    std::vector<std::string> found;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (strcasecmp(entry->d_name, "VIDEO_TS") == 0 && isFolder(entry->d_name))
                found.push_back(entry->d_name);
        closedir(dir);
    }
    return found.size() == 1 ? base + found[0] : folder;
}

int WriteFolderImageFile(const std::string& program, const std::string& videoTsFolder, const std::string& isoPath,
                         const std::string& label, std::ostream& out, bool showProgress) {
    InterruptCancel cancel;
    const std::string shownPath = PrintableText(isoPath);
    auto interrupted = [&] {
        out << program << ": interrupted; no image was written to " << shownPath << std::endl;
        return 128 + cancel.Signal();
    };
    ImageDescriptor descriptor;
    descriptor.label = label;
    std::string error;
    if (!ImageClock(&descriptor.localTime, &error)) {
        out << program << ": " << PrintableText(error) << "\n";
        return kImageFailed;
    }
    std::vector<std::string> warnings;
    std::unique_ptr<DvdVideoImage> image = DvdVideoImage::Create(videoTsFolder, descriptor, &error, &warnings);
    for (const std::string& warning : warnings)
        out << program << ": warning: " << PrintableText(warning) << "\n";
    if (!image) {
        out << program << ": " << PrintableText(error) << "\n";
        return kImageFailed;
    }
    if (cancel.Flag().load())
        return interrupted();
    WriteOptions options;
    options.cancel = &cancel.Flag();
    int shown = -1;
    if (showProgress)
        options.progress = [&](std::uint64_t done, std::uint64_t total) {
            int percent = static_cast<int>(done * 100 / total);
            if (percent != shown) {
                shown = percent;
                out << "\r" << program << ": writing " << shownPath << " " << percent << "%" << std::flush;
            }
        };
    bool ok = WriteImageFile(*image, isoPath, options, &error);
    if (shown >= 0)
        out << "\n";
    if (!ok && cancel.Flag().load())
        return interrupted();
    if (!ok) {
        out << program << ": " << PrintableText(error) << std::endl;
        return kImageFailed;
    }
    out << program << ": wrote " << shownPath << " (" << image->SizeInBytes() << " bytes)" << std::endl;
    return kImageOk;
}

} // namespace qx::discimage
