#include "OwnedWindow.h"

#include <QWidget>
#include <QWindow>

QWidget* TopWindowOf(QWidget* w) {
    if (!w)
        return nullptr;
    QWidget* top = w->window();
    while (top->parentWidget())
        top = top->parentWidget()->window();
    return top;
}

void PlaceOverOwner(QWidget* window, QWidget* owner) {
    if (!window || !owner)
        return;
    QWidget* top = owner->window();
    window->winId();
    if (QWindow* ownerHandle = top->windowHandle())
        window->windowHandle()->setTransientParent(ownerHandle);
    window->adjustSize();
    window->move(top->frameGeometry().center() - window->rect().center());
}
