// Inside the burning library: what a writer reports in one look (taken with the drive grabbed and
// released at once), and the two kinds of writer behind the burner calls.
#pragma once

#include "StarBurn.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace burn {
struct burn_drive;
}

namespace qx::starburn {

struct DriveIdentity {
    std::string vendor, product, revision;
    unsigned long cacheBytes = 0;
    std::vector<int> profiles; // libburn profile numbers the drive can handle
    bool writesDvdR = false;   // announced apart from the profile list
};

struct MediaSnapshot {
    bool ready = false;   // a disc is in and the drive answers
    std::string notReady; // why not, when the writer knows
    int discType = 14;
    int discStatus = 0; // 0 empty, 1 appendable, 2 complete
    bool erasable = false;
    bool nwaValid = false;
    uint32_t nwa = 0;
    uint32_t freeSectors = 0;
    int sessions = 0;
    std::vector<uint32_t> tocStarts; // recorded tracks, invisible track, lead-out
    bool tocValid = false;
    std::vector<unsigned long> writeSpeeds, readSpeeds; // KB/s, ascending
    unsigned long maxWrite = 0, maxRead = 0;
    bool trackAtOnce = false, sessionAtOnce = false;
    bool bupSupported = false;
};

// Everything a write needs besides the data.
struct WriteJob {
    StarBurnTree* tree = nullptr;
    unsigned long speed = 0; // KB/s, 0: the drive's choice
    bool closeDisc = true;
    bool simulate = false;
    bool underrunProtection = true;
    int cacheSeconds = 5;
    unsigned long throttle = 0; // KB/s a virtual writer pretends to write at (0: as fast as it goes)
    int failAtPercent = -1;     // virtual writers: the data stops there
    int corruptPercent = 0;     // virtual writers: this share of the sectors gets one byte changed
    std::function<void(long event, void* p1, void* p2)> event;
};

struct CallResult {
    long code = EN_SUCCESS;
    unsigned long status = 0;
    std::string text;
    static CallResult Fail(long code, std::string text, unsigned long status = 0) {
        return {code, status, std::move(text)};
    }
};

// A grabbed libburn drive that Cancel may reach from another thread.
class ActiveDrive {
public:
    void Set(burn::burn_drive* drive);
    void Clear();
    void Cancel(); // cancels the drive if one is set; remembers the request either way
    bool CancelRequested() const { return m_bCancel; }
    void ResetCancel() { m_bCancel = false; }

private:
    std::mutex m_mutex;
    burn::burn_drive* m_pDrive = nullptr;
    std::atomic<bool> m_bCancel{false};
};

class Drive {
public:
    virtual ~Drive() = default;
    virtual std::string Name() const = 0;
    virtual DriveIdentity Identity() = 0;
    virtual CallResult Snapshot(MediaSnapshot* media) = 0;
    virtual CallResult Write(const WriteJob& job, ActiveDrive* active) = 0;
    virtual CallResult CloseSession() = 0;
    virtual CallResult Blank(bool fast, ActiveDrive* active) = 0;
    virtual CallResult Eject() = 0;
};

// A real writer at a device path ("/dev/sr0").
std::unique_ptr<Drive> MakeRealDrive(const std::string& path);

// One writer of writers.ini.
struct VirtualWriterConfig {
    int number = 0; // 1, 2, ... in file order
    std::string section;
    std::string name;
    std::string image;
    int media = 5;
    uint32_t capacity = 2295104;
    bool written = false;
    std::vector<unsigned long> speeds;
    enum class Fail { None, NotReady, Blank, Write, Corrupt } fail = Fail::None;
    int failPercent = 0; // write:N and corrupt:N
    std::string error;   // why the section is unusable (the writer is then left out)
};
std::string VirtualWritersFile();
std::vector<VirtualWriterConfig> ReadVirtualWriters(const std::string& file);
std::unique_ptr<Drive> MakeVirtualDrive(const VirtualWriterConfig& config, const std::string& file);
// Why a usable section's writer is not ready (its image is not one it may write), or empty.
std::string VirtualWriterNotReady(const VirtualWriterConfig& config);

// Writes one track through a grabbed libburn drive at `address` ("/dev/sr0", "stdio:/path").
CallResult WriteTrack(const std::string& address, const WriteJob& job, ActiveDrive* active);
// Drains libburn's message queue; returns the last message of severity SORRY or worse.
std::string LastLibburnError();

// Serialises libburn's drive list: scans, grabs and releases.
std::mutex& LibburnLock();

// Real writers found by a bounded scan: device path and SCSI-style address.
struct FoundDrive {
    std::string path;
    SCSI_DEVICE_ADDRESS address;
};
CallResult ScanRealDrives(std::vector<FoundDrive>* found);

} // namespace qx::starburn
