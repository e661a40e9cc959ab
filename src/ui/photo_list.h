// The explorer's list of photos. The view's own handling of one key or mouse event can change the
// selection more than once: a key move selects the new row as it makes it current, then selects it
// again as the rectangle it moved over. The list tells when such an event has been handled in full,
// so that a reaction to the selection (which may put an earlier one back) comes once, after the view
// has finished, and is not undone by the rest of the view's handling.
#pragma once

#include <QListWidget>
#include <QPersistentModelIndex>

namespace ui {

class PhotoList : public QListWidget {
    Q_OBJECT

public:
    explicit PhotoList(QWidget* parent = nullptr);

    // True while the view handles a key or mouse event (not while inputHandled is emitted).
    bool HandlingInput() const { return fDepth > 0; }
    // The current item when the key or mouse event being handled or announced arrived: where the
    // keyboard's row was before the move. Invalid outside such an event.
    QModelIndex MoveStart() const { return fMoveStart; }

    // Makes index the keyboard's row and the row the next Shift move extends from, leaving the
    // selection as it is.
    void SetKeyboardRow(const QModelIndex& index);

signals:
    // The view has handled a key or mouse event in full.
    void inputHandled();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;

private:
    template <class Handler>
    void HandleInput(Handler&& handler);

    int fDepth = 0;              // key and mouse events being handled, one inside another
    bool fMoving = false;        // from the first of them until it has been told
    bool fKeepSelection = false; // the view makes an item current without selecting anything
    QPersistentModelIndex fMoveStart;
};

} // namespace ui
