// CDevice writing: the erase with its pacing thread, the burn sequence and its event handler, and
// the cancel that the stop request sends.
#include "Device.h"

#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <thread>

namespace {

void QueryCallback(long, void*, void*, void*) {}

void BurnCallback(long event, void* context, void* param1, void* param2) {
    static_cast<CDevice*>(context)->DVDVideoBurnCallback(event, param1, param2);
}

const char* YesNo(bool b) {
    return b ? "Yes" : "No";
}

// Moves ProgressPercent on once a second over the estimated erase time; stops when told.
class ErasePacer {
public:
    ErasePacer(CDevice* device, int seconds) {
        m_thread = std::thread([this, device, seconds] {
            device->SetProgressPercent(0);
            std::unique_lock<std::mutex> lock(m_mutex);
            for (int i = 0; i < seconds; ++i) {
                if (m_cv.wait_for(lock, std::chrono::seconds(1), [this] { return m_bStop; })) {
                    return;
                }
                device->SetProgressPercent((i * 100 + 100) / seconds);
            }
        });
    }
    ~ErasePacer() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bStop = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bStop = false;
    std::thread m_thread;
};

// Destroys the DVD-Video image on every way out of the burn.
struct ImageGuard {
    StarBurnDvdVideo* image = nullptr;
    ~ImageGuard() { StarBurn_DVDVideo_Destroy(image); }
};

} // namespace

int EraseEstimateSeconds(double usedBytes, unsigned long currentWriteSpeed) {
    // 716800 KB = 700 MB on top of the used size; speed 0 would divide by zero.
    const unsigned long speed = currentWriteSpeed ? currentWriteSpeed : 1385;
    return static_cast<int>((static_cast<uint64_t>(usedBytes / 1024) + 716800) / speed);
}

bool CDevice::Erase() {
    m_strEraseFailure.clear();
    auto fail = [this](const std::string& why) {
        m_strEraseFailure = why;
        return false;
    };
    EngineMessage(1, 0, "Srarted.");
    if (!m_hBurner && !CdvdBurnerGrabberCreate(QueryCallback, 1)) {
        return fail(std::string("the writer could not be opened: ") + m_szText);
    }
    EngineMessage(1, 0, "Testing unit ready...");
    if (!TestUnitReady()) {
        EngineMessage(1, 3, "Unit is not ready!");
        return fail("the writer is not ready");
    }
    EngineMessage(1, 0, "Unit ready.");
    if (m_writeSpeeds.empty()) {
        GetWriteSpeeds();
    }
    if (m_writeSpeeds.empty()) {
        return fail("the writer reports no write speed");
    }
    if (StarBurn_CdvdBurnerGrabber_SetSpeeds(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, 65535,
                                             m_writeSpeeds.back().speed) != EN_SUCCESS) {
        return fail(std::string("the speed could not be set: ") + m_szText);
    }
    EngineMessage(1, 0, "Erasing...");
    m_nDeviceState = Erasing;
    if (m_bCancelled) {
        m_nDeviceState = Idle;
        return fail("cancelled");
    }
    unsigned long curRead = 0, maxRead = 0, curWrite = 0, maxWrite = 0;
    if (StarBurn_CdvdBurnerGrabber_GetSpeeds(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, &curRead, &maxRead,
                                             &curWrite, &maxWrite) != EN_SUCCESS) {
        return fail(std::string("the speeds could not be read: ") + m_szText);
    }
    m_nEraseSeconds = EraseEstimateSeconds(m_dUsedBytes, curWrite);
    {
        ErasePacer pacer(this, m_nEraseSeconds);
        m_lResult = StarBurn_CdvdBurnerGrabber_Blank(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, true);
    }
    if (m_lResult != EN_SUCCESS) {
        TraceFailure("\nCDevice::Erase(): StarBurn_CdvdBurnerGrabber_Blank() failed, exception %ld, status %ld, text "
                     "'%s'\n");
        return fail(std::string("blanking failed: ") + m_szText);
    }
    SetProgressPercent(0);
    m_nDeviceState = Idle;
    m_dUsedBytes = 0;
    EngineMessage(1, 0, "Erasing Complete");
    return true;
}

BurnOutcome CDevice::BurnDVDVideo(const DvdVideoDescriptor& descriptor, const std::string& folder) {
    char line[2048];
    EngineMessage(1, 0, "Started");
    Log("Started\n");

    // Row 2: the DVD-Video image, stamped with the local time.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    ImageGuard image;
    m_lResult = StarBurn_DVDVideo_Create(&image.image, folder.c_str(), true, m_szText, sizeof m_szText, &m_dwStatus,
                                         descriptor.label.c_str(), descriptor.publisher.c_str(),
                                         descriptor.preparer.c_str(), local.tm_year + 1900, local.tm_mon + 1,
                                         local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, 0);
    if (m_lResult != EN_SUCCESS) {
        TraceFailure("\n\nCDevice::BurnDVDVideo(): StarBurn_DVDVideo_Create(), exception %ld, status %ld, text '%s'\n");
        Log("Creating DVD-Video file system failed!\n");
        EngineMessage(1, 3, "Creating DVD-Video file system failed!");
        return BurnOutcome::Failed;
    }

    // Row 3: a handle of its own for the burn, with the burn callback.
    if (!CdvdBurnerGrabberCreate(BurnCallback, 0)) {
        EngineMessage(1, 3, "Started Error!");
        Log("Started Error!\n");
        return BurnOutcome::Failed;
    }

    // Row 4.
    EngineMessage(0, 0, "CDevice::BurnDVDVideo(): Testing unit ready... ");
    EngineMessage(1, 0, "Testing unit ready...");
    Log("Testing unit ready...\n");
    if (!TestUnitReady()) {
        EngineMessage(1, 3, "Unit is not ready!");
        Log("Unit is not ready!\n");
        return BurnOutcome::Failed;
    }
    EngineMessage(1, 0, "Unit is ready!");
    Log("Unit is ready!\n");

    // Rows 5 and 6.
    EngineMessage(0, 0, "CDevice::BurnDVDVideo(): Probing supported write modes... ");
    EngineMessage(1, 0, "Probing supported write modes...");
    Log("Probing supported write modes...\n");
    bool tao = false, sao = false, daoPQ = false, daoRaw = false;
    m_lResult = StarBurn_CdvdBurnerGrabber_ProbeSupportedWriteModes(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus,
                                                                    &tao, &sao, &daoPQ, &daoRaw);
    if (m_lResult != EN_SUCCESS) {
        TraceFailure("\n\nCDevice::BurnDVDVideo(): StarBurn_CdvdBurnerGrabber_ProbeSupportedWriteModes() failed, "
                     "exception %ld, status %ld, text '%s'\n");
        Log("Probing supported write modes Error!\n");
        EngineMessage(1, 3, "Probing supported write modes Error!");
        return BurnOutcome::Failed;
    }
    std::snprintf(line, sizeof line,
                  "CDevice::BurnDVDVideo(): Track-At-Once: %s, Session-At-Once: %s, Disc-At-Once PQ: %s, Disc-At-Once "
                  "raw P-W: %s\n",
                  YesNo(tao), YesNo(sao), YesNo(daoPQ), YesNo(daoRaw));
    Log(line);
    if (!tao) {
        EngineMessage(0, 3, "\n\nCDevice::BurnDVDVideo(): Track-At-Once is unsupported!!!\n");
        EngineMessage(1, 3, "Track-At-Once is unsupported!");
        return BurnOutcome::Failed;
    }
    EngineMessage(1, 0, "Track-At-Once is supported!");

    // Row 7, then the exact fit: the image's sectors against the free sectors of the disc now.
    int64_t bytes = 0;
    StarBurn_DVDVideo_GetSizeInUCHARs(image.image, &bytes);
    std::snprintf(line, sizeof line, "CDevice::BurnDVDVideo(): Burning %" PRId64 " UCHARs of DVD-Video image\n", bytes);
    Log(line);
    const uint64_t sectors = static_cast<uint64_t>(bytes) / 2048;
    const uint64_t freeSectors = RefreshFreeSize() ? static_cast<uint64_t>(m_dFreeBytes / 2048) : 0;
    if (sectors > freeSectors) {
        const int discMB = static_cast<int>(freeSectors * 2048 / 1048576);
        const int imageMB = static_cast<int>((static_cast<uint64_t>(bytes) + 1048575) / 1048576);
        char box[512], log[512];
        std::snprintf(box, sizeof box,
                      "Inserted dvd disk volume:%dM is lower then video dvd file volume:%dM.\n So cannot burn. Please "
                      "remove some file in dvd.",
                      discMB, imageMB);
        std::snprintf(log, sizeof log,
                      "Starburn Inserted dvd disk volume:%dM is lower then video dvd file volume:%dM. Quit burn\n",
                      discMB, imageMB);
        std::snprintf(line, sizeof line,
                      "CDevice::BurnDVDVideo(): the image needs %" PRIu64 " sectors, the disc has %" PRIu64 " free\n",
                      sectors, freeSectors);
        Log(line);
        if (onRefusal) {
            onRefusal(box, log);
        }
        return BurnOutcome::Refused;
    }

    // Rows 8 and 9.
    EngineMessage(1, 0, "Getting BUP (Buffer Underrun Protection) support...");
    bool bupEnabled = false, bupSupported = false;
    m_lResult = StarBurn_CdvdBurnerGrabber_GetBUP(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, &bupEnabled,
                                                  &bupSupported);
    if (m_lResult != EN_SUCCESS) {
        TraceFailure("\n\nCDevice::BurnDVDVideo(): StarBurn_CdvdBurnerGrabber_GetBUP() failed, exception %ld, status "
                     "%ld, text '%s'\n");
        Log("Getting BUP failed!\n");
        EngineMessage(1, 3, "Getting BUP failed!");
        return BurnOutcome::Failed;
    }
    EngineMessage(1, 0, "Getting BUP successfully!");
    std::snprintf(line, sizeof line,
                  "CDevice::BurnDVDVideo(): BUP (Buffer Underrun Protection) Enabled: %s, Supported: %s\n",
                  YesNo(bupEnabled), YesNo(bupSupported));
    Log(line);
    EngineMessage(1, 0, "Enabling BUP (Buffer Underrun Protection)...");
    m_lResult = StarBurn_CdvdBurnerGrabber_SetBUP(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, true);
    if (m_lResult != EN_SUCCESS) {
        EngineMessage(
            0, 2,
            "Failed!\nCDevice::BurnDVDVideo(): WARNING! StarBurn_CdvdBurnerGrabber_SetBUP() failed, exception "
            "%ld, status %ld, text '%s'\n",
            m_lResult, static_cast<long>(m_dwStatus), m_szText);
        EngineMessage(1, 0, "Enabling BUP failed!");
        std::snprintf(line, sizeof line,
                      "CDevice::BurnDVDVideo(): WARNING! StarBurn_CdvdBurnerGrabber_SetBUP() failed, exception %ld, "
                      "status %ld, text '%s'\n",
                      m_lResult, static_cast<long>(m_dwStatus), m_szText);
        Log(line);
    } else {
        EngineMessage(1, 0, "Enabling BUP successfully!");
        Log("Enabling BUP successfully!\n");
    }

    // Rows 10 and 11: the highest write speed.
    if (m_writeSpeeds.empty()) {
        GetWriteSpeeds();
    }
    if (m_writeSpeeds.empty()) {
        return BurnOutcome::Failed;
    }
    const SpeedEntry speed = m_writeSpeeds.back();
    Log("Setting speed: " + speed.name + "!\n");
    if (StarBurn_CdvdBurnerGrabber_SetSpeeds(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, 65535, speed.speed) !=
        EN_SUCCESS) {
        Log("Setting speed FAILED\n");
        return BurnOutcome::Failed;
    }
    Log("Setting speed OK\n");

    // Row 12.
    EngineMessage(0, 0, "CDevice::BurnDVDVideo(): Sending OPC (Optimum Power Calibration)... ");
    EngineMessage(1, 0, "Sending OPC (Optimum Power Calibration)...");
    if (StarBurn_CdvdBurnerGrabber_SendOPC(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus) != EN_SUCCESS) {
        EngineMessage(0, 0, "Failed!\n");
        EngineMessage(1, 3, "Sending OPC Error!");
    } else {
        EngineMessage(1, 0, "Sending OPC successfully.");
    }

    // Rows 13 to 15: the write.
    EngineMessage(0, 0, "CDevice::BurnDVDVideo(): Writing the stuff to the CD/DVD disc >>>\n");
    SetProgressPercent(0);
    m_nDeviceState = Writing;
    // A cancel that came before the write began: the burner handle may not have been there for it.
    if (m_bCancelled) {
        m_nDeviceState = Idle;
        return BurnOutcome::Cancelled;
    }
    StarBurnTree* tree = nullptr;
    StarBurn_DVDVideo_GetTreePointer(image.image, &tree);
    m_lResult = StarBurn_CdvdBurnerGrabber_TrackAtOnceFromTree(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus, tree,
                                                               true, false, false, true, 5);
    Log("Start real wite data OK\n");
    if (m_nDeviceState == CancelRequested || m_bCancelled) {
        m_nDeviceState = Idle;
        return BurnOutcome::Cancelled;
    }
    m_nDeviceState = Idle;
    if (m_lResult != EN_SUCCESS) {
        TraceFailure("\n\nCDevice::BurnDVDVideo(): StarBurn_CdvdBurnerGrabber_TrackAtOnceFromTree() failed, exception "
                     "%ld, status %ld, text '%s'\n");
        std::snprintf(line, sizeof line,
                      "Burning Error: StarBurn_CdvdBurnerGrabber_TrackAtOnceFromTree() failed, exception %ld, status "
                      "%ld, text '%s'\n",
                      m_lResult, static_cast<long>(m_dwStatus), m_szText);
        Log(line);
        EngineMessage(1, 3, "Burning Error!");
        return BurnOutcome::Failed;
    }
    Log("Complete burnning\n");

    // Rows 16 and 17.
    EngineMessage(0, 0, "CDevice::BurnDVDVideo(): Try to close session by StarBurn_CdvdBurnerGrabber_CloseSession() ");
    EngineMessage(1, 0, "Closing session...");
    m_lResult = StarBurn_CdvdBurnerGrabber_CloseSession(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus);
    if (m_lResult != EN_SUCCESS) {
        TraceFailure("\n\nCDevice::BurnDVDVideo(): StarBurn_CdvdBurnerGrabber_CloseSession() failed, exception %ld, "
                     "status %ld, text '%s'\n");
        EngineMessage(1, 3, "Close Session Error!");
        return BurnOutcome::Failed;
    }
    EngineMessage(1, 0, "Closing session success!");
    StarBurn_CdvdBurnerGrabber_Eject(m_hBurner, m_szText, sizeof m_szText, &m_dwStatus);
    SetProgressPercent(100);
    EngineMessage(1, 0, "Burning Complete!");
    return BurnOutcome::Done;
}

void CDevice::DVDVideoBurnCallback(long event, void* param1, void* param2) {
    auto i64 = [](void* p) { return p ? *static_cast<int64_t*>(p) : int64_t{0}; };
    switch (event) {
    case CN_TARGET_FILE_ANALYZE_BEGIN:
        EngineMessage(0, 0, "CDevice::DVDVideoBurnCallback(): TARGET_FILE_ANALYZE_BEGIN\n");
        break;
    case CN_TARGET_FILE_ANALYZE_END:
        EngineMessage(0, 0,
                      "CDevice::DVDVideoBurnCallback(): Target file size in UCHARs %" PRId64 ", LBs %" PRId64 "\n",
                      i64(param1), i64(param2));
        EngineMessage(0, 0, "CDevice::DVDVideoBurnCallback(): TARGET_FILE_ANALYZE_END\n");
        break;
    case CN_WAIT_CACHE_FULL_BEGIN:
        EngineMessage(0, 0, "CDevice::DVDVideoBurnCallback(): WAIT_CACHE_FULL_BEGIN\n");
        EngineMessage(0, 0, "CDevice::DVDVideoBurnCallback(): Waiting for cache full not more then %ld ms... ",
                      param1 ? *static_cast<long*>(param1) : 0L);
        break;
    case CN_WAIT_CACHE_FULL_END:
        EngineMessage(0, 0, "OK!\nCDevice::DVDVideoBurnCallback(): WAIT_CACHE_FULL_END\n");
        EngineMessage(1, 0, "Cache is Full.");
        EngineMessage(1, 0, "Burning...");
        break;
    case CN_SYNCHRONIZE_CACHE_BEGIN:
        EngineMessage(0, 0, "\nCDevice::DVDVideoBurnCallback(): SYNCHRONIZE_CACHE_BEGIN\n");
        break;
    case CN_SYNCHRONIZE_CACHE_END:
        EngineMessage(0, 0, "CDevice::DVDVideoBurnCallback(): SYNCHRONIZE_CACHE_END\n");
        break;
    case CN_CDVD_WRITE_PROGRESS: {
        const int64_t total = i64(param1);
        const int64_t done = i64(param2);
        if (total <= 0) {
            break;
        }
        const int percent = static_cast<int>(done * 100 / total);
        if (percent != ProgressPercent()) {
            SetProgressPercent(percent);
            EngineMessage(0, 0, "%d%% ", percent);
        }
        break;
    }
    case CN_DVDPLUSRW_FORMAT_BEGIN:
        EngineMessage(0, 0, "\nCDevice::DVDVideoBurnCallback(): DVDPLUSRW_FORMAT_BEGIN\n");
        break;
    case CN_DVDPLUSRW_FORMAT_END:
        EngineMessage(0, 0, "CDevice::DVDVideoBurnCallback(): DVDPLUSRW_FORMAT_END\n");
        break;
    case CN_DVDRW_QUICK_FORMAT_BEGIN:
        EngineMessage(0, 0, "\nCDevice::DVDVideoBurnCallback(): DVDRW_QUICK_FORMAT_BEGIN\n");
        break;
    case CN_DVDRW_QUICK_FORMAT_END:
        EngineMessage(0, 0, "CDevice::DVDVideoBurnCallback(): DVDRW_QUICK_FORMAT_END\n");
        break;
    default:
        break;
    }
}

void CDevice::Cancel() {
    m_bCancelled = true;
    m_nDeviceState = CancelRequested;
    std::lock_guard<std::mutex> lock(m_handleLock);
    if (m_hBurner) {
        StarBurn_CdvdBurnerGrabber_Cancel(m_hBurner);
    }
}
