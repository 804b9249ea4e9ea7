// Real writers through libburn: the bounded scan, one-look queries (grab, read, release), the track
// write shared with the virtual writers, blank and eject.
#include "StarBurnDrive.h"
#include "TrackVerify.h"

#include <libburn/libburn.h>
using namespace burn;

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace qx::starburn {

void ActiveDrive::Set(burn_drive* drive) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pDrive = drive;
    if (m_bCancel && drive) {
        burn_drive_cancel(drive);
    }
}

void ActiveDrive::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pDrive = nullptr;
}

void ActiveDrive::Cancel() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bCancel = true;
    if (m_pDrive) {
        burn_drive_cancel(m_pDrive);
    }
}

std::string LastLibburnError() {
    std::string last;
    char text[BURN_MSGS_MESSAGE_LEN];
    char severity[80];
    int code = 0, priority = 0;
    while (burn_msgs_obtain(const_cast<char*>("ALL"), &code, text, &priority, severity) == 1) {
        const std::string sev = severity;
        if (sev == "SORRY" || sev == "FAILURE" || sev == "FATAL" || sev == "ABORT") {
            last = text;
        }
    }
    return last;
}

namespace {

constexpr int kScanBoundMs = 15000;

// Grabs the drive at `address`; null with a reason when it cannot be had.
burn_drive_info* Grab(const std::string& address, bool load, CallResult* why) {
    std::lock_guard<std::mutex> lock(LibburnLock());
    burn_drive_info* info = nullptr;
    std::string adr = address;
    const int got = burn_drive_scan_and_grab(&info, adr.data(), load ? 1 : 0);
    if (got != 1 || !info) {
        const std::string reason = LastLibburnError();
        *why = CallResult::Fail(got == 0 ? EN_NO_DEVICE : EN_BUSY,
                                "cannot open " + address + (reason.empty() ? "" : ": " + reason));
        return nullptr;
    }
    return info;
}

void Release(burn_drive_info* info, bool eject) {
    std::lock_guard<std::mutex> lock(LibburnLock());
    burn_drive_release(info[0].drive, eject ? 1 : 0);
    burn_drive_info_free(info);
}

bool IsOverwritable(int profile) {
    return profile == 0x12 || profile == 0x13 || profile == 0x1A || profile == 0x43;
}

// A file system on an overwritable disc: an ISO 9660 primary descriptor at sector 16 (its volume
// size in sectors comes back) or a UDF anchor at sector 256.
uint32_t FileSystemSectors(burn_drive* d) {
    char buf[2048];
    off_t count = 0;
    if (burn_read_data(d, 16 * 2048, buf, 2048, &count, 2) > 0 && std::memcmp(buf,
                                                                              "\x01"
                                                                              "CD001",
                                                                              6) == 0) {
        const auto* b = reinterpret_cast<const unsigned char*>(buf);
        const uint32_t size = b[80] | (b[81] << 8) | (b[82] << 16) | (static_cast<uint32_t>(b[83]) << 24);
        return size ? size : 1;
    }
    if (burn_read_data(d, 256 * 2048, buf, 2048, &count, 2) > 0) {
        const auto* b = reinterpret_cast<const unsigned char*>(buf);
        if ((b[0] | (b[1] << 8)) == 2) {
            return 257;
        }
    }
    return 0;
}

uint32_t EntryStart(const burn_toc_entry& e) {
    if (e.extensions_valid & 1) {
        return static_cast<uint32_t>(e.start_lba);
    }
    return static_cast<uint32_t>(burn_msf_to_lba(e.pmin, e.psec, e.pframe));
}

void ReadToc(burn_drive* d, int discType, MediaSnapshot* m) {
    burn_disc* disc = burn_drive_get_disc(d);
    if (!disc) {
        return;
    }
    int nsessions = 0;
    burn_session** sessions = burn_disc_get_sessions(disc, &nsessions);
    m->sessions = nsessions;
    burn_toc_entry leadout{};
    bool haveLeadout = false;
    for (int s = 0; s < nsessions; ++s) {
        int ntracks = 0;
        burn_track** tracks = burn_session_get_tracks(sessions[s], &ntracks);
        for (int t = 0; t < ntracks; ++t) {
            burn_toc_entry e{};
            burn_track_get_entry(tracks[t], &e);
            m->tocStarts.push_back(EntryStart(e));
        }
        burn_session_get_leadout_entry(sessions[s], &leadout);
        haveLeadout = true;
    }
    if (m->discStatus == 1 && (discType == 5 || discType == 13) && m->nwaValid) {
        m->tocStarts.push_back(m->nwa); // the invisible track
    }
    if (haveLeadout) {
        m->tocStarts.push_back(EntryStart(leadout));
    }
    m->tocValid = !m->tocStarts.empty();
    burn_disc_free(disc);
}

// Reads a disc back through a drive grabbed for the whole read-back.
class LibburnReader : public SectorReader {
public:
    explicit LibburnReader(burn_drive_info* info) : m_pInfo(info) {
        int capacity = 0;
        if (burn_get_read_capacity(m_pInfo[0].drive, &capacity, 0) > 0 && capacity >= 0) {
            m_nCapacity = static_cast<uint64_t>(capacity);
        }
    }
    ~LibburnReader() override { Release(m_pInfo, false); }

    CallResult Read(uint64_t first, uint32_t count, uint8_t* buffer, uint32_t* got) override {
        // Nothing is asked past the readable end of the disc (a drive may hand back stale data there).
        const uint32_t readable =
            first >= m_nCapacity ? 0 : static_cast<uint32_t>(std::min<uint64_t>(count, m_nCapacity - first));
        off_t bytes = 0;
        const int done = readable == 0 ? 1
                                       : burn_read_data(m_pInfo[0].drive, static_cast<off_t>(first * 2048),
                                                        reinterpret_cast<char*>(buffer),
                                                        static_cast<off_t>(readable) * 2048, &bytes, 0);
        *got = static_cast<uint32_t>(std::min<off_t>(std::max<off_t>(0, bytes), off_t{readable} * 2048) / 2048);
        if (done <= 0 || *got < readable) {
            const std::string reason = LastLibburnError();
            return CallResult::Fail(EN_READ_FAILURE, reason.empty() ? "the drive reported a read error" : reason);
        }
        if (readable < count) {
            return CallResult::Fail(EN_READ_FAILURE, "nothing: the disc ends after " + std::to_string(m_nCapacity) +
                                                         " readable sectors");
        }
        return {};
    }

private:
    burn_drive_info* m_pInfo;
    uint64_t m_nCapacity = UINT64_MAX; // readable sectors, when the drive tells
};

// Whether the drive reads sector `first` of the disc (overwritable discs look blank whatever they
// hold: the status says nothing here).
bool ReadsBack(burn_drive* d, uint64_t first) {
    if (burn_disc_get_status(d) == BURN_DISC_EMPTY) {
        return false;
    }
    char sector[2048];
    off_t count = 0;
    const bool read = burn_read_data(d, static_cast<off_t>(first * 2048), sector, 2048, &count, 2) > 0;
    LastLibburnError();
    return read;
}

class RealDrive : public Drive {
public:
    explicit RealDrive(std::string path) : m_strPath(std::move(path)) {}
    std::string Name() const override { return m_strPath; }

    DriveIdentity Identity() override {
        CallResult why;
        DriveIdentity id;
        burn_drive_info* info = Grab(m_strPath, false, &why);
        if (!info) {
            return id;
        }
        id.vendor = info[0].vendor;
        id.product = info[0].product;
        id.revision = info[0].revision;
        id.cacheBytes = info[0].buffer_size > 0 ? static_cast<unsigned long>(info[0].buffer_size) * 1024 : 0;
        id.writesDvdR = info[0].write_dvdr;
        int num = 0;
        int profiles[64];
        char current[64];
        if (burn_drive_get_all_profiles(info[0].drive, &num, profiles, current) > 0) {
            id.profiles.assign(profiles, profiles + num);
        }
        Release(info, false);
        return id;
    }

    CallResult Snapshot(MediaSnapshot* m) override {
        *m = MediaSnapshot{};
        CallResult why;
        burn_drive_info* info = Grab(m_strPath, false, &why);
        if (!info) {
            return why;
        }
        burn_drive* d = info[0].drive;
        int profile = 0;
        char profileName[80];
        burn_disc_get_profile(d, &profile, profileName);
        const burn_disc_status st = burn_disc_get_status(d);
        m->maxWrite = static_cast<unsigned long>(std::max(0, burn_drive_get_write_speed(d)));
        m->maxRead = static_cast<unsigned long>(std::max(0, burn_drive_get_read_speed(d)));
        m->discType = st == BURN_DISC_EMPTY ? 14 : StarBurnDiscTypeOfProfile(profile);
        m->ready = st == BURN_DISC_BLANK || st == BURN_DISC_APPENDABLE || st == BURN_DISC_FULL;
        burn_speed_descriptor* list = nullptr;
        if (burn_drive_get_speedlist(d, &list) > 0) {
            for (burn_speed_descriptor* s = list; s; s = s->next) {
                if (s->write_speed > 0) {
                    m->writeSpeeds.push_back(static_cast<unsigned long>(s->write_speed));
                }
                if (s->read_speed > 0) {
                    m->readSpeeds.push_back(static_cast<unsigned long>(s->read_speed));
                }
            }
            burn_drive_free_speedlist(&list);
        }
        if (m->ready) {
            m->erasable = burn_disc_erasable(d);
            m->discStatus = st == BURN_DISC_BLANK ? 0 : st == BURN_DISC_APPENDABLE ? 1 : 2;
            burn_write_opts* opts = burn_write_opts_new(d);
            int lba = 0, nwa = 0;
            if (st != BURN_DISC_FULL && burn_disc_track_lba_nwa(d, opts, 0, &lba, &nwa) > 0 && nwa >= 0) {
                m->nwaValid = true;
                m->nwa = static_cast<uint32_t>(nwa);
            }
            const off_t space = st == BURN_DISC_FULL ? 0 : burn_disc_available_space(d, opts);
            m->freeSectors = static_cast<uint32_t>(std::max<off_t>(0, space) / 2048);
            burn_multi_caps* caps = nullptr;
            if (burn_disc_get_multi_caps(d, BURN_WRITE_NONE, &caps, 0) > 0 && caps) {
                m->trackAtOnce = caps->might_do_tao || caps->might_do_sao;
                m->sessionAtOnce = caps->might_do_sao;
            }
            burn_disc_free_multi_caps(&caps);
            burn_write_opts_free(opts);
            ReadToc(d, m->discType, m);
            // Overwritable discs always look blank: a file system on them means recorded data.
            if (IsOverwritable(profile)) {
                if (const uint32_t fs = FileSystemSectors(d)) {
                    m->discStatus = 2;
                    m->nwaValid = false;
                    m->tocStarts = {0, fs};
                    m->tocValid = true;
                    m->sessions = 1;
                }
            }
        }
        m->bupSupported = true; // DVD writers protect against underruns themselves
        LastLibburnError();
        Release(info, false);
        return {};
    }

    CallResult Write(const WriteJob& job, ActiveDrive* active) override { return WriteTrack(m_strPath, job, active); }

    // The session is closed by the write itself (the track is written with the disc closed).
    CallResult CloseSession() override { return {}; }

    CallResult Blank(bool fast, ActiveDrive* active) override {
        CallResult why;
        burn_drive_info* info = Grab(m_strPath, true, &why);
        if (!info) {
            return why;
        }
        burn_drive* d = info[0].drive;
        int profile = 0;
        char name[80];
        burn_disc_get_profile(d, &profile, name);
        CallResult result;
        if (IsOverwritable(profile) && profile != 0x13) {
            // Overwriting the first 300 sectors removes the ISO 9660 and UDF descriptors.
            std::vector<char> zeros(32 * 2048, 0);
            for (off_t at = 0; at < 320 * 2048 && result.code == EN_SUCCESS; at += zeros.size()) {
                if (active->CancelRequested()) {
                    result = CallResult::Fail(EN_CANCELLED, "cancelled");
                } else if (burn_random_access_write(d, at, zeros.data(), static_cast<off_t>(zeros.size()), 1) <= 0) {
                    result =
                        CallResult::Fail(EN_BLANK_FAILURE, "overwriting the file system failed: " + LastLibburnError());
                }
            }
        } else if (!burn_disc_erasable(d)) {
            result = CallResult::Fail(EN_NOT_SUPPORTED, "the disc is not erasable");
        } else {
            active->Set(d);
            burn_disc_erase(d, fast ? 1 : 0);
            burn_progress p;
            while (burn_drive_get_status(d, &p) != BURN_DRIVE_IDLE) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
            active->Clear();
            if (active->CancelRequested()) {
                result = CallResult::Fail(EN_CANCELLED, "cancelled");
            } else if (!burn_drive_wrote_well(d)) {
                result = CallResult::Fail(EN_BLANK_FAILURE, "blanking failed: " + LastLibburnError());
            }
        }
        LastLibburnError();
        Release(info, false);
        return result;
    }

    CallResult Eject() override {
        CallResult why;
        burn_drive_info* info = Grab(m_strPath, false, &why);
        if (!info) {
            return why;
        }
        Release(info, true);
        return {};
    }

    CallResult OpenReader(uint64_t firstSector, uint64_t, std::unique_ptr<SectorReader>* reader) override {
        CallResult why;
        // Grabbing with load closes the tray.
        burn_drive_info* info = Grab(m_strPath, true, &why);
        if (!info) {
            return why;
        }
        if (!ReadsBack(info[0].drive, firstSector)) {
            // Some drives show a freshly written disc only after the tray went out and in again.
            Release(info, true);
            info = Grab(m_strPath, true, &why);
            if (!info) {
                return why;
            }
            if (!ReadsBack(info[0].drive, firstSector)) {
                Release(info, false);
                return CallResult::Fail(EN_READ_FAILURE, "the written disc cannot be read in " + m_strPath +
                                                             " (after reloading the tray)");
            }
        }
        *reader = std::make_unique<LibburnReader>(info);
        return {};
    }

private:
    std::string m_strPath;
};

} // namespace

std::unique_ptr<Drive> MakeRealDrive(const std::string& path) {
    return std::make_unique<RealDrive>(path);
}

CallResult ScanRealDrives(std::vector<FoundDrive>* found) {
    found->clear();
    burn_drive_info* infos = nullptr;
    unsigned int count = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kScanBoundMs);
    int done = 0;
    while ((done = burn_drive_scan(&infos, &count)) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return CallResult::Fail(EN_GENERIC_FAILURE, "the drive scan did not finish in time");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done < 0) {
        return CallResult::Fail(EN_GENERIC_FAILURE, "the drive scan failed: " + LastLibburnError());
    }
    for (unsigned int i = 0; i < count; ++i) {
        char adr[BURN_DRIVE_ADR_LEN] = {};
        if (burn_drive_d_get_adr(infos[i].drive, adr) > 0) {
            FoundDrive f;
            f.path = adr;
            int bus = 0, host = 0, channel = 0, target = 0, lun = 0;
            if (burn_drive_obtain_scsi_adr(adr, &bus, &host, &channel, &target, &lun) > 0) {
                f.address.port = static_cast<uint8_t>(host);
                f.address.bus = static_cast<uint8_t>(channel);
                f.address.target = static_cast<uint8_t>(target);
                f.address.lun = static_cast<uint8_t>(lun);
            } else {
                // No SCSI address (some bridges): a private one, unique within the scan.
                f.address.port = 254;
                f.address.target = static_cast<uint8_t>(i);
            }
            found->push_back(f);
        }
        // Scanned drives stay locked until forgotten: leave every drive to the desktop.
        burn_drive_info_forget(&infos[i], 0);
    }
    burn_drive_info_free(infos);
    LastLibburnError();
    return {};
}

} // namespace qx::starburn
