// Named auto-reset events between processes of one user. An event is a small file in the private
// runtime folder ($XDG_RUNTIME_DIR/qxmoviedisc/, mode 0700) that every process using it maps; its
// state word is waited on with a futex. Nothing appears outside that folder, so no other user can
// see, create or block an event, and programs with different runtime folders (tests) never share one.
//  - Create: makes a fresh event; one left by an earlier (killed) run is cleared and replaced, and
//    events whose creating process has ended are removed. Anything else found under the name (a link,
//    another user's file) is removed too; the user is told (standard error and Notice()).
//  - Open: opens an existing event of this user only.
//  - Set: signals when not already signalled (one wait consumes the signal).
//  - Wait: bounded; 0 only tests (and consumes) the signal.
// A creator removes the name when it closes, at exit(), and when a SIGINT or SIGTERM arrives
// (CallOnTermination, DefaultTermination in QuitOnSignal.h); RemoveCreatedNames() is for other ways
// out that skip exit() (std::_Exit). After a SIGKILL the next Create removes it.
#pragma once

#include "Status.h"

#include <string>
#include <sys/types.h>

namespace qx {

struct NamedEventWord; // the shared part of an event

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
    bool isOpen() const { return word_ != nullptr; }
    // What Create had to repair (a foreign object under the event's name), empty when nothing.
    const std::string& Notice() const { return notice_; }

    Status Set();
    // Clears a pending signal without waiting.
    void Reset();
    // timeoutMs >= 0 (0 = test only). Failed also when not open.
    WaitResult Wait(int timeoutMs);

    // Removes the name of an event in the current runtime folder (cleanup of stale names).
    static Status Remove(const std::string& name);
    // The file of event `name` in the current runtime folder.
    static Result<std::string> EventPath(const std::string& name);
    // Removes the names of the events this process created and has not closed. Async-signal-safe:
    // for a signal handler or just before std::_Exit.
    static void RemoveCreatedNames();

private:
    NamedEventWord* word_ = nullptr;
    std::string path_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    int slot_ = -1; // in the list RemoveCreatedNames works through
    std::string notice_;
};

} // namespace qx
