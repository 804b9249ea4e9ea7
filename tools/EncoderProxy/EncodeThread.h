// Runs the encoding of a conversion on a thread of its own, so that decoding and scaling the next
// pictures go on meanwhile. Jobs run one at a time in the order they were posted, so the stream is
// byte for byte the one a single thread would write.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace qx::enc {

class EncodeThread {
public:
    using Job = std::function<bool(std::string* error)>;

    // At most `capacity` jobs wait; Post() blocks beyond that, so memory stays bounded.
    explicit EncodeThread(size_t capacity);
    ~EncodeThread(); // runs what is queued, then joins
    EncodeThread(const EncodeThread&) = delete;
    EncodeThread& operator=(const EncodeThread&) = delete;

    // Queues a job. False, with the first failed job's error, once a job has failed: nothing more
    // runs after a failure.
    bool Post(Job job, std::string* error);
    // Waits until every posted job has run; false with the first error.
    bool Wait(std::string* error);

private:
    void Loop();

    const size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    bool busy_ = false;
    bool closing_ = false;
    std::string failure_;
    bool failed_ = false;
    std::thread thread_;
};

} // namespace qx::enc
