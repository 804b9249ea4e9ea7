#include "BuildInCore.h"

#include "BurnJob.h"
#include "NamedEvent.h"
#include "PromptService.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

constexpr const char* kEndEventName = "QXEventStarBurning";

qx::NamedEvent& EndEvent() {
    static qx::NamedEvent event;
    return event;
}

} // namespace

CBuildInCore::CBuildInCore(EngineLogSink log) : m_log(std::move(log)) {}

CBuildInCore::~CBuildInCore() {
    m_devices.clear();
    if (m_bStarted) {
        StarBurn_DownShut();
    }
}

void CBuildInCore::Log(const std::string& line) const {
    if (m_log) {
        m_log(line);
    }
}

int64_t CBuildInCore::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

CDevice* CBuildInCore::Device(int index) const {
    return index >= 0 && index < DeviceCount() ? m_devices[static_cast<size_t>(index)].get() : nullptr;
}

void CBuildInCore::DropDeviceList() {
    if (!m_bBusy) {
        m_devices.clear();
    }
}

bool CBuildInCore::InitBurnCore() {
    if (m_bStarted) {
        return true;
    }
    char block[1028] = {};
    const long result = StarBurn_UpStartEx(block, sizeof block);
    if (result != EN_SUCCESS) {
        EngineMessage(1, 3, "Can't UpStartEx StarBurn");
        EngineMessage(0, 3, "\n\nCDevice::InitStarBurnDll():StarBurn_UpStartEx() failed, exception %ld \n", result);
        return false;
    }
    m_bStarted = true;
    return true;
}

void CBuildInCore::FindDeviceCallback(long event, void* context, void* param1, void*) {
    if (event != CN_DEVICE_FOUND || !param1) {
        return;
    }
    auto* core = static_cast<CBuildInCore*>(context);
    const auto* address = static_cast<const SCSI_DEVICE_ADDRESS*>(param1);
    EngineMessage(0, 0, "\nCDevice::FindDeviceCallback): Probing SCSI address %ld:%ld:%ld:%ld for CD/DVD device... ",
                  static_cast<long>(address->port), static_cast<long>(address->bus), static_cast<long>(address->target),
                  static_cast<long>(address->lun));
    core->m_devices.push_back(std::make_unique<CDevice>(*address, core->m_log));
}

bool CBuildInCore::FindASPIDevices() {
    m_devices.clear();
    const long result = StarBurn_FindDevice(5, 0, FindDeviceCallback, this);
    EngineMessage(0, 0, "CDevice::FindASPIDevices(): found %d devices \r\n", DeviceCount());
    return result == EN_SUCCESS;
}

// Discovery, identity of each device, then the writer filter: a device stays when it writes one of
// the six DVD kinds. The listing and the description use the same filter, so a writer index
// names the same drive in the writer combo, the description, the burn and the erase.
bool CBuildInCore::RebuildDeviceList() {
    if (!m_bStarted || m_bBusy) {
        Log("Starburn writer list not rebuilt: a burn or erase is running\n");
        return false;
    }
    if (!FindASPIDevices()) {
        Log("Starburn device discovery failed\n");
    }
    if (m_devices.empty()) {
        Log("Starburn No DVD Device finded\n");
    }
    for (auto& device : m_devices) {
        device->RefreshDeviceInfo();
    }
    char line[4096];
    for (auto it = m_devices.begin(); it != m_devices.end();) {
        CDevice& d = **it;
        const DvdWriteFlags& w = d.WriteFlags();
        std::snprintf(line, sizeof line, "Starburn Find DVD Device name:%s %s %s %s ability:%d%d%d%d%d%d\n",
                      d.Letter().c_str(), d.Product().c_str(), d.Vendor().c_str(), d.Revision().c_str(), w.flag[0],
                      w.flag[1], w.flag[2], w.flag[3], w.flag[4], w.flag[5]);
        Log(line);
        if (w.Any()) {
            Log("Starburn The DVD Device " + d.Letter() + ", added\n");
            d.GetTrackInfo(255);
            d.RefreshDiscType();
            d.RefreshVolumeLabel();
            d.RefreshMediaSize();
            d.RefreshFreeSize();
            ++it;
        } else {
            Log("Starburn The DVD Device " + d.Letter() + ", removed\n");
            it = m_devices.erase(it);
        }
    }
    return true;
}

void CBuildInCore::ListWriters(QObject*, const std::function<void(std::vector<std::string>)>& deliver) {
    if (onListWriters) {
        onListWriters();
    }
    if (!RebuildDeviceList()) {
        return; // the writer combo keeps what it shows
    }
    std::vector<std::string> list;
    for (const auto& d : m_devices) {
        list.push_back(d->Letter() + " " + d->Product());
    }
    deliver(std::move(list));
}

int CBuildInCore::GetWriterInfo(int writer, DVDDeviceInfo* info) {
    if (!RebuildDeviceList()) {
        return 0;
    }
    CDevice* d = Device(writer);
    if (!d) {
        return 0;
    }
    d->Describe(info);
    return 1;
}

std::optional<ProgressLine> CBuildInCore::ProgressLineNow() const {
    const CDevice* d = Device(m_nCurrentDevice);
    if (!d) {
        return std::nullopt;
    }
    return BuiltInProgressLine(m_nBurnPhase, NowMs() - m_nStartMs, d->ProgressPercent(), d->EraseSeconds());
}

BurnOutcome CBuildInCore::RunWorker(QObject* window, int writer, const std::function<BurnOutcome()>& work) {
    if (m_bBusy || !Device(writer)) {
        Log("StarBurn no writer " + std::to_string(writer) + " to work with\n");
        return BurnOutcome::Refused;
    }
    qx::NamedEvent& event = EndEvent();
    if (!event.isOpen()) {
        const qx::Status made = event.Create(kEndEventName);
        if (!made.ok()) {
            Log("StarBurn end event not created: " + made.error() + "\n");
        }
    }
    m_bBusy = true;
    m_bStopRequested = false;
    Device(writer)->ClearCancel();
    m_nBurnPhase = 0;
    m_nCurrentDevice = writer;
    m_pWindow = window;
    CProgressTimer timer;
    timer.Start([this] { return ProgressLineNow(); },
                [this](const ProgressLine& line) {
                    if (onProgressLine) {
                        onProgressLine(line);
                    }
                });
    m_bWorkDone = false;
    std::atomic<bool>& done = m_bWorkDone;
    BurnOutcome outcome = BurnOutcome::Failed;
    std::thread worker([&] {
        outcome = work();
        done = true;
        if (event.isOpen()) {
            event.Set();
        }
    });
    while (!done) {
        if (!event.isOpen() || event.Wait(50) != qx::NamedEvent::WaitResult::Signalled) {
            if (!event.isOpen()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        QCoreApplication::processEvents();
    }
    worker.join();
    timer.Stop();
    m_bBusy = false;
    m_pWindow = nullptr;
    return outcome;
}

BurnOutcome CBuildInCore::BurnThread(QObject* window, const std::string& folder, const std::string& label) {
    CDevice& d = *Device(m_nCurrentDevice);
    auto refuse = [&](const std::string& box, const std::string& log) {
        qx::Prompts().Information(window, box);
        Log(log);
    };
    d.onRefusal = refuse;
    bool verifying = false;
    d.onVerifyBegin = [&] {
        // The write is complete: the read-back is a phase of its own, with its own time.
        Log("StarBurn Complete Write Data Progress:1!\n");
        Log("StarBurn Begin Verify Data Progress!\n");
        verifying = true;
        m_nStartMs = NowMs();
        m_nBurnPhase = 3;
    };
    struct ClearHooks {
        CDevice& device;
        ~ClearHooks() {
            device.onRefusal = nullptr;
            device.onVerifyBegin = nullptr;
        }
    } clearHooks{d};
    if (m_bStopRequested) {
        return BurnOutcome::Cancelled;
    }
    if (IsErasableKind(d.DiscType()) && !d.IsDiscBlank()) {
        Log("StarBurn Begin Erase Progress!\n");
        m_nStartMs = NowMs();
        m_nBurnPhase = 1;
        const bool erased = d.Erase();
        Log("StarBurn Complete Erase Progress!\n");
        m_nBurnPhase = 0;
        if (!erased) {
            // The reason goes to the log file too, not only to the diagnostic print.
            Log("StarBurn Erase failed: " + d.EraseFailure() + "\n");
            return m_bStopRequested ? BurnOutcome::Cancelled : BurnOutcome::Failed;
        }
        // The sizes of the erased disc, not those of the data it held.
        d.RefreshMediaSize();
        d.RefreshFreeSize();
    }
    const double capacity = (d.UsedBytes() + d.FreeBytes()) / 1048576.0;
    const double size = DvdFolderSizeMB(folder);
    if (size < 1) {
        refuse("Selected DVD File System is too small! Please check it and try again.",
               "Selected DVD File System is too small!\n");
        return BurnOutcome::Refused;
    }
    if (size > capacity) {
        char box[512], log[512];
        std::snprintf(box, sizeof box,
                      "Inserted dvd disk volume:%dM is lower then video dvd file volume:%dM.\n So cannot burn. Please "
                      "remove some file in dvd.",
                      static_cast<int>(capacity), static_cast<int>(size));
        std::snprintf(log, sizeof log,
                      "Starburn Inserted dvd disk volume:%dM is lower then video dvd file volume:%dM. Quit burn\n",
                      static_cast<int>(capacity), static_cast<int>(size));
        refuse(box, log);
        return BurnOutcome::Refused;
    }
    Log("StarBurn check dvd disk volume and dvd file volume ok!\n");
    Log("StarBurn Begin Write Data Progress!\n");
    DvdVideoDescriptor descriptor;
    descriptor.label = label;
    m_nStartMs = NowMs();
    if (m_bStopRequested) {
        return BurnOutcome::Cancelled;
    }
    m_nBurnPhase = 2;
    const BurnOutcome result = d.BurnDVDVideo(descriptor, folder, verifyAfterBurn);
    m_nBurnPhase = 0;
    if (verifying) {
        m_strVerifyFailure = d.VerifyFailure();
        Log("StarBurn Complete Verify Data Progress:" + std::to_string(result == BurnOutcome::Done ? 1 : 0) + "!\n");
        return result;
    }
    const bool written = result == BurnOutcome::Done || result == BurnOutcome::Cancelled;
    Log("StarBurn Complete Write Data Progress:" + std::to_string(written ? 1 : 0) + "!\n");
    return result;
}

BurnOutcome CBuildInCore::EraseThread() {
    CDevice& d = *Device(m_nCurrentDevice);
    if (!IsErasableKind(d.DiscType()) || d.IsDiscBlank()) {
        Log("StarBurn nothing to erase: the disc is blank or not rewritable\n");
        return BurnOutcome::Refused;
    }
    m_nStartMs = NowMs();
    m_nBurnPhase = 1;
    const bool erased = d.Erase();
    m_nBurnPhase = 0;
    if (!erased) {
        Log("StarBurn Erase failed: " + d.EraseFailure() + "\n");
    }
    if (!erased && m_bStopRequested) {
        return BurnOutcome::Cancelled;
    }
    return erased ? BurnOutcome::Done : BurnOutcome::Failed;
}

BurnOutcome CBuildInCore::BurnDVDFolder(QObject* window, int writer, const std::string& folder,
                                        const std::string& label) {
    m_strVerifyFailure.clear();
    return RunWorker(window, writer, [&] { return BurnThread(window, folder, label); });
}

BurnOutcome CBuildInCore::EraseDisc(QObject* window, int writer) {
    return RunWorker(window, writer, [&] { return EraseThread(); });
}

void CBuildInCore::RequestStopBurn() {
    CDevice* d = Device(m_nCurrentDevice);
    // The read-back after the write is stopped as the write is.
    auto stoppable = [d] { return d->DeviceState() == CDevice::Writing || d->DeviceState() == CDevice::Verifying; };
    if (m_bStopRequested || !m_bBusy || !d || !stoppable()) {
        return;
    }
    qx::PromptBox question{"Do you really want to stop burning", "", qx::PromptButtons::YesNo, qx::PromptIcon::Question,
                           m_pWindow};
    // A burn that ends while the question is up closes it: its outcome, not a stop, is what happened.
    question.closeWhen = [this] { return m_bWorkDone.load(); };
    if (qx::Prompts().ShowBox(question) == qx::PromptAnswer::Yes) {
        // The write may have ended while the question was up.
        if (m_bWorkDone || !stoppable()) {
            Log("StarBurn stop came after the write had ended\n");
            return;
        }
        d->Cancel();
        m_bStopRequested = true;
    }
}

void CBuildInCore::CancelBurn() {
    CDevice* d = Device(m_nCurrentDevice);
    if (!m_bBusy || !d) {
        return;
    }
    Log("StarBurn cancel without question\n");
    m_bStopRequested = true;
    d->Cancel();
}
