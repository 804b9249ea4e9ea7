// Windows that belong to an owner without being its Qt children. Disabling a widget disables its
// child windows too, so a dialog or box shown while its owner is disabled (by a progress or
// loading window) would be dead; these keep the owner relation for stacking and placement only.
#pragma once

class QWidget;

// The top of a widget's parent chain: the application's main window for any of its dialogs.
QWidget* TopWindowOf(QWidget* w);

// Keeps `window` above the owner's window and centres it over it (nothing without an owner).
void PlaceOverOwner(QWidget* window, QWidget* owner);
