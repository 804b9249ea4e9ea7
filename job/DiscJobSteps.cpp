// The steps after the conversion: authoring the DVD folder, burning it or writing its image, and the
// end of the job (the outcome's message, clean-up or shutdown, a fresh encoder for the next job).
#include "DiscJob.h"

#include "AuthorLog.h"
#include "AuthorProgress.h"
#include "BurnJob.h"
#include "DvdLeftovers.h"
#include "DiscImageStep.h"
#include "Folders.h"
#include "MenuProgram.h"

#include <QCoreApplication>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

constexpr const char* kEncoderCreateError =
    "Error on Create Encoder Proxy,\nPlease reinstalled this software, or contact Support.";

void Pump() {
    QCoreApplication::processEvents();
}

} // namespace

void DiscJob::AuthorDVDVideo() {
    m_observer.StepBegin(JobStep::Authoring, "DVD authoring");
    const std::string outFolder = m_spec.workFolder + "DVD Movie";
    // The folders this run makes are its own: a run that is interrupted takes them away again (an
    // existing folder, or one something else was put into meanwhile, stays).
    std::vector<std::string> newFolders;
    for (const std::string& folder : {outFolder, outFolder + "/VIDEO_TS", outFolder + "/AUDIO_TS"}) {
        struct stat st;
        if (lstat(folder.c_str(), &st) != 0 && errno == ENOENT) {
            newFolders.push_back(folder);
        }
    }
    const qx::Status made = qx::MakeFolderPath(outFolder);
    std::vector<AuthorTitle> titles;
    for (size_t row = 0; row < m_spec.movies.size(); ++row) {
        const CSourceInfo& source = m_spec.movies[row];
        AuthorLog(3, "Begin author dvd video, NO.%d strVobFile=%s, in AuthorDVDVideo", static_cast<int>(row),
                  source.strVobFile.c_str());
        titles.push_back({source.strVobFile, static_cast<int>(source.dDuration)});
        AuthorLog(3, "Complete author dvd video, NO.%d strVobFile=%s, in AuthorDVDVideo", static_cast<int>(row),
                  source.strVobFile.c_str());
    }

    AuthorProgressThrottle throttle(Pump, [this](int percent, const std::string& text) {
        m_observer.Progress(percent, text);
        return true;
    });
    AuthorLog(3, "Begin CreateDVD");
    Log(0, "Begin Real DVD Author\n");
    std::string error;
    bool ok = made.ok();
    if (!ok) {
        error = made.error();
    } else {
        m_parts.authoring->stop = m_outcome.interruptSignal != 0;
        ok = m_parts.authoring->Author(
            outFolder, titles, m_bSplitOutput, m_menu.get(),
            [&throttle](int phase, int percent) { throttle.Report(phase, percent); }, &error);
    }
    m_observer.StepEnd(JobStep::Authoring);
    if (!ok && m_outcome.interruptSignal != 0) {
        // The engine removed the files it wrote; no half DVD folder may pass for a product.
        m_outcome.authorFailed = true;
        for (auto folder = newFolders.rbegin(); folder != newFolders.rend(); ++folder) {
            ::rmdir(folder->c_str());
        }
        AuthorLog(3, "CreateDVD stopped: %s", error.c_str());
        Log(1, "DVD Author stopped: the job was interrupted\n");
        return;
    }
    if (!ok) {
        // The engine failed: say why and keep the list; the job goes on without burning.
        m_outcome.authorFailed = true;
        AuthorLog(3, "CreateDVD failed: %s", error.c_str());
        Log(1, "DVD Author Failed: " + error + "\n");
        Tell("Creating the DVD folder failed:\n" + error, qx::PromptIcon::Error);
        return;
    }
    m_outcome.dvdFolder = VideoTsFolder(m_spec.workFolder);
    AuthorLog(3, "Complete CreateDVD");
    Log(0, "Complete Real DVD Author\n");
}

BurnOutcome DiscJob::BurnToDVDDisc() {
    m_observer.StepBegin(JobStep::Burning, "Burning Disc...");
    BurnOutcome outcome = BurnOutcome::Refused;
    std::string folder = m_spec.workFolder + "DVD Movie/";
    char line[256];
    if (!CheckDvdFolder(&folder)) {
        Log(0, "Check DVD Folder '" + folder + "' failed\n");
        Tell("Folder is Invalid! Please select valid Folder");
    } else {
        Log(0, "Check DVD Folder '" + folder + "' successful\n");
        const double size = DvdFolderSizeMB(folder);
        if (size < 1) {
            Tell("Selected DVD File System is too small! Please check it and try again.");
            Log(0, "Selected DVD File System is too small!\n");
        } else if (size > kDvd5LimitMB && m_spec.discType == DISC_TYPE_D5) {
            std::snprintf(line, sizeof line, "Target is DVD_5 DVD Folder space:%f is over DVD_5 burn quit\n", size);
            Log(0, line);
            Tell("DVD file size is over DVD5_SIZE! \nPlease Set target to DVD_9 and burn again.");
        } else if (size > kDvd9LimitMB) {
            std::snprintf(line, sizeof line, "DVD Folder space:%f is over DVD_9 burn quit\n", size);
            Log(0, line);
            Tell("DVD file size is over DVD9_SIZE! It can not be burned.");
        } else if (BurnCore* core = m_parts.Core(m_spec.burnTarget.engine)) {
            std::snprintf(line, sizeof line, "Target is %d, DVD Folder space:%f, burn core:%d writer:%d\n",
                          m_spec.discType, size, m_spec.burnTarget.engine, m_spec.burnTarget.writer);
            Log(0, line);
            core->onProgressLine = [this](const ProgressLine& progress) {
                m_observer.Progress(progress.percent, progress.text);
            };
            // A signal that came while the step opened must not be lost to an engine not yet running.
            outcome = m_outcome.interruptSignal != 0
                          ? BurnOutcome::Cancelled
                          : core->BurnDVDFolder(m_observer.PromptOwner(), m_spec.burnTarget.writer, folder, m_spec.label);
            core->onProgressLine = nullptr;
        }
    }
    Log(0, "Burn Complete!\n");
    m_observer.StepEnd(JobStep::Burning);
    return outcome;
}

void DiscJob::WriteDiscImage() {
    m_outcome.imageTried = true;
    m_observer.StepBegin(JobStep::Imaging, "Writing disc image...");
    Log(0, "Begin Disc Image " + m_spec.imageFile + "\n");
    const DiscImageResult image =
        WriteDiscImageFile(VideoTsFolder(m_spec.workFolder), m_spec.imageFile, m_spec.label, &m_bCancelImage,
                           [this](int percent, const std::string& text) { m_observer.Progress(percent, text); });
    m_outcome.imageWritten = image.written;
    m_outcome.imageBytes = image.bytes;
    m_outcome.imageError = image.error;
    m_outcome.imageWarnings = image.warnings;
    if (!m_outcome.imageWritten) {
        Log(1, "Disc Image Failed: " + m_outcome.imageError + "\n");
    } else {
        Log(0, "Complete Disc Image " + m_spec.imageFile + "\n");
    }
    m_observer.StepEnd(JobStep::Imaging);
}

void DiscJob::FinishWithOutcome() {
    m_observer.BeforeOutcome();
    const std::string kept = "\nThe DVD folder is kept in " + VideoTsFolder(m_spec.workFolder);
    if (m_outcome.authorFailed) {
        // The engine's error was shown; the DVD folder is not a product and nothing is burned.
        Log(1, "DVD Author Failed\n");
        return;
    }
    if (m_outcome.imageTried && !m_outcome.imageWritten) {
        // No complete image: the DVD folder stays for another try, the computer stays on.
        if (m_spec.burn) {
            Log(1, std::string("Burn DVD ") + BurnOutcomeName(m_outcome.burnOutcome) + "\n");
        }
        Tell("The disc image was not written:\n" + m_outcome.imageError + kept);
        return;
    }
    if (m_spec.burn && m_outcome.burnOutcome != BurnOutcome::Done) {
        // Nothing usable reached the disc: the DVD folder stays for another try and the computer
        // stays on so that the user learns about it.
        Log(1, std::string("Burn DVD ") + BurnOutcomeName(m_outcome.burnOutcome) + "\n");
        Tell(BurnOutcomeMessage(m_outcome.burnOutcome, m_observer.LogPlace()) + kept);
        return;
    }
    if (m_spec.deleteTempFiles && m_spec.burn) {
        CleanTemporaryFiles();
    }
    if (m_spec.shutdown && m_parts.power) {
        Log(0, "Shut down compter after Complete All Work\n");
        m_outcome.shutDown = true;
        m_parts.power->Shutdown();
        return;
    }
    Log(0, "Complete All Work\n");
    Tell(m_outcome.imageWritten ? "Mission accomplished!\nThe disc image is " + m_spec.imageFile
                                : std::string("Mission accomplished!"));
    m_outcome.accomplished = true;
}

void DiscJob::CleanTemporaryFiles() {
    // (Also after an image was written in place of a disc: the DVD folder was a temporary too.)
    const std::string folder = VideoTsFolder(m_spec.workFolder);
    if (FindOrDeleteDvdFiles(folder, true, Pump) == 1) {
        std::string error;
        if (FindOrDeleteDvdFiles(folder, false, Pump, &error) < 0) {
            AuthorLog(3, "Temporary DVD files not all deleted: %s", error.c_str());
            return;
        }
    }
    m_outcome.dvdFolder.clear();
}

void DiscJob::FinishJob() {
    m_observer.EnableJobControls(true);
    m_bStopConvert = false;
    m_step = JobStep::None;
    m_parts.encoder->Kill();
    // A closing owner or an ending program needs no encoder for a next job.
    if (!m_bClosing && m_outcome.interruptSignal == 0 && m_bRestartEncoderAtEnd) {
        std::string error;
        if (!m_parts.encoder->Start(&error)) {
            AuthorLog(3, "Encoder program did not start: %s", error.c_str());
            Tell(kEncoderCreateError);
        } else if (!m_parts.encoder->HasWindow()) {
            Tell(kEncoderCreateError);
        }
    }
    m_bRunning = false;
    m_observer.Finished(m_outcome);
}
