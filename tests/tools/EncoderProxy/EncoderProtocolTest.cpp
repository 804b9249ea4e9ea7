// The real encoder program driven through the system's encoder channel over the real protocol:
// message windows, named events, records, worker processes.
#include <gtest/gtest.h>

#include <filesystem>
#include <signal.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "EncoderChannel.h"
#include "EncoderTestSupport.h"
#include "Folders.h"

using namespace qx;
using namespace qxtest;

namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "test_encoder";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

class Host : public EncoderChannelHost {
public:
    void ShowEncoderStartError(const std::string& text) override { errors.push_back(text); }
    void ShowEncoderProgress(int percent, const std::string& text) override {
        bars.push_back(percent);
        texts.push_back(text);
    }
    uint32_t ConvertElapsedMs() const override { return 60000; }
    std::vector<std::string> errors;
    std::vector<int> bars;
    std::vector<std::string> texts;
};

class Rig {
public:
    explicit Rig(EncoderChannelOptions options = Defaults()) {
        App();
        Status st = window.Create([this](const CopyDataMessage& m) { return channel->OnCopyData(m) ? 1 : 0; });
        if (!st)
            ADD_FAILURE() << st.error();
        channel = std::make_unique<EncoderChannel>(window, host, options);
        st = channel->CreateEvents();
        if (!st)
            ADD_FAILURE() << st.error();
    }
    ~Rig() {
        channel.reset();
        window.Destroy();
    }
    static EncoderChannelOptions Defaults() {
        EncoderChannelOptions o;
        o.program = EncoderProgram();
        return o;
    }
    ConvertWait Convert(const EncoderMovie& movie, const EncoderJob& job, int boundMs = 120000) {
        Status st = channel->SendConvertRequest(movie, job);
        EXPECT_TRUE(st) << st.error();
        return Wait(boundMs);
    }
    ConvertWait Wait(int boundMs = 120000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
        while (std::chrono::steady_clock::now() < end) {
            ConvertWait w = channel->WaitConvertOutcome(100);
            if (w != ConvertWait::None)
                return w;
        }
        return ConvertWait::None;
    }
    EncoderProbeAnswer Probe(const std::string& path, ProbeWait* how = nullptr) {
        channel->SendProbeRequest(path, TestRoot());
        EncoderProbeAnswer a;
        ProbeWait w = channel->WaitProbeAnswer(&a);
        if (how)
            *how = w;
        else
            EXPECT_EQ(w, ProbeWait::Answered) << path;
        return a;
    }
    MessageWindow window;
    Host host;
    std::unique_ptr<EncoderChannel> channel;
};

EncoderMovie MovieOf(const EncoderProbeAnswer& a, const std::string& out) {
    EncoderMovie m;
    m.path = a.path;
    m.vobFile = out;
    m.width = a.width;
    m.height = a.height;
    m.aspect = a.aspect;
    m.probeA = a.probeA;
    m.probeB = a.probeB;
    return m;
}

EncoderJob Job(bool pal, bool wide, bool keep) {
    EncoderJob j;
    j.workFolder = TestRoot();
    j.tv = pal ? TvStandard::Pal : TvStandard::Ntsc;
    j.aspect = wide ? DisplayAspect::Wide16x9 : DisplayAspect::Standard4x3;
    j.keepAspect = keep;
    j.splitOutput = true;
    return j;
}

} // namespace

TEST(EncoderProtocol, ProbeAnswersForGoodAndBadFiles) {
    Rig rig;
    ASSERT_EQ(rig.channel->StartEncoderProxy(), 1);
    ASSERT_TRUE(rig.channel->HasEncoderWindow());
    for (const std::string& movie : {Rv20Ac3Movie(), Rv10Real144Movie()}) {
        EncoderProbeAnswer a = rig.Probe(movie);
        EXPECT_TRUE(a.supported) << movie;
        ExpectFixtureMovieProbe(a, movie);
        EXPECT_NE(a.probeA, 0);
    }
    std::string text = TestRoot() + "letter.rm";
    Shell("echo 'Dear reader' > '" + text + "'");
    std::string empty = TestRoot() + "nothing.rm";
    Shell(": > '" + empty + "'");
    std::string truncated = TestRoot() + "cut.rm";
    Shell("head -c 3000 '" + Rv20Ac3Movie() + "' > '" + truncated + "'");
    for (const std::string& bad : {text, empty, truncated, TestRoot() + "absent.rm"})
        EXPECT_FALSE(rig.Probe(bad).supported) << bad;
    EXPECT_TRUE(rig.host.errors.empty());
}

TEST(EncoderProtocol, PathsTooLongForTheRecordAreRefusedAtOnce) {
    Rig rig;
    ASSERT_EQ(rig.channel->StartEncoderProxy(), 1);
    std::string longPath = TestRoot() + std::string(300, 'x') + ".rm";
    Status st = rig.channel->SendProbeRequest(longPath, TestRoot());
    EXPECT_FALSE(st);
    EncoderProbeAnswer a;
    EXPECT_EQ(rig.channel->WaitProbeAnswer(&a), ProbeWait::Answered);
    EXPECT_FALSE(a.supported);

    EncoderMovie m;
    m.path = Rv20Ac3Movie();
    m.vobFile = TestRoot() + std::string(400, 'v') + ".vob";
    st = rig.channel->SendConvertRequest(m, Job(true, false, false));
    EXPECT_FALSE(st);
    EXPECT_EQ(rig.channel->WaitConvertOutcome(0), ConvertWait::Complete)
        << "the waiting thread is not left hanging; the missing output fails the movie";
}

TEST(EncoderProtocol, ConvertsWithAndWithoutKeepingTheAspect) {
    Rig rig;
    ASSERT_EQ(rig.channel->StartEncoderProxy(), 1);
    EncoderProbeAnswer a = rig.Probe(Rv20Ac3Movie());
    ASSERT_TRUE(a.supported);
    struct Case {
        bool pal, wide, keep;
        const char* name;
    } cases[] = {{true, true, true, "pal-keep.vob"}, {false, false, false, "ntsc-full.vob"}};
    for (const Case& c : cases) {
        std::string out = TestRoot() + c.name;
        rig.host.bars.clear();
        ASSERT_EQ(rig.Convert(MovieOf(a, out), Job(c.pal, c.wide, c.keep)), ConvertWait::Complete);
        StreamFacts f = ReadStreamFacts(out);
        EXPECT_EQ(f.videoCodec, "mpeg2video") << c.name;
        EXPECT_EQ(f.height, c.pal ? 576 : 480) << c.name;
        EXPECT_EQ(f.darNum, c.wide ? 16 : 4) << c.name;
        EXPECT_LE(f.maxGop, c.pal ? 15 : 18) << c.name;
        EXPECT_EQ(f.sampleRate, 48000);
        int nav = 0;
        EXPECT_EQ(CheckPacks(out, &nav), "") << c.name;
        EXPECT_GE(FileSize(out), 10240);
        ASSERT_FALSE(rig.host.bars.empty()) << "progress records arrive";
        EXPECT_EQ(rig.host.bars.back(), 100);
    }
    // Keep-aspect: 4:3 movie on a 16:9 PAL disc is 539 wide, so columns 0..89 stay black.
    int w = 0, h = 0;
    std::vector<uint8_t> y = DecodeLuma(TestRoot() + "pal-keep.vob", 10, &w, &h);
    ASSERT_EQ(w, 720);
    int darkLeft = 0;
    for (int x = 0; x < 120; ++x)
        if (y[static_cast<size_t>(288) * w + x] < 20)
            ++darkLeft;
    EXPECT_NEAR(darkLeft, 90, 3);
}

TEST(EncoderProtocol, StopEndsTheConversionWithAWrittenStream) {
    Rig rig;
    ASSERT_EQ(rig.channel->StartEncoderProxy(), 1);
    EncoderProbeAnswer a = rig.Probe(LongMovie());
    ASSERT_TRUE(a.supported);
    std::string out = TestRoot() + "stopped.vob";
    ASSERT_TRUE(rig.channel->SendConvertRequest(MovieOf(a, out), Job(true, false, false)));
    auto begun = std::chrono::steady_clock::now();
    ConvertWait w = ConvertWait::None;
    while (rig.host.bars.empty() && w == ConvertWait::None &&
           std::chrono::steady_clock::now() - begun < std::chrono::seconds(60))
        w = rig.channel->WaitConvertOutcome(20);
    ASSERT_EQ(w, ConvertWait::None) << "the 20-second movie must not be done before its first progress";
    rig.channel->SendStopRequest();
    ASSERT_EQ(rig.Wait(), ConvertWait::Complete);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    StreamFacts f = ReadStreamFacts(out);
    EXPECT_EQ(f.videoCodec, "mpeg2video");
    EXPECT_LT(f.videoSeconds, 19.0) << "stopped before the end";
    int nav = 0;
    EXPECT_EQ(CheckPacks(out, &nav), "");
    EXPECT_LE(rig.host.bars.size(), static_cast<size_t>(took * 2 + 2)) << "at most two progress records a second";
}

TEST(EncoderProtocol, CrashingWorkerYieldsRestart) {
    Rig rig;
    setenv("QX_ENCODER_TEST_CRASH", "convert", 1);
    ASSERT_EQ(rig.channel->StartEncoderProxy(), 1);
    unsetenv("QX_ENCODER_TEST_CRASH"); // the replacement encoder behaves
    pid_t first = rig.channel->EncoderPid();
    EncoderProbeAnswer a = rig.Probe(Rv20Ac3Movie());
    ASSERT_TRUE(a.supported) << "probes still work: only conversions crash";
    ASSERT_EQ(rig.Convert(MovieOf(a, TestRoot() + "crash.vob"), Job(true, false, false)), ConvertWait::Crashed);
    EXPECT_NE(rig.channel->EncoderPid(), first);
    EXPECT_NE(rig.channel->EncoderPid(), 0);
    EXPECT_TRUE(rig.channel->HasEncoderWindow());
    // The new encoder converts.
    std::string out = TestRoot() + "after-crash.vob";
    EXPECT_EQ(rig.Convert(MovieOf(a, out), Job(true, false, false)), ConvertWait::Complete);
    EXPECT_GE(FileSize(out), 10240);

    setenv("QX_ENCODER_TEST_CRASH", "probe", 1);
    rig.channel->KillEncoderProxy();
    ASSERT_EQ(rig.channel->StartEncoderProxy(), 1);
    unsetenv("QX_ENCODER_TEST_CRASH");
    ProbeWait how;
    rig.Probe(Rv20Ac3Movie(), &how);
    EXPECT_EQ(how, ProbeWait::Crashed);
    EXPECT_TRUE(rig.Probe(Rv20Ac3Movie()).supported);
}

TEST(EncoderProtocol, EncoderThatDiesSilentlyIsReplaced) {
    Rig rig;
    ASSERT_EQ(rig.channel->StartEncoderProxy(), 1);
    pid_t first = rig.channel->EncoderPid();
    ::kill(first, SIGKILL);
    auto begun = std::chrono::steady_clock::now();
    while ((rig.channel->EncoderPid() == first || rig.channel->EncoderPid() == 0) &&
           std::chrono::steady_clock::now() - begun < std::chrono::seconds(20)) {
        QCoreApplication::processEvents();
        ServeMessages(20);
    }
    EXPECT_NE(rig.channel->EncoderPid(), first);
    EXPECT_TRUE(rig.channel->HasEncoderWindow());
    // The crash signal of that idle restart does not fail the next request.
    EXPECT_TRUE(rig.Probe(Rv20Ac3Movie()).supported);
}

// Each encoder program the system ends (a restart, the end of a job) removes its window socket.
TEST(EncoderProtocol, EndedEncodersLeaveNoSocketsBehind) {
    Rig rig;
    const std::string folder = RuntimeFolder().value;
    auto sockets = [&](pid_t pid) {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(folder)) {
            const std::string name = e.path().filename().string();
            n += name.rfind("win-" + std::to_string(pid) + "-", 0) == 0 ? 1 : 0;
        }
        return n;
    };
    ASSERT_EQ(rig.channel->StartEncoderProxy(), 1);
    const pid_t first = rig.channel->EncoderPid();
    EXPECT_EQ(sockets(first), 1);
    rig.channel->KillEncoderProxy(); // SIGTERM, as every restart and the end of a job send
    EXPECT_EQ(sockets(first), 0) << "an ended encoder program left its socket";
}

TEST(EncoderProtocol, StartThatFailsOrNeverSignalsIsAFailedStart) {
    EncoderChannelOptions missing = Rig::Defaults();
    missing.program = TestRoot() + "no-such-encoder";
    Rig a(missing);
    EXPECT_EQ(a.channel->StartEncoderProxy(), 0);
    ASSERT_EQ(a.host.errors.size(), 1u);
    EXPECT_EQ(a.host.errors[0],
              "Error on Create Encoder Proxy,\nPlease reinstalled this software, or contact Support.");
    EXPECT_FALSE(a.channel->HasEncoderWindow());

    EncoderChannelOptions mute = Rig::Defaults();
    mute.program = "/bin/sleep";
    mute.args = {"30"};
    mute.startTimeoutMs = 700;
    Rig b(mute);
    auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(b.channel->StartEncoderProxy(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(10));
    EXPECT_EQ(b.host.errors.size(), 1u);
    EXPECT_EQ(b.channel->EncoderPid(), 0) << "the silent program is ended";
}

TEST(EncoderProtocol, PartFilesThroughTheProtocol) {
    setenv("QX_ENCODER_PART_LIMIT", "600000", 1);
    Rig rig;
    ASSERT_EQ(rig.channel->StartEncoderProxy(), 1);
    unsetenv("QX_ENCODER_PART_LIMIT");
    EncoderProbeAnswer a = rig.Probe(Rv20Ac3Movie());
    std::string out = TestRoot() + "split.vob";
    ASSERT_EQ(rig.Convert(MovieOf(a, out), Job(true, false, false)), ConvertWait::Complete);
    EXPECT_EQ(FileSize(out), 598016);
    EXPECT_EQ(FileSize(out + ".part1"), 598016);
    EXPECT_GT(FileSize(out + ".part2"), 0);
}

TEST(EncoderProtocol, EncoderRefusesNonsenseRequestsAndClearsTheirOutput) {
    Rig rig;
    ASSERT_EQ(rig.channel->StartEncoderProxy(), 1);
    WindowHandle encoder = FindFirstWindowOfProcess(rig.channel->EncoderPid());
    ASSERT_FALSE(encoder.isNull());
    std::string out = TestRoot() + "nonsense.vob";
    Shell("head -c 50000 /dev/zero > '" + out + "'");
    auto req = EncoderRecord::Blank<EncConvertRecord>(ENC_CONVERT);
    ASSERT_TRUE(PutRecordText(req.source, Rv20Ac3Movie()));
    ASSERT_TRUE(PutRecordText(req.output, out));
    ASSERT_TRUE(PutRecordText(req.aspect, "5:4"));
    req.fixedOne = 1;
    EncoderRecord rec;
    rec.Set(req);
    ASSERT_TRUE(SendCopyData(encoder, rig.window.handle(), 0, rec.data(), rec.size(), 5000));
    EXPECT_EQ(rig.Wait(30000), ConvertWait::Complete);
    EXPECT_EQ(FileSize(out), -1) << "the old file must not pass for the movie's stream";
    // A record of the wrong size is not taken at all.
    EXPECT_EQ(SendCopyData(encoder, rig.window.handle(), 0, rec.data(), 100, 5000).value, 0);
}

TEST(EncoderProtocol, EncoderEndsWhenTheSystemIsGone) {
    App();
    NamedEvent init;
    ASSERT_TRUE(init.Create(kEncoderInitEvent));
    ChildProcess encoder;
    ASSERT_TRUE(encoder.Start(EncoderProgram()));
    bool started = false;
    for (int i = 0; i < 200 && !started; ++i)
        started = init.Wait(50) == NamedEvent::WaitResult::Signalled;
    ASSERT_TRUE(started);
    // The "system" of this encoder is a short-lived process.
    ChildProcess system;
    ASSERT_TRUE(system.Start("/bin/sleep", {"0.3"}));
    auto hs = EncoderRecord::Blank<EncHandshakeRecord>(ENC_HANDSHAKE);
    hs.systemPid = static_cast<uint32_t>(system.pid());
    EncoderRecord rec;
    rec.Set(hs);
    WindowHandle window = FindFirstWindowOfProcess(encoder.pid());
    ASSERT_FALSE(window.isNull());
    ASSERT_TRUE(SendCopyData(window, WindowHandle{}, 0, rec.data(), rec.size(), 5000));
    ASSERT_TRUE(system.WaitForExit(5000));
    EXPECT_TRUE(encoder.WaitForExit(10000)) << "an encoder without its system must not linger";
}

TEST(EncoderProtocol, ProgressRecordsBecomeProgressLines) {
    Rig rig;
    EncoderRecord rec;
    auto p = EncoderRecord::Blank<EncProgressRecord>(ENC_PROGRESS);
    p.fraction = 0.5f;
    rec.Set(p);
    CopyDataMessage msg;
    msg.data.assign(rec.data(), rec.data() + rec.size());
    EXPECT_TRUE(rig.channel->OnCopyData(msg));
    p.kind = 1;
    p.fraction = 0.25f;
    rec.Set(p);
    msg.data.assign(rec.data(), rec.data() + rec.size());
    EXPECT_TRUE(rig.channel->OnCopyData(msg));
    ASSERT_EQ(rig.host.texts.size(), 2u);
    EXPECT_EQ(rig.host.texts[0], "Total time:00:02:00; Elapsed Time:00:01:00;Finished 50.00%;");
    EXPECT_EQ(rig.host.bars[0], 50);
    EXPECT_EQ(rig.host.texts[1], "Seeking complete 25.00%;");
    EXPECT_EQ(rig.host.bars[1], 0);
    // Requests and strangers are not the encoder's answers.
    rec.Set(EncoderRecord::Blank<EncProbeRecord>(ENC_PROBE));
    msg.data.assign(rec.data(), rec.data() + rec.size());
    EXPECT_FALSE(rig.channel->OnCopyData(msg));
    msg.data.assign(2, 0);
    EXPECT_FALSE(rig.channel->OnCopyData(msg));
    // A probe answer cut short is not taken (it would leave half of the old record in place).
    rec.Set(EncoderRecord::Blank<EncProbeResultRecord>(ENC_PROBE_RESULT));
    msg.data.assign(rec.data(), rec.data() + 100);
    EXPECT_FALSE(rig.channel->OnCopyData(msg));
}

TEST(EncoderCommandLine, ModesAndTheirErrors) {
    std::string bin = "'" + EncoderProgram() + "'";
    std::string outFile = TestRoot() + "cli.txt";
    std::string text = TestRoot() + "cli-letter.rm";
    Shell("echo hello > '" + text + "'");
    EXPECT_EQ(Shell(bin + " --probe '" + text + "' > '" + outFile + "' 2>/dev/null"), 0);
    std::string printed = ReadFile(outFile);
    EXPECT_NE(printed.find("supported=0\n"), std::string::npos) << printed;
    EXPECT_EQ(Shell(bin + " --probe '" + Rv20Ac3Movie() + "' > '" + outFile + "'"), 0);
    printed = ReadFile(outFile);
    for (const char* key : {"supported=1\n", "path=", "size_kb=", "duration=", "start_time=", "frame_rate=25\n",
                            "width=320\n", "height=240\n", "aspect=", "probe_a=", "probe_b="})
        EXPECT_NE(printed.find(key), std::string::npos) << key;
    EXPECT_EQ(Shell(bin + " --convert a b --tv secam --aspect 4:3 2>/dev/null"), 2);
    EXPECT_EQ(Shell(bin + " --convert a b --tv pal 2>/dev/null"), 2);
    EXPECT_EQ(Shell(bin + " --convert a b --tv pal --aspect 4:3 --picture 800x600 2>/dev/null"), 2);
    EXPECT_EQ(Shell(bin + " --convert a b --tv pal --aspect 4:3 --picture 320x240 --keep-aspect 2>/dev/null"), 2);
    EXPECT_EQ(Shell(bin + " --frobnicate 2>/dev/null"), 2);
    EXPECT_EQ(Shell(bin + " --convert '" + text + "' '" + TestRoot() + "x.vob' --tv pal --aspect 4:3 2>/dev/null"), 1);
    std::string sub = TestRoot() + "cli-sub.vob";
    // No length that is not a number or shorter than one frame: that would be an empty stream.
    for (const char* bad : {"nan", "inf", "-1", "0", "0.01", "1e999", "1,5"}) {
        EXPECT_EQ(Shell(bin + " --substitute pal 4:3 '" + sub + "' --seconds " + bad + " 2>/dev/null"), 2) << bad;
        EXPECT_EQ(FileSize(sub), -1) << bad;
    }
    EXPECT_EQ(Shell(bin + " --substitute ntsc 16:9 '" + sub + "' --seconds 1"), 0);
    StreamFacts f = ReadStreamFacts(sub);
    EXPECT_EQ(f.height, 480);
    EXPECT_EQ(f.darNum, 16);
    // --keep-aspect uses the system's picture size: a 4:3 movie on PAL 16:9 is 539 wide.
    std::string keep = TestRoot() + "cli-keep.vob";
    ASSERT_EQ(Shell(bin + " --convert '" + Rv20Ac3Movie() + "' '" + keep +
                    "' --tv pal --aspect 16:9 --keep-aspect 2>/dev/null"),
              0);
    int w = 0, h = 0;
    std::vector<uint8_t> y = DecodeLuma(keep, 10, &w, &h);
    ASSERT_EQ(w, 720);
    EXPECT_LT(y[static_cast<size_t>(288) * w + 85], 20);
    EXPECT_LT(y[static_cast<size_t>(288) * w + 634], 20);
}
