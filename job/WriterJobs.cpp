#include "WriterJobs.h"

#include "BurnJob.h"

#include <cstdio>

namespace {

qx::PromptAnswer Tell(JobObserver& observer, const std::string& text) {
    return observer.Ask({text, "", qx::PromptButtons::Ok, qx::PromptIcon::Information, observer.PromptOwner()});
}

// Runs the engine's operation with its progress lines going to the observer.
template <class F> BurnOutcome WithProgress(BurnCore* core, JobObserver& observer, F operation) {
    core->onProgressLine = [&observer](const ProgressLine& line) { observer.Progress(line.percent, line.text); };
    const BurnOutcome outcome = operation();
    core->onProgressLine = nullptr;
    return outcome;
}

} // namespace

BurnOutcome BurnDvdFolder(const FolderBurnRequest& request, JobObserver& observer) {
    auto log = [&observer](const std::string& text) { observer.Log(0, text); };
    std::string folder = request.folder;
    char line[512];
    if (folder.empty()) {
        Tell(observer, "Folder is empty! Please select valid Folder");
        log("User Select a empty folder.\n");
        return BurnOutcome::Refused;
    }
    if (!CheckDvdFolder(&folder)) {
        Tell(observer, "Folder is Invalid! Please select valid Folder");
        log("Burn DVD Movie Dialog no Check DVD Folder: '" + folder + "; invalid!\n");
        return BurnOutcome::Refused;
    }
    log("Burn DVD Movie Dialog no Check DVD Folder: '" + folder + "; valid!\n");
    const double volume = DvdFolderSizeMB(folder);
    const FolderDisc disc = DiscForFolder(volume);
    if (disc == FolderDisc::TooSmall) {
        Tell(observer, "Selected DVD File System is too small! Please check it and try again.");
        log("Selected DVD File System is too small!\n");
        return BurnOutcome::Refused;
    }
    if (disc == FolderDisc::TooBig) {
        Tell(observer, "Selected DVD file size is over DVD9_SIZE! It can not be burned.");
        std::snprintf(line, sizeof line,
                      "Burn DVD Movie Dialog no Check DVD Folder Volume is %0.1f Mover DVD9_SIZE:%0.1f. Burn process "
                      "return\n",
                      volume, kDvd9LimitMB);
        log(line);
        return BurnOutcome::Refused;
    }
    const int discType = disc == FolderDisc::DualLayer ? 1 : 0;
    std::snprintf(line, sizeof line, "Burn DVD Movie Dialog Get DVD Folder Volume:%0.1f, dvd_type:%d\n", volume,
                  discType);
    log(line);

    WriterCheck check;
    check.core = request.core;
    check.writer = request.writer;
    check.target = discType;
    check.requiredMB = static_cast<int>(volume);
    check.logPrefix = "Burn DVD Movie Dialog Check Writer ready";
    check.owner = observer.PromptOwner();
    check.log = [&observer](int level, const std::string& text) { observer.Log(level, text); };
    check.ask = [&observer](const qx::PromptBox& box) { return observer.Ask(box); };
    if (CheckWriterReady(check) == 0) {
        return BurnOutcome::Refused;
    }
    std::snprintf(
        line, sizeof line,
        "Burn DVD Movie Dialog Start ProgressDialog burnCore:%d, \n        writer:%d, dvdPath:%s, volume:%s\n",
        request.engine, request.writer, folder.c_str(), request.label.c_str());
    log(line);

    observer.StepBegin(JobStep::Burning, "Burning Disc...");
    const BurnOutcome outcome = WithProgress(request.core, observer, [&] {
        return request.core->BurnDVDFolder(observer.PromptOwner(), request.writer, folder, request.label);
    });
    observer.StepEnd(JobStep::Burning);
    log("Burn DVD Movie Dialog Burnning Complete!\n");
    if (outcome != BurnOutcome::Done) {
        observer.Log(1, std::string("Burn DVD Movie Dialog burn ") + BurnOutcomeName(outcome) + "\n");
    }
    observer.BeforeOutcome();
    Tell(observer, BurnOutcomeMessage(outcome, observer.LogPlace()));
    return outcome;
}

int ReadWriterInfo(BurnCore* core, int engine, int writer, DVDDeviceInfo* info, JobObserver& observer) {
    auto log = [&observer](const std::string& text) { observer.Log(0, text); };
    log("DVD Device Info Dialog Begin to Get Device info burn core:" + std::to_string(engine) +
        ", writer:" + std::to_string(writer) + "\n");
    if (!core || !core->GetWriterInfo(writer, info)) {
        // Reported by the caller (at opening) or as "cannot be erased" (before an erase).
        log("DVD Device Info Dialog Get Device info failed\n");
        return 0;
    }
    char line[2048];
    std::snprintf(line, sizeof line,
                  "DVD Device Info Dialog Get Device info Successful \n        DeviceInfo: typename: %s, ReadSpeed:%s, "
                  "WriteSpeed:%s, \n        support:%d%d%d%d%d%d\n        DiscInfo: type:%s, totleSpace:%s, "
                  "m_bD9:%d, \n        DiscIsInserted:%d, CanSupport:%d, CanErase:%d, isEmpty:%d\n",
                  info->typename_.c_str(), info->ReadSpeed.c_str(), info->WriteSpeed.c_str(), info->support[0],
                  info->support[1], info->support[2], info->support[3], info->support[4], info->support[5],
                  info->type.c_str(), info->totleSpace.c_str(), info->m_bD9, info->DiscIsInserted, info->CanSupport,
                  info->CanErase, info->isEmpty);
    log(line);
    return 1;
}

BurnOutcome EraseWriterDisc(BurnCore* core, int engine, int writer, JobObserver& observer) {
    DVDDeviceInfo info;
    if (!ReadWriterInfo(core, engine, writer, &info, observer) || !info.CanSupport || !info.CanErase ||
        !info.DiscIsInserted || info.isEmpty) {
        Tell(observer, "The inserted disk cannot be erased!");
        return BurnOutcome::Refused;
    }
    observer.StepBegin(JobStep::Erasing, "Erase Disc...");
    const BurnOutcome outcome =
        WithProgress(core, observer, [&] { return core->EraseDisc(observer.PromptOwner(), writer); });
    observer.StepEnd(JobStep::Erasing);
    if (outcome == BurnOutcome::Done) {
        observer.BeforeOutcome();
        Tell(observer, "Erase accomplished!");
        return outcome;
    }
    observer.Log(0, std::string("DVD Device Info Dialog erase ") + BurnOutcomeName(outcome) + "\n");
    observer.BeforeOutcome();
    Tell(observer, EraseOutcomeMessage(outcome, observer.LogPlace()));
    return outcome;
}
