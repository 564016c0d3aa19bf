#pragma once

// The content of a shelf's window and the place things are dropped on it: it fills the window,
// holds the shelf view, takes drops from other applications (never from its own window, which
// does not even highlight) and, when the pointer comes in, lets go of files that have vanished.

#include "shelf/Shelf.h"

#include <QPointer>
#include <QWidget>

namespace vyo {

class ShelfDropView : public QWidget
{
    Q_OBJECT
public:
    explicit ShelfDropView(Shelf *shelf, QWidget *parent = nullptr);

    Shelf *shelf() const { return m_shelf; }

protected:
    void enterEvent(QEnterEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // Whether the drag comes from an item of this same window.
    bool isOwnDrag(const QDropEvent *event) const;

    QPointer<Shelf> m_shelf;
};

} // namespace vyo
