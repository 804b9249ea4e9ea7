// A whole disc job from the console: the movies probed, the job value built from the options, DiscJob
// run to its end on this thread's event loop, the results printed.
#include "CliJob.h"

#include "CliObserver.h"
#include "DiscJob.h"
#include "Folders.h"
#include "InstanceLock.h"
#include "MovieProbe.h"
#include "QuitOnSignal.h"
#include "Settings.h"
#include "TerminalText.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

using qx::discimage::PrintableText;

namespace {

constexpr const char* kEncoderCreateError =
    "Error on Create Encoder Proxy,\nPlease reinstalled this software, or contact Support.";

// The movie's path made absolute byte for byte: a name that is not valid UTF-8 (or holds a
// newline) must reach the encoder exactly as the file system has it.
std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') {
        return path;
    }
    std::string cwd(4096, '\0');
    while (::getcwd(cwd.data(), cwd.size()) == nullptr && errno == ERANGE) {
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::strlen(cwd.c_str()));
    return qx::WithTrailingSlash(cwd) + (path.rfind("./", 0) == 0 ? path.substr(2) : path);
}

// The console's view of the job: what CliObserver prints, the choices kept for the next run once the
// job is accepted, and the end of the job's event loop.
class CliJobObserver : public CliObserver {
public:
    CliJobObserver(std::FILE* out, std::FILE* err, bool assumeYes, std::string settingsFile)
        : CliObserver(out, err, assumeYes), m_strSettingsFile(std::move(settingsFile)) {}
    void SetJob(const DiscJob* job) { m_job = job; }
    void SetLoop(QEventLoop* loop) { m_loop = loop; }
    void JobAccepted() override {
        const DiscJobParams& spec = m_job->Spec();
        const qx::Status saved =
            CSettingsStore(m_strSettingsFile)
                .SaveOutputSettings(spec.workFolder, spec.tv == TvStandard::Pal,
                                    spec.aspect == DisplayAspect::Wide16x9 ? 1 : 0, spec.keepAspect);
        if (!saved.ok()) {
            Log(1, "The choices were not kept: " + saved.error() + "\n");
        }
    }
    void Finished(const JobOutcome& outcome) override {
        CliObserver::Finished(outcome);
        if (m_loop) {
            m_loop->quit();
        }
    }

private:
    std::string m_strSettingsFile;
    const DiscJob* m_job = nullptr;
    QEventLoop* m_loop = nullptr;
};

// The demonstration's own folder with a sample movie in it, and its settings file beside it. Empty
// with the reason printed when it cannot be made.
bool PrepareDemo(CliOptions* job, std::string* settingsFile, std::FILE* err) {
    if (job->workFolder.empty()) {
        const qx::Result<std::string> folder = MakeDemoFolder(QDir::tempPath().toStdString());
        if (!folder) {
            std::fprintf(err, "Cannot make a folder for the demonstration: %s\n", folder.error.c_str());
            return false;
        }
        job->workFolder = folder.value;
    }
    // The demonstration's choices stay beside it: its folder never becomes the working folder the
    // console front-end offers next time.
    const std::string sourceFolder = qx::WithTrailingSlash(job->workFolder) + "demo-source/";
    *settingsFile = sourceFolder + "demo-settings.ini";
    const qx::Status made = qx::MakeFolderPath(sourceFolder);
    if (!made.ok()) {
        std::fprintf(err, "Cannot make %s: %s\n", sourceFolder.c_str(), made.error().c_str());
        return false;
    }
    const std::string movie = sourceFolder + "demo.rm";
    std::fprintf(err, "Making a 5-second sample movie %s ...\n", movie.c_str());
    std::fflush(err);
    std::string error;
    if (!MakeDemoMovie(movie, &error)) {
        std::fprintf(err, "The sample movie could not be made: %s\n", error.c_str());
        return false;
    }
    job->movies = {movie};
    job->assumeYes = true; // a repeated demo replaces its own earlier DVD folder
    return true;
}

// Probes every movie as "Add Video files" does; what cannot be read is left out with the
// "Can not support file:" note. (The job names the converted streams when it starts.)
std::vector<CSourceInfo> ProbeMovies(EncoderLink& encoder, const std::vector<std::string>& paths,
                                     const std::string& workFolder, CliObserver& observer, int* dropped) {
    std::vector<CSourceInfo> movies;
    for (const std::string& path : paths) {
        const ProbedMovie probed = ProbeMovie(encoder, path, [&] { encoder.SendProbe(path, workFolder); });
        observer.Log(probed.logLevel, probed.logLine);
        if (!probed.soundLine.empty()) {
            observer.Log(0, probed.soundLine);
        }
        if (!probed.accepted) {
            observer.ErrorPrompts().NoteDialog("Information", "Can not support file:\n" + PrintableText(path));
            ++*dropped;
            continue;
        }
        // The movie's line: what it brings besides its picture and sound.
        if (!probed.info.subtitles.empty()) {
            observer.Log(0, FileNameOf(probed.info.strPath) + ": " +
                                qx::DescribeSubtitles(probed.info.subtitles, probed.info.strPath) + "\n");
        }
        movies.push_back(probed.info);
    }
    return movies;
}

// The engine and writer of --writer N as the window would choose them: the given engine, else
// "Nero" when it is available, else "Build-in". False, with the reason printed, when there is no
// such engine or writer.
bool ChooseBurnTarget(JobParts& parts, const CliOptions& options, BurnTarget* target, std::FILE* err) {
    if (!parts.buildInCore->InitBurnCore()) {
        qx::Prompts().Information(nullptr, "Init Build-in Burn Engine Failed!");
    }
    const bool neroAvailable = parts.neroCore->InitBurnCore();
    target->engine = options.engine >= 0 ? options.engine : (neroAvailable ? 1 : 0);
    if (target->engine == 1 && !neroAvailable) {
        PrintUnavailable(*parts.neroCore, err);
        return false;
    }
    std::vector<std::string> writers;
    parts.Core(target->engine)->ListWriters(nullptr, [&](std::vector<std::string> list) { writers = std::move(list); });
    if (options.writer >= static_cast<int>(writers.size())) {
        std::fprintf(err, "There is no writer %d (%zu writers; --list-writers shows them).\n", options.writer,
                     writers.size());
        return false;
    }
    target->writer = options.writer;
    return true;
}

// SIGINT and SIGTERM end the job on this thread. During a conversion the encoder is ended and the
// job's streams removed at once; the authoring engine, a burn and an image write are stopped through
// their own stop, since ending the program under them would leave a half DVD folder, disc or image,
// and the job then ends on its usual path.
void OnJobSignal(DiscJob& job, int signal, QTimer& bound, std::FILE* err) {
    if (job.InterruptSignal() != 0) {
        return; // stopping already; the bound ends the program if the step does not stop
    }
    const JobStep step = job.Step();
    if (step == JobStep::Menu || step == JobStep::Authoring || step == JobStep::Burning || step == JobStep::Imaging) {
        std::fprintf(err, step == JobStep::Menu        ? "Interrupted: stopping the DVD menu and removing the job's "
                                                         "files.\n"
                          : step == JobStep::Authoring ? "Interrupted: stopping the authoring and removing the job's "
                                                         "files.\n"
                          : step == JobStep::Burning   ? "Interrupted: cancelling the burn.\n"
                                                       : "Interrupted: stopping the disc image.\n");
        std::fflush(err);
        job.Interrupt(signal);
        QObject::connect(&bound, &QTimer::timeout, [&job, signal, err] {
            std::fprintf(err, "The job did not stop within %d seconds; ending anyway.\n", kCliInterruptBoundMs / 1000);
            job.Abandon();
            std::fflush(err);
            std::_Exit(128 + signal);
        });
        bound.start(kCliInterruptBoundMs);
        return;
    }
    std::fprintf(err, "Interrupted: removing the job's files.\n");
    job.Abandon();
    std::fflush(err);
    std::_Exit(128 + signal);
}

// What the job made, on standard output; the exit status.
int ReportOutcome(const CliOptions& options, const DiscJob& job, int dropped, std::FILE* out, std::FILE* err) {
    const JobOutcome& outcome = job.Outcome();
    if (!outcome.dvdFolder.empty()) {
        std::string folder = outcome.dvdFolder;
        folder.pop_back();
        std::fprintf(out, "DVD folder: %s\n", PrintableText(folder).c_str());
        if (options.writer >= 0) {
            std::fprintf(out, "Burn: %s\n",
                         BurnOutcomeName(outcome.burnTried ? outcome.burnOutcome : BurnOutcome::Refused));
        }
    }
    for (const std::string& warning : outcome.imageWarnings) {
        std::fprintf(err, "qxmoviedisc-cli: warning: %s\n", PrintableText(warning).c_str());
    }
    if (outcome.imageWritten) {
        std::fprintf(out, "qxmoviedisc-cli: wrote %s (%llu bytes)\n", PrintableText(options.isoFile).c_str(),
                     static_cast<unsigned long long>(outcome.imageBytes));
    } else if (outcome.imageTried) {
        std::fprintf(err, "qxmoviedisc-cli: %s\n", PrintableText(outcome.imageError).c_str());
    }
    int status = outcome.accomplished ? 0 : 1;
    // "Mission accomplished!" also ends a job whose movies were replaced by the substitute stream or
    // left out: a script must not take that for a good disc.
    const size_t total = job.Spec().movies.size() + static_cast<size_t>(dropped);
    if (outcome.failedMovies > 0) {
        std::fprintf(out, "%d of %zu movies failed and were replaced\n", outcome.failedMovies, total);
    }
    if (dropped > 0) {
        std::fprintf(out, "%d of %zu movies could not be read and were left out\n", dropped, total);
    }
    if (status == 0 && (outcome.failedMovies > 0 || dropped > 0)) {
        status = kCliMoviesReplaced;
    }
    if (outcome.interruptSignal != 0) {
        if (outcome.burnTried) {
            std::fprintf(err, "Interrupted: the burn ended %s; the DVD folder is kept.\n",
                         BurnOutcomeName(outcome.burnOutcome));
        } else {
            std::fprintf(err, "Interrupted: the DVD files and folders the job made were removed.\n");
        }
        status = 128 + outcome.interruptSignal;
    }
    return status;
}

} // namespace

bool AcquireCliInstanceLock(qx::InstanceLock& lock, std::FILE* err) {
    std::string error;
    const qx::InstanceLock::State state = lock.Acquire("QXMOVIEDISC", &error);
    if (state == qx::InstanceLock::State::HeldElsewhere) {
        std::fprintf(err, "QX Movie Disc is already running; close it first.\n");
        return false;
    }
    if (state == qx::InstanceLock::State::Failed) {
        std::fprintf(err, "Cannot take the single-instance lock: %s\n", error.c_str());
        return false;
    }
    return true;
}

int RunCliJob(const CliOptions& options, std::FILE* out, std::FILE* err) {
    qx::InstanceLock lock;
    if (!AcquireCliInstanceLock(lock, err)) {
        return 1;
    }
    CliOptions job = options;
    std::string settingsFile = qx::ConfigFolder() + "settings-cli.ini";
    // An image target that can never be written is refused before the long part.
    struct stat target;
    if (!job.isoFile.empty() && lstat(job.isoFile.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) {
        std::fprintf(err, "%s exists and is not a regular file; it is left alone\n",
                     PrintableText(job.isoFile).c_str());
        return 1;
    }
    if (job.demo && !PrepareDemo(&job, &settingsFile, err)) {
        return 1;
    }

    CliJobObserver observer(out, err, job.assumeYes, settingsFile);
    qx::SetPrompts(&observer.ErrorPrompts());
    struct PromptsGone {
        ~PromptsGone() { qx::SetPrompts(nullptr); }
    } promptsGone;

    JobParts parts;
    CompleteJobParts(parts, [&observer](const std::string& line) { observer.Log(0, line); });
    DiscJobParams spec;
    spec.tv = job.tv;
    spec.aspect = job.aspect;
    spec.keepAspect = job.keepAspect;
    spec.discType = job.dualLayer ? DISC_TYPE_D9 : DISC_TYPE_D5;
    spec.label = job.label;
    spec.menu = job.menu;
    spec.verify = job.verify;
    spec.subtitles = job.subtitles;
    spec.showSubtitles = CSettingsStore(settingsFile).ReadSettings().showSubtitles;
    spec.imageFile = job.isoFile.empty() ? std::string() : AbsolutePath(job.isoFile);
    spec.workFolder = job.workFolder.empty()
                          ? CSettingsStore(settingsFile).ReadSettings().tempFolder
                          : QFileInfo(QString::fromStdString(job.workFolder)).absoluteFilePath().toStdString();
    if (job.writer >= 0) {
        spec.burn = true;
        if (!ChooseBurnTarget(parts, job, &spec.burnTarget, err)) {
            return 1;
        }
    }

    std::string error;
    if (!parts.encoder->Start(&error)) {
        observer.Ask({kEncoderCreateError, "", qx::PromptButtons::Ok, qx::PromptIcon::Information, nullptr});
        return 1;
    }
    DiscJob discJob(parts, observer);
    discJob.SetRestartEncoderAtEnd(false);
    observer.SetJob(&discJob);

    // Interrupted, the job leaves nothing of its own behind but a DVD folder it completed; then the
    // program ends with the signal's status.
    QTimer interruptBound;
    interruptBound.setSingleShot(true);
    const qx::Status handled = qx::CallOnTermination(
        [&discJob, &interruptBound, err](int signal) { OnJobSignal(discJob, signal, interruptBound, err); });
    if (!handled.ok()) {
        std::fprintf(err, "Ctrl+C will not end the job cleanly: %s\n", handled.error().c_str());
    }
    struct TerminationGone {
        ~TerminationGone() { qx::DefaultTermination(); } // past the job a signal ends the program as usual
    } terminationGone;

    std::vector<std::string> paths;
    for (const std::string& movie : job.movies) {
        paths.push_back(AbsolutePath(movie));
    }
    int dropped = 0;
    spec.movies = ProbeMovies(*parts.encoder, paths, qx::WithTrailingSlash(spec.workFolder), observer, &dropped);
    if (spec.movies.empty()) {
        std::fprintf(err, "No movie was added.\n");
        return 1;
    }
    QEventLoop loop;
    observer.SetLoop(&loop);
    if (!discJob.Start(spec)) {
        std::fprintf(err, "The job did not start.\n");
        return 1;
    }
    if (!observer.IsFinished()) {
        loop.exec();
    }
    interruptBound.stop();
    return ReportOutcome(job, discJob, dropped, out, err);
}

qx::Result<std::string> MakeDemoFolder(const std::string& tempFolder) {
    std::string pattern = qx::WithTrailingSlash(tempFolder) + "qxmoviedisc-demo-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        return qx::Result<std::string>::Fail(qx::ErrnoText("cannot make " + pattern, errno));
    }
    // mkdtemp made it 0700 for us; a check all the same, since everything after trusts it.
    struct stat st {};
    if (lstat(pattern.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
        return qx::Result<std::string>::Fail(pattern + " is not a private folder of this user");
    }
    return qx::Result<std::string>::Ok(pattern + "/");
}
