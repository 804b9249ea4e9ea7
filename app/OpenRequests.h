// Movies handed to the open window by a later start of the program (a desktop's "Open with" while
// the window is open). Only one window runs per user, so the later start writes a request file
// into the private runtime folder and ends; the window watches that folder and adds the movies as
// if chosen with "Add Video files".
#pragma once

#include "Status.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class QFileSystemWatcher;

// The later start: writes the request and waits (serving its own events) up to timeoutMs for the
// window to take it. Fails when nobody took it in time; the request is then withdrawn.
qx::Status HandOverOpenRequest(const std::vector<std::string>& files, int timeoutMs);

// The window's side. `add` returns false while the window cannot take movies (a job or another
// add runs); the request then waits and is offered again.
class OpenRequestWatcher : public QObject {
public:
    using AddFiles = std::function<bool(const std::vector<std::string>&)>;
    OpenRequestWatcher(AddFiles add, QObject* parent = nullptr);
    ~OpenRequestWatcher() override;
    // Starts watching; requests already waiting are taken at once.
    qx::Status Start();
    // Queues movies as if they had come in a request (nothing when empty).
    void Offer(std::vector<std::string> files);

private:
    void TakeRequests();
    void OfferPending();

    AddFiles m_add;
    std::string m_folder;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer m_retry;
    std::vector<std::vector<std::string>> m_pending;
};
