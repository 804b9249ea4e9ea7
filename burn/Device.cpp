// CDevice queries: identity and capabilities, disc type and sizes, blank state, speed lists and the
// writer description; and the engine-message hook list.
#include "Device.h"

#include "BurnCore.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>

namespace {

std::mutex g_hookMutex;
std::map<int, std::pair<int, EngineMessageHook>> g_hooks; // id → (channel, hook)
int g_nextHook = 1;

void QueryCallback(long, void*, void*, void*) {}

const char* YesNo(bool b) {
    return b ? "Yes" : "No";
}

} // namespace

int AddEngineMessageHook(int channel, EngineMessageHook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    const int id = g_nextHook++;
    g_hooks[id] = {channel, std::move(hook)};
    return id;
}

void RemoveEngineMessageHook(int id) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_hooks.erase(id);
}

void EngineMessage(int channel, int severity, const char* format, ...) {
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::vector<EngineMessageHook> hooks;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        for (const auto& [id, entry] : g_hooks) {
            if (entry.first == channel) {
                hooks.push_back(entry.second);
            }
        }
    }
    for (const EngineMessageHook& hook : hooks) {
        hook(severity, text);
    }
}

CDevice::CDevice(const SCSI_DEVICE_ADDRESS& address, EngineLogSink log) : m_address(address), m_log(std::move(log)) {}

CDevice::~CDevice() {
    DestroyHandle();
}

void CDevice::DestroyHandle() {
    std::lock_guard<std::mutex> lock(m_handleLock);
    StarBurn_Destroy(&m_hBurner);
}

void CDevice::Log(const std::string& line) const {
    if (m_log) {
        m_log(line);
    }
}

void CDevice::TraceFailure(const char* format) {
    EngineMessage(0, 3, format, m_lResult, static_cast<long>(m_dwStatus), m_szText);
}

int CDevice::ProgressPercent() const {
    std::lock_guard<std::mutex> lock(m_progressLock);
    return m_nProgressPercent;
}

void CDevice::SetProgressPercent(int percent) {
    std::lock_guard<std::mutex> lock(m_progressLock);
    m_nProgressPercent = percent;
}

bool CDevice::CdvdBurnerGrabberCreate(STARBURN_CALLBACK callback, unsigned long flags) {
    m_dwStatus = 31;
    CDVD_BURNER_GRABBER handle = nullptr;
    m_lResult =
        StarBurn_CdvdBurnerGrabber_Create(&handle, m_szText, sizeof m_szText, &m_dwStatus, callback, this,
                                          m_address.port, m_address.bus, m_address.target, m_address.lun, flags);
    if (m_lResult != EN_SUCCESS) {
        TraceFailure("\n\nCDevice::CdvdBurnerGrabberCreate: StarBurn_CdvdBurnerGrabber_Create() failed, exception %ld, "
                     "status %ld, text '%s'\n");
        return false;
    }
    std::lock_guard<std::mutex> lock(m_handleLock);
    StarBurn_Destroy(&m_hBurner);
    m_hBurner = handle;
    return true;
}

bool CDevice::TestUnitReady() {
    if (!m_hBurner && !CdvdBurnerGrabberCreate(QueryCallback, 1)) {
        return false;
    }
    m_lResult = StarBurn_CdvdBurnerGrabber_TestUnitReady(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus);
    return m_lResult == EN_SUCCESS;
}

bool CDevice::RefreshDeviceLetter() {
    char name[1024] = {};
    m_lResult =
        StarBurn_GetDeviceNameByDeviceAddress(m_address.port, m_address.bus, m_address.target, m_address.lun, name);
    if (m_lResult != EN_SUCCESS) {
        EngineMessage(
            0, 3, "\n\nCDevice::RefreshDeviceLetter: StarBurn_GetDeviceNameByDeviceAddress() failed, exception %d \n",
            static_cast<int>(m_lResult));
        return false;
    }
    m_strDeviceName = name;
    // The short name of the device ("sr0"), or the virtual writer's "V1".
    const size_t slash = m_strDeviceName.rfind('/');
    m_strLetter = slash == std::string::npos ? m_strDeviceName : m_strDeviceName.substr(slash + 1);
    return true;
}

bool CDevice::RefreshDeviceInfo() {
    if (!m_hBurner && !CdvdBurnerGrabberCreate(QueryCallback, 1)) {
        return false;
    }
    char vendor[1024] = {}, product[1024] = {}, revision[1024] = {};
    StarBurn_CdvdBurnerGrabber_GetDeviceInformation(m_hBurner, vendor, product, revision, &m_dwCacheBytes);
    m_strVendor = vendor;
    m_strProduct = product;
    m_strRevision = revision;
    EngineMessage(0, 0, "OK!\nCDevice::RefreshDeviceInfo()): Found CD/DVD device '%s' '%s' '%s'\n", vendor, product,
                  revision);
    EngineMessage(0, 0, "CDevice::RefreshDeviceInfo(): With %ld UCHAR(s) of cache\n",
                  static_cast<long>(m_dwCacheBytes));
    m_bInfoRefreshed = true;
    RefreshDeviceLetter();
    StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormats(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, &m_basic);
    StarBurn_CdvdBurnerGrabber_GetSupportedMediaFormatsExEx(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus,
                                                            &m_extended);
    m_advanced = STARBURN_ADVANCED_SUPPORTED_MEDIA_FORMATS{};
    StarBurn_CdvdBurnerGrabber_GetAdvancedSupportedMediaFormats(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus,
                                                                &m_advanced);
    m_writes = DvdWriteFlags{{m_advanced.writeDvdR, m_advanced.writeDvdRw, m_advanced.writeDvdRDl,
                              m_advanced.writeDvdPlusR, m_advanced.writeDvdPlusRw, m_advanced.writeDvdPlusRDl}};
    m_nAccessMode = 0;
    return true;
}

bool CDevice::GetTrackInfo(int track) {
    if (!m_hBurner) {
        return false;
    }
    m_lResult = StarBurn_CdvdBurnerGrabber_GetTrackInformation(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, track,
                                                               &m_track);
    if (m_lResult != EN_SUCCESS) {
        TraceFailure("\n\nCDevice::GetTrackInfo: StarBurn_CdvdBurnerGrabber_GetTrackInformation() failed, exception "
                     "%ld, status %ld, text '%s'\n");
        return false;
    }
    return true;
}

bool CDevice::RefreshDiscType() {
    if (!m_hBurner) {
        return false;
    }
    m_nDiscType = StarBurn_CdvdBurnerGrabber_GetInsertedDiscType(m_hBurner);
    return true;
}

void CDevice::RefreshVolumeLabel() {
    m_strVolumeLabel.clear();
    if (m_nDiscType == kDiscNoMedia || m_strDeviceName.empty() || m_strDeviceName[0] != '/') {
        return;
    }
    // The ISO 9660 volume identifier: bytes 40..71 of the primary descriptor at sector 16.
    const int fd = open(m_strDeviceName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    unsigned char pvd[2048];
    if (pread(fd, pvd, sizeof pvd, 16 * 2048) == static_cast<ssize_t>(sizeof pvd) && pvd[0] == 1 &&
        std::equal(pvd + 1, pvd + 6, "CD001")) {
        std::string label(reinterpret_cast<const char*>(pvd + 40), 32);
        label.erase(label.find_last_not_of(' ') + 1);
        m_strVolumeLabel = label;
    }
    close(fd);
}

bool CDevice::RefreshMediaSize() {
    if (!TestUnitReady()) {
        m_dUsedBytes = 0;
        return false;
    }
    RefreshDiscType();
    STARBURN_DISC_INFORMATION disc;
    m_lResult = StarBurn_CdvdBurnerGrabber_GetDiscInformation(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, &disc);
    if (m_lResult != EN_SUCCESS) {
        TraceFailure("\nRefreshMediaSize(): StarBurn_CdvdBurnerGrabber_GetDiscInformation() failed, exception %ld, "
                     "status %ld, text '%s'\n");
        m_dUsedBytes = 0;
        return false;
    }
    StarBurn_SetFastReadTOC(true);
    STARBURN_TOC_INFORMATION toc;
    m_lResult = StarBurn_CdvdBurnerGrabber_GetTOCInformation(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, &toc);
    const bool haveToc = m_lResult == EN_SUCCESS;
    if (!haveToc) {
        TraceFailure("\n\nRefreshMediaSize(): StarBurn_CdvdBurnerGrabber_GetTOCInformation() failed, exception %ld, "
                     "status %ld, text '%s'\n");
    } else {
        EngineMessage(
            0, 0, "\nRefreshMediaSize(): TOC IsValid %s, IsDVD %s, NumberOfSessions: %ld, NumberOfTracks: %ld\n",
            YesNo(toc.isValid), YesNo(toc.isDVD), static_cast<long>(toc.sessions), static_cast<long>(toc.tracks));
    }
    const bool haveTrack = GetTrackInfo(255);
    if (haveTrack) {
        EngineMessage(0, 0,
                      "\nRefreshMediaSize(): Track blank: %s, NWA valid: %s, free LBs %ld, NWA %ld, track number %ld\n",
                      YesNo(m_track.blank), YesNo(m_track.nwaValid), static_cast<long>(m_track.freeLBs),
                      static_cast<long>(m_track.nwa), static_cast<long>(m_track.trackNumber));
    }
    // The end of the recorded area: the start of the TOC entry after the last recorded track.
    auto tocEnd = [&](int back) -> bool {
        const int entry = toc.tracks - back;
        if (entry < 0 || entry >= toc.tracks) {
            return false;
        }
        m_dUsedBytes = 2048.0 * toc.startLBA[entry];
        return true;
    };
    const bool rewritableDvdRw = m_nDiscType == kDiscDvdRwRestricted || m_nDiscType == kDiscDvdRwSequential;
    if (disc.discStatus == 0) {
        m_dUsedBytes = 0;
    } else if (disc.discStatus == 1 || rewritableDvdRw) {
        if (haveTrack && m_track.nwaValid && m_track.nwa == 0) {
            m_dUsedBytes = 0;
        } else if (haveToc) {
            tocEnd(m_nDiscType == kDiscDvdR || m_nDiscType == kDiscDvdPlusR ? 2 : 1);
        } else if (haveTrack) {
            m_dUsedBytes = 2048.0 * m_track.nwa;
        }
    } else if (disc.discStatus == 2 && haveToc) {
        tocEnd(1);
    }
    return true;
}

bool CDevice::RefreshFreeSize() {
    if (GetTrackInfo(255)) {
        m_dFreeBytes = 2048.0 * m_track.freeLBs;
        return true;
    }
    m_dFreeBytes = 0;
    return false;
}

bool CDevice::IsDiscBlank() {
    if (!m_hBurner && !CdvdBurnerGrabberCreate(QueryCallback, 1)) {
        return false;
    }
    STARBURN_DISC_INFORMATION disc;
    m_lResult = StarBurn_CdvdBurnerGrabber_GetDiscInformation(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, &disc);
    if (m_lResult != EN_SUCCESS) {
        TraceFailure("\nCDevice::IsDiscBlank(): StarBurn_CdvdBurnerGrabber_GetDiscInformation() failed, exception %ld, "
                     "status %ld, text '%s'\n");
        return false;
    }
    const bool haveTrack = GetTrackInfo(255);
    return disc.discStatus == 0 || (haveTrack && m_track.nwaValid && m_track.nwa == 0);
}

namespace {

// Probes the table's speeds above the last achieved one: set, read back, name what was achieved.
template <class Probe>
void WalkTable(const std::vector<SpeedEntry>& table, unsigned long stopAt, std::vector<SpeedEntry>* list, Probe probe) {
    unsigned long last = 0;
    for (const SpeedEntry& entry : table) {
        if (entry.speed > last) {
            unsigned long achieved = 0;
            if (probe(entry.speed, &achieved)) {
                if (achieved != last) {
                    AddNamedSpeed(*list, table, achieved);
                }
                last = achieved;
            } else {
                last = entry.speed;
            }
        }
        if (stopAt && entry.speed == stopAt) {
            break;
        }
    }
}

} // namespace

bool CDevice::QueryMaxSpeeds(unsigned long* maxRead, unsigned long* maxWrite, const char* failureTrace) {
    if (!m_hBurner && !CdvdBurnerGrabberCreate(QueryCallback, 1)) {
        return false;
    }
    unsigned long curRead = 0, curWrite = 0;
    m_lResult = StarBurn_CdvdBurnerGrabber_GetSpeeds(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, &curRead,
                                                     maxRead, &curWrite, maxWrite);
    if (m_lResult != EN_SUCCESS) {
        if (failureTrace) {
            TraceFailure(failureTrace);
        }
        return false;
    }
    return true;
}

bool CDevice::GetWriteSpeeds() {
    m_writeSpeeds.clear();
    unsigned long maxRead = 0, maxWrite = 0;
    if (!QueryMaxSpeeds(&maxRead, &maxWrite,
                        "\n\nGetWriteSpeeds(): StarBurn_CdvdBurnerGrabber_GetSpeeds() failed, exception %ld, status "
                        "%ld, text '%s'\n")) {
        return false;
    }
    auto probe = [this](unsigned long candidate, unsigned long* achieved) {
        if (StarBurn_CdvdBurnerGrabber_SetSpeeds(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, 65535, candidate)) {
            return false;
        }
        unsigned long r = 0, mr = 0, mw = 0;
        return StarBurn_CdvdBurnerGrabber_GetSpeeds(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, &r, &mr,
                                                    achieved, &mw) == EN_SUCCESS;
    };
    switch (m_nDiscType) {
    case 2:
    case 3:
    case 11:
    case 12:
        WalkTable(SpeedTableCD(), maxWrite, &m_writeSpeeds, probe);
        break;
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
    case 13:
    case 15:
    case 16:
        WalkTable(SpeedTableDVD(), 0, &m_writeSpeeds, probe);
        break;
    case kDiscNoMedia:
        for (const SpeedEntry& e : SpeedTableCD()) {
            if (e.speed <= maxWrite) {
                m_writeSpeeds.push_back(e);
            }
        }
        break;
    default:
        break;
    }
    return true;
}

bool CDevice::GetReadSpeeds(std::vector<SpeedEntry>* list) {
    list->clear();
    unsigned long maxRead = 0, maxWrite = 0;
    if (!QueryMaxSpeeds(&maxRead, &maxWrite, nullptr)) {
        return false;
    }
    auto probe = [this](unsigned long candidate, unsigned long* achieved) {
        if (StarBurn_CdvdBurnerGrabber_SetSpeeds(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, candidate, 65535)) {
            return false;
        }
        unsigned long mr = 0, w = 0, mw = 0;
        return StarBurn_CdvdBurnerGrabber_GetSpeeds(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, achieved, &mr,
                                                    &w, &mw) == EN_SUCCESS;
    };
    const int t = m_nDiscType;
    if ((t >= 1 && t <= 3) || (t >= 10 && t <= 12)) {
        WalkTable(SpeedTableCD(), 0, list, probe);
    } else if ((t >= 4 && t <= 9) || t == 13 || t == 15 || t == 16) {
        WalkTable(SpeedTableDVD(), 0, list, probe);
    } else if (t == kDiscNoMedia) {
        for (const SpeedEntry& e : SpeedTableCD()) {
            if (e.speed <= maxRead) {
                list->push_back(e);
            }
        }
    }
    return true;
}

void CDevice::Describe(DVDDeviceInfo* info) {
    char text[64];
    info->typename_ = m_strLetter + " " + m_strProduct + " " + m_strVendor + " " + m_strRevision;
    std::vector<SpeedEntry> reads;
    GetReadSpeeds(&reads);
    if (!reads.empty()) {
        info->ReadSpeed = reads.back().name;
    }
    if (m_writeSpeeds.empty()) {
        GetWriteSpeeds();
    }
    if (!m_writeSpeeds.empty()) {
        info->WriteSpeed = m_writeSpeeds.back().name;
    }
    for (int i = 0; i < 6; ++i) {
        info->support[i] = m_writes.flag[i];
    }
    info->type = DiscTypeName(m_nDiscType);
    info->DiscIsInserted = m_nDiscType != kDiscNoMedia;
    info->m_bD9 = IsDualLayer(m_nDiscType);
    info->CanSupport = CanSupportDisc(m_nDiscType, m_writes);
    std::snprintf(text, sizeof text, "%0.1f M", m_dUsedBytes / 1048576.0);
    info->usedSpace = text;
    const double total = (m_dUsedBytes + m_dFreeBytes) / 1048576.0;
    std::snprintf(text, sizeof text, "%0.1f M", total);
    info->totleSpace = text;
    info->totalSpaceMB = static_cast<int>(total);
    info->CanErase = CanEraseDisc(m_nDiscType, m_writes);
    info->isEmpty = IsDiscBlank();
    // A closed rewritable disc reports only its old session; blanked it is a whole disc again.
    constexpr int kSingleLayerMB = 4482; // 2,295,104 sectors
    constexpr int kDualLayerMB = 8152;   // 4,173,824 sectors
    if (info->CanErase && !info->isEmpty) {
        info->blankSpaceMB = std::max(info->totalSpaceMB, info->m_bD9 ? kDualLayerMB : kSingleLayerMB);
    }
}
