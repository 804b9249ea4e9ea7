// The writer operations of the console front-end: list, describe, burn a DVD folder, erase — the
// same engine operations the windows call, with the progress lines and message boxes printed.
#include "CliJob.h"

#include "AppParts.h"
#include "BuildInCore.h"
#include "BurnDVDMovieDlg.h"
#include "DialogDVDInfo.h"
#include "InstanceLock.h"
#include "NeroCore.h"
#include "PromptService.h"
#include "QuitOnSignal.h"
#include "StarBurn.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
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

int RunCliWriterOperation(const CliOptions& options, std::FILE* out) {
    qx::InstanceLock lock;
    if (!AcquireCliInstanceLock(lock, out)) {
        return 1;
    }
    qx::ConsolePromptService prompts(out);
    prompts.SetAssumeYes(options.assumeYes);
    qx::SetPrompts(&prompts);

    AppParts parts;
    parts.log = MakeConsoleLog(out);
    CompleteAppParts(parts);
    // The cores as the main window offers them: "Build-in" always, "Nero" when it starts.
    if (!parts.buildInCore->InitBurnCore()) {
        qx::Prompts().Information(nullptr, "Init Build-in Burn Engine Failed!");
    }
    const bool neroAvailable = parts.neroCore->InitBurnCore();
    const int engine = options.engine >= 0 ? options.engine : (neroAvailable ? 1 : 0);
    BurnCore* core = engine == 0 ? parts.buildInCore.get() : parts.neroCore.get();
    int status = 1;
    if (engine == 1 && !neroAvailable) {
        std::fprintf(out, "The \"Nero\" burn engine is not available.\n");
    } else {
        std::string last;
        auto printProgress = [&](const ProgressLine& line) {
            if (line.text != last) {
                last = line.text;
                std::fprintf(out, "progress: %s\n", line.text.c_str());
                std::fflush(out);
            }
        };
        if (auto* buildIn = dynamic_cast<CBuildInCore*>(core)) {
            buildIn->onProgressLine = printProgress;
        } else if (auto* nero = dynamic_cast<CNeroCore*>(core)) {
            nero->onProgressLine = printProgress;
        }
        // Writer indexes count in the list as the writer combo shows it.
        std::vector<std::string> writers;
        core->ListWriters(nullptr, [&](std::vector<std::string> list) { writers = std::move(list); });
        if (options.listWriters) {
            for (size_t i = 0; i < writers.size(); ++i) {
                std::fprintf(out, "%zu: %s\n", i, writers[i].c_str());
            }
            for (const std::string& problem : StarBurn_VirtualWriterProblems()) {
                std::fprintf(out, "%s\n", problem.c_str());
            }
            status = 0;
        } else if (options.writerInfo >= 0) {
            DVDDeviceInfo info;
            if (core->GetWriterInfo(options.writerInfo, &info)) {
                PrintInfo(info, out);
                status = 0;
            } else {
                qx::Prompts().Information(nullptr, "No DVD Writer detected! Cannot burn DVD Disk!");
            }
        } else if (options.writer >= static_cast<int>(writers.size()) ||
                   options.erase >= static_cast<int>(writers.size())) {
            qx::Prompts().Information(nullptr, "No DVD Writer detected! Cannot burn DVD Disk!");
        } else {
            // Through the windows' own dialogs, so the console makes the same checks.
            BurnDialogParts dialogParts;
            dialogParts.buildIn = parts.buildInCore.get();
            dialogParts.nero = neroAvailable ? parts.neroCore.get() : nullptr;
            LogLink* log = parts.log.get();
            dialogParts.log = [log](int level, const std::string& text) { log->Log(level, text); };
            BurnOutcome outcome = BurnOutcome::Refused;
            // Interrupted, the burn or erase is cancelled by the engine (no half image, no half
            // written session left by a killed program); then the program ends with 128 + the signal.
            int interrupted = 0;
            QTimer bound;
            bound.setSingleShot(true);
            QObject::connect(&bound, &QTimer::timeout, [&interrupted, out] {
                std::fprintf(out, "The engine did not stop within %d seconds; ending anyway.\n",
                             kCliInterruptBoundMs / 1000);
                std::fflush(out);
                std::_Exit(128 + interrupted);
            });
            const qx::Status handled = qx::CallOnTermination([&interrupted, &bound, core, out](int signal) {
                if (interrupted != 0) {
                    return;
                }
                interrupted = signal;
                std::fprintf(out, "Interrupted: cancelling.\n");
                std::fflush(out);
                core->CancelBurn();
                bound.start(kCliInterruptBoundMs);
            });
            if (!handled.ok()) {
                std::fprintf(out, "Ctrl+C will not end the operation cleanly: %s\n", handled.error().c_str());
            }
            if (options.erase >= 0) {
                CDialogDVDInfo info(engine, options.erase, dialogParts);
                outcome = info.OnBtnErase();
            } else {
                CBurnDVDMovieDlg burn(engine, dialogParts);
                burn.findChild<QComboBox*>("comboWriters")->setCurrentIndex(options.writer);
                burn.findChild<QLineEdit*>("editDiscLabel")->setText(QString::fromStdString(options.label));
                burn.SetDVDFolder(
                    QFileInfo(QString::fromStdString(options.burnFolder)).absoluteFilePath().toStdString());
                outcome = burn.OnBtnBurn();
            }
            qx::DefaultTermination();
            bound.stop();
            std::fprintf(out, "outcome: %s\n", BurnOutcomeName(outcome));
            status = outcome == BurnOutcome::Done ? 0 : 1;
            if (interrupted != 0) {
                status = 128 + interrupted;
            }
        }
    }
    parts = AppParts();
    qx::SetPrompts(nullptr);
    return status;
}
