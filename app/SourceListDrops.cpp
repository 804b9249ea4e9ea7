#include "SourceListDrops.h"

#include <QAbstractScrollArea>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

std::vector<std::string> DroppedLocalFiles(const QMimeData* data) {
    std::vector<std::string> files;
    if (data == nullptr || !data->hasUrls()) {
        return files;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
            files.push_back(url.toLocalFile().toStdString());
        }
    }
    return files;
}

SourceListDrops::SourceListDrops(QAbstractScrollArea* list, std::function<bool()> ready,
                                 std::function<void(std::vector<std::string>)> add)
    : QObject(list), m_ready(std::move(ready)), m_add(std::move(add)) {
    list->setAcceptDrops(true);
    list->viewport()->setAcceptDrops(true);
    list->viewport()->installEventFilter(this);
}

bool SourceListDrops::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
        return QObject::eventFilter(watched, event);
    }
    // The list's own drag handling (moving rows) never sees these: only files come in.
    auto* drop = static_cast<QDropEvent*>(event);
    std::vector<std::string> files = DroppedLocalFiles(drop->mimeData());
    if (files.empty() || !m_ready()) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (type == QEvent::Drop) {
        m_add(std::move(files));
    }
    return true;
}
