#pragma once

// The shelf window's two menus, built fresh each time one opens (the caller owns the menu): the
// header's shelf menu and the right-click menu of a row or the stack. Both hold the same
// quick-action submenu, "작업".

#include <QObject>
#include <QUuid>

#include <functional>
#include <optional>

class QMenu;

namespace vyo {

class ShelfCommands;
class ShelfView;

// The target of one menu entry: running it calls its handler.
class MenuAction : public QObject
{
    Q_OBJECT
public:
    explicit MenuAction(std::function<void()> handler, QObject *parent = nullptr)
        : QObject(parent)
        , handler(std::move(handler))
    {}

    std::function<void()> handler;

public Q_SLOTS:
    void run()
    {
        if (handler)
            handler();
    }
};

namespace ShelfMenus {

// The header's "…" menu of the view's shelf: rename, colour, pin, list or stack, preview, share,
// quick actions, copy, paste, the file entries and clearing. A child of the view.
QMenu *shelfMenu(ShelfView *view);

// The right-click menu for a row (a clicked item) or for the stack (no item). A clicked item
// that is not selected becomes the only selected one first, so the menu acts on what the user
// sees selected; the stack's menu acts on all items.
QMenu *contextMenu(ShelfCommands &commands, const std::optional<QUuid> &clickedItem);

} // namespace ShelfMenus

} // namespace vyo
