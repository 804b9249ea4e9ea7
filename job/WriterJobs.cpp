#include "WriterJobs.h"

#include "BurnJob.h"
#include "DiscImageStep.h"
#include "OutputGuard.h"
#include "VolumeInfo.h"

#include <strings.h>
#include <sys/stat.h>

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

std::string AskImageFile(QObject* owner, const std::string& label, const std::string& folder) {
    std::string name;
    for (const char c : label.empty() ? std::string("DVD Movie") : label) {
        name += c == '/' ? '_' : c; // a label may hold what a file name may not
    }
    qx::SaveFileRequest request;
    request.title = "Save the disc image as";
    request.folder = folder;
    request.defaultName = name + ".iso";
    request.filter = "Disc image files(*.iso)|*.iso;||";
    request.owner = owner;
    std::string path = qx::Prompts().SaveFile(request);
    if (path.empty()) {
        return {};
    }
    if (path.size() < 4 || strcasecmp(path.c_str() + path.size() - 4, ".iso") != 0) {
        path += ".iso";
    }
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 &&
        !qx::Prompts().AskYesNo(owner, path + " already exists.\nDo you want to replace it?")) {
        return {};
    }
    return path;
}

namespace {

// The image entry of the burn-DVD-folder window: the folder's disc image instead of a disc.
BurnOutcome ImageFolder(const FolderBurnRequest& request, const std::string& folder, int sizeMB,
                        JobObserver& observer) {
    namespace di = qx::discimage;
    const std::string refusal = di::OutputRefusal(request.imageFile, di::OutputKind::File, {}, {folder});
    if (!refusal.empty()) {
        observer.Log(1, refusal + "\n");
        Tell(observer, refusal);
        return BurnOutcome::Refused;
    }
    const std::string where = request.imageFile.substr(0, request.imageFile.rfind('/') + 1);
    const qx::Result<qx::VolumeInfo> volume = qx::QueryVolume(where);
    if (volume.ok() && volume.value.freeBytes / 1024 / 1024 < static_cast<uint64_t>(sizeMB)) {
        char text[512];
        std::snprintf(text, sizeof text, "The disc image needs about %d MB, but %s has only %llu MB free.", sizeMB,
                      where.c_str(), static_cast<unsigned long long>(volume.value.freeBytes / 1024 / 1024));
        Tell(observer, text);
        return BurnOutcome::Refused;
    }
    observer.Log(0, "Burn DVD Movie Dialog Start Disc Image " + request.imageFile + "\n");
    observer.StepBegin(JobStep::Imaging, "Writing disc image...");
    const DiscImageResult image =
        WriteDiscImageFile(folder, request.imageFile, request.label, request.stopImage,
                           [&observer](int percent, const std::string& text) { observer.Progress(percent, text); });
    observer.StepEnd(JobStep::Imaging);
    const BurnOutcome outcome = image.written                                    ? BurnOutcome::Done
                                : request.stopImage && request.stopImage->load() ? BurnOutcome::Cancelled
                                                                                 : BurnOutcome::Failed;
    observer.Log(outcome == BurnOutcome::Done ? 0 : 1,
                 std::string("Burn DVD Movie Dialog disc image ") + BurnOutcomeName(outcome) + "\n");
    observer.BeforeOutcome();
    Tell(observer, image.written ? "Mission accomplished!\nThe disc image is " + request.imageFile
                                 : "The disc image was not written:\n" + image.error);
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
    if (!request.imageFile.empty()) {
        return ImageFolder(request, folder, static_cast<int>(volume), observer);
    }

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
    request.core->verifyAfterBurn = request.verify;
    log(request.verify ? "Burn DVD Movie Dialog verify: the disc is read back and compared after writing\n"
                       : "Burn DVD Movie Dialog verify: off\n");
    const BurnOutcome outcome = WithProgress(request.core, observer, [&] {
        return request.core->BurnDVDFolder(observer.PromptOwner(), request.writer, folder, request.label);
    });
    request.core->verifyAfterBurn = false;
    const std::string verifyFailure = outcome == BurnOutcome::Failed ? request.core->VerifyFailure() : std::string();
    observer.StepEnd(JobStep::Burning);
    log("Burn DVD Movie Dialog Burnning Complete!\n");
    if (outcome != BurnOutcome::Done) {
        observer.Log(1, std::string("Burn DVD Movie Dialog burn ") + BurnOutcomeName(outcome) + "\n");
    }
    if (!verifyFailure.empty()) {
        observer.Log(1, "Burn DVD Movie Dialog verify failed: " + verifyFailure + "\n");
    }
    observer.BeforeOutcome();
    Tell(observer, verifyFailure.empty() ? BurnOutcomeMessage(outcome, observer.LogPlace())
                                         : VerifyFailureMessage(verifyFailure, observer.LogPlace()));
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
