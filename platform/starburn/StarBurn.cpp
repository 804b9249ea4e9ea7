// The burner calls over the two kinds of writer: start-up, discovery by address, handles, queries
// answered from one look at the drive, and the long calls (write, blank) that may be cancelled.
#include "StarBurn.h"
#include "StarBurnDrive.h"

#include <libburn/libburn.h>
using namespace burn;

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

using namespace qx::starburn;

struct StarBurnGrabber {
    std::unique_ptr<Drive> drive;
    STARBURN_CALLBACK callback = nullptr;
    void* context = nullptr;
    bool haveIdentity = false;
    DriveIdentity identity;
    bool haveMedia = false;
    MediaSnapshot media;
    unsigned long readSpeed = 0, writeSpeed = 0; // set by SetSpeeds; 0: the drive's maximum
    bool bupEnabled = true;
    ActiveDrive active;
};

namespace {

struct DeviceEntry {
    SCSI_DEVICE_ADDRESS address;
    std::string name; // device path or "V<n>"
    bool isVirtual = false;
    VirtualWriterConfig config;
    std::string file;
};

std::mutex g_tableMutex; // the device table and the handle set
std::vector<DeviceEntry> g_devices;
std::set<StarBurnGrabber*> g_handles;
int g_nStarts = 0;
std::atomic<bool> g_bEndsLibburn{true};
std::atomic<int> g_nBusy{0}; // writes and blanks running
bool g_bFastToc = false;

long Report(const CallResult& r, char* text, unsigned long textSize, unsigned long* status) {
    if (text && textSize) {
        std::snprintf(text, textSize, "%s", r.text.c_str());
    }
    if (status) {
        *status = r.status;
    }
    return r.code;
}

bool SameAddress(const SCSI_DEVICE_ADDRESS& a, uint8_t port, uint8_t bus, uint8_t target, uint8_t lun) {
    return a.port == port && a.bus == bus && a.target == target && a.lun == lun;
}

const MediaSnapshot* Media(CDVD_BURNER_GRABBER h, CallResult* why) {
    if (!h->haveMedia) {
        const CallResult r = h->drive->Snapshot(&h->media);
        if (r.code != EN_SUCCESS) {
            *why = r;
            return nullptr;
        }
        h->haveMedia = true;
    }
    return &h->media;
}

// Runs `use` on the disc's facts and reports what it returns, or reports why there are none.
template <class Use>
long WithMedia(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize, unsigned long* status, Use use) {
    CallResult why;
    const MediaSnapshot* m = Media(h, &why);
    return Report(m ? use(*m) : why, text, textSize, status);
}

const DriveIdentity& Identity(CDVD_BURNER_GRABBER h) {
    if (!h->haveIdentity) {
        h->identity = h->drive->Identity();
        h->haveIdentity = true;
    }
    return h->identity;
}

bool Supports(const DriveIdentity& id, int profile) {
    return std::find(id.profiles.begin(), id.profiles.end(), profile) != id.profiles.end();
}

// The achieved speed for a request: the highest listed speed not above it (65535 and 0: the
// highest), or the lowest listed speed when all are above.
unsigned long Achieved(const std::vector<unsigned long>& list, unsigned long maxSpeed, unsigned long requested) {
    if (list.empty()) {
        return requested == 0 || requested == 65535 ? maxSpeed : std::min(requested, maxSpeed ? maxSpeed : requested);
    }
    if (requested == 0 || requested == 65535) {
        return list.back();
    }
    unsigned long best = list.front();
    for (unsigned long s : list) {
        if (s <= requested) {
            best = s;
        }
    }
    return best;
}

// Counts a running write or blank (discovery waits for none).
struct BusyScope {
    BusyScope() { ++g_nBusy; }
    ~BusyScope() { --g_nBusy; }
};

} // namespace

std::mutex& qx::starburn::LibburnLock() {
    static std::mutex m;
    return m;
}

long StarBurn_UpStartEx(void*, unsigned long) {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    if (g_nStarts == 0) {
        // No signal handlers are installed (burn_set_signal_handling is never called): a crash stays a crash.
        if (!burn_initialize()) {
            return EN_NOT_INITIALIZED;
        }
        burn_msgs_set_severities(const_cast<char*>("ALL"), const_cast<char*>("NEVER"), const_cast<char*>(""));
    }
    ++g_nStarts;
    return EN_SUCCESS;
}

void StarBurn_DownShut() {
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        if (g_nStarts == 0 || --g_nStarts > 0) {
            return;
        }
        for (StarBurnGrabber* h : g_handles) {
            h->active.Cancel();
        }
    }
    for (int i = 0; i < 600 && g_nBusy > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::lock_guard<std::mutex> lock(LibburnLock());
    g_devices.clear();
    if (g_bEndsLibburn) {
        burn_finish();
    }
}

void StarBurn_SetEndsLibburn(bool ends) {
    g_bEndsLibburn = ends;
}

long StarBurn_FindDevice(int, int, STARBURN_CALLBACK callback, void* context) {
    std::vector<DeviceEntry> devices;
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        if (g_nStarts == 0) {
            return EN_NOT_INITIALIZED;
        }
    }
    {
        std::lock_guard<std::mutex> lock(LibburnLock());
        if (g_nBusy > 0) {
            return EN_BUSY;
        }
        std::vector<FoundDrive> found;
        const CallResult scanned = ScanRealDrives(&found);
        if (scanned.code != EN_SUCCESS) {
            return scanned.code;
        }
        for (const FoundDrive& f : found) {
            DeviceEntry e;
            e.address = f.address;
            e.name = f.path;
            devices.push_back(e);
        }
    }
    const std::string file = VirtualWritersFile();
    for (const VirtualWriterConfig& w : ReadVirtualWriters(file)) {
        if (!w.error.empty()) {
            continue; // an unusable section is not a writer
        }
        DeviceEntry e;
        e.address.port = kStarBurnVirtualPort;
        e.address.target = static_cast<uint8_t>(w.number);
        e.name = "V" + std::to_string(w.number);
        e.isVirtual = true;
        e.config = w;
        e.file = file;
        devices.push_back(e);
    }
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        g_devices = devices;
    }
    for (DeviceEntry& e : devices) {
        if (callback) {
            callback(CN_DEVICE_FOUND, context, &e.address, nullptr);
        }
    }
    return EN_SUCCESS;
}

long StarBurn_GetDeviceNameByDeviceAddress(uint8_t port, uint8_t bus, uint8_t target, uint8_t lun, char* name) {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    for (const DeviceEntry& e : g_devices) {
        if (SameAddress(e.address, port, bus, target, lun)) {
            std::snprintf(name, 1024, "%s", e.name.c_str());
            return EN_SUCCESS;
        }
    }
    return EN_NO_DEVICE;
}

long StarBurn_CdvdBurnerGrabber_Create(CDVD_BURNER_GRABBER* handle, char* text, unsigned long textSize,
                                       unsigned long* status, STARBURN_CALLBACK callback, void* context, uint8_t port,
                                       uint8_t bus, uint8_t target, uint8_t lun, unsigned long) {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    *handle = nullptr;
    if (g_nStarts == 0) {
        return Report(CallResult::Fail(EN_NOT_INITIALIZED, "the library is not started"), text, textSize, status);
    }
    for (const DeviceEntry& e : g_devices) {
        if (SameAddress(e.address, port, bus, target, lun)) {
            auto h = std::make_unique<StarBurnGrabber>();
            h->drive = e.isVirtual ? MakeVirtualDrive(e.config, e.file) : MakeRealDrive(e.name);
            h->callback = callback;
            h->context = context;
            *handle = h.release();
            g_handles.insert(*handle);
            return Report({}, text, textSize, status);
        }
    }
    char address[64];
    std::snprintf(address, sizeof address, "%u:%u:%u:%u", port, bus, target, lun);
    return Report(CallResult::Fail(EN_NO_DEVICE, std::string("no writer at ") + address), text, textSize, status);
}

void StarBurn_Destroy(CDVD_BURNER_GRABBER* handle) {
    if (!handle || !*handle) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        g_handles.erase(*handle);
    }
    delete *handle;
    *handle = nullptr;
}

long StarBurn_CdvdBurnerGrabber_TestUnitReady(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize,
                                              unsigned long* status) {
    h->haveMedia = false; // a fresh look: the disc may have changed
    return WithMedia(h, text, textSize, status, [&](const MediaSnapshot& m) {
        if (!m.ready) {
            return CallResult::Fail(EN_NOT_READY, !m.notReady.empty() ? m.notReady
                                                  : m.discType == 14  ? "no disc in the drive"
                                                                      : "the unit is not ready");
        }
        return CallResult{};
    });
}

long StarBurn_CdvdBurnerGrabber_GetDeviceInformation(CDVD_BURNER_GRABBER h, char* vendor, char* product, char* revision,
                                                     unsigned long* cacheBytes) {
    const DriveIdentity& id = Identity(h);
    std::snprintf(vendor, 1024, "%s", id.vendor.c_str());
    std::snprintf(product, 1024, "%s", id.product.c_str());
    std::snprintf(revision, 1024, "%s", id.revision.c_str());
    *cacheBytes = id.cacheBytes;
    return id.vendor.empty() && id.product.empty() ? EN_NO_DEVICE : EN_SUCCESS;
}

long StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormats(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize,
                                                         unsigned long* status, STARBURN_SUPPORTED_MEDIA_FORMATS* f) {
    const DriveIdentity& id = Identity(h);
    *f = {};
    f->readCdRom = Supports(id, 0x08);
    f->readCdR = f->readCdRom || Supports(id, 0x09);
    f->writeCdR = Supports(id, 0x09);
    f->readCdRw = f->readCdRom || Supports(id, 0x0A);
    f->writeCdRw = Supports(id, 0x0A);
    f->readDvdRom = Supports(id, 0x10);
    f->readDvdR = f->readDvdRom || Supports(id, 0x11);
    f->writeDvdR = Supports(id, 0x11) || id.writesDvdR;
    f->readDvdRam = Supports(id, 0x12);
    f->writeDvdRam = Supports(id, 0x12);
    return Report({}, text, textSize, status);
}

long StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormatsExEx(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize,
                                                             unsigned long* status,
                                                             STARBURN_SUPPORTED_MEDIA_FORMATS_EX* f) {
    const DriveIdentity& id = Identity(h);
    *f = {};
    f->writeDvdPlusRw = Supports(id, 0x1A);
    f->readDvdPlusRw = f->writeDvdPlusRw || Supports(id, 0x10);
    f->writeDvdPlusR = Supports(id, 0x1B);
    f->readDvdPlusR = f->writeDvdPlusR || Supports(id, 0x10);
    f->writeDvdPlusRDl = Supports(id, 0x2B);
    f->readDvdPlusRDl = f->writeDvdPlusRDl || Supports(id, 0x10);
    return Report({}, text, textSize, status);
}

long StarBurn_CdvdBurnerGrabber_GetAdvancedSupportedMediaFormats(CDVD_BURNER_GRABBER h, char* text,
                                                                 unsigned long textSize, unsigned long* status,
                                                                 STARBURN_ADVANCED_SUPPORTED_MEDIA_FORMATS* f) {
    if (f->size != sizeof(STARBURN_ADVANCED_SUPPORTED_MEDIA_FORMATS)) {
        return Report(CallResult::Fail(EN_INVALID_PARAMETER, "wrong record size"), text, textSize, status);
    }
    const DriveIdentity& id = Identity(h);
    f->writeDvdR = Supports(id, 0x11) || id.writesDvdR;
    f->writeDvdRw = Supports(id, 0x13) || Supports(id, 0x14);
    f->writeDvdRDl = Supports(id, 0x15) || Supports(id, 0x16);
    f->writeDvdPlusR = Supports(id, 0x1B);
    f->writeDvdPlusRw = Supports(id, 0x1A);
    f->writeDvdPlusRDl = Supports(id, 0x2B);
    f->writeDvdRam = Supports(id, 0x12);
    f->writeBdR = Supports(id, 0x41) || Supports(id, 0x42);
    f->writeBdRe = Supports(id, 0x43);
    return Report({}, text, textSize, status);
}

int StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(CDVD_BURNER_GRABBER h) {
    CallResult why;
    const MediaSnapshot* m = Media(h, &why);
    return m ? m->discType : 14;
}

long StarBurn_CdvdBurnerGrabber_GetDiscInformation(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize,
                                                   unsigned long* status, STARBURN_DISC_INFORMATION* info) {
    return WithMedia(h, text, textSize, status, [&](const MediaSnapshot& m) {
        if (!m.ready) {
            return CallResult::Fail(EN_NOT_READY, "no disc information: the unit is not ready");
        }
        info->discStatus = m.discStatus;
        info->erasable = m.erasable;
        info->sessions = m.sessions;
        info->tracks = m.tocStarts.empty() ? 0 : static_cast<int>(m.tocStarts.size()) - 1;
        return CallResult{};
    });
}

long StarBurn_CdvdBurnerGrabber_GetTrackInformation(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize,
                                                    unsigned long* status, int track,
                                                    STARBURN_TRACK_INFORMATION* info) {
    return WithMedia(h, text, textSize, status, [&](const MediaSnapshot& m) {
        if (!m.ready) {
            return CallResult::Fail(EN_NOT_READY, "no track information: the unit is not ready");
        }
        *info = {};
        info->trackNumber = track;
        if (track == 255) {
            if (m.discStatus == 2 && m.freeSectors == 0) {
                return CallResult::Fail(EN_NOT_SUPPORTED, "the disc is closed: no writable track");
            }
            info->blank = true;
            info->nwaValid = m.nwaValid;
            info->nwa = m.nwa;
            info->freeLBs = m.freeSectors;
            info->startLBA = m.nwa;
            return CallResult{};
        }
        const int recorded = static_cast<int>(m.tocStarts.size()) - 1;
        if (track < 1 || track > recorded) {
            return CallResult::Fail(EN_INVALID_PARAMETER, "no track " + std::to_string(track));
        }
        info->startLBA = m.tocStarts[track - 1];
        return CallResult{};
    });
}

void StarBurn_SetFastReadTOC(bool fast) {
    g_bFastToc = fast;
}

long StarBurn_CdvdBurnerGrabber_GetTOCInformation(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize,
                                                  unsigned long* status, STARBURN_TOC_INFORMATION* toc) {
    return WithMedia(h, text, textSize, status, [&](const MediaSnapshot& m) {
        if (!m.ready || !m.tocValid) {
            return CallResult::Fail(EN_NOT_SUPPORTED, "the disc has no table of contents");
        }
        *toc = {};
        toc->isValid = true;
        toc->isDVD = m.discType >= 4 && m.discType != 10 && m.discType != 11 && m.discType != 12 && m.discType != 14;
        toc->sessions = m.sessions;
        toc->tracks = static_cast<int>(std::min<size_t>(m.tocStarts.size(), 101));
        std::copy(m.tocStarts.begin(), m.tocStarts.begin() + toc->tracks, toc->startLBA);
        return CallResult{};
    });
}

long StarBurn_CdvdBurnerGrabber_SetSpeeds(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize,
                                          unsigned long* status, unsigned long readSpeed, unsigned long writeSpeed) {
    if (readSpeed != 65535) {
        h->readSpeed = readSpeed;
    }
    if (writeSpeed != 65535) {
        h->writeSpeed = writeSpeed;
    }
    return Report({}, text, textSize, status);
}

long StarBurn_CdvdBurnerGrabber_GetSpeeds(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize,
                                          unsigned long* status, unsigned long* currentRead, unsigned long* maxRead,
                                          unsigned long* currentWrite, unsigned long* maxWrite) {
    return WithMedia(h, text, textSize, status, [&](const MediaSnapshot& m) {
        *maxRead = m.maxRead;
        *maxWrite = m.maxWrite;
        *currentRead = Achieved(m.readSpeeds, m.maxRead, h->readSpeed);
        *currentWrite = Achieved(m.writeSpeeds, m.maxWrite, h->writeSpeed);
        return CallResult{};
    });
}

long StarBurn_CdvdBurnerGrabber_ProbeSupportedWriteModes(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize,
                                                         unsigned long* status, bool* tao, bool* sao, bool* daoPQ,
                                                         bool* daoRaw) {
    return WithMedia(h, text, textSize, status, [&](const MediaSnapshot& m) {
        *tao = m.trackAtOnce;
        *sao = m.sessionAtOnce;
        *daoPQ = *daoRaw = false;
        return CallResult{};
    });
}

long StarBurn_CdvdBurnerGrabber_GetBUP(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize, unsigned long* status,
                                       bool* enabled, bool* supported) {
    return WithMedia(h, text, textSize, status, [&](const MediaSnapshot& m) {
        *supported = m.bupSupported;
        *enabled = m.bupSupported && h->bupEnabled;
        return CallResult{};
    });
}

long StarBurn_CdvdBurnerGrabber_SetBUP(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize, unsigned long* status,
                                       bool enable) {
    return WithMedia(h, text, textSize, status, [&](const MediaSnapshot& m) {
        if (enable && !m.bupSupported) {
            return CallResult::Fail(EN_NOT_SUPPORTED, "the drive has no underrun protection");
        }
        h->bupEnabled = enable;
        return CallResult{};
    });
}

// Power calibration is done by the drive when the write starts.
long StarBurn_CdvdBurnerGrabber_SendOPC(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize,
                                        unsigned long* status) {
    return WithMedia(h, text, textSize, status, [&](const MediaSnapshot& m) {
        if (!m.ready) {
            return CallResult::Fail(EN_NOT_READY, "the unit is not ready");
        }
        return CallResult{};
    });
}

long StarBurn_CdvdBurnerGrabber_TrackAtOnceFromTree(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize,
                                                    unsigned long* status, StarBurnTree* tree, bool closeTrack,
                                                    bool testWrite, bool, bool underrunProtection, int cacheSeconds) {
    if (!tree) {
        return Report(CallResult::Fail(EN_INVALID_PARAMETER, "no data to write"), text, textSize, status);
    }
    BusyScope busy;
    WriteJob job;
    job.tree = tree;
    job.speed = h->writeSpeed;
    job.closeDisc = closeTrack;
    job.simulate = testWrite;
    job.underrunProtection = underrunProtection && h->bupEnabled;
    job.cacheSeconds = cacheSeconds;
    job.event = [h](long event, void* p1, void* p2) {
        if (h->callback) {
            h->callback(event, h->context, p1, p2);
        }
    };
    const CallResult r = h->drive->Write(job, &h->active);
    h->active.ResetCancel(); // a cancel that came before the call still stops it
    h->haveMedia = false;
    return Report(r, text, textSize, status);
}

long StarBurn_CdvdBurnerGrabber_CloseSession(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize,
                                             unsigned long* status) {
    const CallResult r = h->drive->CloseSession();
    h->haveMedia = false;
    return Report(r, text, textSize, status);
}

long StarBurn_CdvdBurnerGrabber_Eject(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize,
                                      unsigned long* status) {
    const CallResult r = h->drive->Eject();
    h->haveMedia = false;
    return Report(r, text, textSize, status);
}

long StarBurn_CdvdBurnerGrabber_Blank(CDVD_BURNER_GRABBER h, char* text, unsigned long textSize, unsigned long* status,
                                      bool fast) {
    BusyScope busy;
    const CallResult r = h->drive->Blank(fast, &h->active);
    h->active.ResetCancel();
    h->haveMedia = false;
    return Report(r, text, textSize, status);
}

std::vector<std::string> StarBurn_VirtualWriterProblems() {
    std::vector<std::string> problems;
    const std::string file = VirtualWritersFile();
    for (const VirtualWriterConfig& w : ReadVirtualWriters(file)) {
        if (!w.error.empty()) {
            problems.push_back(file + " [" + w.section + "] is not a writer: " + w.error);
        } else if (const std::string why = VirtualWriterNotReady(w); !why.empty()) {
            problems.push_back(file + " [" + w.section + "] (V" + std::to_string(w.number) + ") is not ready: " + why);
        }
    }
    return problems;
}

void StarBurn_CdvdBurnerGrabber_Cancel(CDVD_BURNER_GRABBER h) {
    if (h) {
        h->active.Cancel();
    }
}

int StarBurnDiscTypeOfProfile(int profile) {
    switch (profile) {
    case 0x00:
        return 14;
    case 0x08:
        return 1;
    case 0x09:
        return 2;
    case 0x0A:
        return 3;
    case 0x10:
        return 4;
    case 0x11:
        return 5;
    case 0x12:
        return 6;
    case 0x13:
        return 7;
    case 0x14:
        return 8;
    case 0x15:
    case 0x16:
        return 16;
    case 0x1A:
        return 9;
    case 0x1B:
        return 13;
    case 0x2B:
        return 15;
    case 0x40:
        return 17;
    case 0x41:
    case 0x42:
        return 18;
    case 0x43:
        return 19;
    default:
        return 0;
    }
}
