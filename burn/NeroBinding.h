// The binding of the second burning library: where it is found (the registry), loading it by full
// path, the version hand-shake, and one wrapper per entry point. Each wrapper looks its function up
// at every call; when the library is not loaded or lacks the function, it returns the stated default.
#pragma once

#include "NeroAPI.h"

#include <cstdint>
#include <string>

inline constexpr const char* kNeroSharedKey = "SOFTWARE\\ahead\\Shared";
inline constexpr const char* kNeroSharedValue = "NeroAPI";
inline constexpr const char* kNeroAppPathKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Nero.exe";
inline constexpr const char* kNeroAppPathValue = "Path";
inline constexpr const char* kNeroLibraryName = "libNeroAPI.so";

class CNeroBinding {
public:
    CNeroBinding() = default;
    ~CNeroBinding();
    CNeroBinding(const CNeroBinding&) = delete;
    CNeroBinding& operator=(const CNeroBinding&) = delete;

    // Unloads a library loaded before, finds the folder in the registry, loads the library from it
    // and agrees on the interface version. False (nothing loaded) when any step fails. The folder
    // must be absolute; the library and every folder above it must belong to this user or root and
    // be writable by nobody else.
    bool Bind();
    void Unload();
    bool IsLoaded() const { return m_pHandle != nullptr; }
    const std::string& LibraryFolder() const { return m_strFolder; } // no trailing '/'
    const std::string& LibraryPath() const { return m_strPath; }
    // Why the last Bind failed: no registry entry, a refused folder or library (relative, or one
    // another user could have planted), or the loader's own reason (dlerror).
    const std::string& BindError() const { return m_strError; }

    // 0 when neither version call exists; the single-number form gives the digits 7056 → 7.0.5.6.
    int GetAPIVersionEx(uint16_t* major, uint16_t* minor, uint16_t* release, uint16_t* build) const;
    int Init(const NeroSettings* settings) const;                                        // missing: 1
    NeroDriveList* GetAvailableDrivesEx(uint32_t mediaMask) const;                       // missing: null
    NeroDeviceHandle* OpenDevice(const NeroDrive* drive) const;                          // missing: null
    NeroDiscInfo* GetCDInfo(NeroDeviceHandle* device, uint32_t flags) const;             // missing: null
    int GetDiscErasingTime(NeroDeviceHandle* device, int mode, uint32_t speedKBs) const; // missing: -1
    int EraseDisc(NeroDeviceHandle* device, int mode, uint32_t flags) const;             // missing: -1
    NeroFileSystem* CreateFileSystemContainer() const;                                   // missing: null
    int Burn(NeroDeviceHandle* device, int type, const NeroBurnRecord* record, uint32_t flags, uint32_t speedKBs,
             const NeroProgress* progress) const; // missing: 1
    char* GetErrorLog() const;                    // missing: null
    void FreeMem(void* memory) const;
    void CloseDevice(NeroDeviceHandle* device) const;
    void ClearErrors() const;
    int Done() const; // missing: 1

private:
    template <typename Fn> Fn Lookup(const char* name) const;
    bool FindLibraryPath();

    void* m_pHandle = nullptr;
    std::string m_strFolder;
    std::string m_strPath;
    std::string m_strError;
};
