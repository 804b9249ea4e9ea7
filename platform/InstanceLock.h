// Single-instance lock: flock on "<runtime folder>/<name>.lock". The kernel drops the lock when the
// holder ends in any way, so a crashed holder never blocks the next start. The descriptor is
// close-on-exec, so started helper programs do not keep the lock alive.
#pragma once

#include "Status.h"

#include <string>

namespace qx {

class InstanceLock {
public:
    enum class State { Acquired, HeldElsewhere, Failed };

    InstanceLock() = default;
    ~InstanceLock(); // releases
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Tries once, without waiting. `name` is letters, digits, '_', '-', '.' (e.g. "QXMOVIEDISC").
    // Failed: *error (if given) says why (runtime folder refused, bad name, I/O error).
    State Acquire(const std::string& name, std::string* error = nullptr);
    bool held() const { return fd_ >= 0; }
    void Release();

private:
    int fd_ = -1;
};

} // namespace qx
