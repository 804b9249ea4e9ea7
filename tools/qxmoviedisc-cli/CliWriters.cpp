// The writer operations of the console front-end: list, describe, burn a DVD folder, erase - the
// same operations the windows run (job/WriterJobs.h), with the progress lines and boxes printed.
#include "CliJob.h"

#include "CliObserver.h"
#include "InstanceLock.h"
#include "JobParts.h"
#include "QuitOnSignal.h"
#include "StarBurn.h"
#include "WriterJobs.h"

#include <QFileInfo>
#include <QTimer>

#include <cstdlib>

namespace {

void PrintInfo(const DVDDeviceInfo& info, std::FILE* out) {
    std::fprintf(out, "typename=%s\nReadSpeed=%s\nWriteSpeed=%s\ntype=%s\ntotleSpace=%s\nusedSpace=%s\n",
                 info.typename_.c_str(), info.ReadSpeed.c_str(), info.WriteSpeed.c_str(), info.type.c_str(),
                 info.totleSpace.c_str(), info.usedSpace.c_str());
    std::fprintf(out, "m_bD9=%d\nDiscIsInserted=%d\nCanSupport=%d\nCanErase=%d\nisEmpty=%d\n", info.m_bD9,
                 info.DiscIsInserted, info.CanSupport, info.CanErase, info.isEmpty);
}

} // namespace

int RunCliWriterOperation(const CliOptions& options, std::FILE* out, std::FILE* err) {
    qx::InstanceLock lock;
    if (!AcquireCliInstanceLock(lock, err)) {
        return 1;
    }
    CliObserver observer(out, err, options.assumeYes);
    qx::SetPrompts(&observer.ErrorPrompts());
    struct PromptsGone {
        ~PromptsGone() { qx::SetPrompts(nullptr); }
    } promptsGone;

    JobParts parts;
    CompleteJobParts(parts, [&observer](const std::string& line) { observer.Log(0, line); });
    // The cores as the main window offers them: "Build-in" always, "Nero" when it starts.
    if (!parts.buildInCore->InitBurnCore()) {
        observer.Ask({"Init Build-in Burn Engine Failed!", "", qx::PromptButtons::Ok, qx::PromptIcon::Information,
                      nullptr});
    }
    const bool neroAvailable = parts.neroCore->InitBurnCore();
    const int engine = options.engine >= 0 ? options.engine : (neroAvailable ? 1 : 0);
    BurnCore* core = parts.Core(engine);
    if (engine == 1 && !neroAvailable) {
        PrintUnavailable(*parts.neroCore, err);
        return 1;
    }
    // Writer indexes count in the list as the writer combo shows it.
    std::vector<std::string> writers;
    core->ListWriters(nullptr, [&](std::vector<std::string> list) { writers = std::move(list); });
    if (options.listWriters) {
        for (size_t i = 0; i < writers.size(); ++i) {
            std::fprintf(out, "%zu: %s\n", i, writers[i].c_str());
        }
        for (const std::string& problem : StarBurn_VirtualWriterProblems()) {
            std::fprintf(err, "%s\n", problem.c_str());
        }
        return 0;
    }
    if (options.writerInfo >= 0) {
        DVDDeviceInfo info;
        if (!ReadWriterInfo(core, engine, options.writerInfo, &info, observer)) {
            observer.Ask({"No DVD Writer detected! Cannot burn DVD Disk!", "", qx::PromptButtons::Ok,
                          qx::PromptIcon::Information, nullptr});
            return 1;
        }
        PrintInfo(info, out);
        return 0;
    }
    if (options.writer >= static_cast<int>(writers.size()) || options.erase >= static_cast<int>(writers.size())) {
        observer.Ask({"No DVD Writer detected! Cannot burn DVD Disk!", "", qx::PromptButtons::Ok,
                      qx::PromptIcon::Information, nullptr});
        return 1;
    }
    // Interrupted, the burn or erase is cancelled by the engine (no half image, no half written
    // session left by a killed program); then the program ends with 128 + the signal.
    int interrupted = 0;
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [&interrupted, err] {
        std::fprintf(err, "The engine did not stop within %d seconds; ending anyway.\n", kCliInterruptBoundMs / 1000);
        std::fflush(err);
        std::_Exit(128 + interrupted);
    });
    const qx::Status handled = qx::CallOnTermination([&interrupted, &bound, core, err](int signal) {
        if (interrupted != 0) {
            return;
        }
        interrupted = signal;
        std::fprintf(err, "Interrupted: cancelling.\n");
        std::fflush(err);
        core->CancelBurn();
        bound.start(kCliInterruptBoundMs);
    });
    if (!handled.ok()) {
        std::fprintf(err, "Ctrl+C will not end the operation cleanly: %s\n", handled.error().c_str());
    }
    BurnOutcome outcome = BurnOutcome::Refused;
    if (options.erase >= 0) {
        outcome = EraseWriterDisc(core, engine, options.erase, observer);
    } else {
        FolderBurnRequest request;
        request.core = core;
        request.engine = engine;
        request.writer = options.writer;
        request.label = options.label;
        request.folder = QFileInfo(QString::fromStdString(options.burnFolder)).absoluteFilePath().toStdString();
        if (!request.folder.empty() && request.folder.back() != '/') {
            request.folder += '/';
        }
        outcome = BurnDvdFolder(request, observer);
    }
    qx::DefaultTermination();
    bound.stop();
    std::fprintf(out, "outcome: %s\n", BurnOutcomeName(outcome));
    int status = outcome == BurnOutcome::Done ? 0 : 1;
    if (interrupted != 0) {
        status = 128 + interrupted;
    }
    return status;
}
