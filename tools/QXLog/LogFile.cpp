#include "LogFile.h"

#include "Folders.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qxlog {

LogFile::~LogFile() {
    Close();
}

std::string DefaultLogFilePath() {
    return qx::LogFilePath();
}

bool LogFile::Open(const std::string& path, std::string* error) {
    Close();
    m_path = path;
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        const qx::Status made = qx::MakeFolderPath(path.substr(0, slash));
        if (!made) {
            m_error = made.error();
            if (error)
                *error = m_error;
            return false;
        }
    }
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && st.st_size > kRotateBytes) {
        const std::string old = path + ".1";
        if (std::rename(path.c_str(), old.c_str()) != 0) {
            // Keep appending to the big file rather than losing lines.
            m_error = "cannot move " + path + " aside: " + std::strerror(errno);
        }
    }
    // Never blocks (a FIFO there would hold the program in open() for ever) and takes only a
    // regular file: a FIFO, a device or a folder under the log's name is refused.
    struct stat opened {};
    std::string why;
    int fd = -1;
    if (::stat(path.c_str(), &opened) == 0 && !S_ISREG(opened.st_mode))
        why = "not a regular file";
    else if ((fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644)) < 0)
        why = std::strerror(errno);
    else if (::fstat(fd, &opened) != 0)
        why = std::strerror(errno);
    else if (!S_ISREG(opened.st_mode))
        why = "not a regular file";
    if (why.empty()) {
        // Back to blocking writes: a full disk is reported, not an occasional short write.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        m_file = ::fdopen(fd, "a");
        if (!m_file)
            why = std::strerror(errno);
    }
    if (!m_file) {
        if (fd >= 0)
            ::close(fd);
        m_error = "cannot open " + path + ": " + why;
        if (error)
            *error = m_error;
        return false;
    }
    return true;
}

bool LogFile::Append(const std::string& line) {
    if (!m_file)
        return false;
    if (std::fwrite(line.data(), 1, line.size(), m_file) != line.size() || std::fflush(m_file) != 0) {
        m_error = "cannot write " + m_path + ": " + std::strerror(errno);
        clearerr(m_file);
        return false;
    }
    return true;
}

void LogFile::Close() {
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

} // namespace qxlog
