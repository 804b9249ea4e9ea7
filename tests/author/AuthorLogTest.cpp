#include "AuthorLog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Captures standard error and the debug sink around one test, and restores the defaults after.
class AuthorLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("QXAUTHOR_VERBOSITY");
        AuthorLogResetVerbosity();
        AuthorLogSetDebugSink([this](const char* text) { debugLines.emplace_back(text); });
    }
    void TearDown() override {
        AuthorLogSetDebugSink({});
        AuthorLogSetHandler({});
        AuthorLogSetFilter({});
        unsetenv("QXAUTHOR_VERBOSITY");
        AuthorLogResetVerbosity();
    }
    std::string logToStderr(int level, const char* text) {
        testing::internal::CaptureStderr();
        AuthorLog(level, "%s", text);
        return testing::internal::GetCapturedStderr();
    }
    std::vector<std::string> debugLines;
};

TEST_F(AuthorLogTest, EachLevelHasItsLineFormatWithTheUnsetTag) {
    EXPECT_EQ(logToStderr(1, "a"), "--DEBUG: [???] a\n");
    EXPECT_EQ(logToStderr(2, "b"), "   INFO: [???] b\n");
    EXPECT_EQ(logToStderr(3, "c"), "++ WARN: [???] c\n");
    EXPECT_EQ(logToStderr(4, "d"), "**ERROR: [???] d\n");
    // Only warnings and errors reach the second sink, as bare text.
    EXPECT_EQ(debugLines, (std::vector<std::string>{"c", "d"}));
}

TEST_F(AuthorLogTest, LongMessagesAreCutTo1023Characters) {
    std::string seen;
    AuthorLogSetHandler([&](int, const char* text) {
        seen = text;
        return 7;
    });
    std::string longText(3000, 'x');
    EXPECT_EQ(AuthorLog(3, "%s", longText.c_str()), 7) << "AuthorLog returns the handler's result";
    EXPECT_EQ(seen.size(), 1023u);
}

TEST_F(AuthorLogTest, VerbosityFromEnvironmentDropsOnlyLowerLevels) {
    setenv("QXAUTHOR_VERBOSITY", "0", 1);
    EXPECT_EQ(logToStderr(2, "quiet"), "");
    EXPECT_EQ(logToStderr(1, "quiet"), "");
    EXPECT_EQ(logToStderr(3, "loud"), "++ WARN: [???] loud\n");

    AuthorLogResetVerbosity();
    setenv("QXAUTHOR_VERBOSITY", "1", 1);
    EXPECT_EQ(logToStderr(1, "x"), "");
    EXPECT_EQ(logToStderr(2, "y"), "   INFO: [???] y\n");

    AuthorLogResetVerbosity();
    setenv("QXAUTHOR_VERBOSITY", "-1", 1);
    EXPECT_EQ(logToStderr(2, "y"), "");
    EXPECT_EQ(logToStderr(4, "z"), "**ERROR: [???] z\n");
}

TEST_F(AuthorLogTest, OutOfRangeVerbosityKeepsEverythingAndIsReadAgain) {
    setenv("QXAUTHOR_VERBOSITY", "7", 1);
    EXPECT_EQ(logToStderr(1, "a"), "--DEBUG: [???] a\n");
    // Nothing valid was stored, so a later valid value still takes effect.
    setenv("QXAUTHOR_VERBOSITY", "0", 1);
    EXPECT_EQ(logToStderr(2, "b"), "");
}

TEST_F(AuthorLogTest, ReplacementFilterDecides) {
    AuthorLogSetFilter([](int level) { return level == 4 ? 1 : 0; });
    EXPECT_EQ(logToStderr(4, "dropped"), "");
    EXPECT_EQ(logToStderr(1, "kept"), "--DEBUG: [???] kept\n");
}

TEST_F(AuthorLogTest, TimestampsPrintAsSecondsAndMilliseconds) {
    EXPECT_EQ(AuthorLogTime(0), "0.000");
    EXPECT_EQ(AuthorLogTime(90000 * 12 + 45 * 90), "12.045");
}

#ifndef NDEBUG
TEST_F(AuthorLogTest, InvalidLevelIsAProgrammingError) {
    EXPECT_DEATH(AuthorLog(5, "bad"), "level");
}
#endif

} // namespace
