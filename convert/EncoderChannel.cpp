#include "EncoderChannel.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>

#include "EncoderProgressText.h"
#include "PictureSize.h"

namespace qx {
namespace {

constexpr int kSliceMs = 50;

bool OnAppThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Keeps the calling thread's windows answering while it waits (and, on the window's thread, the
// Qt events that bring the encoder's exit notice).
void ServeWhileWaiting(int ms) {
    ServeMessages(ms);
    if (OnAppThread())
        QCoreApplication::processEvents();
}

} // namespace

EncoderProbeAnswer ReadProbeAnswer(const EncoderRecord& record) {
    EncoderProbeAnswer a;
    if (record.Type() != ENC_PROBE_RESULT)
        return a;
    auto r = record.As<EncProbeResultRecord>();
    if (!r.supported || !GetRecordText(r.path, &a.path))
        return EncoderProbeAnswer{};
    a.supported = true;
    a.sizeKb = r.sizeKb;
    a.duration = r.duration;
    a.startTime = r.startTime;
    a.frameRate = r.frameRate;
    a.width = r.width;
    a.height = r.height;
    a.aspect = r.aspect;
    a.probeA = r.probeA;
    a.probeB = r.probeB;
    a.subtitles = GetSubtitleEntries(r);
    GetRecordText(r.sound, &a.sound);
    return a;
}

EncoderChannel::EncoderChannel(MessageWindow& window, EncoderChannelHost& host, EncoderChannelOptions options)
    : window_(window), host_(host), options_(std::move(options)) {}

EncoderChannel::~EncoderChannel() {
    if (process_)
        process_->Terminate(1000);
}

Status EncoderChannel::CreateEvents() {
    for (auto [event, name] :
         {std::pair{&initEvent_, kEncoderInitEvent}, std::pair{&probeDone_, kEncoderProbeDoneEvent},
          std::pair{&convertDone_, kEncoderConvertDoneEvent}, std::pair{&error_, kEncoderErrorEvent}}) {
        Status st = event->Create(name);
        if (!st)
            return Status::Fail(std::string("cannot create the event ") + name + ": " + st.error());
    }
    return Status::Ok();
}

bool EncoderChannel::HasEncoderWindow() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !encoderWindow_.isNull();
}

pid_t EncoderChannel::EncoderPid() const {
    return process_ && process_->IsRunning() ? process_->pid() : 0;
}

EncoderRecord EncoderChannel::Record() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return record_;
}

int EncoderChannel::StartEncoderProxy() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.Clear();
        encoderWindow_ = WindowHandle{};
    }
    if (process_)
        process_->Terminate(1000);
    process_ = std::make_unique<ChildProcess>();
    initEvent_.Reset();
    Status st = process_->Start(options_.program, options_.args);
    if (!st) {
        host_.ShowEncoderStartError(kEncoderStartErrorText);
        return 0;
    }
    // Bounded: an encoder that never signals (or dies first) is a failed start.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.startTimeoutMs);
    bool signalled = false;
    while (!signalled) {
        signalled = initEvent_.Wait(kSliceMs) == NamedEvent::WaitResult::Signalled;
        if (signalled)
            break;
        if (!process_->IsRunning() || std::chrono::steady_clock::now() >= deadline)
            break;
        ServeWhileWaiting(0);
    }
    if (!signalled) {
        process_->Terminate(1000);
        process_.reset();
        host_.ShowEncoderStartError(kEncoderStartErrorText);
        return 0;
    }
    WindowHandle found = FindFirstWindowOfProcess(process_->pid());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        encoderWindow_ = found;
    }
    if (found) {
        auto hs = EncoderRecord::Blank<EncHandshakeRecord>(ENC_HANDSHAKE);
        hs.systemPid = static_cast<uint32_t>(::getpid());
        EncoderRecord rec;
        rec.Set(hs);
        Result<int64_t> r = SendCopyData(found, window_.handle(), 0, rec.data(), rec.size(), options_.sendTimeoutMs);
        if (!r) {
            // An encoder that cannot take the hand-shake cannot take requests either.
            std::lock_guard<std::mutex> lock(mutex_);
            encoderWindow_ = WindowHandle{};
        }
    }
    ArmExitWatch();
    return 1;
}

void EncoderChannel::ArmExitWatch() {
    if (!process_ || !OnAppThread())
        return;
    // An encoder that dies without sending ENC_RESTART is treated as if it had sent it.
    process_->SetExitCallback([this](const ExitStatus&) { RestartEncoderProxy(); });
}

void EncoderChannel::RestartEncoderProxy() {
    if (process_)
        process_->Terminate(1000);
    process_.reset();
    if (StartEncoderProxy() == 1)
        error_.Set();
}

void EncoderChannel::KillEncoderProxy() {
    if (process_)
        process_->Terminate(1000);
    process_.reset();
    std::lock_guard<std::mutex> lock(mutex_);
    encoderWindow_ = WindowHandle{};
}

void EncoderChannel::RestartFromAnyThread() {
    if (OnAppThread()) {
        RestartEncoderProxy();
        return;
    }
    window_.SendToOwnerThread(
        [this]() {
            RestartEncoderProxy();
            return int64_t{0};
        },
        options_.startTimeoutMs + options_.sendTimeoutMs);
}

void EncoderChannel::ResetAnswerEvents() {
    // A signal left from before this request (an idle restart, a late answer) is not its answer.
    probeDone_.Reset();
    convertDone_.Reset();
    error_.Reset();
}

bool EncoderChannel::Send(const EncoderRecord& record) {
    WindowHandle target;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        target = encoderWindow_;
    }
    if (!target)
        return true; // no window: nothing is sent, as the callers know
    Result<int64_t> r = SendCopyData(target, window_.handle(), 0, record.data(), record.size(), options_.sendTimeoutMs);
    if (r)
        return true;
    // The encoder is gone or does not answer: replace it; the waiting thread learns of the crash.
    RestartFromAnyThread();
    return false;
}

Status EncoderChannel::SendProbeRequest(const std::string& path, const std::string& workFolder) {
    ResetAnswerEvents();
    auto req = EncoderRecord::Blank<EncProbeRecord>(ENC_PROBE);
    bool fits = PutRecordText(req.path, path) && PutRecordText(req.workFolder, workFolder);
    EncoderRecord rec;
    if (!fits) {
        auto answer = EncoderRecord::Blank<EncProbeResultRecord>(ENC_PROBE_RESULT);
        rec.Set(answer);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            record_ = rec;
        }
        probeDone_.Set();
        return Status::Fail("the path " + path + " or the working folder " + workFolder +
                            " is too long for the encoder (259 and 349 characters at most)");
    }
    rec.Set(req);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        record_ = rec;
    }
    if (!Send(rec))
        return Status::Fail("the encoder did not take the probe request");
    return Status::Ok();
}

ProbeWait EncoderChannel::WaitProbeAnswer(EncoderProbeAnswer* answer) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.probeTimeoutMs);
    while (true) {
        if (probeDone_.Wait(kSliceMs) == NamedEvent::WaitResult::Signalled) {
            *answer = ReadProbeAnswer(Record());
            return ProbeWait::Answered;
        }
        if (error_.Wait(kSliceMs) == NamedEvent::WaitResult::Signalled)
            return ProbeWait::Crashed;
        if (std::chrono::steady_clock::now() >= deadline) {
            RestartFromAnyThread();
            error_.Reset();
            return ProbeWait::Crashed;
        }
        ServeWhileWaiting(0);
    }
}

Status EncoderChannel::SendConvertRequest(const EncoderMovie& movie, const EncoderJob& job) {
    ResetAnswerEvents();
    auto req = EncoderRecord::Blank<EncConvertRecord>(ENC_CONVERT);
    bool fits = PutRecordText(req.source, movie.path) && PutRecordText(req.output, movie.vobFile) &&
                PutRecordText(req.aspect, AspectText(job.aspect == DisplayAspect::Wide16x9)) &&
                PutRecordText(req.workFolder, job.workFolder);
    if (!fits) {
        convertDone_.Set();
        return Status::Fail("the movie " + movie.path + ", its output " + movie.vobFile + " or the working folder " +
                            job.workFolder + " is too long for the encoder");
    }
    req.tv = job.tv == TvStandard::Pal ? 0 : 1;
    PictureSize size = ComputePictureSize(job.keepAspect, movie.width, movie.height, movie.aspect,
                                          job.tv == TvStandard::Pal, job.aspect == DisplayAspect::Wide16x9);
    req.width = size.width;
    req.height = size.height;
    req.fixedOne = 1;
    req.probeA = movie.probeA;
    req.probeB = movie.probeB;
    req.splitOutput = job.splitOutput ? 1 : 0;
    req.subtitleCount = static_cast<uint8_t>(std::min<size_t>(movie.subtitleStreams.size(), kMaxSubtitleStreams));
    std::copy_n(movie.subtitleStreams.begin(), req.subtitleCount, req.subtitleStreams);
    req.fixedZero = 0;
    EncoderRecord rec;
    rec.Set(req);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        record_ = rec;
    }
    if (!Send(rec))
        return Status::Fail("the encoder did not take the conversion request");
    return Status::Ok();
}

void EncoderChannel::SendStopRequest() {
    EncoderRecord rec;
    rec.Set(EncoderRecord::Blank<EncProgressRecord>(ENC_STOP));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        record_ = rec;
    }
    Send(rec);
}

ConvertWait EncoderChannel::WaitConvertOutcome(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
    while (true) {
        if (convertDone_.Wait(0) == NamedEvent::WaitResult::Signalled)
            return ConvertWait::Complete;
        if (error_.Wait(0) == NamedEvent::WaitResult::Signalled)
            return ConvertWait::Crashed;
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return ConvertWait::None;
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
        ServeWhileWaiting(std::min(left, 10));
    }
}

bool EncoderChannel::OnCopyData(const CopyDataMessage& msg) {
    if (msg.data.size() < sizeof(int32_t))
        return false;
    EncoderRecord rec;
    int32_t type;
    std::memcpy(&type, msg.data.data(), sizeof type);
    switch (type) {
    case ENC_PROBE_RESULT:
        if (!rec.Assign(msg.data.data(), msg.data.size()))
            return false; // a short answer would leave half of the old record behind
        {
            std::lock_guard<std::mutex> lock(mutex_);
            record_ = rec;
        }
        probeDone_.Set();
        return true;
    case ENC_PROGRESS: {
        if (msg.data.size() < offsetof(EncProgressRecord, fraction) + sizeof(float))
            return false;
        int32_t kind;
        float fraction;
        std::memcpy(&kind, msg.data.data() + offsetof(EncProgressRecord, kind), sizeof kind);
        std::memcpy(&fraction, msg.data.data() + offsetof(EncProgressRecord, fraction), sizeof fraction);
        EncoderProgressLine line =
            kind == 0 ? FormatConvertProgress(host_.ConvertElapsedMs(), fraction) : FormatSeekProgress(fraction);
        host_.ShowEncoderProgress(line.percent, line.text);
        return true;
    }
    case ENC_CONVERT_DONE:
        convertDone_.Set();
        return true;
    case ENC_RESTART:
        RestartEncoderProxy();
        return true;
    default:
        return false;
    }
}

} // namespace qx
