// The conversion driver against a scripted host: outcome rule, crash path, stop between movies.
#include "ConvertThread.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

// Each movie's script: how many bytes the encoder writes and how the conversion ends.
struct MovieScript {
    int64_t bytes = 20000;
    bool crash = false;
    bool stopDuring = false; // the user confirms a stop while this movie converts
    int passesBeforeAnswer = 3;
};

class ScriptedHost : public ConvertHost {
public:
    ScriptedHost(const std::string& folder, std::vector<MovieScript> script) : m_folder(folder), m_script(script) {}

    void EnableJobControls(bool enable) override { events.push_back(enable ? "enable" : "disable"); }
    void ConvertBegin(int row) override { events.push_back("begin " + std::to_string(row)); }
    void ConvertResult(int row, bool converted) override {
        events.push_back("result " + std::to_string(row) + (converted ? " 1" : " 0"));
    }
    void ConvertEnd(int row) override { events.push_back("end " + std::to_string(row)); }
    void AllConverted() override { events.push_back("all done"); }
    int SourceCount() const override { return static_cast<int>(m_script.size()); }
    std::string SourcePath(int row) const override { return "/movies/m" + std::to_string(row) + ".rm"; }
    std::string ConvertedPath(int row) const override { return m_folder + "m" + std::to_string(row) + ".vob"; }
    void SendConvertRequest(int row) override {
        events.push_back("request " + std::to_string(row));
        m_current = row;
        m_passes = 0;
    }
    ConvertWait WaitEncoderOutcome(int timeoutMs) override {
        EXPECT_GT(timeoutMs, 0);
        const MovieScript& s = m_script[m_current];
        if (++m_passes < s.passesBeforeAnswer) {
            if (s.stopDuring && m_passes == 1) {
                m_stop = true;
            }
            return ConvertWait::None;
        }
        if (s.crash) {
            return ConvertWait::Crashed;
        }
        if (s.bytes > 0) {
            std::ofstream(ConvertedPath(m_current), std::ios::binary) << std::string(s.bytes, 'v');
        }
        return ConvertWait::Complete;
    }
    bool StopRequested() const override { return m_stop; }
    void Log(int level, const std::string& text) override { logs.push_back(std::to_string(level) + " " + text); }

    std::vector<std::string> events;
    std::vector<std::string> logs;

private:
    std::string m_folder;
    std::vector<MovieScript> m_script;
    int m_current = -1;
    int m_passes = 0;
    bool m_stop = false;
};

class ConvertDriver : public ::testing::Test {
protected:
    // A private folder of its own (removed with the others at exit).
    void SetUp() override { folder = qxtest::FreshFolder("convert"); }
    std::string folder;
};

} // namespace

TEST(ConvertOutcomeRule, TenKilobytesIsTheThreshold) {
    EXPECT_TRUE(IsConvertedStreamGood(10240));
    EXPECT_FALSE(IsConvertedStreamGood(10239));
    EXPECT_FALSE(IsConvertedStreamGood(0));
    EXPECT_EQ(ConvertedStreamSize("/nonexistent/file.vob"), 0);
    EXPECT_EQ(ConvertedStreamSize("/"), 0); // a folder is not a stream
}

TEST_F(ConvertDriver, StreamsAtAndBelowTheThreshold) {
    ScriptedHost host(folder, {{10240}, {10239}});
    ConvertThread(host);
    EXPECT_EQ(host.events, (std::vector<std::string>{"disable", "begin 0", "request 0", "result 0 1", "end 0",
                                                     "begin 1", "request 1", "result 1 0", "end 1", "all done"}));
    EXPECT_EQ(host.logs, (std::vector<std::string>{
                             "0 Begin convert each media file\n", "0 Begin convert file:/movies/m0.rm\n",
                             "0 Convert file:/movies/m0.rm compete stopped:0\n", "0 Begin convert file:/movies/m1.rm\n",
                             "1 Convert file:/movies/m1.rm compete and size too small, so failed\n",
                             "0 Complete convert all file\n"}));
}

TEST_F(ConvertDriver, CrashInTheMiddleMovieFailsOnlyThatMovie) {
    ScriptedHost host(folder, {{}, {0, true}, {}});
    ConvertThread(host);
    EXPECT_EQ(host.events, (std::vector<std::string>{"disable", "begin 0", "request 0", "result 0 1", "end 0",
                                                     "begin 1", "request 1", "result 1 0", "end 1", "begin 2",
                                                     "request 2", "result 2 1", "end 2", "all done"}));
    int crashLines = 0;
    for (const auto& line : host.logs) {
        crashLines += line.find("make Encoderproxy crashed") != std::string::npos;
    }
    EXPECT_EQ(crashLines, 1);
    EXPECT_EQ(host.logs[4], "1 Convert file:/movies/m1.rm make Encoderproxy crashed\n");
}

TEST_F(ConvertDriver, StopDuringTheSecondMovieSendsNoThirdRequest) {
    ScriptedHost host(folder, {{}, {20000, false, true}, {}});
    ConvertThread(host);
    EXPECT_EQ(host.events, (std::vector<std::string>{"disable", "begin 0", "request 0", "result 0 1", "end 0",
                                                     "begin 1", "request 1", "result 1 1", "end 1", "all done"}));
    EXPECT_EQ(host.logs[host.logs.size() - 2], "0 Convert file:/movies/m1.rm compete stopped:1\n");
    EXPECT_EQ(host.logs.back(), "0 User stopped convert process\n");
}

TEST_F(ConvertDriver, MissingOutputAfterCompletionIsAFailure) {
    ScriptedHost host(folder, {{0}});
    ConvertThread(host);
    EXPECT_EQ(host.events[3], "result 0 0");
}
