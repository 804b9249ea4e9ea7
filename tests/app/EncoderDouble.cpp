// A stand-in for the encoder program that speaks its protocol with behaviour chosen by the movie's
// file name, for the window tests:
//   unsupported*  probe answer "not supported"      probecrash*  dies while probing
//   hour*         probe says 3600 s                 endless*     probe says 10^9 s
//   small*        writes 10239 bytes                crash*       dies while converting
//   slow*         converts for about 3 s (progress records), or until a stop request
//   anything else writes 20000 bytes at once
// Every request is answered later from a timer, never inside the copy-data handler.
#include "EncoderChannel.h"
#include "EncoderRecord.h"
#include "MessageWindow.h"
#include "NamedEvent.h"

#include <QCoreApplication>
#include <QTimer>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <fstream>
#include <string>

using namespace qx;

namespace {

struct Pending {
    EncoderRecord record;
    WindowHandle replyTo;
};

bool Starts(const std::string& path, const char* prefix) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name.rfind(prefix, 0) == 0;
}

class Double {
public:
    bool Start() {
        if (!window_.Create([this](const CopyDataMessage& m) { return OnCopyData(m); })) {
            return false;
        }
        NamedEvent ready;
        return ready.Open(kEncoderInitEvent) && ready.Set();
    }

    int64_t OnCopyData(const CopyDataMessage& msg) {
        EncoderRecord rec;
        if (!rec.Assign(msg.data.data(), msg.data.size())) {
            return 0;
        }
        switch (rec.Type()) {
        case ENC_HANDSHAKE:
            systemPid_ = static_cast<pid_t>(rec.As<EncHandshakeRecord>().systemPid);
            return 1;
        case ENC_PROBE:
        case ENC_CONVERT:
            // A stop that arrives before the conversion got going still ends it.
            if (rec.Type() == ENC_CONVERT) {
                stopRequested_ = false;
            }
            queue_.push_back({rec, msg.sender});
            return 1;
        case ENC_STOP:
            stopRequested_ = true;
            return 1;
        default:
            return 0;
        }
    }

    void Poll() {
        if (systemPid_ > 0 && kill(systemPid_, 0) != 0) {
            QCoreApplication::quit();
            return;
        }
        if (converting_) {
            const auto elapsed = std::chrono::steady_clock::now() - started_;
            const float fraction = std::chrono::duration<float>(elapsed).count() / 3.0f;
            if (stopRequested_ || fraction >= 1.0f) {
                Finish(20000);
            } else if (std::chrono::steady_clock::now() - lastProgress_ > std::chrono::milliseconds(200)) {
                lastProgress_ = std::chrono::steady_clock::now();
                auto p = EncoderRecord::Blank<EncProgressRecord>(ENC_PROGRESS);
                p.fraction = fraction;
                EncoderRecord out;
                out.Set(p);
                Send(out);
            }
            return;
        }
        if (queue_.empty()) {
            return;
        }
        current_ = queue_.front();
        queue_.pop_front();
        if (current_.record.Type() == ENC_PROBE) {
            Probe();
        } else {
            Convert();
        }
    }

private:
    void Send(const EncoderRecord& record) {
        SendCopyData(current_.replyTo, window_.handle(), 0, record.data(), EncoderRecord::size(), 10000);
    }

    void Probe() {
        const auto req = current_.record.As<EncProbeRecord>();
        std::string path;
        GetRecordText(req.path, &path);
        if (Starts(path, "probecrash")) {
            _exit(3);
        }
        auto answer = EncoderRecord::Blank<EncProbeResultRecord>(ENC_PROBE_RESULT);
        answer.supported = Starts(path, "unsupported") ? 0 : 1;
        PutRecordText(answer.path, path);
        answer.sizeKb = 2048;
        answer.duration = Starts(path, "hour") ? 3600 : Starts(path, "endless") ? 1e9 : 60;
        answer.frameRate = 25;
        answer.width = 320;
        answer.height = 240;
        answer.aspect = 4.0f / 3.0f;
        answer.probeA = 7;
        EncoderRecord out;
        out.Set(answer);
        Send(out);
    }

    void Convert() {
        const auto req = current_.record.As<EncConvertRecord>();
        GetRecordText(req.source, &source_);
        GetRecordText(req.output, &output_);
        if (Starts(source_, "crash")) {
            _exit(4);
        }
        if (Starts(source_, "slow")) {
            converting_ = true;
            started_ = std::chrono::steady_clock::now();
            return;
        }
        Finish(Starts(source_, "small") ? 10239 : 20000);
    }

    void Finish(size_t bytes) {
        converting_ = false;
        std::ofstream(output_, std::ios::binary) << std::string(bytes, 'e');
        EncoderRecord out;
        out.Set(EncoderRecord::Blank<EncProgressRecord>(ENC_CONVERT_DONE));
        Send(out);
    }

    MessageWindow window_;
    pid_t systemPid_ = 0;
    std::deque<Pending> queue_;
    Pending current_;
    bool converting_ = false;
    bool stopRequested_ = false;
    std::string source_, output_;
    std::chrono::steady_clock::time_point started_, lastProgress_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Double server;
    if (!server.Start()) {
        std::fprintf(stderr, "encoder double: cannot start\n");
        return 1;
    }
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&server] { server.Poll(); });
    poll.start(20);
    return app.exec();
}
