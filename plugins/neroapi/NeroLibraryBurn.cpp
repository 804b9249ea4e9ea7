// The second burning library's file-system container and burn: the container names the disc's
// files (AUDIO_TS empty, VIDEO_TS the files of one DVD-Video folder); the burn writes that folder's
// DVD-Video disc image as one track, with the caller's progress and abort callbacks.
#include "NeroLibrary.h"

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#define NERO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr size_t kLabelLimit = 32;

struct Directory {
    std::string name;
    Directory* parent = nullptr;
    std::vector<std::pair<std::string, std::string>> files; // name, path
};

struct FileSystem {
    NeroFileSystem api; // first: the caller holds a pointer to it
    std::string label;
    std::vector<std::unique_ptr<Directory>> directories; // [0] is the root
    bool refused = false;                                // a bad entry was given
};

FileSystem* Self(NeroFileSystem* fs) {
    return reinterpret_cast<FileSystem*>(fs);
}
Directory* Dir(NeroFsDirectory* d) {
    return reinterpret_cast<Directory*>(d);
}

bool Owns(FileSystem* fs, Directory* dir) {
    for (const auto& d : fs->directories) {
        if (d.get() == dir) {
            return true;
        }
    }
    return false;
}

bool PlainName(const char* name) {
    const std::string n = name ? name : "";
    return !n.empty() && n != "." && n != ".." && n.find('/') == std::string::npos;
}

int SetName(NeroFileSystem* self, const char* name) {
    const std::string label = name ? name : "";
    if (label.size() > kLabelLimit) {
        Self(self)->refused = true;
        qx::neroapi::AddError("disc label longer than 32 bytes: " + label);
        return 0;
    }
    Self(self)->label = label;
    return 1;
}

NeroFsDirectory* Root(NeroFileSystem* self) {
    return reinterpret_cast<NeroFsDirectory*>(Self(self)->directories[0].get());
}

NeroFsDirectory* AddDirectory(NeroFileSystem* self, NeroFsDirectory* parent, const char* name, int) {
    FileSystem* fs = Self(self);
    if (!Owns(fs, Dir(parent)) || !PlainName(name)) {
        fs->refused = true;
        return nullptr;
    }
    fs->directories.push_back(std::make_unique<Directory>(Directory{name, Dir(parent), {}}));
    return reinterpret_cast<NeroFsDirectory*>(fs->directories.back().get());
}

int AddFile(NeroFileSystem* self, NeroFsDirectory* parent, const char* name, const char* path, int, int) {
    FileSystem* fs = Self(self);
    if (!Owns(fs, Dir(parent)) || !PlainName(name) || !path || !*path) {
        fs->refused = true;
        return 0;
    }
    Dir(parent)->files.emplace_back(name, path);
    return 1;
}

void Release(NeroFileSystem* self) {
    delete Self(self);
}

// The one DVD-Video folder the tree describes: VIDEO_TS and AUDIO_TS at the root, AUDIO_TS empty,
// and every VIDEO_TS file taken under its own name from one folder. Empty with `error` otherwise.
std::string VideoFolder(const FileSystem& fs, std::string* error) {
    std::string folder;
    bool sawVideo = false;
    for (const auto& d : fs.directories) {
        if (d.get() == fs.directories[0].get()) {
            if (!d->files.empty()) {
                *error = "files at the root of a DVD-Video disc";
                return {};
            }
            continue;
        }
        if (d->parent != fs.directories[0].get() || (d->name != "VIDEO_TS" && d->name != "AUDIO_TS")) {
            *error = "directory " + d->name + " has no place on a DVD-Video disc";
            return {};
        }
        if (d->name == "AUDIO_TS") {
            if (!d->files.empty()) {
                *error = "files in AUDIO_TS";
                return {};
            }
            continue;
        }
        sawVideo = true;
        for (const auto& [name, path] : d->files) {
            const size_t slash = path.rfind('/');
            const std::string dir = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
            const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
            if (base != name || (!folder.empty() && dir != folder)) {
                *error = "VIDEO_TS file " + path + " is not a file of one DVD-Video folder";
                return {};
            }
            folder = dir;
        }
    }
    if (!sawVideo || folder.empty()) {
        *error = "no VIDEO_TS files";
        return {};
    }
    return folder;
}

int BurnResult(long code) {
    switch (code) {
    case EN_SUCCESS:
        return NERO_BURN_OK;
    case EN_CANCELLED:
        return NERO_BURN_USER_ABORT;
    case EN_NOT_READY:
    case EN_NOT_SUPPORTED:
        return NERO_BURN_BAD_MEDIA;
    case EN_NO_SPACE:
        return NERO_BURN_NO_SPACE;
    case EN_IMAGE_FAILURE:
        return NERO_BURN_BAD_SOURCE;
    case EN_VERIFY_FAILURE:
    case EN_READ_FAILURE:
        return NERO_BURN_VERIFY_FAILED;
    default:
        return NERO_BURN_FAILED;
    }
}

struct ImageGuard {
    StarBurnDvdVideo* image = nullptr;
    ~ImageGuard() {
        if (image) {
            StarBurn_DVDVideo_Destroy(image);
        }
    }
};

void Phase(const NeroProgress* p, int phase) {
    if (p && p->setMajorPhase) {
        p->setMajorPhase(p->userData, phase, nullptr);
    }
}

} // namespace

NERO_EXPORT NeroFileSystem* NeroCreateFileSystemContainer(void*) {
    auto* fs = new FileSystem;
    fs->api = {SetName, Root, AddDirectory, AddFile, Release};
    fs->directories.push_back(std::make_unique<Directory>());
    return &fs->api;
}

NERO_EXPORT int NeroBurn(NeroDeviceHandle* device, int type, const NeroBurnRecord* record, uint32_t flags,
                         uint32_t speedKBs, const NeroProgress* progress) {
    if (!device || !record || !record->fileSystem || type != NERO_BURN_TYPE_FILE_SYSTEM) {
        qx::neroapi::AddError("burn: no device, no files, or a burn type other than a file system");
        return NERO_BURN_FAILED;
    }
    const FileSystem& fs = *Self(record->fileSystem);
    std::string error;
    const std::string folder = fs.refused ? std::string() : VideoFolder(fs, &error);
    if (folder.empty()) {
        qx::neroapi::AddError("burn: " + (fs.refused ? std::string("the file system refused an entry") : error));
        return NERO_BURN_BAD_SOURCE;
    }
    Phase(progress, NERO_PHASE_PREPARING);
    char text[1024] = {};
    unsigned long status = 0;
    ImageGuard image;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    long code = StarBurn_DVDVideo_Create(&image.image, folder.c_str(), true, text, sizeof text, &status,
                                         fs.label.c_str(), "", "", local.tm_year + 1900, local.tm_mon + 1,
                                         local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, 0);
    if (code != EN_SUCCESS) {
        qx::neroapi::Failure("disc image", code, text);
        return NERO_BURN_BAD_SOURCE;
    }
    if (speedKBs) {
        StarBurn_CdvdBurnerGrabber_SetSpeeds(device->grabber, text, sizeof text, &status, 65535, speedKBs);
    }
    StarBurnTree* tree = nullptr;
    StarBurn_DVDVideo_GetTreePointer(image.image, &tree);
    device->progress = progress;
    device->cancelled = false;
    device->lastPercent = -1;
    Phase(progress, NERO_PHASE_WRITING);
    const bool close = (flags & NERO_BURN_FLAG_CLOSE_DISC) != 0;
    code = StarBurn_CdvdBurnerGrabber_TrackAtOnceFromTree(device->grabber, text, sizeof text, &status, tree, close,
                                                          false, false, true, 5);
    if (code == EN_SUCCESS && close) {
        code = StarBurn_CdvdBurnerGrabber_CloseSession(device->grabber, text, sizeof text, &status);
        if (code != EN_SUCCESS) {
            qx::neroapi::Failure("close session", code, text);
        }
    } else if (code != EN_SUCCESS) {
        qx::neroapi::Failure("write", code, text);
    }
    if (code == EN_SUCCESS && (flags & NERO_BURN_FLAG_VERIFY) && !device->cancelled) {
        // The read-back: its progress counts from 0 again, and the caller may abort it as the write.
        device->lastPercent = -1;
        Phase(progress, NERO_PHASE_VERIFYING);
        uint64_t firstBad = 0;
        code = StarBurn_CdvdBurnerGrabber_VerifyTrack(device->grabber, text, sizeof text, &status, tree, &firstBad);
        if (code != EN_SUCCESS && code != EN_CANCELLED) {
            qx::neroapi::AddError(std::string("verify: ") + text);
        }
    }
    device->progress = nullptr;
    if (device->cancelled && code != EN_SUCCESS) {
        code = EN_CANCELLED;
    }
    Phase(progress, NERO_PHASE_DONE);
    return BurnResult(code);
}
