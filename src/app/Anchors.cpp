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
        // A child whose text changed asks its parent for a new layout: its size may differ.
        if (Watched == FParent &&
            (Event->type() == QEvent::Resize || Event->type() == QEvent::LayoutRequest))
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
