// The "Nero" burn core: the second burning library, found through the registry and loaded at run
// time. Lists and describes its writers, erases on a worker thread, and burns on the calling thread
// (the library keeps the windows alive through its idle and progress callbacks).
#pragma once

#include "BurnCore.h"
#include "NamedEvent.h"
#include "NeroBinding.h"
#include "ProgressText.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CNeroCore : public BurnCore {
public:
    using LogSink = std::function<void(const std::string& line)>;
    // `log` receives the engine's log lines (the log program, level 0).
    explicit CNeroCore(LogSink log);
    ~CNeroCore() override; // the shutdown: list freed, library ended and unloaded

    bool InitBurnCore() override;
    void ListWriters(QObject* window, const std::function<void(std::vector<std::string>)>& deliver) override;
    int GetWriterInfo(int writer, DVDDeviceInfo* info) override;
    BurnOutcome BurnDVDFolder(QObject* window, int writer, const std::string& folder,
                              const std::string& label) override;
    BurnOutcome EraseDisc(QObject* window, int writer) override;
    void RequestStopBurn() override;
    void CancelBurn() override;

    // Drops the cached drive list (the other engine listed its writers).
    void DropDriveList();
    // Run before each writer listing (the other engine drops its list).
    std::function<void()> onListWriters;

    bool Available() const { return m_bNeroAvailable; }
    // Why InitBurnCore failed (the binding's reason, or a library too old), empty when it did not.
    const std::string& LoadError() const { return m_strLoadError; }
    std::string UnavailableReason() const override { return m_strLoadError; }
    const CNeroBinding& Binding() const { return m_binding; }
    int Phase() const { return m_nPhase; }
    bool AbortRequested() const { return m_bAbort; }

    // A drive the listing offers: a recorder, not the library's image recorder, writing DVD.
    static bool IsUsableWriter(const NeroDrive& drive);
    // The answers given to the library's questions.
    static int UserDialogAnswer(int type);

private:
    enum class EraseResult { Erased, NothingToErase, NoDisc, Failed };
    const NeroDrive* UsableWriter(int writer) const;
    void Log(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    int64_t NowMs() const;
    void Reset();
    bool EnsureEndEvent();
    // Runs the erase step on its thread and waits for it, dispatching this thread's events.
    EraseResult RunEraseStep();
    EraseResult EraseStep(const NeroDrive* drive);
    BurnOutcome WriteFolder(QObject* window, const NeroDrive* drive, const std::string& folder,
                            const std::string& label);
    NeroFileSystem* BuildFileSystem(const std::string& folder, const std::string& label);
    void StartTimer(QObject* window);
    void StopTimer();
    static void DispatchEvents();

    static int IdleCallback(void* user);
    static int DialogCallback(void* user, int type, void* data);
    static int ProgressCallback(void* user, uint32_t percent);
    static int AbortedCallback(void* user);
    static void LogLineCallback(void* user, int type, const char* text);
    static void PhaseTextCallback(void* user, const char* text);
    static void MajorPhaseCallback(void* user, int phase, void* reserved);

    LogSink m_log;
    CNeroBinding m_binding;
    bool m_bNeroAvailable = false;
    std::string m_strLoadError;
    NeroDriveList* m_pDriveList = nullptr;
    qx::NamedEvent m_endEvent;
    std::atomic<bool> m_bAbort{false};
    std::atomic<bool> m_bBusy{false};
    std::atomic<int> m_nPhase{0}; // 0 idle, 1 erasing, 2 writing, 3 verifying
    std::atomic<int64_t> m_nStartMs{0};
    std::atomic<int> m_nCurrentPercent{0};
    std::atomic<int> m_nLastShown{0};
    std::atomic<int> m_nEraseSeconds{0};
    std::atomic<int> m_nMajorPhase{-1};
    std::atomic<bool> m_bVerifySeen{false}; // the library announced its read-back
    std::atomic<uint32_t> m_nMediaType{0};
    QObject* m_pWindow = nullptr;
    const NeroDrive* m_pDrive = nullptr;
    CProgressTimer* m_pTimer = nullptr; // runs while a burn or erase runs
};
