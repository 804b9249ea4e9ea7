// Internal: disposing of the Qt objects (socket notifiers, timers) that watch descriptors.
// deleteLater() is needed while one of them is emitting (we may be inside its own signal), but a
// deferred delete is never run once the event loop has ended, so outside signals they are deleted
// at once.
#pragma once

#include <QObject>

namespace qx {

// Counts, per thread, how deep we are inside signals of our watchers.
struct WatcherSignalScope {
    WatcherSignalScope() { ++Depth(); }
    ~WatcherSignalScope() { --Depth(); }
    static int& Depth() {
        thread_local int depth = 0;
        return depth;
    }
};

// Stops `object`'s signals and deletes it (now, or later when inside a watcher's signal).
template <class T> void DisposeWatcher(T*& object) {
    if (object == nullptr)
        return;
    QObject::disconnect(object, nullptr, nullptr, nullptr);
    if (WatcherSignalScope::Depth() > 0)
        object->deleteLater();
    else
        delete object;
    object = nullptr;
}

} // namespace qx
