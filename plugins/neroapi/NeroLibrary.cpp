// The second burning library: version hand-shake, start and end, drive list, devices, disc
// information and erasing, over the built-in engine's burning library (libburn for real writers,
// the virtual writers of writers.ini). Its own image recorder is not offered: virtual writers
// carry the adapter name "Image".
#include "NeroLibrary.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#define NERO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr uint32_t kDvdBaseKBs = 1385;
constexpr int kQuickEraseSeconds = 60;

std::mutex g_mutex; // the error log and the start count
std::string g_errorLog;
NeroSettings g_settings{};
bool g_bStarted = false;

uint32_t AddressId(const SCSI_DEVICE_ADDRESS& a) {
    return static_cast<uint32_t>(a.port) << 24 | static_cast<uint32_t>(a.bus) << 16 |
           static_cast<uint32_t>(a.target) << 8 | a.lun;
}

SCSI_DEVICE_ADDRESS AddressOf(uint32_t id) {
    SCSI_DEVICE_ADDRESS a;
    a.port = static_cast<uint8_t>(id >> 24);
    a.bus = static_cast<uint8_t>(id >> 16);
    a.target = static_cast<uint8_t>(id >> 8);
    a.lun = static_cast<uint8_t>(id);
    return a;
}

void FoundCallback(long event, void* context, void* param1, void*) {
    if (event == CN_DEVICE_FOUND && param1) {
        static_cast<std::vector<SCSI_DEVICE_ADDRESS>*>(context)->push_back(
            *static_cast<const SCSI_DEVICE_ADDRESS*>(param1));
    }
}

// The writer's events during a write and its read-back: progress and the abort question.
void WriterCallback(long event, void* context, void* param1, void* param2) {
    auto* device = static_cast<NeroDeviceHandle*>(context);
    const NeroProgress* p = device ? device->progress : nullptr;
    if (!p || (event != CN_CDVD_WRITE_PROGRESS && event != CN_VERIFY_PROGRESS) || !param1 || !param2) {
        return;
    }
    const int64_t total = *static_cast<const int64_t*>(param1);
    const int64_t written = *static_cast<const int64_t*>(param2);
    const int percent = total > 0 ? static_cast<int>(written * 100 / total) : 0;
    bool abort = false;
    if (percent != device->lastPercent && p->progress) {
        device->lastPercent = percent;
        abort = p->progress(p->userData, static_cast<uint32_t>(percent)) != 0;
    }
    if (!abort && p->aborted) {
        abort = p->aborted(p->userData) != 0;
    }
    if (abort && !device->cancelled.exchange(true)) {
        StarBurn_CdvdBurnerGrabber_Cancel(device->grabber);
    }
}

std::string Trimmed(const char* text) {
    std::string s(text);
    while (!s.empty() && s.back() == ' ') {
        s.pop_back();
    }
    return s;
}

CDVD_BURNER_GRABBER Grab(const SCSI_DEVICE_ADDRESS& a, void* context) {
    CDVD_BURNER_GRABBER grabber = nullptr;
    char text[1024] = {};
    unsigned long status = 0;
    const long code = StarBurn_CdvdBurnerGrabber_Create(&grabber, text, sizeof text, &status, WriterCallback, context,
                                                        a.port, a.bus, a.target, a.lun, 0);
    if (code != EN_SUCCESS) {
        qx::neroapi::Failure("open writer", code, text);
        return nullptr;
    }
    return grabber;
}

// The drive record of one writer; false when it cannot be asked.
bool Describe(const SCSI_DEVICE_ADDRESS& a, NeroDrive* d) {
    CDVD_BURNER_GRABBER grabber = Grab(a, nullptr);
    if (!grabber) {
        return false;
    }
    char vendor[1024] = {}, product[1024] = {}, revision[1024] = {}, text[1024] = {};
    unsigned long cache = 0, status = 0;
    StarBurn_CdvdBurnerGrabber_GetDeviceInformation(grabber, vendor, product, revision, &cache);
    STARBURN_ADVANCED_SUPPORTED_MEDIA_FORMATS w;
    StarBurn_CdvdBurnerGrabber_GetAdvancedSupportedMediaFormats(grabber, text, sizeof text, &status, &w);
    STARBURN_SUPPORTED_MEDIA_FORMATS basic{};
    StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormats(grabber, text, sizeof text, &status, &basic);
    unsigned long curRead = 0, maxRead = 0, curWrite = 0, maxWrite = 0;
    StarBurn_CdvdBurnerGrabber_GetSpeeds(grabber, text, sizeof text, &status, &curRead, &maxRead, &curWrite, &maxWrite);
    StarBurn_Destroy(&grabber);

    *d = NeroDrive{};
    std::snprintf(d->deviceName, sizeof d->deviceName, "%s", Trimmed(product).c_str());
    std::snprintf(d->adapterName, sizeof d->adapterName, "%s", a.port == kStarBurnVirtualPort ? "Image" : "SCSI");
    d->mediaMask = (w.writeDvdR || w.writeDvdRw || w.writeDvdRDl ? NERO_MEDIA_DVD_M : 0u) |
                   (w.writeDvdPlusR || w.writeDvdPlusRw || w.writeDvdPlusRDl ? NERO_MEDIA_DVD_P : 0u) |
                   (w.writeDvdRDl || w.writeDvdPlusRDl ? NERO_MEDIA_DVD_P_R9 : 0u) |
                   (basic.writeCdR ? NERO_MEDIA_CD : 0u);
    d->deviceType = d->mediaMask ? NERO_DEVICE_RECORDER : NERO_DEVICE_READER;
    d->readSpeeds.baseKBs = d->writeSpeeds.baseKBs = kDvdBaseKBs;
    if (maxRead) {
        d->readSpeeds.count = 1;
        d->readSpeeds.speedsKBs[0] = static_cast<uint32_t>(maxRead);
    }
    if (maxWrite && d->deviceType == NERO_DEVICE_RECORDER) {
        d->writeSpeeds.count = 1;
        d->writeSpeeds.speedsKBs[0] = static_cast<uint32_t>(maxWrite);
    }
    d->driveId = AddressId(a);
    return true;
}

// Disc type codes of the burning library → media types.
uint32_t MediaType(int discType) {
    switch (discType) {
    case 14:
        return 0;
    case 5:
        return NERO_MEDIA_DVD_M | NERO_MEDIA_DVD_M_R;
    case 7:
    case 8:
        return NERO_MEDIA_DVD_M | NERO_MEDIA_DVD_M_RW;
    case 13:
        return NERO_MEDIA_DVD_P | NERO_MEDIA_DVD_P_R;
    case 9:
        return NERO_MEDIA_DVD_P | NERO_MEDIA_DVD_P_RW;
    case 15:
        return NERO_MEDIA_DVD_P_R9;
    case 16:
        return NERO_MEDIA_DVD_M_R9;
    case 6:
        return NERO_MEDIA_DVD_RAM;
    default:
        return NERO_MEDIA_CD; // CD and read-only kinds: nothing this program writes
    }
}

} // namespace

namespace qx::neroapi {

const NeroSettings& Settings() {
    return g_settings;
}

void AddError(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_errorLog += line + "\n";
}

long Failure(const char* call, long code, const char* text) {
    char line[1400];
    std::snprintf(line, sizeof line, "%s failed: %s (exception %ld)", call, text ? text : "", code);
    AddError(line);
    return code;
}

} // namespace qx::neroapi

using qx::neroapi::Failure;

NERO_EXPORT int NeroSetExpectedAPIVersionEx(uint16_t major, uint16_t, uint16_t, uint16_t, void*) {
    return major == 7 ? 1 : 0;
}

NERO_EXPORT int NeroSetExpectedAPIVersion(uint32_t version) {
    return version / 1000 == 7 ? 1 : 0;
}

NERO_EXPORT int NeroGetAPIVersionEx(uint16_t* major, uint16_t* minor, uint16_t* release, uint16_t* build, void*) {
    *major = 7;
    *minor = 2;
    *release = 0;
    *build = 0;
    return 1;
}

NERO_EXPORT int NeroInit(const NeroSettings* settings, const char*) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (settings) {
        g_settings = *settings;
        g_settings.filesPath = g_settings.vendor = g_settings.software = g_settings.languageFile = nullptr;
    }
    if (!g_bStarted) {
        // libburn is the process's: the program's own engine may still use it after NeroDone.
        StarBurn_SetEndsLibburn(false);
        char block[1028] = {};
        if (StarBurn_UpStartEx(block, sizeof block) != EN_SUCCESS) {
            g_errorLog += "the burning library did not start\n";
            return 1;
        }
        g_bStarted = true;
    }
    return 0;
}

NERO_EXPORT int NeroDone(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_bStarted) {
        StarBurn_DownShut();
        g_bStarted = false;
    }
    g_settings = NeroSettings{};
    return 0;
}

NERO_EXPORT NeroDriveList* NeroGetAvailableDrivesEx(uint32_t mediaMask, void*) {
    if (!g_bStarted) {
        qx::neroapi::AddError("drive list asked before NeroInit");
        return nullptr;
    }
    std::vector<SCSI_DEVICE_ADDRESS> found;
    const long code = StarBurn_FindDevice(5, 0, FoundCallback, &found);
    if (code != EN_SUCCESS && found.empty()) {
        Failure("drive discovery", code, "");
        return nullptr;
    }
    std::vector<NeroDrive> drives;
    for (const SCSI_DEVICE_ADDRESS& a : found) {
        NeroDrive d;
        if (Describe(a, &d) && (d.mediaMask & mediaMask)) {
            d.driveLetter = drives.size() < 23 ? static_cast<char>('D' + drives.size()) : 0;
            drives.push_back(d);
        }
    }
    // One block: the list, then its records.
    auto* list = static_cast<NeroDriveList*>(std::calloc(1, sizeof(NeroDriveList) + drives.size() * sizeof(NeroDrive)));
    if (!list) {
        return nullptr;
    }
    list->count = static_cast<uint32_t>(drives.size());
    list->drives = reinterpret_cast<NeroDrive*>(list + 1);
    std::copy(drives.begin(), drives.end(), list->drives);
    return list;
}

NERO_EXPORT NeroDeviceHandle* NeroOpenDevice(const NeroDrive* drive) {
    if (!drive || !g_bStarted) {
        return nullptr;
    }
    auto* device = new NeroDeviceHandle;
    device->address = AddressOf(drive->driveId);
    device->grabber = Grab(device->address, device);
    if (!device->grabber) {
        delete device;
        return nullptr;
    }
    return device;
}

NERO_EXPORT void NeroCloseDevice(NeroDeviceHandle* device) {
    if (device) {
        StarBurn_Destroy(&device->grabber);
        delete device;
    }
}

NERO_EXPORT NeroDiscInfo* NeroGetCDInfo(NeroDeviceHandle* device, uint32_t) {
    if (!device) {
        return nullptr;
    }
    char text[1024] = {};
    unsigned long status = 0;
    const uint32_t mediaType = MediaType(StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(device->grabber));
    std::vector<NeroTrack> tracks;
    uint32_t freeBlocks = 0;
    if (mediaType != 0) {
        STARBURN_TRACK_INFORMATION next;
        if (StarBurn_CdvdBurnerGrabber_GetTrackInformation(device->grabber, text, sizeof text, &status, 255, &next) ==
            EN_SUCCESS) {
            freeBlocks = next.freeLBs;
        }
        STARBURN_DISC_INFORMATION disc;
        STARBURN_TOC_INFORMATION toc;
        if (StarBurn_CdvdBurnerGrabber_GetDiscInformation(device->grabber, text, sizeof text, &status, &disc) ==
                EN_SUCCESS &&
            disc.discStatus != 0 &&
            StarBurn_CdvdBurnerGrabber_GetTOCInformation(device->grabber, text, sizeof text, &status, &toc) ==
                EN_SUCCESS &&
            toc.isValid) {
            // Recorded tracks, then (appendable discs) the invisible track, then the lead-out.
            const int recorded = toc.tracks - 1 - (disc.discStatus == 1 ? 1 : 0);
            for (int i = 0; i < recorded && i + 1 < 101; ++i) {
                tracks.push_back({toc.startLBA[i], toc.startLBA[i + 1] - toc.startLBA[i]});
            }
        }
    }
    auto* info = static_cast<NeroDiscInfo*>(std::calloc(1, sizeof(NeroDiscInfo) + tracks.size() * sizeof(NeroTrack)));
    if (!info) {
        return nullptr;
    }
    info->mediaType = mediaType;
    info->freeBlocks = freeBlocks;
    info->trackCount = static_cast<uint32_t>(tracks.size());
    info->tracks = reinterpret_cast<NeroTrack*>(info + 1);
    std::copy(tracks.begin(), tracks.end(), info->tracks);
    return info;
}

namespace {

// 0 when the inserted disc can be erased in this writer, else the erase-time refusal.
int EraseCheck(NeroDeviceHandle* device) {
    const int type = StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(device->grabber);
    if (type == 14) {
        return NERO_ERASE_NO_DISC;
    }
    char text[1024] = {};
    unsigned long status = 0;
    STARBURN_ADVANCED_SUPPORTED_MEDIA_FORMATS w;
    StarBurn_CdvdBurnerGrabber_GetAdvancedSupportedMediaFormats(device->grabber, text, sizeof text, &status, &w);
    if (!w.writeDvdRw && !w.writeDvdPlusRw) {
        return NERO_ERASE_NOT_SUPPORTED;
    }
    if (!((type == 7 || type == 8) && w.writeDvdRw) && !(type == 9 && w.writeDvdPlusRw)) {
        return NERO_ERASE_NOT_REWRITABLE;
    }
    return 0;
}

} // namespace

NERO_EXPORT int NeroGetDiscErasingTime(NeroDeviceHandle* device, int mode, uint32_t speedKBs) {
    if (!device) {
        return NERO_ERASE_NO_DISC;
    }
    if (const int refusal = EraseCheck(device)) {
        return refusal;
    }
    if (mode == 1 || speedKBs == 0) {
        return kQuickEraseSeconds;
    }
    // A full erase writes the whole disc once.
    return static_cast<int>(2295104ull * 2 / speedKBs) + kQuickEraseSeconds;
}

NERO_EXPORT int NeroEraseDisc(NeroDeviceHandle* device, int mode, uint32_t) {
    if (!device) {
        return EN_INVALID_PARAMETER;
    }
    if (const int refusal = EraseCheck(device)) {
        qx::neroapi::AddError("erase refused: the disc is not rewritable in this writer");
        return refusal;
    }
    // The idle callback may ask to stop: it is polled beside the blank, which it cancels.
    std::atomic<bool> running{true};
    std::thread watcher([&] {
        const NeroSettings& s = qx::neroapi::Settings();
        while (running) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (running && s.idle && s.idle(s.idleUserData) && !device->cancelled.exchange(true)) {
                StarBurn_CdvdBurnerGrabber_Cancel(device->grabber);
            }
        }
    });
    char text[1024] = {};
    unsigned long status = 0;
    const long code = StarBurn_CdvdBurnerGrabber_Blank(device->grabber, text, sizeof text, &status, mode == 1);
    running = false;
    watcher.join();
    if (code != EN_SUCCESS) {
        Failure("erase", code, text);
    }
    return static_cast<int>(code);
}

NERO_EXPORT char* NeroGetErrorLog(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_errorLog.empty() ? nullptr : strdup(g_errorLog.c_str());
}

NERO_EXPORT void NeroClearErrors(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_errorLog.clear();
}

NERO_EXPORT void NeroFreeMem(void* memory) {
    std::free(memory);
}
