#include "NeroBinding.h"

#include "Registry.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Folders of this length or more leave no room for the library's name in the path buffer.
constexpr size_t kFolderLimit = 243;

std::string OctalMode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Why the file at `resolved` (absolute, no links) could have been put there by someone else: it
// and every folder above it must belong to this user or root and be writable by nobody else (in a
// sticky folder others cannot replace an entry, which must then be ours or root's anyway). Empty
// when it is trusted.
std::string WhyUntrusted(const std::string& resolved) {
    for (size_t end = 1;; end = resolved.find('/', end) + 1) {
        const bool last = end == 0; // find gave npos: the whole path
        const std::string part = last ? resolved : resolved.substr(0, end == 1 ? 1 : end - 1);
        struct stat st {};
        if (lstat(part.c_str(), &st) != 0) {
            return part + ": " + std::strerror(errno);
        }
        if (st.st_uid != geteuid() && st.st_uid != 0) {
            return part + " belongs to user id " + std::to_string(st.st_uid) + ", neither to this user nor to root";
        }
        const bool othersWrite = (st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && st.st_gid != getegid());
        if (othersWrite && !(S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) && !last)) {
            return part + " can be written by other users (mode " + OctalMode(st.st_mode) + ")";
        }
        if (last) {
            return S_ISREG(st.st_mode) ? std::string() : part + " is not a regular file";
        }
    }
}

} // namespace

CNeroBinding::~CNeroBinding() {
    Unload();
}

void CNeroBinding::Unload() {
    if (m_pHandle) {
        dlclose(m_pHandle);
        m_pHandle = nullptr;
    }
}

template <typename Fn> Fn CNeroBinding::Lookup(const char* name) const {
    if (!m_pHandle) {
        return nullptr;
    }
    return reinterpret_cast<Fn>(dlsym(m_pHandle, name));
}

bool CNeroBinding::FindLibraryPath() {
    m_strFolder.clear();
    m_strPath.clear();
    std::string folder;
    if (qx::RegQueryString(kNeroSharedKey, kNeroSharedValue, &folder) && folder.size() < kFolderLimit) {
        if (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
            const qx::Status rewritten = qx::RegSetString(kNeroSharedKey, kNeroSharedValue, folder);
            if (!rewritten.ok()) {
                m_strError = "registry not rewritten: " + rewritten.error();
            }
        }
        m_strFolder = folder;
    } else if (qx::RegQueryString(kNeroAppPathKey, kNeroAppPathValue, &folder)) {
        // The program's own folder entry names the library's folder too; remember it where the
        // library's key belongs.
        if (folder.size() < kFolderLimit) {
            m_strFolder = folder;
            while (m_strFolder.size() > 1 && m_strFolder.back() == '/') {
                m_strFolder.pop_back();
            }
        }
        (void)qx::RegSetString(kNeroSharedKey, kNeroSharedValue, folder);
    }
    if (m_strFolder.empty()) {
        m_strError = "no library folder in " + qx::RegistryFile();
        return false;
    }
    // A relative folder would be looked up from wherever the program was started.
    if (m_strFolder[0] != '/') {
        m_strError = "the library folder \"" + m_strFolder + "\" in " + qx::RegistryFile() +
                     " is not an absolute path; it is not loaded";
        return false;
    }
    m_strPath = m_strFolder + (m_strFolder == "/" ? "" : "/") + kNeroLibraryName;
    return true;
}

bool CNeroBinding::Bind() {
    Unload();
    m_strError.clear();
    if (!FindLibraryPath()) {
        return false;
    }
    // Only a library nobody else could have planted: the one checked is the one loaded (by its
    // resolved full path; the library's folder is not on the loader's search path).
    std::string load = m_strPath;
    if (char* resolved = realpath(m_strPath.c_str(), nullptr)) {
        load = resolved;
        std::free(resolved);
        const std::string why = WhyUntrusted(load);
        if (!why.empty()) {
            m_strError = m_strPath + " is not loaded: " + why;
            return false;
        }
    }
    m_pHandle = dlopen(load.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_pHandle) {
        const char* why = dlerror();
        m_strError = why ? why : ("cannot load " + m_strPath);
        return false;
    }
    int agreed = 0;
    if (auto ex = Lookup<NeroSetExpectedAPIVersionExFn>("NeroSetExpectedAPIVersionEx")) {
        agreed = ex(7, 0, 5, 6, nullptr);
    } else if (auto plain = Lookup<NeroSetExpectedAPIVersionFn>("NeroSetExpectedAPIVersion")) {
        agreed = plain(7056);
    } else {
        m_strError = m_strPath + " has no version hand-shake";
    }
    if (!agreed) {
        if (m_strError.empty()) {
            m_strError = m_strPath + " refused the interface version";
        }
        Unload();
        return false;
    }
    return true;
}

int CNeroBinding::GetAPIVersionEx(uint16_t* major, uint16_t* minor, uint16_t* release, uint16_t* build) const {
    if (auto ex = Lookup<NeroGetAPIVersionExFn>("NeroGetAPIVersionEx")) {
        return ex(major, minor, release, build, nullptr);
    }
    if (auto plain = Lookup<NeroGetAPIVersionFn>("NeroGetAPIVersion")) {
        const uint32_t v = plain();
        *major = static_cast<uint16_t>(v / 1000);
        *minor = static_cast<uint16_t>(v / 100 % 10);
        *release = static_cast<uint16_t>(v / 10 % 10);
        *build = static_cast<uint16_t>(v % 10);
        return 1;
    }
    return 0;
}

int CNeroBinding::Init(const NeroSettings* settings) const {
    auto fn = Lookup<NeroInitFn>("NeroInit");
    return fn ? fn(settings, nullptr) : 1;
}

NeroDriveList* CNeroBinding::GetAvailableDrivesEx(uint32_t mediaMask) const {
    auto fn = Lookup<NeroGetAvailableDrivesExFn>("NeroGetAvailableDrivesEx");
    return fn ? fn(mediaMask, nullptr) : nullptr;
}

NeroDeviceHandle* CNeroBinding::OpenDevice(const NeroDrive* drive) const {
    auto fn = Lookup<NeroOpenDeviceFn>("NeroOpenDevice");
    return fn ? fn(drive) : nullptr;
}

NeroDiscInfo* CNeroBinding::GetCDInfo(NeroDeviceHandle* device, uint32_t flags) const {
    auto fn = Lookup<NeroGetCDInfoFn>("NeroGetCDInfo");
    return fn ? fn(device, flags) : nullptr;
}

int CNeroBinding::GetDiscErasingTime(NeroDeviceHandle* device, int mode, uint32_t speedKBs) const {
    if (auto fn = Lookup<NeroGetDiscErasingTimeFn>("NeroGetDiscErasingTime")) {
        return fn(device, mode, speedKBs);
    }
    auto old = Lookup<NeroGetCDRWErasingTimeFn>("NeroGetCDRWErasingTime");
    return old ? old(device, mode) : -1;
}

int CNeroBinding::EraseDisc(NeroDeviceHandle* device, int mode, uint32_t flags) const {
    if (auto fn = Lookup<NeroEraseDiscFn>("NeroEraseDisc")) {
        return fn(device, mode, flags);
    }
    auto old = Lookup<NeroEraseCDRWFn>("NeroEraseCDRW");
    return old ? old(device, mode) : -1;
}

NeroFileSystem* CNeroBinding::CreateFileSystemContainer() const {
    auto fn = Lookup<NeroCreateFileSystemContainerFn>("NeroCreateFileSystemContainer");
    return fn ? fn(nullptr) : nullptr;
}

int CNeroBinding::Burn(NeroDeviceHandle* device, int type, const NeroBurnRecord* record, uint32_t flags,
                       uint32_t speedKBs, const NeroProgress* progress) const {
    auto fn = Lookup<NeroBurnFn>("NeroBurn");
    return fn ? fn(device, type, record, flags, speedKBs, progress) : 1;
}

char* CNeroBinding::GetErrorLog() const {
    auto fn = Lookup<NeroGetErrorLogFn>("NeroGetErrorLog");
    return fn ? fn() : nullptr;
}

void CNeroBinding::FreeMem(void* memory) const {
    if (auto fn = Lookup<NeroFreeMemFn>("NeroFreeMem")) {
        fn(memory);
    }
}

void CNeroBinding::CloseDevice(NeroDeviceHandle* device) const {
    if (auto fn = Lookup<NeroCloseDeviceFn>("NeroCloseDevice")) {
        fn(device);
    }
}

void CNeroBinding::ClearErrors() const {
    if (auto fn = Lookup<NeroClearErrorsFn>("NeroClearErrors")) {
        fn();
    }
}

int CNeroBinding::Done() const {
    auto fn = Lookup<NeroDoneFn>("NeroDone");
    return fn ? fn() : 1;
}
