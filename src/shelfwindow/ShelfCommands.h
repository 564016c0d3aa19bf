#pragma once

// The one object per shelf that carries out what the user asks of the shelf's items from menus
// and keys: which items a command applies to, the preview, sharing, paste, quick actions with their
// progress and result messages, opening, copying and removing.

#include "actions/QuickAction.h"
#include "shelf/Shelf.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

namespace vyo {

class PreviewWindow;

class ShelfCommands : public QObject
{
    Q_OBJECT
public:
    explicit ShelfCommands(Shelf *shelf, QObject *parent = nullptr);
    ~ShelfCommands() override;

    Shelf *shelf() const { return m_shelf; }

    // The shelf's panel (set by the panel controller): the preview opens beside it and the share
    // menu is anchored in it.
    QPointer<QWidget> panel;

    // What the preview shows, and where it starts.
    QList<QUrl> previewURLs;
    int previewStartIndex = 0;

    // The selected items in shelf order, or all items when the selection names none.
    QList<ShelfItem> targetItems() const;
    // Whether some file or image item of the shelf still exists.
    bool canPreview() const;
    // Opens the preview of the shelf's existing files, or closes the preview when it is open
    // (there is one for all shelves); beeps when there is nothing to preview.
    void togglePreview();
    bool isPreviewVisible() const;
    // The one preview window of the application; null until a shelf first opened it.
    PreviewWindow *previewWindow() const;
    // Offers the items (default: the targets) to the share menu, anchored near the header's end.
    void share(const std::optional<QList<ShelfItem>> &items = std::nullopt);
    // Adds what the clipboard holds; beeps when nothing usable is there.
    void paste();
    // Puts the items on the clipboard, in order.
    void copy(const QList<ShelfItem> &items);
    // Removes the items; announces an emptied shelf (see `emptied`).
    void remove(const QList<ShelfItem> &items);
    // Opens a file, image or link with the desktop's default application; texts do nothing.
    void open(const ShelfItem &item);
    // Shows the files in the file manager, one window selecting them.
    void reveal(const QList<QUrl> &urls);
    // Runs a quick action in the background on the items (default: the targets), with its
    // progress text and result message in the shelf's status line.
    void runQuickAction(QuickAction action,
                        const std::optional<QList<ShelfItem>> &items = std::nullopt);
    // Shows a status message for 2.5 seconds; an older message's timer never clears a newer one.
    void flashStatus(const QString &text);

Q_SIGNALS:
    // A quick action finished (successfully or not) and its result is on the shelf.
    void quickActionFinished(bool succeeded);
    // A removal left the shelf empty (the panel controller closes the shelf).
    void emptied();

private:
    QPointer<Shelf> m_shelf;
};

} // namespace vyo
