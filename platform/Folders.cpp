#include "Folders.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qx {

namespace {

std::string EnvAbsolute(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr || v[0] != '/')
        return std::string(); // relative values are invalid by the XDG rules and are ignored
    return v;
}

std::string OctalMode(mode_t m) {
    char buf[8];
    snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(m & 07777));
    return buf;
}

// Checks that `path` is our own private directory.
Status CheckPrivateFolder(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return Status::Fail(ErrnoText("runtime folder " + path, errno));
    if (S_ISLNK(st.st_mode))
        return Status::Fail("runtime folder " + path + " is a symbolic link; refusing to use it");
    if (!S_ISDIR(st.st_mode))
        return Status::Fail("runtime folder " + path + " is not a folder");
    if (st.st_uid != geteuid())
        return Status::Fail("runtime folder " + path + " belongs to user id " + std::to_string(st.st_uid) +
                            ", not to this user (" + std::to_string(geteuid()) + ")");
    if ((st.st_mode & 077) != 0)
        return Status::Fail("runtime folder " + path + " has permissions " + OctalMode(st.st_mode) +
                            "; it must be 0700 (open to nobody else)");
    return Status::Ok();
}

} // namespace

std::string WithTrailingSlash(const std::string& path) {
    if (!path.empty() && path.back() == '/')
        return path;
    return path + '/';
}

std::string HomeFolder() {
    std::string home = EnvAbsolute("HOME");
    if (home.empty()) {
        struct passwd pw {};
        struct passwd* found = nullptr;
        std::vector<char> buf(16384);
        if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr && pw.pw_dir != nullptr)
            home = pw.pw_dir;
    }
    if (home.empty())
        home = "/";
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home;
}

std::string ProgramFolder() {
    std::vector<char> buf(PATH_MAX + 1);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0 || static_cast<size_t>(n) >= buf.size() - 1)
        return "./";
    std::string exe(buf.data(), static_cast<size_t>(n));
    size_t slash = exe.rfind('/');
    if (slash == std::string::npos)
        return "./";
    return exe.substr(0, slash + 1);
}

Result<std::string> RuntimeFolder() {
    std::string base = EnvAbsolute("XDG_RUNTIME_DIR");
    std::string path;
    if (!base.empty()) {
        struct stat st {};
        if (stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return Result<std::string>::Fail("XDG_RUNTIME_DIR names " + base + ", which is not an existing folder");
        path = WithTrailingSlash(base) + "qxmoviedisc";
    } else {
        path = "/tmp/qxmoviedisc-" + std::to_string(geteuid());
    }
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return Result<std::string>::Fail(ErrnoText("cannot create runtime folder " + path, errno));
    Status s = CheckPrivateFolder(path);
    if (!s)
        return Result<std::string>::Fail(s.error());
    return Result<std::string>::Ok(path + '/');
}

std::string ConfigFolder() {
    std::string base = EnvAbsolute("XDG_CONFIG_HOME");
    if (base.empty())
        base = HomeFolder() + "/.config";
    return WithTrailingSlash(base) + "qxmoviedisc/";
}

std::string LogFilePath() {
    return StateFolder() + "QXLog.log";
}

std::string StateFolder() {
    std::string base = EnvAbsolute("XDG_STATE_HOME");
    if (base.empty())
        base = HomeFolder() + "/.local/state";
    return WithTrailingSlash(base) + "qxmoviedisc/";
}

std::string DefaultWorkFolder() {
    return WithTrailingSlash(HomeFolder()) + "QXMovieDisc/";
}

Status MakeFolderPath(const std::string& path, mode_t mode) {
    if (path.empty())
        return Status::Fail("no folder given");
    // Walk the components from the root; each prefix must be (or become) a folder.
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        std::string part = path.substr(0, pos);
        if (part.empty() || part == "/")
            continue;
        struct stat st {};
        if (stat(part.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return Status::Fail(part + " exists and is not a folder");
            continue;
        }
        if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            return Status::Fail(ErrnoText("cannot create folder " + part, errno));
        if (stat(part.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return Status::Fail(part + " could not be created as a folder");
    }
    return Status::Ok();
}

} // namespace qx
