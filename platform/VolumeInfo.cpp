#include "VolumeInfo.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace qx {

namespace {

struct MountEntry {
    unsigned major = 0, minor = 0;
    std::string mountPoint;
    std::string fsType;
    std::string source;
};

// mountinfo writes blanks, tabs, newlines and backslashes as \ooo.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' &&
            s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<MountEntry> ParseMountInfo(const std::string& text) {
    std::vector<MountEntry> entries;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, devs, root, mountPoint, options, f;
        if (!(fields >> id >> parent >> devs >> root >> mountPoint >> options))
            continue;
        while (fields >> f && f != "-") {
        }
        MountEntry e;
        if (f != "-" || !(fields >> e.fsType))
            continue;
        fields >> e.source;
        if (sscanf(devs.c_str(), "%u:%u", &e.major, &e.minor) != 2)
            continue;
        e.mountPoint = Unescape(mountPoint);
        e.source = Unescape(e.source);
        entries.push_back(std::move(e));
    }
    return entries;
}

bool IsUnder(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/")
        return true;
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

// A FUSE block mount says nothing about what it holds; the boot sector of an NTFS volume carries
// "NTFS    " at byte 3. Reading the device usually needs privileges; no answer is no hint.
bool DeviceLooksNtfs(const std::string& source) {
    if (source.compare(0, 5, "/dev/") != 0)
        return false;
    int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    char sig[8] = {};
    bool ntfs =
        pread(fd, sig, sizeof sig, 3) == static_cast<ssize_t>(sizeof sig) && std::memcmp(sig, "NTFS    ", 8) == 0;
    close(fd);
    return ntfs;
}

} // namespace

std::string FileSystemDisplayName(const std::string& fsType, bool ntfsHint) {
    if (fsType == "vfat")
        return "FAT32";
    if (fsType == "msdos")
        return "FAT";
    if (fsType == "ntfs" || fsType == "ntfs3" || fsType == "ntfs-3g" || fsType == "fuse.ntfs-3g" ||
        fsType == "fuseblk.ntfs" || (fsType == "fuseblk" && ntfsHint))
        return "NTFS";
    return fsType;
}

bool FindMountOf(const std::string& path, unsigned devMajor, unsigned devMinor, const std::string& mountInfo,
                 VolumeInfo& info) {
    const MountEntry* best = nullptr;
    bool bestSameDev = false;
    std::vector<MountEntry> mounts = ParseMountInfo(mountInfo);
    for (const MountEntry& m : mounts) {
        if (!IsUnder(path, m.mountPoint))
            continue;
        bool sameDev = m.major == devMajor && m.minor == devMinor;
        // The deepest mount holding the path wins; on equal depth the later (covering) one.
        bool better = best == nullptr || (sameDev && !bestSameDev) ||
                      (sameDev == bestSameDev && m.mountPoint.size() >= best->mountPoint.size());
        if (better) {
            best = &m;
            bestSameDev = sameDev;
        }
    }
    if (best == nullptr)
        return false;
    info.mountPoint = best->mountPoint;
    if (info.mountPoint.back() != '/')
        info.mountPoint += '/';
    info.fsType = best->fsType;
    bool hint = best->fsType == "fuseblk" && DeviceLooksNtfs(best->source);
    info.fileSystemName = FileSystemDisplayName(best->fsType, hint);
    return true;
}

Result<VolumeInfo> QueryVolume(const std::string& folder) {
    using R = Result<VolumeInfo>;
    if (folder.empty())
        return R::Fail("no folder given");
    char resolved[PATH_MAX];
    if (realpath(folder.c_str(), resolved) == nullptr)
        return R::Fail(errno == ENOENT ? "folder " + folder + " does not exist"
                                       : ErrnoText("cannot examine " + folder, errno));
    struct stat st {};
    if (stat(resolved, &st) != 0)
        return R::Fail(ErrnoText("cannot examine " + folder, errno));
    struct statvfs vfs {};
    if (statvfs(resolved, &vfs) != 0)
        return R::Fail(ErrnoText("cannot read the file system of " + folder, errno));

    std::ifstream in("/proc/self/mountinfo");
    std::stringstream text;
    text << in.rdbuf();
    VolumeInfo info;
    if (!FindMountOf(resolved, major(st.st_dev), minor(st.st_dev), text.str(), info))
        return R::Fail("cannot find the file system of " + folder + " in /proc/self/mountinfo");
    uint64_t unit = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
    info.clusterSize = unit;
    info.freeBytes = static_cast<uint64_t>(vfs.f_bavail) * unit;
    info.totalBytes = static_cast<uint64_t>(vfs.f_blocks) * unit;
    return R::Ok(info);
}

} // namespace qx
