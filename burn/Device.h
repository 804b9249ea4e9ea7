// One writer of the built-in engine: its address, identity and capabilities, the inserted disc's
// type and sizes, its write speeds, and the progress of a running burn or erase. The queries run
// on the user-interface thread; Erase and BurnDVDVideo on the engine's worker thread.
#pragma once

#include "BurnCore.h"

#include "DeviceTables.h"
#include "StarBurn.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct DVDDeviceInfo;

// Engine messages: channel 0 traces, channel 1 user status texts; severity 0 information,
// 2 warning, 3 error. Each message goes to every hook registered for its channel.
using EngineMessageHook = std::function<void(int severity, const std::string& text)>;
int AddEngineMessageHook(int channel, EngineMessageHook hook); // returns an id for removal
void RemoveEngineMessageHook(int id);
void EngineMessage(int channel, int severity, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Where the engine's diagnostic-log lines go (the log program's level 0).
using EngineLogSink = std::function<void(const std::string& line)>;

// Seconds an erase is expected to take: the used size plus 700 MB at the current write speed (KB/s);
// a drive that reports speed 0 is counted at 1x DVD.
int EraseEstimateSeconds(double usedBytes, unsigned long currentWriteSpeed);

// The DVD-Video volume to burn.
struct DvdVideoDescriptor {
    std::string label;
    std::string publisher = "DE Veza";
    std::string preparer = "DE Veza";
};

class CDevice {
public:
    enum State { Idle = 0, Writing = 1, Erasing = 2, CancelRequested = 5 };

    CDevice(const SCSI_DEVICE_ADDRESS& address, EngineLogSink log);
    ~CDevice();
    CDevice(const CDevice&) = delete;
    CDevice& operator=(const CDevice&) = delete;

    // Queries.
    bool CdvdBurnerGrabberCreate(STARBURN_CALLBACK callback, unsigned long flags);
    bool TestUnitReady();
    bool RefreshDeviceLetter();
    bool RefreshDeviceInfo();
    bool GetTrackInfo(int track);
    bool RefreshMediaSize();
    bool RefreshFreeSize();
    bool RefreshDiscType();
    void RefreshVolumeLabel();
    bool IsDiscBlank();
    bool GetWriteSpeeds();
    bool GetReadSpeeds(std::vector<SpeedEntry>* list);
    // The writer description of a listed writer.
    void Describe(DVDDeviceInfo* info);

    // Burning and erasing (worker thread), and the stop request (user-interface thread).
    bool Erase();
    // Why the last Erase failed (for the log); empty after one that succeeded.
    const std::string& EraseFailure() const { return m_strEraseFailure; }
    BurnOutcome BurnDVDVideo(const DvdVideoDescriptor& descriptor, const std::string& folder);
    void DVDVideoBurnCallback(long event, void* param1, void* param2);
    // Cancels the running write or erase; remembered until ClearCancel, so that a cancel between two
    // steps still stops the next one.
    void Cancel();
    void ClearCancel() { m_bCancelled = false; }

    // The capacity check's refusal (message box and log line), shared with the burn thread.
    std::function<void(const std::string& box, const std::string& log)> onRefusal;

    int ProgressPercent() const;
    void SetProgressPercent(int percent);
    int EraseSeconds() const { return m_nEraseSeconds; }
    int DeviceState() const { return m_nDeviceState; }

    const SCSI_DEVICE_ADDRESS& Address() const { return m_address; }
    const std::string& Letter() const { return m_strLetter; }
    const std::string& Vendor() const { return m_strVendor; }
    const std::string& Product() const { return m_strProduct; }
    const std::string& Revision() const { return m_strRevision; }
    unsigned long CacheBytes() const { return m_dwCacheBytes; }
    const DvdWriteFlags& WriteFlags() const { return m_writes; }
    int DiscType() const { return m_nDiscType; }
    double UsedBytes() const { return m_dUsedBytes; }
    double FreeBytes() const { return m_dFreeBytes; }
    const std::string& VolumeLabel() const { return m_strVolumeLabel; }
    const std::vector<SpeedEntry>& WriteSpeeds() const { return m_writeSpeeds; }

private:
    void Log(const std::string& line) const;
    void TraceFailure(const char* format);
    void DestroyHandle();
    // The drive's highest read and write speeds (the grabber made first when needed); a failed
    // query is traced with `failureTrace` when it is given.
    bool QueryMaxSpeeds(unsigned long* maxRead, unsigned long* maxWrite, const char* failureTrace);

    bool m_bInfoRefreshed = false;
    SCSI_DEVICE_ADDRESS m_address;
    std::string m_strDeviceName;
    int m_nAccessMode = 0;
    CDVD_BURNER_GRABBER m_hBurner = nullptr;
    mutable std::mutex m_handleLock; // the handle, as Cancel reaches it from the other thread
    STARBURN_SUPPORTED_MEDIA_FORMATS m_basic{};
    STARBURN_SUPPORTED_MEDIA_FORMATS_EX m_extended{};
    STARBURN_ADVANCED_SUPPORTED_MEDIA_FORMATS m_advanced{};
    DvdWriteFlags m_writes;
    std::string m_strVendor, m_strProduct, m_strRevision, m_strLetter;
    unsigned long m_dwCacheBytes = 0;
    int m_nDiscType = 0;
    std::string m_strEraseFailure;
    double m_dUsedBytes = 0;
    double m_dFreeBytes = 0;
    std::string m_strVolumeLabel;
    mutable std::mutex m_progressLock;
    int m_nProgressPercent = 0;
    std::atomic<int> m_nEraseSeconds{0};
    std::atomic<int> m_nDeviceState{Idle};
    std::atomic<bool> m_bCancelled{false};
    long m_lResult = 0;
    unsigned long m_dwStatus = 0;
    char m_szText[1024] = {};
    std::vector<SpeedEntry> m_writeSpeeds;
    STARBURN_TRACK_INFORMATION m_track{};
    EngineLogSink m_log;
};
