// The life of a disc job: construction on the job's thread, the start, stopping and interrupting,
// and the calls the conversion thread makes onto the job's thread.
#include "DiscJob.h"

#include "AuthorLog.h"
#include "Folders.h"
#include "MenuProgram.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <sys/stat.h>

int64_t ProcessClockMs() {
    static QElapsedTimer clock;
    if (!clock.isValid()) {
        clock.start();
    }
    return clock.elapsed();
}

DiscJob::DiscJob(JobParts& parts, JobObserver& observer)
    : m_parts(parts), m_observer(observer), m_context(std::make_unique<QObject>()) {
    m_strCompanionFolder =
        qx::WithTrailingSlash(m_parts.companionFolder.empty() ? qx::ProgramFolder() : m_parts.companionFolder);
    // The encoder's progress records come on this thread while a movie converts.
    m_parts.encoder->onProgress = [this](int percent, const std::string& text) { m_observer.Progress(percent, text); };
    m_parts.encoder->convertElapsedMs = [this] { return static_cast<uint32_t>(ProcessClockMs() - m_dwConvertStart); };
}

DiscJob::~DiscJob() {
    Close();
    m_parts.encoder->onProgress = nullptr;
    m_parts.encoder->convertElapsedMs = nullptr;
}

void DiscJob::Close() {
    m_bClosing = true;
    m_bStopConvert = true;
    if (m_bRunning) {
        m_parts.encoder->SendStop();
    }
    // The conversion thread may be blocked on a call onto this thread: keep serving it until it has
    // returned. The stop is repeated because the thread may send its next request after the first one
    // (the encoder would then convert the whole movie while this waits).
    for (int pass = 1; m_nWorkersRunning > 0; ++pass) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (m_bRunning && pass % 5 == 0) {
            m_parts.encoder->SendStop();
        }
    }
    if (m_convertThread.joinable()) {
        m_convertThread.join();
    }
}

void DiscJob::OnJobThread(const std::function<void()>& call) {
    if (QThread::currentThread() == m_context->thread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(m_context.get(), call, Qt::BlockingQueuedConnection);
}

qx::PromptAnswer DiscJob::Tell(const std::string& text, qx::PromptIcon icon, qx::PromptButtons buttons,
                               const std::string& caption) {
    qx::PromptBox box;
    box.text = text;
    box.caption = caption;
    box.icon = icon;
    box.buttons = buttons;
    box.owner = m_observer.PromptOwner();
    return m_observer.Ask(box);
}

std::string DiscJob::VideoTsFolder(const std::string& workFolder) {
    return qx::WithTrailingSlash(workFolder) + "DVD Movie/VIDEO_TS/";
}

std::string DiscJob::SubstituteStream() const {
    const std::string specific = m_strCompanionFolder + "default_" + TvStandardName(m_spec.tv) + "_" +
                                 (m_spec.aspect == DisplayAspect::Wide16x9 ? "16x9" : "4x3") + ".vob";
    struct stat st;
    if (stat(specific.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        return specific;
    }
    return m_strCompanionFolder + "default.vob";
}

void DiscJob::StopConvert() {
    AuthorLog(3, "Stop conversion in StopConvert");
    if (m_bStopConvert || !m_bRunning) {
        return;
    }
    if (Tell("Do you really want to stop convert process?", qx::PromptIcon::Question, qx::PromptButtons::YesNo,
             "Query") != qx::PromptAnswer::Yes) {
        return;
    }
    Log(0, "Stopping Convert Process\n");
    m_bStopConvert = true;
    m_parts.encoder->SendStop();
}

void DiscJob::RequestStopBurn() {
    if (m_step == JobStep::Imaging && !m_bCancelImage) {
        if (Tell("Do you really want to stop writing the disc image?", qx::PromptIcon::Question,
                 qx::PromptButtons::YesNo) == qx::PromptAnswer::Yes) {
            m_bCancelImage = true;
        }
        return;
    }
    if (m_step != JobStep::Burning) {
        return;
    }
    if (BurnCore* core = m_parts.Core(m_spec.burnTarget.engine)) {
        core->RequestStopBurn();
    }
}

bool DiscJob::Interrupt(int signal) {
    if (!m_bRunning) {
        return false;
    }
    if (m_outcome.interruptSignal != 0) {
        return true; // stopping already
    }
    m_outcome.interruptSignal = signal;
    Log(1, "Job interrupted by signal " + std::to_string(signal) + "\n");
    switch (m_step) {
    case JobStep::Converting:
        Log(0, "Stopping Convert Process\n");
        m_bStopConvert = true;
        m_parts.encoder->SendStop();
        // The conversion thread may send its next request just after this stop: it is repeated
        // until the conversion has ended.
        if (!m_pStopRepeatTimer) {
            m_pStopRepeatTimer = new QTimer(m_context.get());
            QObject::connect(m_pStopRepeatTimer, &QTimer::timeout, m_context.get(), [this] {
                if (m_bRunning && m_step == JobStep::Converting) {
                    m_parts.encoder->SendStop();
                } else {
                    m_pStopRepeatTimer->stop();
                }
            });
        }
        m_pStopRepeatTimer->start(500);
        break;
    case JobStep::Menu:
        break; // the menu looks at the signal between its pieces of work
    case JobStep::Authoring:
        m_parts.authoring->stop = true;
        break;
    case JobStep::Burning:
        if (BurnCore* core = m_parts.Core(m_spec.burnTarget.engine)) {
            core->CancelBurn();
        }
        break;
    case JobStep::Imaging:
        m_bCancelImage = true;
        break;
    default:
        break;
    }
    return true;
}

void DiscJob::Abandon() {
    // Nothing may write any more before the files go; then they go as at a normal end.
    m_parts.encoder->Kill();
    DeleteConvertedFiles();
    DropDvdMenu();
}
