// The erase and burn sequences of the "Nero" core, its progress timer and the library's callbacks.
#include "BurnJob.h"
#include "Folders.h"
#include "NeroCore.h"
#include "PromptService.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <thread>

namespace {

constexpr const char* kEndEventName = "QXEventNeroBurnErasing";
constexpr uint32_t kBurnRecordFlags = 0x4000;
constexpr int kEraseMode = 1;
constexpr int kWaitSliceMs = 25;

uint32_t HighestSpeed(const NeroSpeeds& s) {
    const uint32_t n = std::min<uint32_t>(s.count, NERO_SPEED_MAX);
    return n ? s.speedsKBs[n - 1] : 0;
}

bool HoldsData(uint32_t mediaType) {
    return mediaType == 0x804 || mediaType == 0x1004 || mediaType == 0x2008 || mediaType == 0x4008;
}

// Regular files directly in `folder`, by name.
std::vector<std::string> FolderFiles(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        return names;
    }
    while (const dirent* entry = readdir(dir)) {
        struct stat st {};
        if (stat((folder + entry->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            names.push_back(entry->d_name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// The library's reason for a failed read-back: its error log's "verify: ..." line.
std::string VerifyLine(const std::string& errors) {
    const size_t at = errors.rfind("verify: ");
    if (at == std::string::npos) {
        return "the disc does not read back as it was written";
    }
    const size_t end = errors.find('\n', at);
    return errors.substr(at + 8, end == std::string::npos ? std::string::npos : end - at - 8);
}

} // namespace

void CNeroCore::DispatchEvents() {
    // The erase worker may reach the idle callback too; only the window thread dispatches.
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread()) {
        QCoreApplication::processEvents();
    }
}

int CNeroCore::IdleCallback(void* user) {
    DispatchEvents();
    return static_cast<CNeroCore*>(user)->m_bAbort ? 1 : 0;
}

int CNeroCore::DialogCallback(void*, int type, void*) {
    return UserDialogAnswer(type);
}

int CNeroCore::ProgressCallback(void* user, uint32_t percent) {
    DispatchEvents();
    auto* core = static_cast<CNeroCore*>(user);
    const int phase = core->m_nMajorPhase;
    core->m_nCurrentPercent = phase == NERO_PHASE_WRITING || phase == NERO_PHASE_VERIFYING
                                  ? static_cast<int>(std::min<uint32_t>(percent, 100))
                                  : 0;
    return core->m_bAbort ? 1 : 0;
}

int CNeroCore::AbortedCallback(void* user) {
    return static_cast<CNeroCore*>(user)->m_bAbort ? 1 : 0;
}

void CNeroCore::LogLineCallback(void*, int, const char* text) {
    std::fprintf(stderr, "%s\n", text ? text : "");
}

void CNeroCore::PhaseTextCallback(void*, const char* text) {
    std::fprintf(stderr, "%s\n", text ? text : "");
}

void CNeroCore::MajorPhaseCallback(void* user, int phase, void*) {
    auto* core = static_cast<CNeroCore*>(user);
    core->m_nMajorPhase = phase;
    if (phase == NERO_PHASE_WRITING) {
        core->m_nLastShown = 0;
    }
    if (phase == NERO_PHASE_VERIFYING) {
        // The write is complete: the read-back is a phase of its own, with its own time.
        core->Log("Nero Begin to verify data.\n");
        core->m_bVerifySeen = true;
        core->m_nCurrentPercent = 0;
        core->m_nStartMs = core->NowMs();
        core->m_nPhase = 3;
    }
}

void CNeroCore::Reset() {
    m_bAbort = false;
    m_nPhase = 0;
    m_nCurrentPercent = 0;
    m_nMajorPhase = -1;
    m_nEraseSeconds = 0;
    m_nLastShown = 0;
    m_bVerifySeen = false;
    m_strVerifyFailure.clear();
}

bool CNeroCore::EnsureEndEvent() {
    if (m_endEvent.isOpen()) {
        return true;
    }
    const qx::Status made = m_endEvent.Create(kEndEventName);
    if (!made.ok()) {
        Log("Nero end event not created: %s\n", made.error().c_str());
    }
    return made.ok();
}

void CNeroCore::StartTimer(QObject* window) {
    m_pWindow = window;
    m_pTimer = new CProgressTimer;
    m_pTimer->Start(
        [this]() -> std::optional<ProgressLine> {
            SecondEngineProgress state;
            state.phase = m_nPhase;
            state.current = m_nCurrentPercent;
            state.lastShown = m_nLastShown;
            state.eraseEstimateSeconds = std::max(0, m_nEraseSeconds.load());
            state.majorPhase = m_nMajorPhase;
            std::optional<ProgressLine> line = SecondEngineProgressLine(state, NowMs() - m_nStartMs);
            m_nLastShown = state.lastShown;
            m_nCurrentPercent = state.current;
            return line;
        },
        [this](const ProgressLine& line) {
            if (onProgressLine) {
                onProgressLine(line);
            }
        });
}

void CNeroCore::StopTimer() {
    delete m_pTimer;
    m_pTimer = nullptr;
}

CNeroCore::EraseResult CNeroCore::EraseStep(const NeroDrive* drive) {
    EraseResult result = EraseResult::NothingToErase;
    NeroDeviceHandle* device = m_binding.OpenDevice(drive);
    if (!device) {
        return EraseResult::Failed;
    }
    NeroDiscInfo* disc = m_binding.GetCDInfo(device, NERO_INFO_TRACKS);
    if (!disc) {
        Log("Nero No Disk inserted.\n");
        result = EraseResult::NoDisc;
    } else {
        m_nMediaType = disc->mediaType;
        if (disc->mediaType == 0) {
            result = EraseResult::NoDisc;
        } else if (HoldsData(disc->mediaType) && disc->trackCount >= 1) {
            const uint32_t speed = HighestSpeed(drive->writeSpeeds);
            if (!speed) {
                Log("Nero get write no speed. Quit erase.\n");
            } else {
                Log("Nero begin to Erase Disk speedKBs:%d.\n", static_cast<int>(speed));
                const int seconds = m_binding.GetDiscErasingTime(device, kEraseMode, speed);
                m_nEraseSeconds = seconds;
                if (seconds == NERO_ERASE_NO_DISC) {
                    Log("Nero no media disk inserted. Quit erase.\n");
                    result = EraseResult::NoDisc;
                } else if (seconds == NERO_ERASE_NOT_SUPPORTED) {
                    Log("Nero recoder donot support CDRW. Quit erase.\n");
                } else if (seconds == NERO_ERASE_NOT_REWRITABLE) {
                    Log("Nero inserted media is not rewritable media. Quit erase.\n");
                } else {
                    m_nPhase = 1;
                    const int code = m_binding.EraseDisc(device, kEraseMode, 1);
                    m_nPhase = 0;
                    Log("Nero Complete to Erase Disk errCode:%d\n", code);
                    result = code == 0 ? EraseResult::Erased : EraseResult::Failed;
                }
            }
        }
        m_binding.FreeMem(disc);
    }
    m_binding.CloseDevice(device);
    return result;
}

CNeroCore::EraseResult CNeroCore::RunEraseStep() {
    const bool signalled = EnsureEndEvent();
    std::atomic<bool> done{false};
    EraseResult result = EraseResult::Failed;
    const NeroDrive* drive = m_pDrive;
    std::thread worker([&] {
        result = EraseStep(drive);
        done = true;
        if (signalled) {
            m_endEvent.Set();
        }
    });
    while (!done) {
        if (!signalled || m_endEvent.Wait(kWaitSliceMs) != qx::NamedEvent::WaitResult::Signalled) {
            if (!signalled) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSliceMs));
            }
        }
        QCoreApplication::processEvents();
    }
    worker.join();
    return result;
}

BurnOutcome CNeroCore::EraseDisc(QObject* window, int writer) {
    if (m_bBusy) {
        return BurnOutcome::Refused;
    }
    Reset();
    EnsureEndEvent();
    m_pDrive = UsableWriter(writer);
    if (!m_pDrive) {
        qx::Prompts().Information(window, "No DVD Writer detected! Cannot burn DVD Disk!");
        return BurnOutcome::Refused;
    }
    m_bBusy = true;
    StartTimer(window);
    m_nStartMs = NowMs();
    const EraseResult result = RunEraseStep();
    StopTimer();
    m_bBusy = false;
    m_pWindow = nullptr;
    switch (result) {
    case EraseResult::Erased:
        return BurnOutcome::Done;
    case EraseResult::NothingToErase:
    case EraseResult::NoDisc:
        return BurnOutcome::Refused;
    case EraseResult::Failed:
        break;
    }
    return m_bAbort ? BurnOutcome::Cancelled : BurnOutcome::Failed;
}

NeroFileSystem* CNeroCore::BuildFileSystem(const std::string& folder, const std::string& label) {
    NeroFileSystem* fs = m_binding.CreateFileSystemContainer();
    if (!fs) {
        Log("Nero file system not created.\n");
        return nullptr;
    }
    bool ok = fs->SetName(fs, label.c_str()) != 0;
    NeroFsDirectory* root = fs->Root(fs);
    NeroFsDirectory* videoTs = nullptr;
    if (ok && root) {
        ok = fs->AddDirectory(fs, root, "AUDIO_TS", -1) != nullptr;
        videoTs = fs->AddDirectory(fs, root, "VIDEO_TS", -1);
    }
    ok = ok && videoTs;
    for (const std::string& name : ok ? FolderFiles(folder) : std::vector<std::string>{}) {
        if (!fs->AddFile(fs, videoTs, name.c_str(), (folder + name).c_str(), -1, -1)) {
            Log("Nero file not added: %s\n", (folder + name).c_str());
            ok = false;
            break;
        }
    }
    if (!ok) {
        Log("Nero file system refused the disc's files.\n");
        fs->Release(fs);
        return nullptr;
    }
    return fs;
}

BurnOutcome CNeroCore::WriteFolder(QObject* window, const NeroDrive* drive, const std::string& folder,
                                   const std::string& label) {
    Log("Nero begin to create Filesystem.\n");
    m_nStartMs = NowMs();
    m_nPhase = 2;
    std::unique_ptr<NeroFileSystem, void (*)(NeroFileSystem*)> fs(BuildFileSystem(folder, label),
                                                                  [](NeroFileSystem* f) {
                                                                      if (f) {
                                                                          f->Release(f);
                                                                      }
                                                                  });
    if (!fs) {
        return BurnOutcome::Failed;
    }
    NeroBurnRecord record{};
    record.first = 0;
    record.fileSystem = fs.get();
    record.mediaType = m_nMediaType;
    record.flags = kBurnRecordFlags;
    NeroDeviceHandle* device = m_binding.OpenDevice(drive);
    Log("Nero Get device and begin to write data.\n");
    if (!device) {
        Log("Nero Device could not be opened %c%s.\n", drive->driveLetter ? drive->driveLetter : '~',
            std::string(drive->deviceName, strnlen(drive->deviceName, sizeof drive->deviceName)).c_str());
        return BurnOutcome::Failed;
    }
    struct Closer {
        const CNeroBinding& binding;
        NeroDeviceHandle* device;
        ~Closer() { binding.CloseDevice(device); }
    } closer{m_binding, device};
    const uint32_t speed = HighestSpeed(drive->writeSpeeds);
    if (!speed) {
        Log("Nero get write no speed. Quit burn.\n");
        return BurnOutcome::Failed;
    }
    Log("Nero get max write speed is:%d.\n", static_cast<int>(speed));
    int capacity = 0;
    if (NeroDiscInfo* disc = m_binding.GetCDInfo(device, NERO_INFO_TRACKS)) {
        capacity = static_cast<int>(static_cast<uint64_t>(disc->freeBlocks) * 2 / 1024);
        m_binding.FreeMem(disc);
    }
    const double size = DvdFolderSizeMB(folder);
    if (size < 1) {
        qx::Prompts().Information(window, "Selected DVD File System is too small! Please check it and try again.");
        Log("Selected DVD File System is too small!\n");
        return BurnOutcome::Refused;
    }
    if (size > capacity) {
        char box[512];
        std::snprintf(box, sizeof box,
                      "Inserted dvd disk volume:%dM is lower then video dvd file volume:%dM.\n So cannot burn. Please "
                      "remove some file in dvd.",
                      capacity, static_cast<int>(size));
        qx::Prompts().Information(window, box);
        Log("Inserted dvd disk volume:%dM is lower then video dvd file volume:%dM. Quit burn\n", capacity,
            static_cast<int>(size));
        return BurnOutcome::Refused;
    }
    NeroProgress progress{};
    progress.progress = ProgressCallback;
    progress.aborted = AbortedCallback;
    progress.addLogLine = LogLineCallback;
    progress.setPhase = PhaseTextCallback;
    progress.userData = this;
    progress.setMajorPhase = MajorPhaseCallback;
    Log("Nero Get device valid and begin to write data\n");
    const uint32_t flags = NERO_BURN_FLAG_CLOSE_DISC | (verifyAfterBurn ? NERO_BURN_FLAG_VERIFY : 0);
    const int code = m_binding.Burn(device, NERO_BURN_TYPE_FILE_SYSTEM, &record, flags, speed, &progress);
    m_nPhase = 0;
    Log("Nero Compete to write data errcode:%d\n", code);
    std::string errors;
    if (char* text = m_binding.GetErrorLog()) {
        Log("Nero display log contents:%s\n", text);
        errors = text;
        m_binding.FreeMem(text);
    }
    if (code == NERO_BURN_VERIFY_FAILED) {
        m_strVerifyFailure = VerifyLine(errors);
        Log("Nero Verify Error: %s\n", m_strVerifyFailure.c_str());
        return BurnOutcome::Failed;
    }
    if (code == NERO_BURN_OK && verifyAfterBurn && !m_bVerifySeen) {
        // A library that does not know the read-back wrote the disc unchecked: no success to report.
        m_strVerifyFailure = "the second engine's library did not read the disc back";
        Log("Nero Verify Error: %s\n", m_strVerifyFailure.c_str());
        return BurnOutcome::Failed;
    }
    if (code == NERO_BURN_OK && verifyAfterBurn) {
        Log("Nero Verify Data OK: every sector reads back as it was written\n");
    }
    if (code == NERO_BURN_OK) {
        return BurnOutcome::Done;
    }
    return code == NERO_BURN_USER_ABORT || m_bAbort ? BurnOutcome::Cancelled : BurnOutcome::Failed;
}

BurnOutcome CNeroCore::BurnDVDFolder(QObject* window, int writer, const std::string& folder, const std::string& label) {
    if (m_bBusy) {
        return BurnOutcome::Refused;
    }
    Reset();
    EnsureEndEvent();
    Log("Nero Begin to Real burn process.\n");
    const NeroDrive* drive = UsableWriter(writer);
    if (!drive) {
        qx::Prompts().Information(window, "No DVD Writer detected! Cannot burn DVD Disk!");
        return BurnOutcome::Refused;
    }
    m_bBusy = true;
    m_pDrive = drive;
    StartTimer(window);
    Log("Nero try to Erase Disk.\n");
    m_nStartMs = NowMs();
    const EraseResult erased = RunEraseStep();
    BurnOutcome outcome = BurnOutcome::Failed;
    // A disc whose old data could not be erased is not written over, and a stop during the erase
    // ends the job before anything is written.
    if (m_bAbort) {
        outcome = BurnOutcome::Cancelled;
    } else if (erased != EraseResult::Failed) {
        outcome = WriteFolder(window, drive, qx::WithTrailingSlash(folder), label);
    }
    m_nPhase = 0;
    StopTimer();
    m_bBusy = false;
    m_pWindow = nullptr;
    return outcome;
}

void CNeroCore::CancelBurn() {
    if (m_bBusy) {
        m_bAbort = true;
    }
}

void CNeroCore::RequestStopBurn() {
    if (m_bAbort || !m_bBusy) {
        return;
    }
    qx::PromptBox question{"Do you really want to stop burning", "", qx::PromptButtons::YesNo, qx::PromptIcon::Question,
                           m_pWindow};
    // A burn that ends while the question is up closes it: its outcome, not a stop, is what happened.
    question.closeWhen = [this] { return !m_bBusy.load(); };
    if (qx::Prompts().ShowBox(question) == qx::PromptAnswer::Yes && m_bBusy) {
        m_bAbort = true;
    }
}
