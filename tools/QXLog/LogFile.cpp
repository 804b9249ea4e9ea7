#include "LogFile.h"

#include "Folders.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace qxlog {

LogFile::~LogFile() {
    Close();
}

std::string DefaultLogFilePath() {
    return qx::StateFolder() + "QXLog.log";
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
    m_file = std::fopen(path.c_str(), "a");
    if (!m_file) {
        m_error = "cannot open " + path + ": " + std::strerror(errno);
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
