// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "Anchors.h"

#include <QEvent>
#include <QWidget>

namespace {

class TPlacer : public QObject {
public:
    TPlacer(QWidget* Parent, std::function<void(const QSize&)> Place)
        : QObject(Parent), FParent(Parent), FPlace(std::move(Place)) {
        Parent->installEventFilter(this);
        FPlace(Parent->size());
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        // A child whose text changed asks its parent for a new layout (its size may differ);
        // a hidden parent gets no such request, so it is placed again when it is shown.
        const QEvent::Type Type = Event->type();
        if (Watched == FParent &&
            (Type == QEvent::Resize || Type == QEvent::LayoutRequest || Type == QEvent::Show))
            FPlace(FParent->size());
        return false;
    }

private:
    QWidget* FParent;
    std::function<void(const QSize&)> FPlace;
};

} // namespace

void PlaceOnResize(QWidget* Parent, std::function<void(const QSize&)> Place) {
    new TPlacer(Parent, std::move(Place)); // owned by the parent
}
