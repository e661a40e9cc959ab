#include "ui/photo_list.h"

#include <QScopeGuard>

#include <utility>

namespace ui {

PhotoList::PhotoList(QWidget* parent) : QListWidget(parent) {}

// An event handled during another one (in an event loop run by a reaction) belongs to the outer
// move: its selection changes are told with the outer one's, or, when it comes while the outer one
// is being told, once it has been handled; the move keeps starting where the outer one did.
template <class Handler>
void PhotoList::HandleInput(Handler&& handler)
{
    const bool first = !fMoving;
    if (first) {
        fMoving = true;
        fMoveStart = currentIndex();
    }
    const auto end = qScopeGuard([this, first] {
        if (!first)
            return;
        fMoving = false;
        fMoveStart = QPersistentModelIndex();
    });
    {
        ++fDepth;
        const auto leave = qScopeGuard([this] { --fDepth; });
        handler();
    }
    if (fDepth == 0)
        emit inputHandled();
}

void PhotoList::keyPressEvent(QKeyEvent* event)
{
    HandleInput([&] { QListWidget::keyPressEvent(event); });
}

void PhotoList::mousePressEvent(QMouseEvent* event)
{
    HandleInput([&] { QListWidget::mousePressEvent(event); });
}

void PhotoList::mouseMoveEvent(QMouseEvent* event)
{
    HandleInput([&] { QListWidget::mouseMoveEvent(event); });
}

void PhotoList::mouseReleaseEvent(QMouseEvent* event)
{
    HandleInput([&] { QListWidget::mouseReleaseEvent(event); });
}

void PhotoList::mouseDoubleClickEvent(QMouseEvent* event)
{
    HandleInput([&] { QListWidget::mouseDoubleClickEvent(event); });
}

// Typed text selects the photo whose name starts with it.
void PhotoList::inputMethodEvent(QInputMethodEvent* event)
{
    HandleInput([&] { QListWidget::inputMethodEvent(event); });
}

// The view's own way of making an item current also sets the start of Shift moves (which the
// selection model does not know); the selection command it asks for is "none" meanwhile.
void PhotoList::SetKeyboardRow(const QModelIndex& index)
{
    const bool keep = std::exchange(fKeepSelection, true);
    const auto restore = qScopeGuard([this, keep] { fKeepSelection = keep; });
    setCurrentIndex(index);
}

QItemSelectionModel::SelectionFlags PhotoList::selectionCommand(const QModelIndex& index, const QEvent* event) const
{
    if (fKeepSelection)
        return QItemSelectionModel::NoUpdate;
    return QListWidget::selectionCommand(index, event);
}

} // namespace ui
