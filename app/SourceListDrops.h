// Files and folders dragged from a file manager onto the source list: they are added as "Add
// Video files" adds chosen ones, in the order dropped (a folder gives the movies in it).
#pragma once

#include <QObject>

#include <functional>
#include <string>
#include <vector>

class QAbstractScrollArea;
class QMimeData;

// The local files a drag carries, in its order; addresses of other machines are left out.
std::vector<std::string> DroppedLocalFiles(const QMimeData* data);

class SourceListDrops : public QObject {
public:
    // `ready` says whether the list takes movies now (not while a job runs or movies are being
    // added); `add` receives the dropped paths. Installs itself on the list's viewport.
    SourceListDrops(QAbstractScrollArea* list, std::function<bool()> ready,
                    std::function<void(std::vector<std::string>)> add);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<bool()> m_ready;
    std::function<void(std::vector<std::string>)> m_add;
};
