#include "ui/window_anchors.h"

#include <QEvent>
#include <QResizeEvent>
#include <QWidget>

WindowAnchors::WindowAnchors(QWidget* window) : QObject(window), templateSize_(window->size()) {
    window->installEventFilter(this);
}

void WindowAnchors::Add(QWidget* control, int edges) {
    anchored_.push_back({control, control->geometry(), edges});
}

bool WindowAnchors::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && watched == parent())
        Apply(static_cast<QResizeEvent*>(event)->size());
    return false;
}

void WindowAnchors::Apply(QSize size) {
    // Below the template size the growing controls shrink; the window's minimum size keeps them usable.
    const int dx = size.width() - templateSize_.width();
    const int dy = size.height() - templateSize_.height();
    for (const Anchored& a : anchored_) {
        QRect r = a.place;
        if (a.edges & MoveRight) r.translate(dx, 0);
        if (a.edges & MoveDown) r.translate(0, dy);
        if (a.edges & GrowWide) r.setWidth(r.width() + dx);
        if (a.edges & GrowTall) r.setHeight(r.height() + dy);
        a.control->setGeometry(r);
    }
}
