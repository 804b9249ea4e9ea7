#include "EncodeThread.h"

namespace qx::enc {

EncodeThread::EncodeThread(size_t capacity) : capacity_(capacity < 1 ? 1 : capacity), thread_([this] { Loop(); }) {}

EncodeThread::~EncodeThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool EncodeThread::Post(Job job, std::string* error) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return failed_ || jobs_.size() < capacity_; });
    if (failed_) {
        *error = failure_;
        return false;
    }
    jobs_.push_back(std::move(job));
    changed_.notify_all();
    return true;
}

bool EncodeThread::Wait(std::string* error) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return failed_ || (jobs_.empty() && !busy_); });
    if (failed_) {
        *error = failure_;
        return false;
    }
    return true;
}

void EncodeThread::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        changed_.wait(lock, [&] { return closing_ || !jobs_.empty(); });
        if (jobs_.empty())
            return; // closing, nothing left
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        lock.unlock();
        std::string error;
        bool ok = job(&error);
        lock.lock();
        busy_ = false;
        if (!ok && !failed_) {
            failed_ = true;
            failure_ = error.empty() ? "the encoder failed" : error;
            jobs_.clear(); // nothing after a failure runs
        }
        // The poster waits on a full queue: woken when half of it has room, it refills it in one go
        // rather than waking (and taking a core from the encoder) for every job.
        if (jobs_.size() <= capacity_ / 2 || failed_ || jobs_.empty())
            changed_.notify_all();
    }
}

} // namespace qx::enc
