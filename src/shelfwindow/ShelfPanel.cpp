#include "shelfwindow/ShelfPanel.h"

#include "platform/Desktop.h"
#include "platform/WindowSystem.h"
#include "shelfwindow/ShelfCommands.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainterPath>
#include <QRegion>
#include <QWindow>

namespace vyo {

namespace {

// X11's Lock modifier bit: with Caps Lock on, Ctrl+W is not the panel's key.
constexpr quint32 capsLockBit = 0x2;

} // namespace

ShelfPanel::ShelfPanel(Shelf *shelf, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::NoDropShadowWindowHint)
{
    setObjectName(QStringLiteral("shelfPanel"));
    setWindowTitle(QStringLiteral("Vyo"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11NetWmWindowTypeUtility);
    setFocusPolicy(Qt::ClickFocus);
    m_dropView = new ShelfDropView(shelf, this);
    m_translucent = Desktop::shared().windowSystem().hasCompositor() ||
                    QGuiApplication::platformName() != QLatin1String("xcb");
    if (m_translucent)
        setAttribute(Qt::WA_TranslucentBackground);
}

void ShelfPanel::setContent(QWidget *content)
{
    m_content = content;
    content->setParent(m_dropView);
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
            commands->togglePreview();
        return;
    case KeyCommand::close:
        Q_EMIT closeRequested();
        return;
    case KeyCommand::copy:
        Q_EMIT copyRequested();
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

bool ShelfPanel::hasKeyboard() const
{
    return windowHandle() && QGuiApplication::focusWindow() == windowHandle();
}

void ShelfPanel::mousePressEvent(QMouseEvent *event)
{
    activateWindow();
    QWidget::mousePressEvent(event);
}

bool ShelfPanel::eventFilter(QObject *watched, QEvent *event)
{
    // Every press asks for the keyboard, also one that a child takes for itself (the header
    // moving the panel, the footer starting a drag) and so never reaches mousePressEvent.
    // isActiveWindow() cannot tell: it is always true for a tool window without a parent.
    if (event->type() == QEvent::MouseButtonPress && !hasKeyboard())
        activateWindow();
    if (event->type() == QEvent::ChildAdded) {
        if (auto *child = qobject_cast<QWidget *>(static_cast<QChildEvent *>(event)->child()))
            child->installEventFilter(this);
    }
    if (watched == m_content && event->type() == QEvent::Resize)
        resize(m_content->size());
    return QWidget::eventFilter(watched, event);
}

void ShelfPanel::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    Q_EMIT moved();
}

void ShelfPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_dropView->resize(size());
    updateShape();
    // A translucent window is cleared only where it is repainted; some compositors keep what
    // the old size showed. Every size change repaints, and so clears, the whole window.
    if (m_translucent)
        update();
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

} // namespace vyo
