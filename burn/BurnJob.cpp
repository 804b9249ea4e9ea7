#include "BurnJob.h"

#include "PromptService.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdio>

namespace {

constexpr const char* kNoWriter = "No DVD Writer detected! Cannot burn DVD Disk!";

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The real name of an entry of `folder` that equals `name` without regard to case ("" when none).
std::string FindEntryNoCase(const std::string& folder, const char* name) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        return {};
    }
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name) == 0) {
            found = entry->d_name;
            // The exact spelling wins over another spelling in the same folder.
            if (found == name) {
                break;
            }
        }
    }
    closedir(dir);
    return found;
}

} // namespace

int CheckWriterReady(const WriterCheck& c) {
    auto log = [&c](const std::string& text) {
        if (c.log) {
            c.log(0, text);
        }
    };
    auto show = [&c](const std::string& text, qx::PromptButtons buttons, qx::PromptIcon icon) {
        const qx::PromptBox box{text, "", buttons, icon, c.owner};
        return c.ask ? c.ask(box) : qx::Prompts().ShowBox(box);
    };
    auto tell = [&show](const std::string& text) { show(text, qx::PromptButtons::Ok, qx::PromptIcon::Information); };
    if (!c.core) {
        tell(kNoWriter);
        return 0;
    }
    DVDDeviceInfo info;
    const int found = c.core->GetWriterInfo(c.writer, &info);
    log(c.logPrefix + " resault:" + std::to_string(found ? 1 : 0) + "\n");
    if (!found) {
        tell(kNoWriter);
        return 0;
    }
    char line[2048];
    std::snprintf(line, sizeof line,
                  "%s \n        DeviceInfo: typename: %s, ReadSpeed:%s, WriteSpeed:%s, \n"
                  "        support:%d%d%d%d%d%d\n        DiscInfo: type:%s, totleSpace:%s, m_bD9:%d, \n"
                  "        DiscIsInserted:%d, CanSupport:%d, CanErase:%d, isEmpty:%d\n",
                  c.logPrefix.c_str(), info.typename_.c_str(), info.ReadSpeed.c_str(), info.WriteSpeed.c_str(),
                  info.support[0], info.support[1], info.support[2], info.support[3], info.support[4], info.support[5],
                  info.type.c_str(), info.totleSpace.c_str(), info.m_bD9, info.DiscIsInserted, info.CanSupport,
                  info.CanErase, info.isEmpty);
    log(line);
    if (!info.DiscIsInserted) {
        tell("No inserted disk! Please insert writable DVD!");
        return 0;
    }
    if (!info.CanSupport) {
        tell("The inserted disk is invalid! Please inserted writable DVD!");
        return 0;
    }
    // The capacity the burn will have: a disc that is erased first is judged as the blank disc it becomes.
    int capacityMB = info.totalSpaceMB;
    if (!info.isEmpty) {
        if (!info.CanErase) {
            tell("The inserted media is writable disk, but it is not blank, and is not "
                 "erasable!\nPlease Inserted blank writable DVD Disk!");
            return 0;
        }
        if (show("The inserted media is rewritable disk, and is not blank! \nThe disk would be erased first, and "
                 "all data will lost. Do you want to Continue?",
                 qx::PromptButtons::YesNo, qx::PromptIcon::Question) != qx::PromptAnswer::Yes) {
            return 0;
        }
        if (info.blankSpaceMB > 0) {
            capacityMB = info.blankSpaceMB;
        }
    }
    if (c.target == 1 && !info.m_bD9) {
        tell("Now We need a DVD9 type writable DVD Disk.\nThe inserted disk is not DVD9 type!");
        return 0;
    }
    if (capacityMB >= c.requiredMB) {
        return 1;
    }
    char text[256];
    std::snprintf(text, sizeof text, "Inserted dvd disk volume:%dM is lower then video dvd file volume:%dM.\n",
                  capacityMB, c.requiredMB);
    tell(std::string(text) + " So cannot burn. Please remove some file in dvd.");
    log(text);
    return 0;
}

bool CheckDvdFolder(std::string* folder) {
    std::string path = *folder;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    if (path.empty()) {
        return false;
    }
    const size_t slash = path.rfind('/');
    const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    if (strcasecmp(last.c_str(), "video_ts") == 0) {
        return IsFolder(path);
    }
    const std::string parent = path + "/";
    const std::string name = FindEntryNoCase(parent, "VIDEO_TS");
    if (name.empty() || !IsFolder(parent + name)) {
        return false;
    }
    *folder = parent + name + "/";
    return true;
}

double DvdFolderSizeMB(const std::string& folder) {
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    DIR* dir = opendir(base.c_str());
    if (!dir) {
        return 0;
    }
    uint64_t total = 0;
    while (dirent* entry = readdir(dir)) {
        struct stat st;
        const std::string path = base + entry->d_name;
        if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            total += static_cast<uint64_t>(st.st_size) / 1024 / 1024;
        }
    }
    closedir(dir);
    return static_cast<double>(total);
}

FolderDisc DiscForFolder(double sizeMB) {
    if (sizeMB < 1) {
        return FolderDisc::TooSmall;
    }
    if (sizeMB <= kDvd5LimitMB) {
        return FolderDisc::SingleLayer;
    }
    if (sizeMB <= kDvd9LimitMB) {
        return FolderDisc::DualLayer;
    }
    return FolderDisc::TooBig;
}

namespace {

std::string SeeTheLog(const std::string& text, const std::string& logPlace) {
    return logPlace.empty() ? text + "." : text + ": " + logPlace;
}

} // namespace

std::string BurnOutcomeMessage(BurnOutcome outcome, const std::string& logPlace) {
    switch (outcome) {
    case BurnOutcome::Done:
        return "Mission accomplished!";
    case BurnOutcome::Refused:
        return "The disc was not burned: the burn was refused before anything was written.";
    case BurnOutcome::Cancelled:
        return "Burning was cancelled! The disc is not complete.";
    case BurnOutcome::Failed:
        break;
    }
    return SeeTheLog("Burning failed! The disc is not complete. See the log for details", logPlace);
}

std::string EraseOutcomeMessage(BurnOutcome outcome, const std::string& logPlace) {
    switch (outcome) {
    case BurnOutcome::Done:
        return "Erase accomplished!";
    case BurnOutcome::Refused:
        return "The disc was not erased.";
    case BurnOutcome::Cancelled:
        return "Erasing was cancelled! The disc may hold no usable data.";
    case BurnOutcome::Failed:
        break;
    }
    return SeeTheLog("Erasing the disc failed! See the log for details", logPlace);
}
