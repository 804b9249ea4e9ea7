// One track written through libburn from a StarBurnTree: the tree is read through a burn_source in
// runs of sectors; the drive's status drives the burn callback's events.
#include "StarBurnDrive.h"

#include <libburn/libburn.h>
using namespace burn;

#include <sys/time.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace qx::starburn {

namespace {

constexpr uint32_t kRunSectors = 256; // 512 KB read from the tree at a time

struct TreeSource {
    StarBurnTree* tree = nullptr;
    uint64_t sectors = 0;
    uint64_t next = 0; // next sector handed to libburn
    std::vector<uint8_t> run;
    uint64_t runFirst = 0;
    uint32_t runCount = 0;
    uint64_t failAt = UINT64_MAX; // sector where the data stops (injected failure)
    int corruptPercent = 0;       // share of the sectors that get one byte changed (injected failure)
    unsigned long throttle = 0;
    timeval prevTime{};
    int usCorr = 0;
    ActiveDrive* active = nullptr;
    std::string error;
};

int ReadSector(burn_source* source, unsigned char* buffer, int size) {
    auto* s = static_cast<TreeSource*>(source->data);
    if (size != 2048) {
        s->error = "unexpected block size " + std::to_string(size);
        return -1;
    }
    if (s->active->CancelRequested()) {
        return -1;
    }
    if (s->next >= s->sectors) {
        return 0;
    }
    if (s->next >= s->failAt) {
        s->error = "the data stopped at sector " + std::to_string(s->next) + " (injected write failure)";
        return -1;
    }
    if (s->next < s->runFirst || s->next >= s->runFirst + s->runCount) {
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(kRunSectors, s->sectors - s->next));
        s->run.resize(static_cast<size_t>(count) * 2048);
        std::string error;
        if (!s->tree->ReadSectors(s->next, count, s->run.data(), &error)) {
            s->error = error.empty() ? "the data could not be read" : error;
            return -1;
        }
        s->runFirst = s->next;
        s->runCount = count;
        if (s->throttle) {
            // A virtual writer writes no faster than its speed (libburn's KB are 1000 bytes).
            burn_nominal_slowdown(static_cast<int>(s->throttle * 1024 / 1000), 1000000, &s->prevTime, &s->usCorr,
                                  static_cast<off_t>(count) * 2048, 0);
        }
    }
    std::memcpy(buffer, s->run.data() + (s->next - s->runFirst) * 2048, 2048);
    // Injected corruption, spread evenly: sector n when the count of sectors due up to it grows.
    const uint64_t percent = static_cast<uint64_t>(s->corruptPercent);
    if (percent && (s->next + 1) * percent / 100 > s->next * percent / 100) {
        buffer[s->next * 131 % 2048] ^= 0xFF;
    }
    ++s->next;
    return size;
}

off_t SourceSize(burn_source* source) {
    return static_cast<off_t>(static_cast<TreeSource*>(source->data)->sectors * 2048);
}
int SetSize(burn_source*, off_t) {
    return 1;
}
void FreeData(burn_source*) {}

bool Writing(burn_drive_status st) {
    return st == BURN_DRIVE_WRITING || st == BURN_DRIVE_WRITING_LEADIN || st == BURN_DRIVE_WRITING_LEADOUT ||
           st == BURN_DRIVE_WRITING_PREGAP;
}

} // namespace

CallResult WriteTrack(const std::string& address, const WriteJob& job, ActiveDrive* active) {
    auto event = [&](long ev, void* p1 = nullptr, void* p2 = nullptr) {
        if (job.event) {
            job.event(ev, p1, p2);
        }
    };
    TreeSource data;
    data.tree = job.tree;
    data.sectors = job.tree->SizeInSectors();
    data.throttle = job.throttle;
    data.active = active;
    data.corruptPercent = job.corruptPercent;
    if (job.failAtPercent >= 0) {
        data.failAt = data.sectors * static_cast<uint64_t>(job.failAtPercent) / 100;
    }
    if (job.throttle) {
        burn_nominal_slowdown(0, 0, &data.prevTime, &data.usCorr, 0, 1);
    }
    int64_t bytes = static_cast<int64_t>(data.sectors) * 2048;
    int64_t sectors = static_cast<int64_t>(data.sectors);
    event(CN_TARGET_FILE_ANALYZE_BEGIN);
    event(CN_TARGET_FILE_ANALYZE_END, &bytes, &sectors);

    burn_drive_info* info = nullptr;
    std::string adr = address;
    {
        std::lock_guard<std::mutex> lock(LibburnLock());
        if (burn_drive_scan_and_grab(&info, adr.data(), 1) != 1 || !info) {
            return CallResult::Fail(EN_BUSY, "cannot open " + address + ": " + LastLibburnError());
        }
    }
    burn_drive* d = info[0].drive;

    burn_source source{};
    source.refcount = 1;
    source.read = ReadSector;
    source.get_size = SourceSize;
    source.set_size = SetSize;
    source.free_data = FreeData;
    source.data = &data;

    burn_disc* disc = burn_disc_create();
    burn_session* session = burn_session_create();
    burn_disc_add_session(disc, session, BURN_POS_END);
    burn_track* track = burn_track_create();
    burn_track_define_data(track, 0, 0, 1, BURN_MODE1);
    burn_track_set_source(track, &source);
    burn_session_add_track(session, track, BURN_POS_END);

    burn_write_opts* opts = burn_write_opts_new(d);
    burn_write_opts_set_perform_opc(opts, 0);
    burn_write_opts_set_multi(opts, job.closeDisc ? 0 : 1);
    burn_write_opts_set_simulate(opts, job.simulate ? 1 : 0);
    burn_write_opts_set_underrun_proof(opts, job.underrunProtection ? 1 : 0);
    char reasons[BURN_REASONS_LEN] = {};
    CallResult result;
    if (burn_write_opts_auto_write_type(opts, disc, reasons, 0) == BURN_WRITE_NONE) {
        result = CallResult::Fail(EN_NOT_SUPPORTED, std::string("no write mode fits this disc: ") + reasons);
    } else {
        burn_drive_set_speed(d, 0, static_cast<int>(job.speed));
        long cacheMs = job.cacheSeconds * 1000L;
        event(CN_WAIT_CACHE_FULL_BEGIN, &cacheMs);
        active->Set(d);
        burn_disc_write(opts, disc);
        burn_progress p{};
        bool writing = false, formatting = false, closing = false;
        int64_t lastDone = -1;
        burn_drive_status st;
        while ((st = burn_drive_get_status(d, &p)) == BURN_DRIVE_SPAWNING) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        while ((st = burn_drive_get_status(d, &p)) != BURN_DRIVE_IDLE) {
            if (st == BURN_DRIVE_FORMATTING && !formatting) {
                formatting = true;
                event(CN_DVDPLUSRW_FORMAT_BEGIN);
            }
            if (Writing(st)) {
                if (formatting) {
                    formatting = false;
                    event(CN_DVDPLUSRW_FORMAT_END);
                }
                if (!writing) {
                    writing = true;
                    event(CN_WAIT_CACHE_FULL_END);
                }
                // The last sector is reported only by the session's close: 100 % means closed.
                const int64_t done = std::min<int64_t>(std::max(0, p.sector), std::max<int64_t>(0, sectors - 1)) * 2048;
                if (done != lastDone) {
                    lastDone = done;
                    int64_t total = bytes, now = done;
                    event(CN_CDVD_WRITE_PROGRESS, &total, &now);
                }
            }
            if ((st == BURN_DRIVE_CLOSING_TRACK || st == BURN_DRIVE_CLOSING_SESSION) && !closing) {
                closing = true;
                event(CN_SYNCHRONIZE_CACHE_BEGIN);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        active->Clear();
        const bool well = burn_drive_wrote_well(d);
        const std::string libburnError = LastLibburnError();
        if (closing) {
            event(CN_SYNCHRONIZE_CACHE_END);
        }
        if (active->CancelRequested()) {
            result = CallResult::Fail(EN_CANCELLED, "cancelled");
        } else if (!data.error.empty()) {
            result = CallResult::Fail(EN_WRITE_FAILURE, data.error);
        } else if (!well || data.next < data.sectors) {
            result = CallResult::Fail(EN_WRITE_FAILURE,
                                      libburnError.empty() ? "the drive did not write the track" : libburnError);
        } else if (!writing) {
            event(CN_WAIT_CACHE_FULL_END);
        }
    }
    burn_write_opts_free(opts);
    burn_disc_free(disc);
    burn_session_free(session);
    burn_track_free(track);
    std::lock_guard<std::mutex> lock(LibburnLock());
    LastLibburnError();
    burn_drive_release(d, 0);
    burn_drive_info_free(info);
    return result;
}

} // namespace qx::starburn
