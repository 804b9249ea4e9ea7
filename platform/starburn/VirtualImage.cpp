#include "VirtualImage.h"

#include "Status.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace qx::starburn {

namespace {

std::string FolderOf(const std::string& image) {
    const size_t slash = image.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : image.substr(0, slash);
}

std::string NameOf(const std::string& image) {
    return image.substr(image.rfind('/') + 1);
}

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

// The umask without setting it (umask() would change it for every thread for a moment).
mode_t ProcessUmask() {
    mode_t mask = 022;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned int value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value & 0777);
                break;
            }
        }
        std::fclose(f);
    }
    return mask;
}

std::string RandomSuffix() {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        const uint64_t t = static_cast<uint64_t>(std::time(nullptr)) ^ (static_cast<uint64_t>(getpid()) << 20);
        std::memcpy(bytes, &t, sizeof bytes);
    }
    std::string suffix;
    for (unsigned char b : bytes) {
        suffix += kAlphabet[b % (sizeof kAlphabet - 1)];
    }
    return suffix;
}

constexpr const char* kPartInfix = ".part-";
constexpr size_t kSuffixLength = 6;

} // namespace

bool HoldsDiscImage(int fd) {
    // The volume descriptors start at sector 16: ISO 9660's "CD001", UDF's recognition sequence.
    static const char* const kSignatures[] = {"CD001", "BEA01", "NSR02", "NSR03"};
    unsigned char sectors[16 * 2048];
    const ssize_t n = pread(fd, sectors, sizeof sectors, 16 * 2048);
    for (ssize_t at = 0; at + 2048 <= n; at += 2048) {
        for (const char* signature : kSignatures) {
            if (std::memcmp(sectors + at + 1, signature, 5) == 0) {
                return true;
            }
        }
    }
    return false;
}

ImageLook LookAtImage(const std::string& image) {
    ImageLook look;
    struct stat st {};
    bool ours = false;
    if (lstat(image.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            look.problem = ErrnoText("cannot look at " + image, errno);
            return look;
        }
    } else if (S_ISLNK(st.st_mode)) {
        look.problem = image + " is a symbolic link; a virtual writer writes only a regular file of its own";
        return look;
    } else if (!S_ISREG(st.st_mode)) {
        look.problem = image + " is " + KindOf(st.st_mode) + "; a virtual writer writes only a regular file";
        return look;
    } else {
        const int fd = open(image.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            look.problem = ErrnoText("cannot read " + image, errno);
            return look;
        }
        const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        const bool disc = regular && st.st_size > 0 && HoldsDiscImage(fd);
        close(fd);
        if (!regular) {
            look.problem = image + " is not a regular file";
            return look;
        }
        look.exists = true;
        look.bytes = static_cast<uint64_t>(st.st_size);
        look.mode = st.st_mode & 07777;
        ours = st.st_uid == geteuid();
        if (!ours) {
            look.problem = image + " belongs to user id " + std::to_string(st.st_uid) + ", not to this user";
            return look;
        }
        if (look.bytes > 0 && !disc) {
            look.problem = image + " is not empty and holds no disc image (ISO 9660 or UDF); a virtual writer " +
                           "replaces or empties only its own disc image";
            return look;
        }
    }
    const std::string folder = FolderOf(image);
    struct stat fst {};
    if (stat(folder.c_str(), &fst) != 0) {
        look.problem = ErrnoText("the image's folder " + folder, errno);
        return look;
    }
    if (!S_ISDIR(fst.st_mode)) {
        look.problem = "the image's folder " + folder + " is not a folder";
        return look;
    }
    if (fst.st_uid != geteuid() && fst.st_uid != 0) {
        look.problem = "the image's folder " + folder + " belongs to user id " + std::to_string(fst.st_uid) +
                       ", who could replace the image";
        return look;
    }
    const bool othersWrite = (fst.st_mode & S_IWOTH) || ((fst.st_mode & S_IWGRP) && fst.st_gid != getegid());
    // In a sticky folder (/tmp) nobody else can rename or remove a file of ours.
    if (othersWrite && !((fst.st_mode & S_ISVTX) && (!look.exists || ours))) {
        look.problem = "the image's folder " + folder + " can be written by other users";
        return look;
    }
    look.usable = true;
    return look;
}

CallResult ImageLock::Acquire(const std::string& image) {
    Release();
    // Beside the image, so that every program of the user sees it, whatever its runtime folder. The
    // folder is one no other user can write (LookAtImage), or a sticky one where a lock file of
    // someone else's is refused.
    const std::string folder = FolderOf(image);
    const std::string path = (folder == "/" ? "" : folder) + "/." + NameOf(image) + ".lock";
    // The holder removes the file when it ends; a program that locked a removed file tries again,
    // and one left by a killed program is simply locked and removed again.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd < 0) {
            return CallResult::Fail(EN_GENERIC_FAILURE, ErrnoText("cannot lock the writer (" + path + ")", errno));
        }
        struct stat held {};
        if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode) || held.st_uid != geteuid()) {
            close(fd);
            return CallResult::Fail(EN_NOT_READY, "the writer's lock " + path + " is not a file of this user");
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            close(fd);
            if (err == EWOULDBLOCK) {
                return CallResult::Fail(EN_BUSY, "the writer is busy: another burn or erase uses " + image);
            }
            return CallResult::Fail(EN_GENERIC_FAILURE, ErrnoText("cannot lock the writer (" + path + ")", err));
        }
        struct stat named {};
        if (lstat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
            m_fd = fd;
            m_path = path;
            return {};
        }
        close(fd);
    }
    return CallResult::Fail(EN_BUSY, "the writer is busy: another burn or erase uses " + image);
}

void ImageLock::Release() {
    if (m_fd >= 0) {
        unlink(m_path.c_str());
        close(m_fd);
        m_fd = -1;
        m_path.clear();
    }
}

NewImage::~NewImage() {
    if (!m_named.empty()) {
        unlink(m_named.c_str());
    }
    if (m_fd >= 0) {
        close(m_fd);
    }
}

CallResult NewImage::Make(const std::string& image, mode_t mode, long failureCode) {
    m_image = image;
    // The permissions are given, never taken from umask(): that would change them for every thread.
    int fd = open(FolderOf(image).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode ? mode : 0666);
    if (fd >= 0 &&
        (access(("/proc/self/fd/" + std::to_string(fd)).c_str(), F_OK) != 0 || (mode && fchmod(fd, mode) != 0))) {
        close(fd); // no way to link it into place later
        fd = -1;
        errno = EOPNOTSUPP;
    }
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return CallResult::Fail(failureCode, ErrnoText("cannot make a file beside " + image, errno),
                                static_cast<unsigned long>(errno));
    }
    if (fd < 0) {
        std::string named = image + kPartInfix + "XXXXXX";
        fd = mkostemp(named.data(), O_CLOEXEC);
        if (fd < 0 || fchmod(fd, mode ? mode : (0666 & ~ProcessUmask())) != 0) {
            const int err = errno;
            if (fd >= 0) {
                close(fd);
                unlink(named.c_str());
            }
            return CallResult::Fail(failureCode, ErrnoText("cannot make a file beside " + image, err),
                                    static_cast<unsigned long>(err));
        }
        m_named = named;
    }
    m_fd = fd;
    return {};
}

std::string NewImage::Address() const {
    return "stdio:/dev/fd/" + std::to_string(m_fd);
}

CallResult NewImage::Commit(long failureCode) {
    auto fail = [&](const std::string& what) {
        const int err = errno;
        return CallResult::Fail(failureCode, ErrnoText(what, err), static_cast<unsigned long>(err));
    };
    if (fsync(m_fd) != 0) {
        return fail("cannot write " + m_image);
    }
    if (m_named.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        for (int attempt = 0; attempt < 20 && m_named.empty(); ++attempt) {
            const std::string named = m_image + kPartInfix + RandomSuffix();
            if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                m_named = named;
            } else if (errno != EEXIST) {
                return fail("cannot put the image in place at " + m_image);
            }
        }
        if (m_named.empty()) {
            return fail("cannot put the image in place at " + m_image);
        }
    }
    if (rename(m_named.c_str(), m_image.c_str()) != 0) {
        return fail("cannot rename the image to " + m_image);
    }
    m_named.clear();
    close(m_fd);
    m_fd = -1;
    return {};
}

void RemoveStaleTemporaries(const std::string& image, int minAgeSeconds) {
    const std::string folder = FolderOf(image);
    const std::string prefix = NameOf(image) + kPartInfix;
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        return;
    }
    const time_t now = std::time(nullptr);
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() != prefix.size() + kSuffixLength || name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        const std::string path = (folder == "/" ? "" : folder) + "/" + name;
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
            now - st.st_mtime >= minAgeSeconds) {
            unlink(path.c_str());
        }
    }
    closedir(dir);
}

} // namespace qx::starburn
