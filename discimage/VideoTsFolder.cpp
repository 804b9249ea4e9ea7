#include "VideoTsFolder.h"

#include "ImageBytes.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx::discimage {
namespace {

// Place of a file on the disc: title set (0 = video manager), then its rank inside the set.
struct FileKey {
    int set = 0;
    int rank = 0; // 0 IFO, 1 menu VOB, 2..10 title VOBs 1..9, 11 BUP
    bool operator<(const FileKey& o) const { return set != o.set ? set < o.set : rank < o.rank; }
};

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

bool parseName(const std::string& name, FileKey* key) {
    if (name == "VIDEO_TS.IFO" || name == "VIDEO_TS.VOB" || name == "VIDEO_TS.BUP") {
        *key = {0, name[9] == 'I' ? 0 : name[9] == 'V' ? 1 : 11};
        return true;
    }
    // VTS_nn_m.EXT
    if (name.size() != 12 || name.compare(0, 4, "VTS_") != 0 || !digit(name[4]) || !digit(name[5]) || name[6] != '_' ||
        !digit(name[7]) || name[8] != '.')
        return false;
    int set = (name[4] - '0') * 10 + (name[5] - '0');
    int part = name[7] - '0';
    std::string ext = name.substr(9);
    if (set == 0)
        return false;
    if (ext == "VOB") {
        *key = {set, 1 + part};
        return true;
    }
    if ((ext == "IFO" || ext == "BUP") && part == 0) {
        *key = {set, ext == "IFO" ? 0 : 11};
        return true;
    }
    return false;
}

std::string nameOf(const FileKey& key) {
    char name[32];
    const char* ext = key.rank == 0 ? "IFO" : key.rank == 11 ? "BUP" : "VOB";
    if (key.set == 0)
        std::snprintf(name, sizeof name, "VIDEO_TS.%s", ext);
    else
        std::snprintf(name, sizeof name, "VTS_%02d_%d.%s", key.set,
                      key.rank == 11  ? 0
                      : key.rank == 0 ? 0
                                      : key.rank - 1,
                      ext);
    return name;
}

std::string systemError(int error) {
    return std::strerror(error);
}

// For a run as root: the symbolic link `*path` must lead to a file directly in the folder (described
// by `folderInfo`); `*path` becomes that file's name in the folder and `*info` its own details.
bool followInside(const std::string& folder, const struct stat& folderInfo, std::string* path, struct stat* info,
                  std::string* error) {
    char* real = realpath(path->c_str(), nullptr);
    if (!real) {
        *error = "Cannot read " + *path + ": " + systemError(errno);
        return false;
    }
    std::string target = real;
    std::free(real);
    const std::size_t slash = target.rfind('/');
    const std::string parent = slash == 0 ? "/" : target.substr(0, slash);
    struct stat parentInfo;
    if (stat(parent.c_str(), &parentInfo) != 0 || parentInfo.st_dev != folderInfo.st_dev ||
        parentInfo.st_ino != folderInfo.st_ino) {
        *error = *path + " is a symbolic link that leads out of " + folder + "; a run as root does not follow it";
        return false;
    }
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    *path = base + target.substr(slash + 1);
    if (lstat(path->c_str(), info) != 0) {
        *error = "Cannot read " + *path + ": " + systemError(errno);
        return false;
    }
    return true;
}

} // namespace

bool SameAsPlanned(int fd, const ImageFile& file, std::string* error) {
    struct stat info;
    if (fstat(fd, &info) != 0) {
        *error = "Cannot read " + file.path + ": " + systemError(errno);
        return false;
    }
    if (static_cast<std::uint64_t>(info.st_dev) != file.device ||
        static_cast<std::uint64_t>(info.st_ino) != file.inode) {
        *error = file.path + " was replaced by another file while the disc was being made";
        return false;
    }
    if (static_cast<std::uint64_t>(info.st_size) != file.size) {
        *error = file.path + " changed size while the disc was being made (" + std::to_string(file.size) +
                 " bytes, now " + std::to_string(static_cast<std::uint64_t>(info.st_size)) + ")";
        return false;
    }
    return true;
}

int OpenPlannedFile(const ImageFile& file, std::string* error) {
    const int fd = open(file.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno == ENOENT ? file.path + " vanished while the disc was being made"
                                 : "Cannot read " + file.path + ": " + systemError(errno);
        return -1;
    }
    if (!SameAsPlanned(fd, file, error)) {
        close(fd);
        return -1;
    }
    return fd;
}

bool ListVideoTsFolder(const std::string& folder, std::vector<ImageFile>* files, std::vector<std::string>* warnings,
                       std::string* error, bool rootRules) {
    files->clear();
    std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    DIR* dir = opendir(base.c_str());
    if (!dir) {
        *error = "Cannot open the folder " + folder + ": " + systemError(errno);
        return false;
    }
    struct stat folderInfo;
    if (fstat(dirfd(dir), &folderInfo) != 0) {
        *error = "Cannot open the folder " + folder + ": " + systemError(errno);
        closedir(dir);
        return false;
    }
    std::map<FileKey, ImageFile> found;
    std::vector<std::string> leftOff;
    bool ok = true;
    // errno tells a failed readdir from the end of the folder; the checks below may leave it set.
    for (errno = 0; dirent* entry = readdir(dir); errno = 0) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        ImageFile file;
        file.name = upper(name);
        file.path = base + name;
        FileKey key;
        struct stat info;
        if (!parseName(file.name, &key)) {
            leftOff.push_back(name + " (not a DVD-Video file)");
            continue;
        }
        if ((rootRules ? lstat(file.path.c_str(), &info) : stat(file.path.c_str(), &info)) != 0) {
            *error = "Cannot read " + file.path + ": " + systemError(errno);
            ok = false;
            break;
        }
        if (S_ISLNK(info.st_mode) && !followInside(folder, folderInfo, &file.path, &info, error)) {
            ok = false;
            break;
        }
        if (!S_ISREG(info.st_mode)) {
            leftOff.push_back(name + " (not a regular file)");
            continue;
        }
        if (rootRules && info.st_uid != folderInfo.st_uid) {
            *error = "Cannot read " + file.path + ": it belongs to user id " + std::to_string(info.st_uid) +
                     ", the folder to user id " + std::to_string(folderInfo.st_uid) +
                     "; a run as root reads only the files of the folder's owner";
            ok = false;
            break;
        }
        auto same = found.find(key);
        if (same != found.end()) {
            *error = "The folder " + folder + " holds both " + same->second.path.substr(base.size()) + " and " + name +
                     ": the same DVD-Video file in different letter case";
            ok = false;
            break;
        }
        file.size = static_cast<std::uint64_t>(info.st_size);
        file.device = static_cast<std::uint64_t>(info.st_dev);
        file.inode = static_cast<std::uint64_t>(info.st_ino);
        found[key] = file;
    }
    if (ok && errno != 0) {
        *error = "Cannot list the folder " + folder + ": " + systemError(errno);
        ok = false;
    }
    closedir(dir);
    if (!ok)
        return false;

    auto missing = [&](const FileKey& key, const std::string& why) {
        *error = nameOf(key) + " is missing from " + folder + why;
        return false;
    };
    if (!found.count({0, 0}))
        return missing({0, 0}, " (it is not a DVD-Video folder)");
    if (!found.count({0, 11}))
        return missing({0, 11}, "");
    int lastSet = found.rbegin()->first.set;
    for (int set = 1; set <= lastSet; ++set) {
        if (!found.count({set, 0}))
            return missing({set, 0}, "");
        if (!found.count({set, 11}))
            return missing({set, 11}, "");
        int lastVob = 10;
        while (lastVob > 2 && !found.count({set, lastVob}))
            --lastVob;
        for (int rank = 2; rank < lastVob; ++rank)
            if (!found.count({set, rank}))
                return missing({set, rank}, ", yet " + nameOf({set, lastVob}) + " follows it");
    }

    for (auto& [key, file] : found) {
        if (file.size > kMaxFileBytes) {
            *error = file.path + " is larger than 1 GiB (" + std::to_string(file.size) + " bytes)";
            return false;
        }
        if (file.size % kSectorSize != 0) {
            *error = file.path + " is not a whole number of 2048-byte sectors (" + std::to_string(file.size) +
                     " bytes): it is damaged or incomplete";
            return false;
        }
        int fd = OpenPlannedFile(file, error);
        if (fd < 0)
            return false;
        close(fd);
        files->push_back(file);
    }
    if (warnings) {
        std::sort(leftOff.begin(), leftOff.end());
        for (const std::string& name : leftOff)
            warnings->push_back("Left off the disc: " + name);
    }
    return true;
}

namespace {

// Reads `size` bytes at `offset` of a file; false with `error` when they are not all there.
bool readAt(const ImageFile& file, std::uint64_t offset, std::uint8_t* buffer, std::size_t size, std::string* error) {
    int fd = OpenPlannedFile(file, error);
    if (fd < 0)
        return false;
    std::size_t got = 0;
    while (got < size) {
        ssize_t n = pread(fd, buffer + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = n < 0 ? "Cannot read " + file.path + ": " + systemError(errno)
                           : file.name + " is too short for the tables its header points at";
            close(fd);
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    return true;
}

// The backup holds the same bytes as its information file (their sizes were compared before).
bool sameBytes(const ImageFile& ifo, const ImageFile& bup, std::string* error) {
    auto differs = [&](std::uint64_t from) {
        *error = bup.name + " differs from " + ifo.name + " from byte " + std::to_string(from) +
                 " on: a backup must be a copy of its information file";
        return false;
    };
    if (ifo.size != bup.size)
        return differs(std::min(ifo.size, bup.size));
    constexpr std::size_t kChunk = 64 * 1024;
    std::vector<std::uint8_t> a(kChunk), b(kChunk);
    for (std::uint64_t at = 0; at < ifo.size; at += kChunk) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, ifo.size - at));
        if (!readAt(ifo, at, a.data(), n, error) || !readAt(bup, at, b.data(), n, error))
            return false;
        if (std::memcmp(a.data(), b.data(), n) != 0) {
            std::size_t i = 0;
            while (a[i] == b[i])
                ++i;
            return differs(at + i);
        }
    }
    return true;
}

std::uint64_t sectorsOf(const ImageFile& file) {
    return (file.size + kSectorSize - 1) / kSectorSize;
}

struct Placed {
    const ImageFile* file = nullptr;
    std::uint64_t sector = 0; // from the start of VIDEO_TS.IFO
};

bool expect(bool holds, const std::string& message, std::string* error) {
    if (!holds)
        *error = message;
    return holds;
}

std::string n(std::uint64_t v) {
    return std::to_string(v);
}

} // namespace

bool CheckVideoTsLayout(const std::vector<ImageFile>& files, std::string* error) {
    std::map<FileKey, Placed> placed;
    std::uint64_t at = 0;
    for (const ImageFile& file : files) {
        FileKey key;
        if (!parseName(file.name, &key))
            return expect(false, file.name + " is not a DVD-Video file", error);
        placed[key] = {&file, at};
        at += sectorsOf(file);
    }
    if (!placed.count({0, 0}) || placed[{0, 0}].sector != 0)
        return expect(false, "VIDEO_TS.IFO must be the first file of the disc", error);

    int sets = 0;
    for (const auto& entry : placed)
        sets = std::max(sets, entry.first.set);

    // Each set: its information file's header against the sizes and places of its files.
    std::vector<std::uint64_t> setStart(static_cast<std::size_t>(sets) + 1);
    std::uint8_t header[kSectorSize];
    std::uint32_t titleTableSector = 0;
    for (int set = 0; set <= sets; ++set) {
        const Placed* ifo = placed.count({set, 0}) ? &placed[{set, 0}] : nullptr;
        const Placed* bup = placed.count({set, 11}) ? &placed[{set, 11}] : nullptr;
        const Placed* menu = placed.count({set, 1}) ? &placed[{set, 1}] : nullptr;
        const Placed* title = placed.count({set, 2}) ? &placed[{set, 2}] : nullptr;
        if (!ifo || !bup)
            return expect(false, nameOf({set, ifo ? 11 : 0}) + " is missing", error);
        const std::string& name = ifo->file->name;
        if (ifo->file->size < kSectorSize)
            return expect(false, name + " is too short to be an information file", error);
        if (!readAt(*ifo->file, 0, header, sizeof header, error))
            return false;
        const char* magic = set == 0 ? "DVDVIDEO-VMG" : "DVDVIDEO-VTS";
        if (std::memcmp(header, magic, 12) != 0)
            return expect(false, name + " does not start with " + magic, error);

        // Where the set's files are: contiguous from its information file to its backup.
        std::uint64_t start = ifo->sector;
        setStart[static_cast<std::size_t>(set)] = start;
        std::uint64_t ifoSectors = sectorsOf(*ifo->file);
        std::uint64_t end = bup->sector + sectorsOf(*bup->file);
        std::uint32_t lastSector = GetBe32(header + 0x0C);
        std::uint32_t lastIfoSector = GetBe32(header + 0x1C);
        std::uint32_t menuStart = GetBe32(header + 0xC0);
        if (!expect(lastIfoSector + std::uint64_t(1) == ifoSectors,
                    name + " says it is " + n(lastIfoSector + std::uint64_t(1)) + " sectors long, but the file has " +
                        n(ifoSectors),
                    error) ||
            !expect(sectorsOf(*bup->file) == ifoSectors,
                    bup->file->name + " is not the same size as " + name + " (" + n(sectorsOf(*bup->file)) + " and " +
                        n(ifoSectors) + " sectors)",
                    error))
            return false;
        if (menu ? menuStart != menu->sector - start : menuStart != 0)
            return expect(false,
                          menu ? name + " places " + menu->file->name + " at sector " + n(menuStart) +
                                     " of its set, but it lies at " + n(menu->sector - start)
                               : name + " promises a menu VOB at sector " + n(menuStart) + ", but there is none",
                          error);
        if (set > 0) {
            std::uint32_t titleStart = GetBe32(header + 0xC4);
            std::uint64_t titleAt = title ? title->sector - start : 0;
            if (title ? titleStart != titleAt : titleStart != 0)
                return expect(false,
                              title ? name + " places its title VOBs at sector " + n(titleStart) +
                                          " of its set, but they start at " + n(titleAt)
                                    : name + " promises title VOBs at sector " + n(titleStart) + ", but there are none",
                              error);
        } else {
            titleTableSector = GetBe32(header + 0xC4);
            std::uint32_t setCount = GetBe16(header + 0x3E);
            if (setCount != static_cast<std::uint32_t>(sets))
                return expect(false, name + " lists " + n(setCount) + " title sets, but the folder holds " + n(sets),
                              error);
        }
        if (!expect(lastSector + std::uint64_t(1) == end - start,
                    name + " says its set ends at sector " + n(lastSector) + ", but the set's files end at " +
                        n(end - start - 1),
                    error))
            return false;
    }

    // The table of titles: the start of each title's set, counted from VIDEO_TS.IFO.
    const ImageFile& manager = *placed[{0, 0}].file;
    std::uint64_t tableOffset = std::uint64_t(titleTableSector) * kSectorSize;
    std::uint8_t tableHeader[8];
    if (titleTableSector == 0 || tableOffset + 8 > manager.size)
        return expect(false, "VIDEO_TS.IFO has no table of titles inside the file", error);
    if (!readAt(manager, tableOffset, tableHeader, 8, error))
        return false;
    std::uint32_t titles = GetBe16(tableHeader);
    if (titles == 0)
        return expect(false, "VIDEO_TS.IFO lists no titles: no player would start the disc", error);
    if (tableOffset + 8 + 12 * std::uint64_t(titles) > manager.size)
        return expect(false, "VIDEO_TS.IFO: its table of titles runs past the end of the file", error);
    std::vector<std::uint8_t> table(12 * std::size_t(titles));
    if (titles > 0 && !readAt(manager, tableOffset + 8, table.data(), table.size(), error))
        return false;
    for (std::uint32_t t = 0; t < titles; ++t) {
        const std::uint8_t* entry = table.data() + 12 * t;
        int set = entry[6];
        std::uint32_t promised = GetBe32(entry + 8);
        if (set < 1 || set > sets)
            return expect(false,
                          "VIDEO_TS.IFO: title " + n(t + 1) + " belongs to title set " + n(set) +
                              ", which the folder does not hold",
                          error);
        if (promised != setStart[static_cast<std::size_t>(set)])
            return expect(false,
                          "VIDEO_TS.IFO places title " + n(t + 1) + " (" + nameOf({set, 0}) + ") at sector " +
                              n(promised) + ", but the title set starts at " +
                              n(setStart[static_cast<std::size_t>(set)]),
                          error);
    }
    // Last, as the faults above name the field at fault: a backup that is not a copy.
    for (int set = 0; set <= sets; ++set)
        if (!sameBytes(*placed[{set, 0}].file, *placed[{set, 11}].file, error))
            return false;
    return true;
}

} // namespace qx::discimage
