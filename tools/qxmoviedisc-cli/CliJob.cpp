#include "CliJob.h"
#include "NumericLocale.h"

#include "Folders.h"
#include "ImageTool.h"
#include "InstanceLock.h"
#include "MainDlg.h"
#include "ProgressDlg.h"
#include "PromptService.h"
#include "QuitOnSignal.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>

namespace {

// Log lines go to the console instead of the log program.
class ConsoleLog : public LogLink {
public:
    explicit ConsoleLog(std::FILE* out) : m_out(out) {}
    bool Start() override { return true; }
    void Log(int level, const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        std::fprintf(m_out, "log%s: %s\n", level == 1 ? " (failure)" : "", line.c_str());
        std::fflush(m_out);
    }
    void End() override {}

private:
    std::FILE* m_out;
    std::mutex m_mutex;
};

} // namespace

std::unique_ptr<LogLink> MakeConsoleLog(std::FILE* out) {
    return std::make_unique<ConsoleLog>(out);
}

bool AcquireCliInstanceLock(qx::InstanceLock& lock, std::FILE* out) {
    std::string error;
    const qx::InstanceLock::State state = lock.Acquire("QXMOVIEDISC", &error);
    if (state == qx::InstanceLock::State::HeldElsewhere) {
        std::fprintf(out, "QX Movie Disc is already running; close it first.\n");
        return false;
    }
    if (state == qx::InstanceLock::State::Failed) {
        std::fprintf(out, "Cannot take the single-instance lock: %s\n", error.c_str());
        return false;
    }
    return true;
}

namespace {

template <class T> T* Control(CQuilvoVidrevoDlg& dlg, const char* name) {
    return dlg.findChild<T*>(name);
}

void ApplyOptions(CQuilvoVidrevoDlg& dlg, const CliOptions& options, const std::string& workFolder) {
    Control<QRadioButton>(dlg, options.pal ? "radioPal" : "radioNtsc")->click();
    Control<QComboBox>(dlg, "comboAspect")->setCurrentIndex(options.wide ? 1 : 0);
    QCheckBox* keep = Control<QCheckBox>(dlg, "chkKeepAspect");
    if (keep->isChecked() != options.keepAspect) {
        keep->click();
    }
    if (options.dualLayer != (dlg.DiscType() == 1)) {
        dlg.ToggleDiscType();
    }
    Control<QLineEdit>(dlg, "editTempFolder")->setText(QString::fromStdString(workFolder));
    Control<QCheckBox>(dlg, "chkShutdown")->setChecked(false);
    Control<QLineEdit>(dlg, "editDiscLabel")->setText(QString::fromStdString(options.label));
}

// The disc image of the folder the job made, with the window's label; messages go to `out`.
int WriteJobImage(CQuilvoVidrevoDlg& dlg, const std::string& isoFile, std::FILE* out) {
    const std::string folder = qx::WithTrailingSlash(dlg.TempFolder()) + "DVD Movie/VIDEO_TS";
    const std::string label = Control<QLineEdit>(dlg, "editDiscLabel")->text().toStdString();
    std::ostringstream messages;
    const int status = qx::discimage::WriteFolderImageFile("qxmoviedisc-cli", folder, isoFile, label, messages, false);
    std::fputs(messages.str().c_str(), out);
    std::fflush(out);
    return status;
}

// Ticks "Burn to DVD disc" and chooses the writer (--writer N), or unticks it. False, with the
// reason printed, when writer N is not in the list.
bool ApplyBurnOptions(CQuilvoVidrevoDlg& dlg, const CliOptions& options, std::FILE* out) {
    QCheckBox* burn = Control<QCheckBox>(dlg, "chkBurn");
    // Only the clicks the user would make: the box's own handler keeps the settings in step.
    if (options.writer < 0) {
        if (burn->isChecked()) {
            burn->click();
        }
        return true;
    }
    if (options.engine >= 0) {
        QComboBox* engines = Control<QComboBox>(dlg, "comboBurnEngine");
        if (options.engine >= engines->count()) {
            std::fprintf(out, "The \"Nero\" burn engine is not available.\n");
            return false;
        }
        engines->setCurrentIndex(options.engine);
        dlg.ListWriters();
    }
    QComboBox* writers = Control<QComboBox>(dlg, "comboWriters");
    if (options.writer >= writers->count() || !burn->isEnabled()) {
        std::fprintf(out, "There is no writer %d (%d writers; --list-writers shows them).\n", options.writer,
                     writers->count());
        return false;
    }
    writers->setCurrentIndex(options.writer);
    if (!burn->isChecked()) {
        burn->click();
    }
    // Temporary files: the DVD folder is kept; the console front-end never deletes it.
    QCheckBox* deleteTmp = Control<QCheckBox>(dlg, "chkDeleteTmp");
    if (deleteTmp->isChecked()) {
        deleteTmp->click();
    }
    Control<QLineEdit>(dlg, "editDiscLabel")->setText(QString::fromStdString(options.label));
    return true;
}

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

// SIGINT and SIGTERM end the job on the window's thread. During a conversion the encoder is ended
// and the job's streams removed at once; the authoring engine and a burn are stopped through their
// own stop, since ending the program under them would leave a half DVD folder or half disc, and
// the job then ends on its usual path.
void OnJobSignal(CQuilvoVidrevoDlg& dlg, int signal, QTimer& bound, std::FILE* out) {
    if (dlg.InterruptSignal() != 0) {
        return; // stopping already; the bound ends the program if the step does not stop
    }
    const CQuilvoVidrevoDlg::JobStep step = dlg.CurrentJobStep();
    if (step == CQuilvoVidrevoDlg::JobStep::Authoring || step == CQuilvoVidrevoDlg::JobStep::Burning) {
        std::fprintf(out, step == CQuilvoVidrevoDlg::JobStep::Authoring
                              ? "Interrupted: stopping the authoring and removing the job's files.\n"
                              : "Interrupted: cancelling the burn.\n");
        std::fflush(out);
        dlg.InterruptJob(signal);
        QObject::connect(&bound, &QTimer::timeout, [&dlg, signal, out] {
            std::fprintf(out, "The job did not stop within %d seconds; ending anyway.\n", kCliInterruptBoundMs / 1000);
            dlg.AbandonJob();
            std::fflush(out);
            std::_Exit(128 + signal);
        });
        bound.start(kCliInterruptBoundMs);
        return;
    }
    std::fprintf(out, "Interrupted: removing the job's files.\n");
    dlg.AbandonJob();
    std::fflush(out);
    std::_Exit(128 + signal);
}

} // namespace

int RunCliJob(const CliOptions& options, std::FILE* out) {
    qx::InstanceLock lock;
    if (!AcquireCliInstanceLock(lock, out)) {
        return 1;
    }

    CliOptions job = options;
    std::string demoSettings;
    // An image target that can never be written is refused before the long part.
    struct stat target;
    if (!job.isoFile.empty() && lstat(job.isoFile.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) {
        std::fprintf(out, "%s exists and is not a regular file; it is left alone\n", job.isoFile.c_str());
        return 1;
    }
    if (job.demo) {
        if (job.workFolder.empty()) {
            const qx::Result<std::string> folder = MakeDemoFolder(QDir::tempPath().toStdString());
            if (!folder) {
                std::fprintf(out, "Cannot make a folder for the demonstration: %s\n", folder.error.c_str());
                return 1;
            }
            job.workFolder = folder.value;
        }
        // The demonstration's choices stay beside it: its folder never becomes the working
        // folder the console front-end offers next time.
        demoSettings = qx::WithTrailingSlash(job.workFolder) + "demo-source/demo-settings.ini";
        const std::string sourceFolder = qx::WithTrailingSlash(job.workFolder) + "demo-source/";
        const qx::Status made = qx::MakeFolderPath(sourceFolder);
        if (!made.ok()) {
            std::fprintf(out, "Cannot make %s: %s\n", sourceFolder.c_str(), made.error().c_str());
            return 1;
        }
        const std::string movie = sourceFolder + "demo.rm";
        std::fprintf(out, "Making a 5-second sample movie %s ...\n", movie.c_str());
        std::fflush(out);
        std::string error;
        if (!MakeDemoMovie(movie, &error)) {
            std::fprintf(out, "The sample movie could not be made: %s\n", error.c_str());
            return 1;
        }
        job.movies = {movie};
        job.assumeYes = true; // a repeated demo replaces its own earlier DVD folder
    }

    qx::ConsolePromptService prompts(out);
    prompts.SetAssumeYes(job.assumeYes);
    std::vector<std::string> paths;
    for (const std::string& movie : job.movies) {
        paths.push_back(AbsolutePath(movie));
    }
    prompts.SetFiles(paths);
    qx::SetPrompts(&prompts);

    AppParts parts;
    parts.log = MakeConsoleLog(out);
    parts.settingsFile = job.demo ? demoSettings : qx::ConfigFolder() + "settings-cli.ini";
    int status = 1;
    {
        CQuilvoVidrevoDlg dlg(std::move(parts));
        if (!dlg.OnInitDialog()) {
            qx::SetPrompts(nullptr);
            return 1;
        }
        const std::string workFolder =
            job.workFolder.empty() ? dlg.TempFolder()
                                   : QFileInfo(QString::fromStdString(job.workFolder)).absoluteFilePath().toStdString();
        ApplyOptions(dlg, job, workFolder);
        if (!ApplyBurnOptions(dlg, job, out)) {
            qx::SetPrompts(nullptr);
            return 1;
        }

        // Interrupted, the job leaves nothing of its own behind but a DVD folder it completed;
        // then the program ends with the signal's status.
        QTimer interruptBound;
        interruptBound.setSingleShot(true);
        const qx::Status handled = qx::CallOnTermination(
            [&dlg, &interruptBound, out](int signal) { OnJobSignal(dlg, signal, interruptBound, out); });
        if (!handled.ok()) {
            std::fprintf(out, "Ctrl+C will not end the job cleanly: %s\n", handled.error().c_str());
        }

        // Progress lines: every status the progress window shows, once per change.
        std::string lastProgress;
        QObject::connect(&dlg, &CQuilvoVidrevoDlg::progressChanged,
                         [&](const QString& title, const QString& text, int) {
                             const std::string line = title.toStdString() + ": " + text.toStdString();
                             if (line != lastProgress) {
                                 lastProgress = line;
                                 std::fprintf(out, "progress: %s\n", line.c_str());
                                 std::fflush(out);
                             }
                         });

        dlg.OnBtnAddFiles();
        dlg.WaitForAddFiles(24 * 3600 * 1000);
        if (dlg.Sources().empty()) {
            std::fprintf(out, "No movie was added.\n");
        } else {
            QEventLoop loop;
            QObject::connect(&dlg, &CQuilvoVidrevoDlg::jobFinished, &loop, &QEventLoop::quit);
            dlg.OnBtnStartconvert();
            if (dlg.JobRunning()) {
                loop.exec();
                interruptBound.stop();
                const bool burned = job.writer >= 0 && dlg.LastBurnOutcome() != BurnOutcome::Refused;
                const bool haveFolder = dlg.InterruptSignal() == 0 || burned;
                if (haveFolder) {
                    std::fprintf(out, "DVD folder: %sDVD Movie/VIDEO_TS\n",
                                 qx::WithTrailingSlash(dlg.TempFolder()).c_str());
                }
                if (job.writer >= 0 && haveFolder) {
                    std::fprintf(out, "Burn: %s\n", BurnOutcomeName(dlg.LastBurnOutcome()));
                }
                status = dlg.LastJobAccomplished() ? 0 : 1;
                // "Mission accomplished!" also ends a job whose movies were replaced by the
                // substitute stream: a script must not take that for a good disc.
                size_t failed = 0;
                for (const CSourceInfo& source : dlg.Sources()) {
                    failed += source.strStatus == "Failed" ? 1 : 0;
                }
                if (status == 0 && !job.isoFile.empty()) {
                    status = WriteJobImage(dlg, job.isoFile, out);
                }
                if (failed > 0) {
                    std::fprintf(out, "%zu of %zu movies failed and were replaced\n", failed, dlg.Sources().size());
                    if (status == 0) {
                        status = kCliMoviesReplaced;
                    }
                }
                if (dlg.InterruptSignal() != 0) {
                    if (burned) {
                        std::fprintf(out, "Interrupted: the burn ended %s; the DVD folder is kept.\n",
                                     BurnOutcomeName(dlg.LastBurnOutcome()));
                    } else {
                        std::fprintf(out, "Interrupted: the DVD files and folders the job made were removed.\n");
                    }
                    status = 128 + dlg.InterruptSignal();
                }
            } else {
                std::fprintf(out, "The job did not start.\n");
            }
        }
        // Past the job a signal ends the program as usual.
        qx::DefaultTermination();
    }
    qx::SetPrompts(nullptr);
    return status;
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

static void QuietPlatformMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    // The off-screen platform warns about every window feature it lacks; everything else stays.
    if (type == QtWarningMsg && text.startsWith("This plugin does not support")) {
        return;
    }
    std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, text).toLocal8Bit().constData());
}

int CliMain(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(args, &options, &error)) {
        std::fprintf(stderr, "qxmoviedisc-cli: %s\n%s", error.c_str(), CliUsage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(CliUsage().c_str(), stdout);
        return 0;
    }
    // No window is ever shown: the off-screen platform works without a display. Its notes about
    // what it cannot do for a window ("This plugin does not support ...") are not the job's lines.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QT_LOGGING_RULES", "qt.qpa.*=false", 0);
    qInstallMessageHandler(QuietPlatformMessages);
    QApplication app(argc, argv);
    qx::UseLocaleIndependentNumbers();
    QApplication::setApplicationName("QX Movie Disc");
    QApplication::setQuitOnLastWindowClosed(false);
    return options.WriterOperation() ? RunCliWriterOperation(options, stdout) : RunCliJob(options, stdout);
}
