#pragma once

// Everything inside a shelf panel: the header (close, title and rename, stack, share and menu
// buttons), the content (empty state, the stack of the newest items, or the list of rows) and the
// status line; or, in place of the content, the share sheet. The view's size follows its state:
// 180 × 210 for an empty shelf, one item or the stack, 260 × 340 for the list, 260 × 380 for the
// share sheet.

#include "shelf/Shelf.h"

#include <QPointer>
#include <QSize>
#include <QWidget>

#include <functional>

#include <optional>

class QLabel;
class QLineEdit;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace vyo {

class DragSource;
class ElidingLabel;
class ShareCenter;
class ShareView;
class ShelfCommands;
class ShelfItemRow;

class ShelfView : public QWidget
{
    Q_OBJECT
public:
    ShelfView(Shelf *shelf, ShelfCommands *commands, QWidget *parent = nullptr);

    Shelf *shelf() const { return m_shelf; }
    ShelfCommands *commands() const;

    // The share center the share button and sheet use; the process-wide one unless set.
    ShareCenter &shareCenter() const;
    void setShareCenter(ShareCenter &center);

    // Whether items leave the shelf after every successful drag-out.
    bool removeAfterDragOut = false;

    static constexpr QSize collapsedSize{180, 210};
    static constexpr QSize listSize{260, 340};
    static constexpr QSize shareSize{260, 380};

    // The size the view asks for in its current state.
    QSize preferredSize() const;

    bool isExpanded() const { return m_expanded; }
    void setExpanded(bool expanded);
    bool isRenaming() const { return m_renaming; }
    bool isShowingShare() const { return m_showingShare; }
    // The share sheet while it is shown; null otherwise.
    ShareView *shareView() const;

    void beginRename();
    void commitRename();
    void cancelRename();
    // Shows the share sheet (asking the share center to share the shelf unless it is shared) or
    // goes back to the items; the share goes on either way.
    void toggleShare();
    // Removes dragged-out items after a move (or always, with removeAfterDragOut); an emptied
    // shelf closes.
    void finishDragOut(const QList<ShelfItem> &items, Qt::DropAction action);

    QList<ShelfItemRow *> rows() const;

Q_SIGNALS:
    void preferredSizeChanged(QSize size);
    // The user asked to close, clear, pin or unpin the shelf (the panel controller answers).
    void closeRequested();
    void clearAllRequested();
    void pinRequested();
    void unpinRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *makeHeader();
    QWidget *makeEmptyState();
    void rebuildContent();
    void rebuildStack();
    void rebuildList();
    void updateTitle();
    void updateShareButton();
    void updateSelection();
    void updateStatus();
    void updateSize();
    void placeStatus();
    void setShowingShare(bool showing);

    QPointer<Shelf> m_shelf;
    QPointer<ShelfCommands> m_commands;
    QPointer<ShareCenter> m_shareCenter;
    bool m_expanded = false;
    bool m_renaming = false;
    // Where a press on the header began, until it becomes a move or a click.
    std::optional<QPointF> m_headerPress;
    bool m_showingShare = false;
    QSize m_size;

    QStackedWidget *m_titleStack = nullptr;
    QWidget *m_titleGroup = nullptr;
    QLabel *m_colorDot = nullptr;
    ElidingLabel *m_nameLabel = nullptr;
    QLabel *m_pinMark = nullptr;
    QLineEdit *m_nameField = nullptr;
    QToolButton *m_stackButton = nullptr;
    QToolButton *m_shareButton = nullptr;
    QToolButton *m_menuButton = nullptr;
    QStackedWidget *m_content = nullptr;
    DragSource *m_stack = nullptr;
    QWidget *m_stackPile = nullptr;
    QLabel *m_stackCaption = nullptr;
    QWidget *m_list = nullptr;
    QVBoxLayout *m_rowsLayout = nullptr;
    DragSource *m_footer = nullptr;
    QLabel *m_footerLabel = nullptr;
    QLabel *m_status = nullptr;
    QToolButton *m_statusCancel = nullptr;
    QPointer<ShareView> m_shareView;
};

} // namespace vyo
