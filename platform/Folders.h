// The folders the program works with. Every folder path ends in '/'.
#pragma once

#include "Status.h"

#include <string>
#include <sys/types.h>

namespace qx {

// Folder of the running executable (from /proc/self/exe): helpers and companion files live here.
std::string ProgramFolder();

// Per-user runtime folder: $XDG_RUNTIME_DIR/qxmoviedisc/ (when XDG_RUNTIME_DIR is an absolute
// path), else /tmp/qxmoviedisc-<uid>/. Created with mode 0700 when missing. Refused with a reason
// when it is not a real directory, is owned by another user or is open to group/others, or when
// XDG_RUNTIME_DIR names a folder that does not exist. Read from the environment on every call.
Result<std::string> RuntimeFolder();

// $XDG_CONFIG_HOME/qxmoviedisc/ (default ~/.config/qxmoviedisc/). Not created here.
std::string ConfigFolder();

// $XDG_STATE_HOME/qxmoviedisc/ (default ~/.local/state/qxmoviedisc/), for logs. Not created here.
std::string StateFolder();
// The log program's file: StateFolder() + "QXLog.log".
std::string LogFilePath();

// $HOME/QXMovieDisc/, the default working folder. Not created here.
std::string DefaultWorkFolder();

// The user's home folder: $HOME, else the password database. No trailing '/'.
std::string HomeFolder();

// Creates `path` and every missing parent (mode & ~umask). Succeeds when it already is a folder;
// fails with a reason when a part is a file or cannot be made.
Status MakeFolderPath(const std::string& path, mode_t mode = 0777);

// `path` with exactly one '/' appended when it does not end in one.
std::string WithTrailingSlash(const std::string& path);

} // namespace qx
