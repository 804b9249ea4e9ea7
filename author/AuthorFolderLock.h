// One authoring run at a time per output folder: two runs writing into one VIDEO_TS folder would
// leave a mixed, corrupt disc. The lock is an flock on the folder itself (no file is left behind)
// and goes with the process, so a killed run never blocks the next one.
#pragma once

#include <string>

class AuthorFolderLock {
public:
    AuthorFolderLock() = default;
    ~AuthorFolderLock();
    AuthorFolderLock(const AuthorFolderLock&) = delete;
    AuthorFolderLock& operator=(const AuthorFolderLock&) = delete;

    // Takes the existing folder for this run; false with the reason when another run holds it or it
    // cannot be opened.
    bool Acquire(const std::string& folder, std::string& error);
    void Release();
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};
