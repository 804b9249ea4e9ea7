// The start of a job: the checks made when "Start now" is pressed, in their order, then a fresh
// encoder program and the conversion thread.
#include "DiscJob.h"
#include "SubtitlePlan.h"

#include "AuthorLog.h"
#include "BurnJob.h"
#include "DiscBudget.h"
#include "DvdLeftovers.h"
#include "Folders.h"
#include "MenuBuilder.h"
#include "OutputGuard.h"
#include "VolumeInfo.h"

#include <QCoreApplication>

#include <sys/stat.h>

#include <cstdio>

namespace {

constexpr const char* kEncoderCreateError =
    "Error on Create Encoder Proxy,\nPlease reinstalled this software, or contact Support.";

// Longest working folder a conversion request can carry (its area holds 260 bytes with the end mark).
constexpr size_t kMaxWorkFolderBytes = 259;
// Longest converted-stream path a conversion request can carry.
constexpr size_t kMaxOutputPathBytes = 349;

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void Pump() {
    QCoreApplication::processEvents();
}

} // namespace

bool DiscJob::Start(DiscJobParams spec) {
    // One job at a time: also between two movies and while a question of the start checks is open.
    if (m_bRunning || m_bStarting || spec.movies.empty()) {
        return false;
    }
    m_bStarting = true;
    struct StartingDone {
        DiscJob& job;
        ~StartingDone() {
            job.m_bStarting = false;
            if (!job.m_bRunning) {
                job.m_step = JobStep::None;
            }
        }
    } startingDone{*this};
    m_spec = std::move(spec);
    m_outcome = JobOutcome();
    m_bStopConvert = false;
    m_bCancelImage = false;
    m_step = JobStep::Checking;
    if (!RunStartChecks()) {
        return false;
    }

    std::vector<std::string> subtitleNotes;
    PlanSubtitleStreams(m_spec.movies, m_spec.subtitles, &subtitleNotes);
    for (const std::string& note : subtitleNotes) {
        Log(1, note);
    }
    m_encoderJob.workFolder = m_spec.workFolder;
    m_encoderJob.tv = m_spec.tv;
    m_encoderJob.aspect = m_spec.aspect;
    m_encoderJob.keepAspect = m_spec.keepAspect;
    m_encoderJob.splitOutput = m_bSplitOutput;
    m_parts.authoring->stop = false;
    m_bRunning = true;
    m_step = JobStep::Converting;
    StartConversionThread();
    return true;
}

bool DiscJob::RunStartChecks() {
    for (int row = 0; row < static_cast<int>(m_spec.movies.size()); ++row) {
        SetMovieStatus(row, "Ready");
    }
    std::vector<double> seconds;
    for (const CSourceInfo& source : m_spec.movies) {
        seconds.push_back(source.PlayingSeconds());
    }
    m_nTotalSizeMB = EstimatedTotalMB(seconds) + (m_spec.menu ? MenuBudgetMB(static_cast<int>(seconds.size())) : 0);
    if (m_spec.burn && !m_spec.burnToImage && CheckWriterReady() == 0) {
        return false;
    }
    if (!CheckWorkFolder() || !CheckOutputsSpareInputs()) {
        return false;
    }
    if (m_spec.burn && m_spec.burnToImage && !CheckImageTarget()) {
        return false;
    }
    if (!FindOrDeleteLeftovers()) {
        return false;
    }
    if (isEnoughFreeSpace(m_spec.workFolder) == 0) {
        return false;
    }
    if (!RunSizeChecks()) {
        return false;
    }
    IdentifyFileSystem(m_spec.workFolder);
    m_bSplitOutput = true;

    m_parts.encoder->Kill();
    if (!StartEncoderProxy()) {
        return false;
    }
    if (!m_parts.encoder->HasWindow()) {
        Tell(kEncoderCreateError);
        return false;
    }
    return true;
}

bool DiscJob::CheckWorkFolder() {
    std::string& folder = m_spec.workFolder;
    if (folder.empty()) {
        Tell("Please select a temp folder!");
        return false;
    }
    if (folder.back() != '/') {
        folder += '/';
    }
    m_observer.WorkFolderChosen(folder);
    // A relative folder would depend on where the program was started from: it is not made.
    if (folder.front() != '/') {
        Tell(folder + " is not a valid folder!");
        return false;
    }
    if (folder.size() > kMaxWorkFolderBytes) {
        Tell("The temp folder path is too long (at most 259 bytes):\n" + folder);
        return false;
    }
    const qx::Status made = qx::MakeFolderPath(folder);
    if (!made.ok()) {
        AuthorLog(3, "Cannot make the temp folder: %s", made.error().c_str());
    }
    if (!IsFolder(folder)) {
        Tell(folder + " is not a valid folder!");
        return false;
    }
    if (!RebaseOutputNames(m_spec.movies, folder)) {
        Tell("No free name for a converted movie in " + folder + "!");
        return false;
    }
    for (const CSourceInfo& source : m_spec.movies) {
        if (source.strVobFile.size() + 6 > kMaxOutputPathBytes) {
            Tell("The converted movie path is too long:\n" + source.strVobFile);
            return false;
        }
    }
    m_observer.JobAccepted();
    return true;
}

bool DiscJob::CheckOutputsSpareInputs() {
    namespace di = qx::discimage;
    std::vector<std::string> inputs;
    for (const CSourceInfo& source : m_spec.movies) {
        inputs.push_back(source.strPath);
    }
    // The DVD folder's files may all be replaced or deleted, and an image file replaced: neither may
    // be a movie of the job.
    std::string refusal = di::OutputRefusal(m_spec.workFolder + "DVD Movie", di::OutputKind::Folder, inputs);
    if (refusal.empty() && !m_spec.imageFile.empty()) {
        refusal = di::OutputRefusal(m_spec.imageFile, di::OutputKind::File, inputs,
                                    {m_spec.workFolder + "DVD Movie/VIDEO_TS"});
    }
    if (!refusal.empty()) {
        Log(1, refusal + "\n");
        Tell(refusal, qx::PromptIcon::Error);
        return false;
    }
    return true;
}

bool DiscJob::CheckImageTarget() {
    if (m_spec.imageFile.empty() || m_spec.imageFile.front() != '/') {
        Tell("Please choose a file for the disc image!");
        return false;
    }
    // The image takes about what the disc would: there must be room for it where it goes.
    const std::string folder = m_spec.imageFile.substr(0, m_spec.imageFile.rfind('/') + 1);
    const qx::Result<qx::VolumeInfo> volume = qx::QueryVolume(folder);
    if (!volume.ok()) {
        Tell(folder + " is not a valid folder!");
        return false;
    }
    const uint64_t freeMB = volume.value.freeBytes / 1024 / 1024;
    if (freeMB < static_cast<uint64_t>(m_nTotalSizeMB)) {
        char text[512];
        std::snprintf(text, sizeof text,
                      "The disc image needs about %d MB, but %s has only %llu MB free. Do you want to continue?",
                      m_nTotalSizeMB, folder.c_str(), static_cast<unsigned long long>(freeMB));
        return Tell(text, qx::PromptIcon::Question, qx::PromptButtons::YesNo) == qx::PromptAnswer::Yes;
    }
    return true;
}

int DiscJob::CheckWriterReady() {
    WriterCheck check;
    check.core = m_parts.Core(m_spec.burnTarget.engine);
    check.writer = m_spec.burnTarget.writer;
    check.target = m_spec.discType;
    check.requiredMB = m_nTotalSizeMB;
    check.logPrefix = "PreduceDialog Check Writer ready";
    check.owner = m_observer.PromptOwner();
    check.log = [this](int level, const std::string& text) { Log(level, text); };
    check.ask = [this](const qx::PromptBox& box) { return m_observer.Ask(box); };
    return ::CheckWriterReady(check);
}

bool DiscJob::FindOrDeleteLeftovers() {
    const std::string folder = VideoTsFolder(m_spec.workFolder);
    if (FindOrDeleteDvdFiles(folder, true, Pump) != 1) {
        return true;
    }
    if (Tell("Found vob or ifo files in folder " + folder + " ,delete all of them?", qx::PromptIcon::Question,
             qx::PromptButtons::OkCancel) != qx::PromptAnswer::Ok) {
        return false;
    }
    std::string error;
    if (FindOrDeleteDvdFiles(folder, false, Pump, &error) < 0) {
        Tell("Could not delete the old DVD files in " + folder + ":\n" + error, qx::PromptIcon::Error);
        return false;
    }
    return true;
}

namespace {

BudgetAsk AskThrough(const std::function<qx::PromptAnswer(const qx::PromptBox&)>& ask, QObject* owner) {
    return [ask, owner](BudgetBox kind, const std::string& caption, const std::string& text) {
        qx::PromptBox box;
        box.text = text;
        box.caption = caption;
        box.buttons = kind == BudgetBox::YesNoQuestion ? qx::PromptButtons::YesNo : qx::PromptButtons::Ok;
        box.icon = qx::PromptIcon::Question;
        box.owner = owner;
        const qx::PromptAnswer answer = ask(box);
        return answer == qx::PromptAnswer::Yes || answer == qx::PromptAnswer::Ok;
    };
}

} // namespace

int DiscJob::isEnoughFreeSpace(const std::string& folder) {
    auto query = [](const std::string& path, uint64_t* freeMB) {
        const qx::Result<qx::VolumeInfo> volume = qx::QueryVolume(path);
        if (!volume.ok()) {
            return false;
        }
        *freeMB = volume.value.freeBytes / 1024 / 1024;
        return true;
    };
    return CheckFreeSpace(
        folder, m_nTotalSizeMB, query,
        AskThrough([this](const qx::PromptBox& box) { return m_observer.Ask(box); }, m_observer.PromptOwner()),
        [](const std::string& line) { AuthorLog(3, "%s", line.c_str()); });
}

bool DiscJob::RunSizeChecks() {
    return RunDiscSizeChecks(
        m_nTotalSizeMB, m_spec.discType, m_spec.burn,
        AskThrough([this](const qx::PromptBox& box) { return m_observer.Ask(box); }, m_observer.PromptOwner()),
        [this](int level, const std::string& text) { Log(level, text); });
}

int DiscJob::IdentifyFileSystem(const std::string& folder) {
    const qx::Result<qx::VolumeInfo> volume = qx::QueryVolume(folder);
    if (!volume.ok()) {
        return 0;
    }
    const std::string& name = volume.value.fileSystemName;
    if (name == "FAT") {
        AuthorLog(3, "File System is FAT ");
        return 1;
    }
    if (name == "FAT32") {
        AuthorLog(3, "File System is FAT32");
        return 2;
    }
    if (name == "NTFS") {
        AuthorLog(3, "File System is NTFS");
        return 3;
    }
    return 0;
}

bool DiscJob::StartEncoderProxy() {
    std::string error;
    if (!m_parts.encoder->Start(&error)) {
        AuthorLog(3, "Encoder program did not start: %s", error.c_str());
        Tell(kEncoderCreateError);
        return false;
    }
    return true;
}
