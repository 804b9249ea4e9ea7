// The encoder program's service to the system: a message window that takes request records,
// worker processes that do the work, and answer records sent back.
#pragma once

namespace qx::enc {

int RunEncoderServer(int argc, char** argv);

}  // namespace qx::enc
