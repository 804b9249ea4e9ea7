// The log channel and the QXLog program: the record, the real program started as a process and
// spoken to over the real protocol, and every way the log program can be missing or misbehave.
#include "LogChannel.h"
#include "LogApp.h"
#include "LogFile.h"
#include "LogLine.h"
#include "PromptService.h"
#include "ScriptedPromptService.h"
#include "TestSupport.h"

#include <QApplication>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace {

const std::string kQXLog = std::string(QX_BIN_DIR) + "/QXLog";
const std::string kFake = std::string(QX_BIN_DIR) + "/app_fake_log";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

bool ProcessGone(pid_t pid) {
    return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

CLogChannel::Options QXLogOptions(const std::string& logFile) {
    CLogChannel::Options o;
    o.program = kQXLog;
    o.args = {"--hidden", "--log-file", logFile};
    return o;
}

class LogChannelTest : public ::testing::Test {
protected:
    void SetUp() override { qx::SetPrompts(&prompts); }
    void TearDown() override { qx::SetPrompts(nullptr); }
    qx::ScriptedPromptService prompts;
};

} // namespace

TEST(LogRecordBytes, IsZeroFilledLittleEndianAndCutsAt1023Characters) {
    const LogRecord r = MakeLogRecord(1, "Convert File:/m/a.rm to VOB Failed\n");
    unsigned char bytes[sizeof(LogRecord)];
    std::memset(bytes, 0xAA, sizeof bytes);
    EncodeLogRecord(r, bytes);
    EXPECT_EQ(sizeof bytes, 1028u);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[1] | bytes[2] | bytes[3], 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes + 4)), "Convert File:/m/a.rm to VOB Failed\n");
    for (size_t i = 4 + 35; i < sizeof bytes; ++i)
        ASSERT_EQ(bytes[i], 0) << i;

    const LogRecord big = MakeLogRecord(0, std::string(5000, 'x'));
    EXPECT_EQ(std::strlen(big.text), 1023u);
    EXPECT_EQ(big.text[1023], '\0');

    const LogRecord neg = MakeLogRecord(-2, "");
    EncodeLogRecord(neg, bytes);
    EXPECT_EQ(bytes[0], 0xFE);
    EXPECT_EQ(bytes[3], 0xFF);
}

TEST(LogRecordBytes, TheLogProgramDecodesWhatTheChannelEncodes) {
    unsigned char bytes[sizeof(LogRecord)];
    EncodeLogRecord(MakeLogRecord(2, "Abort Normal"), bytes);
    qxlog::Record rec;
    ASSERT_TRUE(qxlog::DecodeRecord(bytes, sizeof bytes, rec));
    EXPECT_EQ(rec.level, 2);
    EXPECT_EQ(rec.text, "Abort Normal");

    std::string why;
    EXPECT_FALSE(qxlog::DecodeRecord(bytes, 1027, rec, &why));
    EXPECT_NE(why.find("1027 bytes"), std::string::npos);
    EXPECT_FALSE(qxlog::DecodeRecord(bytes, 1029, rec));
    // No terminator: all 1024 bytes are kept rather than lost.
    std::memset(bytes + 4, 'y', 1024);
    ASSERT_TRUE(qxlog::DecodeRecord(bytes, sizeof bytes, rec));
    EXPECT_EQ(rec.text.size(), 1024u);
}

TEST(LogLines, FileLinesCarryTimeLevelAndTextOnOneLine) {
    EXPECT_EQ(qxlog::FileLine("T", 0, "Begin convert file:/m/a.rm\n"), "T INFO Begin convert file:/m/a.rm\n");
    EXPECT_EQ(qxlog::FileLine("T", 1, "x\n\n"), "T FAIL x\n");
    EXPECT_EQ(qxlog::FileLine("T", 2, "Abort Normal"), "T END  Abort Normal\n");
    EXPECT_EQ(qxlog::FileLine("T", 7, "a\nb"), "T L7   a\n       b\n");
}

TEST(LogOptions, CommandLine) {
    qxlog::Options o;
    std::string msg;
    char a0[] = "QXLog", a1[] = "--hidden", a2[] = "--log-file", a3[] = "/x/y.log", a4[] = "--bogus";
    char* ok[] = {a0, a1, a2, a3, nullptr};
    ASSERT_TRUE(qxlog::ParseOptions(4, ok, o, msg));
    EXPECT_TRUE(o.hidden);
    EXPECT_EQ(o.logFile, "/x/y.log");
    char* bad[] = {a0, a4, nullptr};
    EXPECT_FALSE(qxlog::ParseOptions(2, bad, o, msg));
    EXPECT_NE(msg.find("--bogus"), std::string::npos);
    char* missing[] = {a0, a2, nullptr};
    EXPECT_FALSE(qxlog::ParseOptions(2, missing, o, msg));
}

TEST_F(LogChannelTest, RealLogProgramStoresEveryLineInOrderAndEndsOnAbortNormal) {
    const std::string logFile = qxtest::FreshFolder("qxlog") + "job.log";
    CLogChannel channel(QXLogOptions(logFile));
    ASSERT_TRUE(channel.CreateEvents());
    ASSERT_TRUE(channel.StartLogApp());
    EXPECT_TRUE(channel.HasWindow());
    EXPECT_EQ(channel.LogWindow().pid, channel.ProcessId());
    const pid_t pid = channel.ProcessId();

    SetLogChannel(&channel);
    for (int i = 0; i < 20; ++i)
        LogToApp(0, "Begin convert file:/m/movie%02d.rm\n", i);
    LogToApp(1, "Convert File:%s to VOB Failed\n", "/m/bad.rm");
    channel.LogToApp(0, "%s", std::string(2000, 'L').c_str()); // cut to 1023 characters
    // Several threads at once: every line arrives whole.
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 10; ++i)
                LogToApp(0, "thread %d line %d\n", t, i);
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(channel.SentCount(), 52u);
    EXPECT_EQ(channel.DroppedCount(), 0u);

    channel.EndLogApp();
    SetLogChannel(nullptr);
    EXPECT_FALSE(channel.ProcessStarted());
    EXPECT_TRUE(ProcessGone(pid));
    EXPECT_TRUE(prompts.Records().empty());

    const std::vector<std::string> lines = Lines(qxtest::ReadFile(logFile));
    ASSERT_EQ(lines.size(), 53u);
    for (int i = 0; i < 20; ++i) {
        char want[64];
        std::snprintf(want, sizeof want, " INFO Begin convert file:/m/movie%02d.rm", i);
        EXPECT_NE(lines[i].find(want), std::string::npos) << lines[i];
    }
    EXPECT_NE(lines[20].find(" FAIL Convert File:/m/bad.rm to VOB Failed"), std::string::npos);
    EXPECT_NE(lines[21].find(" INFO " + std::string(1023, 'L')), std::string::npos);
    EXPECT_EQ(lines[21].find(std::string(1024, 'L')), std::string::npos);
    int next[3] = {0, 0, 0};
    for (int i = 22; i < 52; ++i) {
        int t = -1, n = -1;
        const size_t at = lines[i].find("thread ");
        ASSERT_NE(at, std::string::npos) << lines[i];
        ASSERT_EQ(std::sscanf(lines[i].c_str() + at, "thread %d line %d", &t, &n), 2);
        ASSERT_TRUE(t >= 0 && t < 3);
        EXPECT_EQ(n, next[t]++); // each thread's lines in its own order
    }
    EXPECT_NE(lines[52].find(" END  Abort Normal"), std::string::npos);
    EXPECT_EQ(qxtest::ReadFile(logFile).find("refused"), std::string::npos);
}

TEST_F(LogChannelTest, TheLogProgramRefusesRecordsOfAnyOtherSize) {
    const std::string logFile = qxtest::FreshFolder("qxlog-size") + "job.log";
    CLogChannel channel(QXLogOptions(logFile));
    ASSERT_TRUE(channel.CreateEvents());
    ASSERT_TRUE(channel.StartLogApp());
    std::vector<uint8_t> shortRecord(1000, 0);
    const qx::Result<int64_t> r = qx::SendCopyData(channel.LogWindow(), {}, 0, shortRecord.data(), 1000, 5000);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.value, 0);
    channel.EndLogApp();
    EXPECT_NE(qxtest::ReadFile(logFile).find("FAIL QXLog: refused a record of 1000 bytes, expected 1028"),
              std::string::npos);
}

TEST_F(LogChannelTest, WithoutTheLogProgramTheStartErrorShowsOnceAndLinesAreDropped) {
    CLogChannel::Options o;
    o.program = qxtest::TestRoot() + "no-such-folder/QXLog";
    CLogChannel channel(o);
    ASSERT_TRUE(channel.CreateEvents());
    EXPECT_FALSE(channel.StartLogApp());
    SetLogChannel(&channel);
    for (int i = 0; i < 5; ++i)
        LogToApp(0, "Add File:%d Successful\n", i);
    EXPECT_FALSE(channel.SendLogRecord(1, "x"));
    channel.EndLogApp();
    SetLogChannel(nullptr);

    const std::vector<std::string> boxes = prompts.BoxTexts();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Error on Create QX Log App,\nPlease reinstalled this software, or contact Support.");
    EXPECT_EQ(prompts.Records()[0].icon, qx::PromptIcon::Information);
    EXPECT_EQ(channel.SentCount(), 0u);
    EXPECT_EQ(channel.DroppedCount(), 6u);
    EXPECT_FALSE(channel.HasWindow());
}

TEST_F(LogChannelTest, NoChannelInstalledDropsLinesQuietly) {
    SetLogChannel(nullptr);
    LogToApp(0, "Complete All Work\n");
    EXPECT_TRUE(prompts.Records().empty());
}

TEST_F(LogChannelTest, ALogProgramThatNeverSignalsItsStartDoesNotHangTheSystem) {
    CLogChannel::Options o;
    o.program = kFake;
    o.args = {"--silent"};
    o.startWaitMs = 400;
    o.endWaitMs = 400;
    CLogChannel channel(o);
    ASSERT_TRUE(channel.CreateEvents());
    EXPECT_FALSE(channel.StartLogApp());
    EXPECT_FALSE(channel.HasWindow());
    EXPECT_TRUE(channel.ProcessStarted());
    const pid_t pid = channel.ProcessId();
    EXPECT_FALSE(channel.SendLogRecord(0, "dropped"));
    channel.EndLogApp(); // bounded wait, then the silent program is ended
    EXPECT_TRUE(ProcessGone(pid));
    EXPECT_TRUE(prompts.Records().empty());
}

TEST_F(LogChannelTest, ALogProgramThatNeverSignalsItsEndIsEndedAfterTheBoundedWait) {
    const std::string sizes = qxtest::FreshFolder("fake") + "sizes.txt";
    CLogChannel::Options o;
    o.program = kFake;
    o.args = {"--no-end", "--sizes", sizes};
    o.endWaitMs = 300;
    CLogChannel channel(o);
    ASSERT_TRUE(channel.CreateEvents());
    ASSERT_TRUE(channel.StartLogApp());
    const pid_t pid = channel.ProcessId();
    EXPECT_TRUE(channel.SendLogRecord(0, "one"));
    EXPECT_TRUE(channel.SendLogRecord(1, std::string(3000, 'z')));
    channel.EndLogApp();
    EXPECT_TRUE(ProcessGone(pid));
    // Every record had 1028 bytes; the last one was the level-2 "Abort Normal".
    const std::vector<std::string> lines = Lines(qxtest::ReadFile(sizes));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "1028 0 one");
    EXPECT_EQ(lines[1], "1028 1 " + std::string(1023, 'z'));
    EXPECT_EQ(lines[2], "1028 2 Abort Normal");
}

TEST_F(LogChannelTest, ALogProgramThatDiesIsGivenUpWithoutWaitingOnEveryLine) {
    const std::string logFile = qxtest::FreshFolder("qxlog-dies") + "job.log";
    CLogChannel channel(QXLogOptions(logFile));
    ASSERT_TRUE(channel.CreateEvents());
    ASSERT_TRUE(channel.StartLogApp());
    const pid_t pid = channel.ProcessId();
    ASSERT_TRUE(channel.SendLogRecord(0, "before\n"));
    ::kill(pid, SIGKILL);
    // Not reaped yet (the channel's process object does that), but its window is closed.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(channel.SendLogRecord(0, "after\n"));
    EXPECT_FALSE(channel.HasWindow());
    EXPECT_FALSE(channel.SendLogRecord(0, "later\n"));
    channel.EndLogApp();
    EXPECT_EQ(channel.SentCount(), 1u);
    EXPECT_EQ(channel.DroppedCount(), 3u); // after, later, Abort Normal
    EXPECT_NE(qxtest::ReadFile(logFile).find("before"), std::string::npos);
}

TEST_F(LogChannelTest, ALogProgramKilledWhileTheWindowRunsIsReapedAtOnce) {
    qxtest::EnsureApp();
    const std::string logFile = qxtest::FreshFolder("qxlog-reaped") + "job.log";
    CLogChannel channel(QXLogOptions(logFile));
    ASSERT_TRUE(channel.CreateEvents());
    ASSERT_TRUE(channel.StartLogApp());
    const pid_t pid = channel.ProcessId();
    ::kill(pid, SIGKILL);
    // No line is sent: the window only runs its event loop.
    bool reaped = false;
    for (int i = 0; i < 250 && !reaped; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        reaped = ProcessGone(pid);
    }
    EXPECT_TRUE(reaped) << "the killed log program stays a zombie";
    EXPECT_FALSE(channel.HasWindow());
}

// A log file name that is a FIFO must neither hold the log program in open() for ever nor be
// written: the program starts, says why it keeps no file, and ends on request.
TEST_F(LogChannelTest, ALogFileThatIsNotARegularFileIsRefusedWithoutBlocking) {
    qxtest::EnsureApp();
    const std::string dir = qxtest::FreshFolder("qxlog-fifo");
    ASSERT_EQ(::mkfifo((dir + "job.log").c_str(), 0600), 0);
    qxlog::LogFile file;
    std::string error;
    EXPECT_FALSE(file.Open(dir + "job.log", &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_FALSE(file.Open(dir, &error)) << "a folder";

    CLogChannel channel(QXLogOptions(dir + "job.log"));
    ASSERT_TRUE(channel.CreateEvents());
    EXPECT_TRUE(channel.StartLogApp());
    const pid_t pid = channel.ProcessId();
    channel.EndLogApp();
    EXPECT_TRUE(ProcessGone(pid));
}

TEST(LogWindowInProcess, ShowsFailuresInRedAndSignalsTheEndOnLevelTwo) {
    qxtest::EnsureApp();
    qxlog::Options o;
    o.hidden = true;
    o.watchParent = false;
    o.logFile = qxtest::FreshFolder("window") + "log.txt";
    qxlog::LogWindow window(o);
    ASSERT_TRUE(window.Start());
    bool ended = false;
    QObject::connect(&window, &qxlog::LogWindow::endRequested, [&] { ended = true; });

    unsigned char bytes[sizeof(LogRecord)];
    auto send = [&](int level, const std::string& text) {
        EncodeLogRecord(MakeLogRecord(level, text), bytes);
        qx::CopyDataMessage m;
        m.data.assign(bytes, bytes + sizeof bytes);
        return window.HandleCopyData(m);
    };
    EXPECT_EQ(send(0, "Add File:/movies/holiday.rm Successful\n"), 1);
    EXPECT_EQ(send(0, "Begin convert file:/movies/holiday.rm\n"), 1);
    EXPECT_EQ(send(1, "Convert File:/movies/broken.rmvb to VOB Failed\n"), 1);
    EXPECT_EQ(send(0, "Begin DVD Author\n"), 1);
    EXPECT_EQ(send(0, "Complete All Work\n"), 1);
    qx::CopyDataMessage wrongId;
    wrongId.dwData = 7;
    wrongId.data.assign(bytes, bytes + sizeof bytes);
    EXPECT_EQ(window.HandleCopyData(wrongId), 0);

    QTreeWidget* list = window.List();
    ASSERT_EQ(list->topLevelItemCount(), 6);
    EXPECT_EQ(list->topLevelItem(2)->text(1).toStdString(), "FAIL");
    EXPECT_EQ(list->topLevelItem(2)->text(2).toStdString(), "Convert File:/movies/broken.rmvb to VOB Failed");
    EXPECT_EQ(list->topLevelItem(2)->foreground(2).color(), QColor(0xC0, 0, 0));
    EXPECT_TRUE(list->topLevelItem(2)->font(2).bold());
    EXPECT_NE(list->topLevelItem(0)->foreground(2).color(), QColor(0xC0, 0, 0));
    EXPECT_NE(list->topLevelItem(5)->text(2).toStdString().find("identifier 7"), std::string::npos);
    window.show();
    EXPECT_TRUE(qxtest::SaveScreenshot(&window, "qxlog_window"));
    window.hide();

    EXPECT_FALSE(ended);
    EXPECT_EQ(send(2, "Abort Normal"), 1);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(window.EndRequested());
    EXPECT_EQ(window.RecordCount(), 6u);
}

TEST(LogProgramAlone, EndsByItselfWhenTheProgramThatStartedItIsGone) {
    // A shell starts the log program and ends at once, as a main program that crashed would.
    const std::string dir = qxtest::FreshFolder("orphan");
    const std::string logFile = dir + "job.log";
    const std::string pidFile = dir + "pid";
    qx::ChildProcess shell;
    ASSERT_TRUE(shell.Start("/bin/sh", {"-c", "\"$0\" --hidden --log-file \"$1\" & echo $! > \"$2\"; sleep 0.3", kQXLog,
                                        logFile, pidFile}));
    ASSERT_TRUE(shell.WaitForExit(10000));
    const pid_t pid = std::atoi(qxtest::ReadFile(pidFile).c_str());
    ASSERT_GT(pid, 0);
    bool noted = false;
    for (int i = 0; i < 200 && !noted; ++i) {
        noted = qxtest::ReadFile(logFile).find("has ended without the end record") != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(noted);
    // Gone, or at most a zombie waiting for whoever adopted it.
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
        const std::string status = qxtest::ReadFile("/proc/" + std::to_string(pid) + "/stat");
        ended = status.empty() || status.find(") Z") != std::string::npos;
        if (!ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(ended);
    if (!ended)
        ::kill(pid, SIGKILL);
}
