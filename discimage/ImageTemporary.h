// The file an image is written into before it takes the target's name. Where the file system allows it
// the file has no name until it is complete (O_TMPFILE), so a killed run leaves nothing behind; else it
// is ".TARGET.part-XXXXXX" beside the target. Either way it is locked (flock) while its writer lives,
// so a later run can tell a stale temporary of its own from one still being written.
#pragma once

#include <string>

namespace qx::discimage {

// Seconds a named temporary must have been left untouched before a later run removes it.
constexpr int kStaleTemporarySeconds = 60;

class TemporaryImageFile {
public:
    TemporaryImageFile() = default;
    ~TemporaryImageFile(); // removes the file unless committed
    TemporaryImageFile(const TemporaryImageFile&) = delete;
    TemporaryImageFile& operator=(const TemporaryImageFile&) = delete;

    // Creates the file for `target` with mode 0600. `named` forces the visible name (as on a file
    // system without anonymous files). False with `error` set.
    bool Create(const std::string& target, bool named, std::string* error);
    int Fd() const { return m_fd; }
    bool Named() const { return !m_name.empty(); }
    // Gives the written, flushed file the target's name (replacing an old file of that name at once).
    bool Commit(std::string* error);

private:
    std::string m_target;
    std::string m_name; // the visible temporary name, "" while anonymous
    int m_fd = -1;
};

// Removes ".TARGET.part-XXXXXX" files beside `target` that this user owns, that are regular files,
// that nobody holds locked and that were not written for kStaleTemporarySeconds: what a killed run
// left. Nothing else is touched. Returns how many were removed.
int RemoveStaleTemporaries(const std::string& target);

} // namespace qx::discimage
