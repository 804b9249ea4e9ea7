#include "NeroCore.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kEraseMode = 1;

char Letter(const NeroDrive& d) {
    return d.driveLetter ? d.driveLetter : '~';
}

// The drive records are the library's: names are read only up to their own size.
std::string Field(const char* text, size_t size) {
    return std::string(text, strnlen(text, size));
}
std::string DeviceName(const NeroDrive& d) {
    return Field(d.deviceName, sizeof d.deviceName);
}
std::string AdapterName(const NeroDrive& d) {
    return Field(d.adapterName, sizeof d.adapterName);
}

uint32_t HighestSpeed(const NeroSpeeds& s) {
    const uint32_t n = std::min<uint32_t>(s.count, NERO_SPEED_MAX);
    return n ? s.speedsKBs[n - 1] : 0;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

struct MediaRow {
    uint32_t type;
    const char* name;
    int flag; // index into DVDDeviceInfo::support
    bool erasable;
    bool dualLayer;
};
constexpr MediaRow kMedia[] = {
    {0x804, "DVD-R", 0, false, false},  {0x1004, "DVD-RW", 1, true, false},   {0x2008, "DVD+R", 3, false, false},
    {0x4008, "DVD+RW", 4, true, false}, {0x40000, "DVD+RDL", 5, false, true}, {0x80000, "DVD-RDL", 2, false, true},
};

} // namespace

CNeroCore::CNeroCore(LogSink log) : m_log(std::move(log)) {}

CNeroCore::~CNeroCore() {
    if (m_bNeroAvailable) {
        DropDriveList();
        m_endEvent.Close();
        m_binding.ClearErrors();
        m_binding.Done();
    }
    m_binding.Unload();
}

void CNeroCore::Log(const char* format, ...) const {
    if (!m_log) {
        return;
    }
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    m_log(buffer);
}

int64_t CNeroCore::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool CNeroCore::IsUsableWriter(const NeroDrive& d) {
    static const char kVirtual[8] = "Virtual";
    return d.deviceType == NERO_DEVICE_RECORDER && std::memcmp(d.adapterName, kVirtual, sizeof kVirtual) != 0 &&
           (d.mediaMask & (NERO_MEDIA_DVD_M | NERO_MEDIA_DVD_P)) != 0;
}

int CNeroCore::UserDialogAnswer(int type) {
    switch (type) {
    case 2:
    case 7:
    case 12:
        return 5;
    case 6:
        return 3;
    case 13:
        return 1;
    default:
        return 0;
    }
}

bool CNeroCore::InitBurnCore() {
    if (m_bNeroAvailable) {
        return true;
    }
    m_strLoadError.clear();
    if (!m_binding.Bind()) {
        m_strLoadError = m_binding.BindError();
        return false;
    }
    uint16_t major = 0, minor = 0, release = 0, build = 0;
    if (!m_binding.GetAPIVersionEx(&major, &minor, &release, &build)) {
        m_strLoadError = m_binding.LibraryPath() + " tells no version";
        return false;
    }
    if (!(major >= 8 || (major == 7 && minor >= 2))) {
        // Too old: the library stays loaded but the core is not offered.
        m_strLoadError = m_binding.LibraryPath() + " is version " + std::to_string(major) + "." +
                         std::to_string(minor) + "; 7.2 or later is needed";
        return false;
    }
    NeroSettings settings{};
    settings.filesPath = "NeroFiles";
    settings.vendor = "nero";
    settings.idle = IdleCallback;
    settings.idleUserData = this;
    settings.software = "Nero - Burning Rom";
    settings.userDialog = DialogCallback;
    settings.userDialogUserData = this;
    settings.languageFile = "Nero.txt";
    m_pDriveList = nullptr;
    m_binding.Init(&settings);
    m_bNeroAvailable = true;
    return true;
}

void CNeroCore::DropDriveList() {
    if (m_pDriveList && !m_bBusy) {
        m_binding.FreeMem(m_pDriveList);
        m_pDriveList = nullptr;
    }
}

void CNeroCore::ListWriters(QObject*, const std::function<void(std::vector<std::string>)>& deliver) {
    if (onListWriters) {
        onListWriters();
    }
    if (!m_bNeroAvailable || m_bBusy) {
        return;
    }
    DropDriveList();
    m_pDriveList = m_binding.GetAvailableDrivesEx(NERO_MEDIA_DVD_ANY);
    if (!m_pDriveList) {
        Log("Nero Get DVD device failed\n");
        return;
    }
    if (m_pDriveList->count == 0) {
        Log("Nero Check No DVD Writer\n");
        return;
    }
    std::vector<std::string> list;
    for (uint32_t i = 0; i < m_pDriveList->count; ++i) {
        const NeroDrive& d = m_pDriveList->drives[i];
        const std::string name = DeviceName(d);
        Log("Nero Check One dvd device name:%c: %s %s supportMedia:%X\n", Letter(d), name.c_str(),
            AdapterName(d).c_str(), d.mediaMask);
        if (IsUsableWriter(d)) {
            list.push_back(Format("%c: %s", Letter(d), name.c_str()));
            Log("Nero Check One dvd device name:%s added\n", name.c_str());
        } else {
            Log("Nero Check One dvd device name:%s is not valid.\n", name.c_str());
        }
    }
    deliver(std::move(list));
}

const NeroDrive* CNeroCore::UsableWriter(int writer) const {
    if (!m_pDriveList || writer < 0) {
        return nullptr;
    }
    int ordinal = 0;
    for (uint32_t i = 0; i < m_pDriveList->count; ++i) {
        const NeroDrive& d = m_pDriveList->drives[i];
        if (IsUsableWriter(d) && ordinal++ == writer) {
            return &d;
        }
    }
    return nullptr;
}

int CNeroCore::GetWriterInfo(int writer, DVDDeviceInfo* info) {
    if (!m_pDriveList || m_pDriveList->count == 0) {
        Log("Nero Check No DVD Writer\n");
        return 0;
    }
    const NeroDrive* selected = nullptr;
    int ordinal = 0;
    for (uint32_t i = 0; i < m_pDriveList->count; ++i) {
        const NeroDrive& d = m_pDriveList->drives[i];
        const std::string name = DeviceName(d);
        if (d.deviceType == NERO_DEVICE_RECORDER && std::strncmp(d.adapterName, "Virtual", 8) != 0) {
            Log("Nero Check One dvd device name:%c: %s %s supportMedia:%X\n", Letter(d), name.c_str(),
                AdapterName(d).c_str(), d.mediaMask);
        }
        if (!IsUsableWriter(d)) {
            Log("Nero Check One dvd device name:%s is not valid.\n", name.c_str());
        } else if (ordinal++ == writer) {
            selected = &d;
            Log("Nero Check One dvd device name:%c is valid, and it's the user selected\n", Letter(d));
        } else {
            Log("Nero Check One dvd device name:%s is valid, but it's not the user selected\n", name.c_str());
        }
    }
    if (!selected) {
        return 0;
    }
    const NeroDrive& d = *selected;
    NeroDeviceHandle* device = m_binding.OpenDevice(&d);
    if (!device) {
        return 1; // described as holding no disc
    }
    info->typename_ = Format("%c: %s %s", Letter(d), DeviceName(d).c_str(), AdapterName(d).c_str());
    const uint32_t maxRead = HighestSpeed(d.readSpeeds), maxWrite = HighestSpeed(d.writeSpeeds);
    info->ReadSpeed =
        maxRead && d.readSpeeds.baseKBs ? Format("%dx", static_cast<int>(maxRead / d.readSpeeds.baseKBs)) : "N/A";
    info->WriteSpeed = maxWrite && d.writeSpeeds.baseKBs
                           ? Format("%0.1fx", static_cast<double>(maxWrite) / d.writeSpeeds.baseKBs)
                           : "N/A";
    const bool dl = (d.mediaMask & NERO_MEDIA_DVD_P_R9) != 0;
    if (d.mediaMask & NERO_MEDIA_DVD_M) {
        info->support[0] = info->support[1] = true;
        info->support[2] = dl;
    }
    if (d.mediaMask & NERO_MEDIA_DVD_P) {
        info->support[3] = info->support[4] = true;
        info->support[5] = dl;
    }
    info->type = "No Media.";
    info->DiscIsInserted = true;
    info->isEmpty = true;
    info->totleSpace = info->usedSpace = "N/A";
    info->totalSpaceMB = 0;
    info->m_bD9 = info->CanSupport = info->CanErase = false;
    NeroDiscInfo* disc = m_binding.GetCDInfo(device, NERO_INFO_TRACKS);
    if (!disc) {
        info->DiscIsInserted = false;
    } else {
        info->DiscIsInserted = disc->mediaType != 0;
        info->type = disc->mediaType == 0 ? "No Media" : "Unsupport Disk.";
        for (const MediaRow& row : kMedia) {
            if (row.type == disc->mediaType) {
                info->type = row.name;
                info->CanSupport = info->support[row.flag];
                info->CanErase = row.erasable && info->CanSupport;
                info->m_bD9 = row.dualLayer;
            }
        }
        info->totalSpaceMB = static_cast<int>(static_cast<uint64_t>(disc->freeBlocks) * 2 / 1024);
        info->totleSpace = Format("%0.1f M", static_cast<double>(info->totalSpaceMB));
        uint64_t usedBlocks = 0;
        for (uint32_t t = 0; t < disc->trackCount; ++t) {
            usedBlocks += disc->tracks[t].lengthBlocks;
        }
        info->usedSpace = Format("%0.1f M", static_cast<double>(usedBlocks) * 2 / 1024);
        info->isEmpty = disc->trackCount == 0;
    }
    if (info->CanErase) {
        if (!maxWrite) {
            Log("Nero get write no speed. So I guess disk is not rewritable.\n");
            info->CanErase = false;
        } else {
            Log("Nero get write speedKBs:%d.\n", static_cast<int>(maxWrite));
            const int seconds = m_binding.GetDiscErasingTime(device, kEraseMode, maxWrite);
            m_nEraseSeconds = seconds;
            if (seconds == NERO_ERASE_NO_DISC) {
                Log("Nero check disk is rewriable: no disk inserted.\n");
            } else if (seconds == NERO_ERASE_NOT_SUPPORTED) {
                Log("Nero check disk is rewriable: recoder donot support CDRW.\n");
            } else if (seconds == NERO_ERASE_NOT_REWRITABLE) {
                Log("Nero check disk is rewriable: inserted media is not rewritable media.\n");
            }
            if (seconds >= NERO_ERASE_NOT_REWRITABLE && seconds <= NERO_ERASE_NO_DISC) {
                info->CanErase = false;
            }
        }
    }
    m_binding.CloseDevice(device);
    if (disc) {
        m_binding.FreeMem(disc);
    }
    return 1;
}
