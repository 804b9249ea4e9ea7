// Helper programs end cleanly when their parent terminates them (SIGTERM) or the user interrupts
// them (SIGINT): the signal only quits the Qt event loop, so destructors run and the program's
// message-window sockets are removed instead of piling up in the runtime folder.
#pragma once

#include "Status.h"

namespace qx {

// Call once, after the QCoreApplication exists and before its exec().
Status QuitEventLoopOnTermination();

} // namespace qx
