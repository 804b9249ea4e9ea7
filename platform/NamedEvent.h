// Named auto-reset events between processes of one user, on POSIX named semaphores (mode 0600).
// The semaphore name is derived from the event name and a random key kept in the private runtime
// folder ("event-key", 0600): programs with different runtime folders (tests) never share an event,
// and another user cannot guess a name to plant an event of its own under it.
//  - Create: makes a fresh event; one of ours left by an earlier (killed) run is drained and
//    replaced, one that belongs to another user is refused.
//  - Open: opens an existing event of this user only.
//  - Set: signals when not already signalled (one waiter wakes, the signal is consumed). Two Sets
//    racing in the same instant may both post; the event then wakes twice.
//  - Wait: bounded; 0 only tests (and consumes) the signal.
#pragma once

#include "Status.h"

#include <semaphore.h>
#include <string>

namespace qx {

class NamedEvent {
public:
    enum class WaitResult { Signalled, TimedOut, Failed };

    NamedEvent() = default;
    ~NamedEvent(); // closes; a creator also removes the name (see Create)
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;
    NamedEvent(NamedEvent&& other) noexcept;
    NamedEvent& operator=(NamedEvent&& other) noexcept;

    // `name`: 1..200 characters of letters, digits, '_', '-', '.'.
    // removeOnClose: the name is removed when this object closes; processes that opened it keep
    // working with it, later opens by name fail until it is created again.
    Status Create(const std::string& name, bool removeOnClose = true);
    Status Open(const std::string& name);
    void Close();
    bool isOpen() const { return sem_ != nullptr; }

    Status Set();
    // Clears a pending signal without waiting.
    void Reset();
    // timeoutMs >= 0 (0 = test only). Failed also when not open.
    WaitResult Wait(int timeoutMs);

    // Removes the name of an event in the current runtime folder (cleanup of stale names).
    static Status Remove(const std::string& name);
    // The semaphore name used for `name` in the current runtime folder ("/qxmd-<hash>-<name>").
    static Result<std::string> SemaphoreName(const std::string& name);

private:
    sem_t* sem_ = nullptr;
    std::string semName_;
    bool removeOnClose_ = false;
};

} // namespace qx
