#include "CommandLine.h"
#include "TestHooks.h"

#include <charconv>
#include <cmath>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Convert.h"
#include "FfmpegUtil.h"
#include "PictureSize.h"
#include "Probe.h"

namespace qx::enc {
namespace {

std::atomic<bool> g_stop{false};

void OnStopSignal(int) {
    g_stop.store(true);
}

bool ParseTv(const std::string& s, TvStandard* tv) {
    if (s == "pal" || s == "PAL")
        *tv = TvStandard::Pal;
    else if (s == "ntsc" || s == "NTSC")
        *tv = TvStandard::Ntsc;
    else
        return false;
    return true;
}

bool ParseAspect(const std::string& s, bool* wide) {
    if (s == "4:3")
        *wide = false;
    else if (s == "16:9")
        *wide = true;
    else
        return false;
    return true;
}

bool ParseSize(const std::string& s, int* w, int* h) {
    char x = 0;
    char tail = 0;
    return std::sscanf(s.c_str(), "%d%c%d%c", w, &x, h, &tail) == 3 && (x == 'x' || x == 'X') && *w >= 0 && *h >= 0;
}

// Numbers on the command line are written with a '.' whatever the user's locale; not-a-number
// and infinities are refused.
bool ParseNumber(const std::string& s, double* v) {
    const char* end = s.data() + s.size();
    const std::from_chars_result r = std::from_chars(s.data(), end, *v);
    return !s.empty() && r.ec == std::errc() && r.ptr == end && std::isfinite(*v);
}

// "none", "all" (every subtitle in its own stream, in order) or "32,0,33".
bool ParseSubtitleStreams(const std::string& s, std::vector<uint8_t>* streams) {
    streams->clear();
    if (s == "none")
        return true;
    if (s == "all") {
        for (int i = 0; i < kMaxSubtitleStreams; ++i)
            streams->push_back(static_cast<uint8_t>(kFirstSubpictureStreamId + i));
        return true;
    }
    size_t start = 0;
    while (start <= s.size()) {
        size_t comma = s.find(',', start);
        if (comma == std::string::npos)
            comma = s.size();
        double d = 0;
        if (!ParseNumber(s.substr(start, comma - start), &d) || (d != 0 && (d < 0x20 || d > 0x3F)) ||
            d != std::floor(d) || streams->size() == static_cast<size_t>(kMaxSubtitleStreams))
            return false;
        streams->push_back(static_cast<uint8_t>(d));
        start = comma + 1;
    }
    return true;
}

CommandLine Invalid(const std::string& why) {
    CommandLine c;
    c.mode = CommandLine::Mode::Invalid;
    c.error = why;
    return c;
}

void MaybeCrashForTest(const char* stage) {
    if (qx::hooks::EncoderCrashAt(stage)) {
        struct rlimit none {
            0, 0
        };
        setrlimit(RLIMIT_CORE, &none); // a deliberate crash leaves no core file behind
        std::abort();
    }
}

// Progress lines for the encoder that runs this worker: at most a few per second. They are also
// the worker's sign of life (a worker silent for minutes counts as hung).
class ProgressPrinter {
public:
    void operator()(double f) {
        auto now = std::chrono::steady_clock::now();
        if (f < 1.0 && now - last_ < std::chrono::milliseconds(200))
            return;
        last_ = now;
        std::printf("progress=%.4f\n", f);
        std::fflush(stdout);
    }

private:
    std::chrono::steady_clock::time_point last_{};
};

int RunProbe(const CommandLine& cmd) {
    if (cmd.worker)
        MaybeCrashForTest("probe");
    ProbeAnswer a = ProbeMovie(cmd.input);
    std::fputs(FormatProbeLines(a).c_str(), stdout);
    std::fflush(stdout);
    return 0;
}

int RunConvert(const CommandLine& cmd) {
    // First of all, so that a stop arriving while the movie is still being opened is a stop.
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGINT, OnStopSignal);
    if (cmd.worker)
        MaybeCrashForTest("convert");
    ConvertRequest req = cmd.convert;
    req.input = cmd.input;
    req.output = cmd.output;
    if (!cmd.probeGiven || cmd.keepAspect) {
        ProbeAnswer a = ProbeMovie(cmd.input);
        if (!a.supported) {
            std::fprintf(stderr, "EncoderProxy: %s is not supported: %s\n", cmd.input.c_str(), a.reason.c_str());
            if (cmd.worker)
                std::printf("result=failed\nerror=not supported: %s\n", a.reason.c_str());
            return 1;
        }
        if (!cmd.probeGiven) {
            req.probeA = a.probeA;
            req.probeB = a.probeB;
        }
        if (cmd.keepAspect) {
            // The system's own algorithm, so the command line makes what the program would.
            PictureSize size =
                ComputePictureSize(true, a.width, a.height, a.aspect, req.tv == TvStandard::Pal, req.wide);
            req.pictureWidth = size.width;
            req.pictureHeight = size.height;
        }
    }
    if (!cmd.pictureGiven && !cmd.keepAspect) {
        req.pictureWidth = 720;
        req.pictureHeight = FrameLines(req.tv);
    }
    ProgressPrinter printer;
    ProgressFn progress;
    if (cmd.worker)
        progress = [&printer](double f) { printer(f); };
    ConvertResult r = ConvertMovie(req, progress, &g_stop);
    if (!r.ok) {
        std::fprintf(stderr, "EncoderProxy: converting %s failed: %s\n", cmd.input.c_str(), r.error.c_str());
        if (cmd.worker)
            std::printf("result=failed\nerror=%s\n", r.error.c_str());
        return 1;
    }
    if (cmd.worker)
        std::printf("result=%s\n", r.stopped ? "stopped" : "ok");
    else
        std::fprintf(stderr, "EncoderProxy: wrote %s: %.2f s, %llu bytes%s\n", req.output.c_str(), r.seconds,
                     static_cast<unsigned long long>(r.bytes), r.stopped ? " (stopped)" : "");
    return 0;
}

int RunSubstitute(const CommandLine& cmd) {
    ConvertResult r = WriteSubstitute(cmd.convert.tv, cmd.convert.wide, cmd.output, cmd.seconds);
    if (!r.ok) {
        std::fprintf(stderr, "EncoderProxy: cannot write %s: %s\n", cmd.output.c_str(), r.error.c_str());
        return 1;
    }
    return 0;
}

} // namespace

std::string UsageText() {
    return "usage:\n"
           "  EncoderProxy                 run as the encoder program of QX Movie Disc\n"
           "  EncoderProxy --probe FILE\n"
           "  EncoderProxy --convert IN OUT --tv pal|ntsc --aspect 4:3|16:9 [--picture WxH | --keep-aspect]\n"
           "               [--part-files] [--part-limit BYTES] [--subtitles none|all|ID,ID,...]\n"
           "  EncoderProxy --substitute pal|ntsc 4:3|16:9 OUT [--seconds S]\n";
}

CommandLine ParseCommandLine(const std::vector<std::string>& argsIn) {
    std::vector<std::string> args = argsIn;
    CommandLine c;
    if (!args.empty() && args[0] == "--worker") {
        c.worker = true;
        args.erase(args.begin());
    }
    if (args.empty()) {
        if (c.worker)
            return Invalid("--worker needs --probe or --convert");
        return c;
    }
    const std::string& mode = args[0];
    if (mode == "--help" || mode == "-h") {
        c.mode = CommandLine::Mode::Help;
        return c;
    }
    if (mode == "--probe") {
        if (args.size() != 2)
            return Invalid("--probe takes one file");
        c.mode = CommandLine::Mode::Probe;
        c.input = args[1];
        return c;
    }
    if (mode == "--substitute") {
        if (args.size() != 4 && !(args.size() == 6 && args[4] == "--seconds"))
            return Invalid("--substitute takes pal|ntsc 4:3|16:9 OUT [--seconds S]");
        c.mode = CommandLine::Mode::Substitute;
        if (!ParseTv(args[1], &c.convert.tv))
            return Invalid("unknown TV standard " + args[1]);
        if (!ParseAspect(args[2], &c.convert.wide))
            return Invalid("unknown aspect " + args[2]);
        c.output = args[3];
        // At least one frame of the chosen standard: a shorter stream would hold no picture.
        const double frame = c.convert.tv == TvStandard::Pal ? 1.0 / 25 : 1001.0 / 30000;
        if (args.size() == 6 && (!ParseNumber(args[5], &c.seconds) || c.seconds < frame - 1e-9 || c.seconds > 3600))
            return Invalid("--seconds takes a length of one frame to 3600 seconds");
        return c;
    }
    if (mode != "--convert")
        return Invalid("unknown mode " + mode);
    if (args.size() < 3)
        return Invalid("--convert takes IN OUT");
    c.mode = CommandLine::Mode::Convert;
    c.input = args[1];
    c.output = args[2];
    bool tvGiven = false, aspectGiven = false;
    for (size_t i = 3; i < args.size(); ++i) {
        const std::string& opt = args[i];
        auto value = [&](std::string* v) {
            if (i + 1 >= args.size())
                return false;
            *v = args[++i];
            return true;
        };
        std::string v;
        double d = 0;
        if (opt == "--tv") {
            if (!value(&v) || !ParseTv(v, &c.convert.tv))
                return Invalid("--tv takes pal or ntsc");
            tvGiven = true;
        } else if (opt == "--aspect") {
            if (!value(&v) || !ParseAspect(v, &c.convert.wide))
                return Invalid("--aspect takes 4:3 or 16:9");
            aspectGiven = true;
        } else if (opt == "--picture") {
            if (!value(&v) || !ParseSize(v, &c.convert.pictureWidth, &c.convert.pictureHeight))
                return Invalid("--picture takes WxH");
            c.pictureGiven = true;
        } else if (opt == "--keep-aspect") {
            c.keepAspect = true;
        } else if (opt == "--part-files") {
            c.convert.partFiles = true;
        } else if (opt == "--part-limit") {
            if (!value(&v) || !ParseNumber(v, &d) || d < 2048 || d > 1e15)
                return Invalid("--part-limit takes a byte count of at least 2048");
            c.convert.partLimit = static_cast<uint64_t>(d);
        } else if (opt == "--subtitles") {
            if (!value(&v) || !ParseSubtitleStreams(v, &c.convert.subtitleStreams))
                return Invalid("--subtitles takes none, all or a list of substream ids (32..63, 0 to leave one out)");
        } else if (opt == "--probe-a") {
            if (!value(&v) || !ParseNumber(v, &d))
                return Invalid("--probe-a takes a number");
            c.convert.probeA = static_cast<int32_t>(static_cast<int64_t>(d));
            c.probeGiven = true;
        } else if (opt == "--probe-b") {
            if (!value(&v) || !ParseNumber(v, &d))
                return Invalid("--probe-b takes a number");
            c.convert.probeB = static_cast<float>(d);
            c.probeGiven = true;
        } else {
            return Invalid("unknown option " + opt);
        }
    }
    if (!tvGiven || !aspectGiven)
        return Invalid("--convert needs --tv and --aspect");
    if (c.keepAspect && c.pictureGiven)
        return Invalid("--picture and --keep-aspect exclude each other");
    if (c.pictureGiven) {
        std::string bad = CheckPictureSize(c.convert.tv, c.convert.pictureWidth, c.convert.pictureHeight);
        if (!bad.empty())
            return Invalid(bad);
    }
    return c;
}

int RunCommandLine(const CommandLine& cmd) {
    QuietFfmpegLog();
    switch (cmd.mode) {
    case CommandLine::Mode::Help:
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    case CommandLine::Mode::Invalid:
        std::fprintf(stderr, "EncoderProxy: %s\n%s", cmd.error.c_str(), UsageText().c_str());
        return 2;
    case CommandLine::Mode::Probe:
        return RunProbe(cmd);
    case CommandLine::Mode::Convert:
        return RunConvert(cmd);
    case CommandLine::Mode::Substitute:
        return RunSubstitute(cmd);
    case CommandLine::Mode::Server:
        break;
    }
    return 2;
}

} // namespace qx::enc
