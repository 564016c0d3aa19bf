#include "shelfwindow/ShelfPanel.h"

#include "platform/PanelWindow.h"
#include "shelfwindow/ShelfCommands.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainterPath>
#include <QRegion>

namespace vyo {

namespace {

// X11's Lock modifier bit: with Caps Lock on, Ctrl+W is not the panel's key.
constexpr quint32 capsLockBit = 0x2;

} // namespace

ShelfPanel::ShelfPanel(Shelf *shelf, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::NoDropShadowWindowHint)
    , m_shelf(shelf)
{
    setObjectName(QStringLiteral("shelfPanel"));
    setWindowTitle(QStringLiteral("Vyo"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11NetWmWindowTypeUtility);
    setFocusPolicy(Qt::ClickFocus);
    setAcceptDrops(true);
    m_translucent = hasCompositor() || QGuiApplication::platformName() != QLatin1String("xcb");
    if (m_translucent)
        setAttribute(Qt::WA_TranslucentBackground);
}

void ShelfPanel::setContent(QWidget *content)
{
    m_content = content;
    content->setParent(this);
    content->move(0, 0);
    content->installEventFilter(this);
    // Clicks anywhere in the view give the panel the keyboard.
    for (QWidget *child : content->findChildren<QWidget *>())
        child->installEventFilter(this);
    resize(content->size());
}

ShelfPanel::KeyCommand ShelfPanel::keyCommand(int key, Qt::KeyboardModifiers modifiers,
                                              quint32 nativeModifiers)
{
    const Qt::KeyboardModifiers relevant =
        modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (key == Qt::Key_Space &&
        !(relevant & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return KeyCommand::preview;
    if (key == Qt::Key_Escape && relevant == Qt::NoModifier)
        return KeyCommand::close;
    if (relevant != Qt::ControlModifier || (nativeModifiers & capsLockBit))
        return KeyCommand::none;
    switch (key) {
    case Qt::Key_W:
        return KeyCommand::close;
    case Qt::Key_C:
        return KeyCommand::copy;
    case Qt::Key_V:
        return KeyCommand::paste;
    default:
        return KeyCommand::none;
    }
}

void ShelfPanel::keyPressEvent(QKeyEvent *event)
{
    switch (keyCommand(event->key(), event->modifiers(), event->nativeModifiers())) {
    case KeyCommand::preview:
        if (commands)
            commands->toggleQuickLook();
        return;
    case KeyCommand::close:
        if (onClose)
            onClose();
        return;
    case KeyCommand::copy:
        if (onCopy)
            onCopy();
        return;
    case KeyCommand::paste:
        if (commands)
            commands->paste();
        return;
    case KeyCommand::none:
        QWidget::keyPressEvent(event);
        return;
    }
}

void ShelfPanel::mousePressEvent(QMouseEvent *event)
{
    activateWindow();
    QWidget::mousePressEvent(event);
}

bool ShelfPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress && !isActiveWindow())
        activateWindow();
    if (event->type() == QEvent::ChildAdded) {
        if (auto *child = qobject_cast<QWidget *>(static_cast<QChildEvent *>(event)->child()))
            child->installEventFilter(this);
    }
    if (watched == m_content && event->type() == QEvent::Resize)
        resize(m_content->size());
    return QWidget::eventFilter(watched, event);
}

void ShelfPanel::enterEvent(QEnterEvent *event)
{
    if (m_shelf)
        m_shelf->removeMissingFiles();
    QWidget::enterEvent(event);
}

void ShelfPanel::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    Q_EMIT moved();
}

void ShelfPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateShape();
}

void ShelfPanel::updateShape()
{
    // Without a compositor the corners cannot be transparent: cut them off instead.
    if (m_translucent)
        return;
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 22, 22);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

bool ShelfPanel::isOwnDrag(const QDropEvent *event) const
{
    const auto *source = qobject_cast<const QWidget *>(event->source());
    return source && source->window() == this;
}

void ShelfPanel::dragEnterEvent(QDragEnterEvent *event)
{
    if (isOwnDrag(event) || !ShelfItem::canAccept(event->mimeData())) {
        event->ignore();
        return;
    }
    if (m_shelf)
        m_shelf->setDropTargeted(true);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ShelfPanel::dragMoveEvent(QDragMoveEvent *event)
{
    if (isOwnDrag(event)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ShelfPanel::dragLeaveEvent(QDragLeaveEvent *event)
{
    if (m_shelf)
        m_shelf->setDropTargeted(false);
    QWidget::dragLeaveEvent(event);
}

void ShelfPanel::dropEvent(QDropEvent *event)
{
    if (!m_shelf || isOwnDrag(event)) {
        event->ignore();
        return;
    }
    m_shelf->setDropTargeted(false);
    QPointer<Shelf> shelf = m_shelf;
    if (ShelfItem::receivePromisedFiles(event->mimeData(), [shelf](const ShelfItem &item) {
            if (shelf)
                shelf->add({item});
        })) {
        m_shelf->hasReceivedDrop = true;
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    const QList<ShelfItem> items = ShelfItem::items(event->mimeData());
    if (items.isEmpty()) {
        event->ignore();
        return;
    }
    m_shelf->hasReceivedDrop = true;
    m_shelf->add(items);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

} // namespace vyo
