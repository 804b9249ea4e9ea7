#include "EncoderServer.h"
#include "NumericLocale.h"
#include "TestHooks.h"

#include <signal.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "CommandLine.h"
#include "Convert.h"
#include "NamedEvent.h"
#include "Probe.h"
#include "QuitOnSignal.h"

namespace qx::enc {
namespace {

constexpr const char* kInitEvent = "QXEncoderProxyInitInformEvent";

void Note(const std::string& text) {
    std::fprintf(stderr, "EncoderProxy: %s\n", text.c_str());
}

// For a conversion answered without running: no old stream may stay behind to pass for its result.
void RemoveOutput(const std::string& output) {
    if (output.empty())
        return;
    for (const std::string& name : {output, output + ".part1", output + ".part2"})
        std::remove(name.c_str());
}

} // namespace

EncoderServer::EncoderServer(std::string workerProgram, EncoderServerLimits limits)
    : program_(std::move(workerProgram)), limits_(limits) {}

EncoderServer::~EncoderServer() {
    worker_.reset(); // kills a worker still running
    window_.Destroy();
}

bool EncoderServer::Start(std::string* error) {
    Status st = window_.Create([this](const CopyDataMessage& m) { return OnCopyData(m); });
    if (!st) {
        *error = "cannot create the encoder window: " + st.error();
        return false;
    }
    NamedEvent ready;
    Status opened = ready.Open(kInitEvent);
    if (opened)
        opened = ready.Set();
    if (!opened)
        Note(std::string("cannot signal ") + kInitEvent + ": " + opened.error() + " (started by hand?)");
    return true;
}

int64_t EncoderServer::OnCopyData(const CopyDataMessage& msg) {
    EncoderRecord rec;
    if (!rec.Assign(msg.data.data(), msg.data.size()))
        return 0;
    switch (rec.Type()) {
    case ENC_HANDSHAKE:
        systemPid_ = static_cast<pid_t>(rec.As<EncHandshakeRecord>().systemPid);
        systemWindow_ = msg.sender;
        return 1;
    case ENC_PROBE:
    case ENC_CONVERT: {
        Job job;
        job.type = rec.Type();
        job.record = rec;
        job.replyTo = msg.sender;
        queue_.push_back(job);
        return 1;
    }
    case ENC_STOP:
        // Ends the running conversion; its answer follows once the shorter stream is written.
        if (worker_ && current_.type == ENC_CONVERT) {
            stopRequested_ = true;
            worker_->RequestStop();
        } else {
            for (Job& queued : queue_)
                if (queued.type == ENC_CONVERT)
                    queued.stopped = true;
        }
        return 1;
    default:
        return 0;
    }
}

void EncoderServer::Reply(const EncoderRecord& record) {
    WindowHandle target = current_.replyTo;
    if (!target && systemPid_ > 0)
        target = FindFirstWindowOfProcess(systemPid_);
    if (!target)
        target = systemWindow_;
    if (!target) {
        Note("no window of the system to answer");
        return;
    }
    Result<int64_t> r =
        SendCopyData(target, window_.handle(), 0, record.data(), EncoderRecord::size(), limits_.sendTimeoutMs);
    if (!r)
        Note("cannot answer the system: " + r.error);
}

void EncoderServer::ReplyType(int32_t type) {
    EncoderRecord rec;
    rec.Set(EncoderRecord::Blank<EncProgressRecord>(type));
    Reply(rec);
}

void EncoderServer::SendProgress(float fraction) {
    auto p = EncoderRecord::Blank<EncProgressRecord>(ENC_PROGRESS);
    p.kind = 0;
    p.fraction = fraction;
    EncoderRecord rec;
    rec.Set(p);
    Reply(rec);
    lastProgress_ = std::chrono::steady_clock::now();
    pendingFraction_ = -1;
}

void EncoderServer::StartNext() {
    while (!worker_ && !queue_.empty()) {
        current_ = queue_.front();
        queue_.pop_front();
        output_.clear();
        killedAsHung_ = false;
        stopRequested_ = false;
        probeTimedOut_ = false;
        pendingFraction_ = -1;
        started_ = lastOutput_ = std::chrono::steady_clock::now();
        lastProgress_ = started_ - limits_.progressInterval;
        if (current_.type == ENC_PROBE)
            StartProbe(current_);
        else
            StartConvert(current_);
    }
}

void EncoderServer::StartProbe(const Job& job) {
    auto req = job.record.As<EncProbeRecord>();
    std::string path;
    auto answer = EncoderRecord::Blank<EncProbeResultRecord>(ENC_PROBE_RESULT);
    if (!GetRecordText(req.path, &path) || path.empty()) {
        Note("probe request without a path");
        EncoderRecord rec;
        rec.Set(answer);
        Reply(rec);
        return;
    }
    worker_ = std::make_unique<WorkerProcess>();
    std::string error;
    if (!worker_->Start(program_, {"--worker", "--probe", path}, &error)) {
        worker_.reset();
        Note(error);
        ReplyType(ENC_RESTART);
    }
}

namespace {
// The request's subtitle choice as the worker's --subtitles list ("32,0,33").
std::string SubtitleStreamsText(const EncConvertRecord& req) {
    std::string text;
    for (int i = 0; i < std::min<int>(req.subtitleCount, kMaxSubtitleStreams); ++i)
        text += (i ? "," : "") + std::to_string(req.subtitleStreams[i]);
    return text;
}
} // namespace

void EncoderServer::StartConvert(const Job& job) {
    auto req = job.record.As<EncConvertRecord>();
    if (job.stopped) {
        // Stopped before it began: nothing is written, the system finds no stream.
        std::string output;
        if (GetRecordText(req.output, &output))
            RemoveOutput(output);
        ReplyType(ENC_CONVERT_DONE);
        return;
    }
    std::string source, output, aspect;
    std::string bad;
    if (!GetRecordText(req.source, &source) || !GetRecordText(req.output, &output) ||
        !GetRecordText(req.aspect, &aspect))
        bad = "conversion request with an unterminated text";
    else if (source.empty() || output.empty())
        bad = "conversion request without a source or output";
    else if (aspect != "4:3" && aspect != "16:9")
        bad = "conversion request with the aspect \"" + aspect + "\"";
    else if (req.tv != 0 && req.tv != 1)
        bad = "conversion request with the TV standard " + std::to_string(req.tv);
    else if (std::string why =
                 CheckPictureSize(req.tv == 0 ? TvStandard::Pal : TvStandard::Ntsc, req.width, req.height);
             !why.empty())
        bad = "conversion request: " + why;
    if (!bad.empty()) {
        // Nothing is written, and nothing old is left at the output: the system finds no stream
        // and counts the movie as failed.
        Note(bad);
        RemoveOutput(output);
        ReplyType(ENC_CONVERT_DONE);
        return;
    }
    std::vector<std::string> args = {"--worker",  "--convert",
                                     source,      output,
                                     "--tv",      req.tv == 0 ? "pal" : "ntsc",
                                     "--aspect",  aspect,
                                     "--picture", std::to_string(req.width) + "x" + std::to_string(req.height),
                                     "--probe-a", std::to_string(req.probeA),
                                     "--probe-b", std::to_string(req.probeB)};
    if (req.subtitleCount > 0) {
        args.push_back("--subtitles");
        args.push_back(SubtitleStreamsText(req));
    }
    if (req.splitOutput) {
        args.push_back("--part-files");
        if (qx::hooks::IsSet("QX_ENCODER_PART_LIMIT")) {
            args.push_back("--part-limit");
            args.push_back(qx::hooks::Value("QX_ENCODER_PART_LIMIT"));
        }
    }
    worker_ = std::make_unique<WorkerProcess>();
    std::string error;
    if (!worker_->Start(program_, args, &error)) {
        worker_.reset();
        Note(error);
        ReplyType(ENC_RESTART);
    }
}

void EncoderServer::ProbeAnswered(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines)
        text += l + "\n";
    ProbeAnswer a;
    auto answer = EncoderRecord::Blank<EncProbeResultRecord>(ENC_PROBE_RESULT);
    // The path the system asked about is the path it keeps using (it fits: 259 < 262 characters).
    std::string path;
    GetRecordText(current_.record.As<EncProbeRecord>().path, &path);
    bool pathFits = PutRecordText(answer.path, path);
    if (!probeTimedOut_ && ParseProbeLines(text, &a) && a.supported) {
        if (!a.sound.empty())
            Note("sound of " + path + ": " + a.sound);
        for (const std::string& note : a.notes)
            Note(note);
        if (pathFits) {
            answer.supported = 1;
            answer.sizeKb = a.sizeKb;
            answer.duration = a.duration;
            answer.startTime = a.startTime;
            answer.frameRate = a.frameRate;
            answer.width = a.width;
            answer.height = a.height;
            answer.aspect = a.aspect;
            answer.probeA = a.probeA;
            answer.probeB = a.probeB;
            PutSubtitleEntries(&answer, a.subtitles);
            PutRecordText(answer.sound, FitRecordText(a.sound, sizeof answer.sound));
        }
    } else if (!a.reason.empty()) {
        Note("not supported: " + a.reason);
    }
    EncoderRecord rec;
    rec.Set(answer);
    Reply(rec);
}

void EncoderServer::Finish(const WorkerExit& exit) {
    for (std::string& l : worker_->ReadLines())
        output_.push_back(std::move(l));
    worker_.reset();
    // A worker asked to stop that went down by that very signal has not crashed.
    bool stoppedBySignal = stopRequested_ && !exit.normal && exit.signal == SIGTERM;
    bool crashed = !exit.normal && !probeTimedOut_ && !stoppedBySignal;
    if (current_.type == ENC_PROBE) {
        if (crashed || (exit.normal && exit.code != 0)) {
            Note("the probe worker died (" + std::string(exit.normal ? "exit " : "signal ") +
                 std::to_string(exit.normal ? exit.code : exit.signal) + ")");
            ReplyType(ENC_RESTART);
        } else {
            ProbeAnswered(output_);
        }
        return;
    }
    if (crashed || killedAsHung_) {
        Note(killedAsHung_ ? "the conversion worker hung"
                           : "the conversion worker died (signal " + std::to_string(exit.signal) + ")");
        ReplyType(ENC_RESTART);
        return;
    }
    for (const std::string& l : output_)
        if (l.rfind("error=", 0) == 0)
            Note("conversion failed: " + l.substr(6));
    if (pendingFraction_ >= 0)
        SendProgress(pendingFraction_);
    ReplyType(ENC_CONVERT_DONE);
}

void EncoderServer::Poll() {
    StartNext();
    if (!worker_)
        return;
    auto now = std::chrono::steady_clock::now();
    for (std::string& l : worker_->ReadLines()) {
        lastOutput_ = now;
        if (current_.type == ENC_CONVERT && l.rfind("progress=", 0) == 0) {
            pendingFraction_ = std::strtof(l.c_str() + 9, nullptr);
            continue;
        }
        output_.push_back(std::move(l));
    }
    if (current_.type == ENC_CONVERT && pendingFraction_ >= 0 && now - lastProgress_ >= limits_.progressInterval)
        SendProgress(pendingFraction_);
    WorkerExit exit;
    if (worker_->Finished(&exit)) {
        Finish(exit);
        StartNext();
        return;
    }
    if (current_.type == ENC_PROBE && now - started_ > limits_.probeTimeout) {
        Note("the probe took too long");
        probeTimedOut_ = true;
        worker_->Kill();
    } else if (current_.type == ENC_CONVERT && now - lastOutput_ > limits_.silentWorkerTimeout) {
        killedAsHung_ = true;
        worker_->Kill();
    }
}

bool EncoderServer::SystemAlive() const {
    return systemPid_ <= 0 || ::kill(systemPid_, 0) == 0 || errno == EPERM;
}

int RunEncoderServer(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    qx::UseLocaleIndependentNumbers();
    EncoderServer server("/proc/self/exe");
    std::string error;
    if (!server.Start(&error)) {
        Note(error);
        return 1;
    }
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&server]() { server.Poll(); });
    poll.start(50);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&server]() {
        // The system went away without ending us: end with it (the worker follows).
        if (!server.SystemAlive())
            QCoreApplication::quit();
    });
    watch.start(1000);
    qx::QuitEventLoopOnTermination();
    return app.exec();
}

} // namespace qx::enc
