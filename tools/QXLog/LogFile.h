// The log file the log program appends every line to. Opened for appending (created with its
// folder when missing); a file grown past the size limit is moved aside to "<name>.1" first.
// Write failures are remembered and reported, never fatal: the window keeps showing the lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qxlog {

class LogFile {
public:
    static constexpr int64_t kRotateBytes = 8 * 1024 * 1024;

    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    bool Open(const std::string& path, std::string* error = nullptr);
    // Appends and flushes, so the line is on disk when the record's send returns.
    bool Append(const std::string& line);
    void Close();
    bool isOpen() const { return m_file != nullptr; }
    const std::string& path() const { return m_path; }
    const std::string& lastError() const { return m_error; }

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
    std::string m_error;
};

// StateFolder() + "QXLog.log".
std::string DefaultLogFilePath();

} // namespace qxlog
