// The encoding thread: order, the first failure, and what is left queued at the end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
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

// The poster is woken only when half the queue has room: a failure must still reach one that waits
// on a full queue, or the decoding side would hang.
TEST(EncodeThread, APosterWaitingOnAFullQueueLearnsOfAFailure) {
    std::promise<void> started, release;
    std::shared_future<void> released = release.get_future().share();
    std::string error;
    EncodeThread thread(4);
    ASSERT_TRUE(thread.Post(
        [&started, released](std::string* e) {
            started.set_value();
            released.wait();
            *e = "disk full";
            return false;
        },
        &error));
    started.get_future().wait(); // the failing job runs; four more fill the queue
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(thread.Post([](std::string*) { return true; }, &error));
    std::thread releaser([&release] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        release.set_value();
    });
    EXPECT_FALSE(thread.Post([](std::string*) { return true; }, &error));
    EXPECT_EQ(error, "disk full");
    releaser.join();
}
