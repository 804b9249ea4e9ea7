// The encoding thread: order, the first failure, and what is left queued at the end.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "EncodeThread.h"

using qx::enc::EncodeThread;

TEST(EncodeThread, JobsRunInOrderAndAFailureStopsTheRest) {
    std::vector<int> ran;
    std::string error;
    {
        EncodeThread thread(2);
        for (int i = 0; i < 50; ++i)
            ASSERT_TRUE(thread.Post(
                [&ran, i](std::string*) {
                    ran.push_back(i);
                    return true;
                },
                &error));
        ASSERT_TRUE(thread.Wait(&error));
        ASSERT_EQ(ran.size(), 50u);
        for (int i = 0; i < 50; ++i)
            EXPECT_EQ(ran[i], i);

        EXPECT_TRUE(thread.Post(
            [](std::string* e) {
                *e = "disk full";
                return false;
            },
            &error));
        EXPECT_FALSE(thread.Wait(&error));
        EXPECT_EQ(error, "disk full");
        error.clear();
        EXPECT_FALSE(thread.Post(
            [&ran](std::string*) {
                ran.push_back(-1);
                return true;
            },
            &error))
            << "nothing is taken after a failure";
        EXPECT_EQ(error, "disk full");
        EXPECT_FALSE(thread.Wait(&error));
    }
    EXPECT_EQ(ran.size(), 50u);
}

TEST(EncodeThread, EndingRunsWhatIsQueued) {
    std::atomic<int> ran{0};
    std::string error;
    {
        EncodeThread thread(4);
        for (int i = 0; i < 4; ++i)
            thread.Post(
                [&ran](std::string*) {
                    ++ran;
                    return true;
                },
                &error);
    }
    EXPECT_EQ(ran.load(), 4);
}
