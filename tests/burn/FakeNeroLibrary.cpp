// A stand-in for the second burning library, built in variants (version, missing entry points) to
// test the binding and the engine's sequences. Its drives are fixed; the disc, the erase time and
// the burn result come from the environment; every call that changes a disc is traced to the file
// FAKE_NERO_TRACE names.
#include "NeroAPI.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#ifndef FAKE_MINOR
#define FAKE_MINOR 2
#endif

namespace {

void Trace(const std::string& line) {
    if (const char* path = std::getenv("FAKE_NERO_TRACE")) {
        if (FILE* f = std::fopen(path, "a")) {
            std::fprintf(f, "%s\n", line.c_str());
            std::fclose(f);
        }
    }
}

unsigned long EnvNumber(const char* name, unsigned long def) {
    const char* v = std::getenv(name);
    return v ? std::strtoul(v, nullptr, 0) : def;
}

NeroDrive MakeDrive(const char* name, const char* adapter, char letter, int type, uint32_t mask, bool speeds) {
    NeroDrive d{};
    std::snprintf(d.deviceName, sizeof d.deviceName, "%s", name);
    std::memcpy(d.adapterName, adapter, std::strlen(adapter) + 1);
    d.driveLetter = letter;
    d.deviceType = type;
    d.mediaMask = mask;
    if (speeds) {
        d.readSpeeds = {2, 1385, {5540, 22160}};
        d.writeSpeeds = {2, 1385, {5540, 11080}};
    }
    return d;
}

struct FakeDevice {
    int unused;
};

struct FakeDir {
    std::string name;
};

struct FakeFs {
    NeroFileSystem api;
    std::string label, dirs, files;
    FakeDir root{""}, dirStore[4];
    int dirCount = 0;
};

int FsSetName(NeroFileSystem* self, const char* name) {
    reinterpret_cast<FakeFs*>(self)->label = name;
    return 1;
}
NeroFsDirectory* FsRoot(NeroFileSystem* self) {
    return reinterpret_cast<NeroFsDirectory*>(&reinterpret_cast<FakeFs*>(self)->root);
}
NeroFsDirectory* FsAddDirectory(NeroFileSystem* self, NeroFsDirectory*, const char* name, int) {
    auto* fs = reinterpret_cast<FakeFs*>(self);
    fs->dirs += std::string(fs->dirs.empty() ? "" : ",") + name;
    fs->dirStore[fs->dirCount].name = name;
    return reinterpret_cast<NeroFsDirectory*>(&fs->dirStore[fs->dirCount++]);
}
int FsAddFile(NeroFileSystem* self, NeroFsDirectory* dir, const char* name, const char*, int, int) {
    auto* fs = reinterpret_cast<FakeFs*>(self);
    fs->files += std::string(fs->files.empty() ? "" : ",") + reinterpret_cast<FakeDir*>(dir)->name + "/" + name;
    return 1;
}
void FsRelease(NeroFileSystem* self) {
    Trace("release");
    delete reinterpret_cast<FakeFs*>(self);
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int NeroSetExpectedAPIVersion(uint32_t version) {
    return version == 7056;
}

#ifndef FAKE_LEGACY
__attribute__((visibility("default"))) int NeroSetExpectedAPIVersionEx(uint16_t major, uint16_t, uint16_t, uint16_t,
                                                                       void*) {
    return major == 7;
}
__attribute__((visibility("default"))) int NeroGetAPIVersionEx(uint16_t* major, uint16_t* minor, uint16_t* release,
                                                               uint16_t* build, void*) {
    *major = 7;
    *minor = FAKE_MINOR;
    *release = 0;
    *build = 1;
    return 1;
}
#else
__attribute__((visibility("default"))) uint32_t NeroGetAPIVersion(void) {
    return 7200;
}
#endif

__attribute__((visibility("default"))) int NeroInit(const NeroSettings* s, const char*) {
    Trace(std::string("init ") + s->filesPath + " " + s->vendor + " " + s->software + " " + s->languageFile +
          " dialog2=" + std::to_string(s->userDialog(s->userDialogUserData, 2, nullptr)));
    return 0;
}

__attribute__((visibility("default"))) NeroDriveList* NeroGetAvailableDrivesEx(uint32_t mask, void*) {
    const uint32_t n = EnvNumber("FAKE_NERO_NO_DRIVES", 0) ? 0 : 5;
    auto* list = static_cast<NeroDriveList*>(std::calloc(1, sizeof(NeroDriveList) + 5 * sizeof(NeroDrive)));
    list->count = n;
    list->drives = reinterpret_cast<NeroDrive*>(list + 1);
    list->drives[0] = MakeDrive("Image Recorder", "Virtual", 0, 1, mask, true);
    list->drives[1] = MakeDrive("CD Writer", "ide", 'D', 1, 0x1, true);
    list->drives[2] = MakeDrive("DVD Writer A", "ide", 'E', 1, 0x4 | 0x8 | 0x40000, true);
    list->drives[3] = MakeDrive("DVD Reader", "ide", 'F', 2, 0xC, true);
    list->drives[4] = MakeDrive("DVD Writer B", "usb", 0, 1, 0x8, false);
    return list;
}

__attribute__((visibility("default"))) NeroDeviceHandle* NeroOpenDevice(const NeroDrive* drive) {
    Trace(std::string("open ") + drive->deviceName);
    return reinterpret_cast<NeroDeviceHandle*>(new FakeDevice{});
}

__attribute__((visibility("default"))) void NeroCloseDevice(NeroDeviceHandle* device) {
    Trace("close");
    delete reinterpret_cast<FakeDevice*>(device);
}

#ifndef FAKE_NO_DISC_INFO
__attribute__((visibility("default"))) NeroDiscInfo* NeroGetCDInfo(NeroDeviceHandle*, uint32_t) {
    const uint32_t tracks = static_cast<uint32_t>(EnvNumber("FAKE_NERO_TRACKS", 1));
    auto* info = static_cast<NeroDiscInfo*>(std::calloc(1, sizeof(NeroDiscInfo) + 4 * sizeof(NeroTrack)));
    info->mediaType = static_cast<uint32_t>(EnvNumber("FAKE_NERO_MEDIA", 0x1004));
    info->freeBlocks = static_cast<uint32_t>(EnvNumber("FAKE_NERO_FREE", 2295104));
    info->trackCount = tracks > 4 ? 4 : tracks;
    info->tracks = reinterpret_cast<NeroTrack*>(info + 1);
    for (uint32_t i = 0; i < info->trackCount; ++i) {
        info->tracks[i] = {i * 1024, 1024};
    }
    return info;
}
#endif

__attribute__((visibility("default"))) int NeroGetDiscErasingTime(NeroDeviceHandle*, int mode, uint32_t speed) {
    Trace("erasetime " + std::to_string(mode) + " " + std::to_string(speed));
    return static_cast<int>(static_cast<long>(EnvNumber("FAKE_NERO_ERASE_TIME", 30)));
}

__attribute__((visibility("default"))) int NeroEraseDisc(NeroDeviceHandle*, int mode, uint32_t flags) {
    Trace("erase " + std::to_string(mode) + " " + std::to_string(flags));
    return static_cast<int>(EnvNumber("FAKE_NERO_ERASE_RESULT", 0));
}

__attribute__((visibility("default"))) NeroFileSystem* NeroCreateFileSystemContainer(void*) {
    auto* fs = new FakeFs;
    fs->api = {FsSetName, FsRoot, FsAddDirectory, FsAddFile, FsRelease};
    return &fs->api;
}

#ifndef FAKE_NO_BURN
__attribute__((visibility("default"))) int NeroBurn(NeroDeviceHandle*, int type, const NeroBurnRecord* record,
                                                    uint32_t flags, uint32_t speed, const NeroProgress* p) {
    auto* fs = reinterpret_cast<FakeFs*>(record->fileSystem);
    Trace("burn " + std::to_string(type) + " flags=" + std::to_string(flags) + " speed=" + std::to_string(speed) +
          " media=" + std::to_string(record->mediaType) + " record=" + std::to_string(record->flags) +
          " label=" + fs->label + " dirs=" + fs->dirs + " files=" + fs->files);
    p->setMajorPhase(p->userData, NERO_PHASE_WRITING, nullptr);
    const unsigned long stepMs = EnvNumber("FAKE_NERO_STEP_MS", 20);
    for (uint32_t percent = 0; percent <= 100; percent += 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
        if (p->progress(p->userData, percent) || p->aborted(p->userData)) {
            Trace("aborted at " + std::to_string(percent));
            return NERO_BURN_USER_ABORT;
        }
    }
    return static_cast<int>(EnvNumber("FAKE_NERO_BURN_RESULT", 0));
}
#endif

__attribute__((visibility("default"))) char* NeroGetErrorLog(void) {
    return strdup("fake log");
}
__attribute__((visibility("default"))) void NeroFreeMem(void* memory) {
    std::free(memory);
}
__attribute__((visibility("default"))) void NeroClearErrors(void) {}
__attribute__((visibility("default"))) int NeroDone(void) {
    Trace("done");
    return 0;
}
}
