#include "ImageTemporary.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx::discimage {
namespace {

constexpr char kSuffixLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kSuffixLength = 6;
constexpr std::size_t kMaxNameBytes = 200; // of the target's name in the temporary's, within NAME_MAX

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ".NAME.part-" for the target's name (cut so that the whole stays a valid file name).
std::string temporaryPrefix(const std::string& target) {
    return "." + nameOf(target).substr(0, kMaxNameBytes) + ".part-";
}

std::string randomSuffix() {
    static thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kSuffixLetters - 2);
    std::string suffix;
    for (std::size_t i = 0; i < kSuffixLength; ++i)
        suffix += kSuffixLetters[pick(generator)];
    return suffix;
}

bool isOurTemporaryName(const std::string& name, const std::string& prefix) {
    if (name.size() != prefix.size() + kSuffixLength || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (std::size_t i = prefix.size(); i < name.size(); ++i)
        if (!std::strchr(kSuffixLetters, name[i]))
            return false;
    return true;
}

// Gives the anonymous file `fd` the name `path`; false (errno set) when it cannot.
bool linkAnonymous(int fd, const std::string& path) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno != ENOENT)
        return false;
    // No /proc: the direct form (it needs CAP_DAC_READ_SEARCH).
    return linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
}

} // namespace

TemporaryImageFile::~TemporaryImageFile() {
    if (!m_name.empty())
        unlink(m_name.c_str());
    if (m_fd >= 0)
        close(m_fd);
}

bool TemporaryImageFile::Create(const std::string& target, bool named, std::string* error) {
    m_target = target;
    const std::string folder = folderOf(target);
    if (!named) {
        m_fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        // Only "not supported here" falls back to a named file; a real error is reported.
        if (m_fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
            *error = "Cannot create a file in " + folder + ": " + std::strerror(errno);
            return false;
        }
    }
    if (m_fd < 0) {
        const std::string pattern = folder + "/" + temporaryPrefix(target) + "XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        m_fd = mkostemp(name.data(), O_CLOEXEC);
        if (m_fd < 0) {
            *error = "Cannot create a file in " + folder + ": " + std::strerror(errno);
            return false;
        }
        m_name = name.data();
    }
    // Held until the file is closed: a later run never takes it for a stale one while this one writes.
    if (flock(m_fd, LOCK_EX) != 0) {
        *error = "Cannot lock the temporary file in " + folder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool TemporaryImageFile::Commit(std::string* error) {
    if (m_name.empty()) {
        // A fresh name beside the target, then one rename: an old target is replaced at once.
        const std::string base = folderOf(m_target) + "/" + temporaryPrefix(m_target);
        for (int attempt = 0; m_name.empty() && attempt < 100; ++attempt) {
            const std::string name = base + randomSuffix();
            if (linkAnonymous(m_fd, name))
                m_name = name;
            else if (errno != EEXIST)
                break;
        }
        if (m_name.empty()) {
            *error = "Cannot give the finished image a name in " + folderOf(m_target) + ": " + std::strerror(errno);
            return false;
        }
    }
    if (rename(m_name.c_str(), m_target.c_str()) != 0) {
        *error = "Cannot rename the finished image to " + m_target + ": " + std::strerror(errno);
        return false;
    }
    m_name.clear();
    const int fd = m_fd;
    m_fd = -1;
    if (close(fd) != 0) {
        *error = "Cannot write " + m_target + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

int RemoveStaleTemporaries(const std::string& target) {
    const std::string prefix = temporaryPrefix(target);
    DIR* dir = opendir(folderOf(target).c_str());
    if (!dir)
        return 0;
    const int folderFd = dirfd(dir);
    const std::time_t now = std::time(nullptr);
    int removed = 0;
    while (dirent* entry = readdir(dir)) {
        if (!isOurTemporaryName(entry->d_name, prefix))
            continue;
        const int fd = openat(folderFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat info, again;
        // Ours, a plain file, untouched for a while, and not locked by a run that is still writing it;
        // and the name still leads to that very file when it is removed.
        if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
            info.st_mtime <= now - kStaleTemporarySeconds && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            fstatat(folderFd, entry->d_name, &again, AT_SYMLINK_NOFOLLOW) == 0 && again.st_dev == info.st_dev &&
            again.st_ino == info.st_ino && unlinkat(folderFd, entry->d_name, 0) == 0)
            ++removed;
        close(fd);
    }
    closedir(dir);
    return removed;
}

} // namespace qx::discimage
