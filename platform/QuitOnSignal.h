// Termination signals (SIGTERM from a parent or a session's logout, SIGINT from Ctrl+C) handled on
// the application's thread: the signal handler only writes the signal's number to a private pipe,
// and the program decides there what a clean end is. Helper programs just quit their event loop,
// so destructors run and their message-window sockets are removed instead of piling up in the
// runtime folder; the window programs first stop the step a job is in.
#pragma once

#include "Status.h"

#include <functional>

namespace qx {

// Calls `handler(signal)` on the application's thread for each SIGTERM or SIGINT, whenever the
// thread's events are processed (also inside nested event loops). A later call replaces the
// handler. Needs the QCoreApplication. The names of the named events the program created are
// removed when the signal arrives (the program is to end, perhaps through std::_Exit).
Status CallOnTermination(std::function<void(int signal)> handler);

// SIGTERM and SIGINT end the program as by default again (the events it created are removed first).
void DefaultTermination();

// Call once, after the QCoreApplication exists and before its exec(): a signal quits the loop.
Status QuitEventLoopOnTermination();

} // namespace qx
