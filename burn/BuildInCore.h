// The "Build-in" burn core: the device list rebuilt by discovery, the writer list and description,
// and the burn and erase threads with their wait loop, progress timer and stop request.
#pragma once

#include "BurnCore.h"
#include "Device.h"
#include "ProgressText.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CBuildInCore : public BurnCore {
public:
    // `log` receives the engine's diagnostic-log lines.
    explicit CBuildInCore(EngineLogSink log);
    ~CBuildInCore() override;

    bool InitBurnCore() override;
    void ListWriters(QObject* window, const std::function<void(std::vector<std::string>)>& deliver) override;
    int GetWriterInfo(int writer, DVDDeviceInfo* info) override;
    BurnOutcome BurnDVDFolder(QObject* window, int writer, const std::string& folder,
                              const std::string& label) override;
    BurnOutcome EraseDisc(QObject* window, int writer) override;
    void RequestStopBurn() override;
    void CancelBurn() override;

    // Run before each writer listing (the other engine drops its cached drive list).
    std::function<void()> onListWriters;

    // State, for the progress timer and tests.
    int BurnPhase() const { return m_nBurnPhase; }
    bool StopRequested() const { return m_bStopRequested; }
    bool Busy() const { return m_bBusy; }
    int DeviceCount() const { return static_cast<int>(m_devices.size()); }
    // Drops the device list (the other engine listed its writers); kept while a burn or erase runs.
    void DropDeviceList();
    CDevice* Device(int index) const;

private:
    enum class Filter { Listing, Description };
    bool RebuildDeviceList();
    bool FindASPIDevices();
    static void FindDeviceCallback(long event, void* context, void* param1, void* param2);
    void Log(const std::string& line) const;
    int64_t NowMs() const;
    // Runs `work` on the worker thread and waits, dispatching this thread's events, with the progress timer on.
    BurnOutcome RunWorker(QObject* window, int writer, const std::function<BurnOutcome()>& work);
    BurnOutcome BurnThread(QObject* window, const std::string& folder, const std::string& label);
    BurnOutcome EraseThread();
    std::optional<ProgressLine> ProgressLineNow() const;

    EngineLogSink m_log;
    bool m_bStarted = false;
    std::vector<std::unique_ptr<CDevice>> m_devices;
    int m_nCurrentDevice = -1;
    std::atomic<int> m_nBurnPhase{0};
    std::atomic<bool> m_bStopRequested{false};
    std::atomic<int64_t> m_nStartMs{0};
    std::atomic<bool> m_bBusy{false};
    std::atomic<bool> m_bWorkDone{true}; // the worker of the running burn or erase has returned
    QObject* m_pWindow = nullptr;
};
