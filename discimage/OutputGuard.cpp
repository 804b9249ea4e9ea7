#include "OutputGuard.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <optional>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx::discimage {
namespace {

constexpr int kMaxLinks = 40; // as the kernel allows in one lookup

struct FileId {
    dev_t device;
    ino_t inode;
    bool operator==(const FileId& o) const { return device == o.device && inode == o.inode; }
};

std::optional<FileId> idOf(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return FileId{info.st_dev, info.st_ino};
}

void splitInto(const std::string& path, std::deque<std::string>* parts, bool atFront) {
    std::deque<std::string> pieces;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > start)
            pieces.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    if (atFront)
        parts->insert(parts->begin(), pieces.begin(), pieces.end());
    else
        parts->insert(parts->end(), pieces.begin(), pieces.end());
}

std::string joined(const std::vector<std::string>& parts) {
    if (parts.empty())
        return "/";
    std::string path;
    for (const std::string& part : parts)
        path += "/" + part;
    return path;
}

// True when the resolved `path` is `folder` or lies below it: by name, and by device and inode of
// each existing ancestor (a folder mounted a second time elsewhere is still the same folder).
bool liesInside(const std::string& path, const std::string& folder, const std::optional<FileId>& folderId) {
    if (path == folder || folder == "/" || path.compare(0, folder.size() + 1, folder + "/") == 0)
        return true;
    if (!folderId)
        return false;
    for (std::string at = path;;) {
        if (auto id = idOf(at); id && *id == *folderId)
            return true;
        if (at == "/")
            return false;
        const std::size_t slash = at.rfind('/');
        at = slash == 0 ? "/" : at.substr(0, slash);
    }
}

struct Input {
    std::string given;
    std::string resolved;
    std::optional<FileId> id;
};

std::vector<Input> resolvedInputs(const std::vector<std::string>& paths) {
    std::vector<Input> inputs;
    for (const std::string& path : paths) {
        Input input{path, {}, std::nullopt};
        std::string error;
        if (path.empty() || !ResolvePath(path, &input.resolved, &error))
            continue; // an input that cannot be looked up cannot be read either
        input.id = idOf(input.resolved);
        inputs.push_back(input);
    }
    return inputs;
}

// The first entry of `folder` (its own name in it, links followed) that is one of `files`.
std::string entryThatIs(const std::string& folder, const std::vector<Input>& files, const Input** which) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return {};
    std::string found;
    while (dirent* entry = readdir(dir)) {
        struct stat info;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0 ||
            fstatat(dirfd(dir), entry->d_name, &info, 0) != 0)
            continue;
        for (const Input& file : files)
            if (file.id && *file.id == FileId{info.st_dev, info.st_ino}) {
                found = entry->d_name;
                *which = &file;
                break;
            }
        if (!found.empty())
            break;
    }
    closedir(dir);
    return found;
}

} // namespace

bool ResolvePath(const std::string& path, std::string* resolved, std::string* error) {
    std::deque<std::string> todo;
    if (path.empty() || path[0] != '/') {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd)) {
            *error = std::string("Cannot read the current folder: ") + std::strerror(errno);
            return false;
        }
        splitInto(cwd, &todo, false);
    }
    splitInto(path, &todo, false);
    std::vector<std::string> done; // a real path (no links) while nothing is missing
    bool missing = false;
    int links = 0;
    while (!todo.empty()) {
        std::string part = std::move(todo.front());
        todo.pop_front();
        if (part == ".")
            continue;
        if (part == "..") {
            if (!done.empty())
                done.pop_back();
            continue;
        }
        done.push_back(part);
        if (missing)
            continue;
        const std::string at = joined(done);
        struct stat info;
        if (lstat(at.c_str(), &info) != 0) {
            if (errno == ENOENT || errno == ENOTDIR) {
                missing = true;
                continue;
            }
            *error = "Cannot look up " + at + ": " + std::strerror(errno);
            return false;
        }
        if (S_ISLNK(info.st_mode)) {
            if (++links > kMaxLinks) {
                *error = "Cannot look up " + path + ": " + std::strerror(ELOOP);
                return false;
            }
            std::vector<char> target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 1);
            const ssize_t n = readlink(at.c_str(), target.data(), target.size());
            if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
                *error = "Cannot read the link " + at + ": " + std::strerror(n < 0 ? errno : ENAMETOOLONG);
                return false;
            }
            const std::string link(target.data(), static_cast<std::size_t>(n));
            done.pop_back();
            if (!link.empty() && link[0] == '/')
                done.clear();
            splitInto(link, &todo, true);
        } else if (!S_ISDIR(info.st_mode) && !todo.empty()) {
            missing = true; // a name below a file: nothing can be written there
        }
    }
    *resolved = joined(done);
    return true;
}

std::string OutputRefusal(const std::string& output, OutputKind kind, const std::vector<std::string>& inputFiles,
                          const std::vector<std::string>& inputFolders) {
    std::string out, error;
    if (!ResolvePath(output, &out, &error))
        return "The output " + output + " cannot be checked against its inputs: " + error;
    const std::optional<FileId> outId = idOf(out);
    const std::vector<Input> files = resolvedInputs(inputFiles);
    const std::vector<Input> folders = resolvedInputs(inputFolders);
    const std::string what = kind == OutputKind::File ? "The output " : "The output folder ";

    for (const Input& file : files) {
        if (outId && file.id && *outId == *file.id)
            return what + output + " is the input " + file.given +
                   " (the same file); writing it would destroy that file";
        if (kind == OutputKind::Folder && liesInside(file.resolved, out, outId))
            return "The input " + file.given + " lies inside the output folder " + output +
                   "; writing that folder could destroy it";
    }
    for (const Input& folder : folders) {
        if (liesInside(out, folder.resolved, folder.id))
            return what + output + (out == folder.resolved || (outId && outId == folder.id) ? " is" : " lies inside") +
                   " the input folder " + folder.given + "; writing it would destroy the files read from there";
        if (kind == OutputKind::Folder && liesInside(folder.resolved, out, outId))
            return "The input folder " + folder.given + " lies inside the output folder " + output +
                   "; writing that folder could destroy its files";
    }
    if (kind == OutputKind::Folder && outId) {
        const Input* which = nullptr;
        const std::string entry = entryThatIs(out, files, &which);
        if (!entry.empty())
            return "The output folder " + output + " holds " + entry + ", which is the input " + which->given +
                   " (the same file); writing that folder could destroy it";
    }
    return {};
}

} // namespace qx::discimage
