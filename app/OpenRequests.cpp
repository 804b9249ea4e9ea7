#include "OpenRequests.h"

#include "Folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A request: this header, then each path followed by a NUL byte (paths may hold any other byte).
constexpr char kHeader[] = "qxmoviedisc open request 1\n";
constexpr size_t kMaxRequestBytes = 4 * 1024 * 1024;
constexpr const char* kPrefix = "open-";
constexpr const char* kSuffix = ".request";

qx::Status WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return qx::Status::Fail(qx::ErrnoText("cannot write the open request", errno));
        }
        done += static_cast<size_t>(n);
    }
    return qx::Status::Ok();
}

// Reads and removes one request; empty when it is not one of ours (it is removed all the same).
std::vector<std::string> ReadRequest(const std::string& path) {
    std::vector<std::string> files;
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    unlink(path.c_str());
    if (fd < 0) {
        return files;
    }
    struct stat st {};
    std::string bytes;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
        static_cast<size_t>(st.st_size) <= kMaxRequestBytes) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = read(fd, &bytes[done], bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        bytes.resize(done);
    }
    close(fd);
    const std::string header = kHeader;
    if (bytes.size() <= header.size() || bytes.compare(0, header.size(), header) != 0 || bytes.back() != '\0') {
        return files;
    }
    for (size_t pos = header.size(); pos < bytes.size();) {
        const size_t end = bytes.find('\0', pos);
        if (end > pos) {
            files.push_back(bytes.substr(pos, end - pos));
        }
        pos = end + 1;
    }
    return files;
}

} // namespace

qx::Status HandOverOpenRequest(const std::vector<std::string>& files, int timeoutMs) {
    const qx::Result<std::string> folder = qx::RuntimeFolder();
    if (!folder) {
        return qx::Status::Fail(folder.error);
    }
    std::string bytes = kHeader;
    for (const std::string& file : files) {
        bytes += file;
        bytes += '\0';
    }
    if (bytes.size() > kMaxRequestBytes) {
        return qx::Status::Fail("too many files to hand over at once");
    }
    // Written under a name the window ignores, then renamed, so it only ever sees whole requests.
    const std::string stem = folder.value + kPrefix + std::to_string(getpid());
    const std::string partial = stem + ".partial";
    const std::string request = stem + kSuffix;
    const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return qx::Status::Fail(qx::ErrnoText("cannot make " + partial, errno));
    }
    qx::Status written = WriteAll(fd, bytes);
    if (close(fd) != 0 && written.ok()) {
        written = qx::Status::Fail(qx::ErrnoText("cannot write " + partial, errno));
    }
    if (!written.ok() || rename(partial.c_str(), request.c_str()) != 0) {
        const std::string reason = written.ok() ? qx::ErrnoText("cannot rename " + partial, errno) : written.error();
        unlink(partial.c_str());
        return qx::Status::Fail(reason);
    }
    QElapsedTimer clock;
    clock.start();
    while (access(request.c_str(), F_OK) == 0) {
        if (clock.elapsed() > timeoutMs) {
            if (unlink(request.c_str()) == 0) {
                return qx::Status::Fail("the open window did not take the files");
            }
            break; // taken at the last moment
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
    return qx::Status::Ok();
}

OpenRequestWatcher::OpenRequestWatcher(AddFiles add, QObject* parent) : QObject(parent), m_add(std::move(add)) {
    m_retry.setInterval(300);
    connect(&m_retry, &QTimer::timeout, this, [this] { OfferPending(); });
}

OpenRequestWatcher::~OpenRequestWatcher() = default;

qx::Status OpenRequestWatcher::Start() {
    const qx::Result<std::string> folder = qx::RuntimeFolder();
    if (!folder) {
        return qx::Status::Fail(folder.error);
    }
    m_folder = folder.value;
    m_watcher = new QFileSystemWatcher(this);
    if (!m_watcher->addPath(QString::fromStdString(m_folder))) {
        return qx::Status::Fail("cannot watch " + m_folder + " for open requests");
    }
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { TakeRequests(); });
    TakeRequests();
    return qx::Status::Ok();
}

void OpenRequestWatcher::TakeRequests() {
    const QStringList names =
        QDir(QString::fromStdString(m_folder))
            .entryList({QString(kPrefix) + "*" + kSuffix}, QDir::Files | QDir::System, QDir::Time | QDir::Reversed);
    for (const QString& name : names) {
        std::vector<std::string> files = ReadRequest(m_folder + name.toStdString());
        if (!files.empty()) {
            m_pending.push_back(std::move(files));
        }
    }
    OfferPending();
}

void OpenRequestWatcher::Offer(std::vector<std::string> files) {
    if (!files.empty()) {
        m_pending.push_back(std::move(files));
        OfferPending();
    }
}

void OpenRequestWatcher::OfferPending() {
    while (!m_pending.empty() && m_add(m_pending.front())) {
        m_pending.erase(m_pending.begin());
    }
    if (m_pending.empty()) {
        m_retry.stop();
    } else if (!m_retry.isActive()) {
        m_retry.start();
    }
}
