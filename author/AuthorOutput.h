// File output of the engine behind a small interface so tests can inject full disks and short writes.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

enum class AuthorOpenMode {
    Create,   // write-only, created when missing, not truncated (VOB files)
    Update,   // write-only, neither created nor truncated (navigation pack fix-up)
    Truncate, // write-only, created or truncated (information files)
};

class AuthorWriter {
public:
    virtual ~AuthorWriter() = default;
    // Writes at the current position; returns the number of bytes written (fewer on failure).
    virtual size_t Write(const void* data, size_t size) = 0;
    // Moves the position to `offset` bytes from the start; false on failure.
    virtual bool Seek(long long offset) = 0;
    // Flushes and closes; false when the data did not reach the file. Destruction closes too.
    virtual bool Close() = 0;
    // Why the last Write, Seek or Close failed ("No space left on device"); empty when unknown.
    virtual std::string Why() const { return {}; }
};

// Ends the run with "Error writing data" and the reason, so the user learns what to mend.
[[noreturn]] void AuthorWriteFailed(const AuthorWriter* file, const std::string& path);

class AuthorFileOpener {
public:
    virtual ~AuthorFileOpener() = default;
    // Opens `path`; on failure returns null and sets `error` to the system's error text.
    virtual std::unique_ptr<AuthorWriter> Open(const std::string& path, AuthorOpenMode mode, std::string& error) = 0;
};

// Plain files (POSIX).
AuthorFileOpener& AuthorDiskFiles();

// Wraps an opener and remembers every file it created that did not exist before, so that a
// failed run can remove what it wrote itself (and nothing else).
class AuthorCreatedFiles : public AuthorFileOpener {
public:
    explicit AuthorCreatedFiles(AuthorFileOpener& inner) : inner_(inner) {}
    std::unique_ptr<AuthorWriter> Open(const std::string& path, AuthorOpenMode mode, std::string& error) override;
    // Removes the files created through this opener; returns how many were removed.
    int RemoveCreated();

private:
    AuthorFileOpener& inner_;
    std::vector<std::string> created_;
};
