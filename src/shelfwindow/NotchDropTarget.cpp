#include "shelfwindow/NotchDropTarget.h"

#include "core/Defaults.h"
#include "core/Log.h"
#include "platform/Desktop.h"
#include "platform/ScreenCoordinates.h"
#include "platform/WindowSystem.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfItem.h"
#include "shelf/ShelfManager.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QWindow>

#include <algorithm>

namespace vyo {

namespace {

constexpr int animationMilliseconds = 200;
constexpr double idleCornerRadius = 10;
constexpr double targetedCornerRadius = 22;
// The caption's distance from the panel's bottom edge.
constexpr double captionBottomInset = 14;

QRect qtRect(const Rect &rect)
{
    return toQt(rect).toRect();
}

// A tray with an arrow pointing into it, drawn in the current pen.
void drawTrayArrow(QPainter &painter, const QRectF &box)
{
    const double w = box.width();
    const double h = box.height();
    QPainterPath tray;
    tray.moveTo(box.left(), box.top() + h * 0.55);
    tray.lineTo(box.left(), box.bottom());
    tray.lineTo(box.right(), box.bottom());
    tray.lineTo(box.right(), box.top() + h * 0.55);
    painter.drawPath(tray);
    const double midX = box.center().x();
    const double tip = box.top() + h * 0.68;
    painter.drawLine(QPointF(midX, box.top()), QPointF(midX, tip));
    painter.drawLine(QPointF(midX - w * 0.25, tip - h * 0.25), QPointF(midX, tip));
    painter.drawLine(QPointF(midX + w * 0.25, tip - h * 0.25), QPointF(midX, tip));
}

} // namespace

void NotchDropState::setTargeted(bool targeted)
{
    if (m_isTargeted == targeted)
        return;
    m_isTargeted = targeted;
    Q_EMIT isTargetedChanged();
}

NotchDropContent::NotchDropContent(NotchDropState *state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_animation(new QVariantAnimation(this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_animation->setDuration(animationMilliseconds);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_progress = value.toDouble();
        update();
    });
    connect(state, &NotchDropState::isTargetedChanged, this, [this] {
        m_animation->stop();
        m_animation->setStartValue(m_progress);
        m_animation->setEndValue(m_state->isTargeted() ? 1.0 : 0.0);
        m_animation->start();
    });
}

void NotchDropContent::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    const double radius =
        std::min({idleCornerRadius + (targetedCornerRadius - idleCornerRadius) * m_progress,
                  bounds.width() / 2, bounds.height() / 2});

    // Square top corners (the shape hangs from the screen's edge), rounded bottom corners.
    QPainterPath shape;
    shape.moveTo(bounds.topLeft());
    shape.lineTo(bounds.topRight());
    shape.lineTo(bounds.right(), bounds.bottom() - radius);
    shape.arcTo(
        QRectF(bounds.right() - 2 * radius, bounds.bottom() - 2 * radius, 2 * radius, 2 * radius),
        0, -90);
    shape.lineTo(bounds.left() + radius, bounds.bottom());
    shape.arcTo(QRectF(bounds.left(), bounds.bottom() - 2 * radius, 2 * radius, 2 * radius), -90,
                -90);
    shape.closeSubpath();
    painter.fillPath(shape, Qt::black);

    if (m_progress <= 0)
        return;
    QFont font = this->font();
    font.setPixelSize(13);
    font.setWeight(QFont::DemiBold);
    const QFontMetricsF metrics(font);
    const QString caption = QStringLiteral("여기에 놓으면 셸프가 열려요");
    const double iconSize = metrics.height() * 0.9;
    const double spacing = 6;
    const double width = iconSize + spacing + metrics.horizontalAdvance(caption);
    const double bottom = bounds.bottom() - captionBottomInset;
    const double left = bounds.center().x() - width / 2;

    painter.setOpacity(m_progress);
    painter.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    drawTrayArrow(painter, QRectF(left, bottom - metrics.height() + (metrics.height() - iconSize),
                                  iconSize, iconSize));
    painter.setFont(font);
    painter.drawText(QPointF(left + iconSize + spacing, bottom - metrics.descent()), caption);
}

NotchDropView::NotchDropView(NotchDropState *state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_content(new NotchDropContent(state, this))
{
    setAcceptDrops(true);
}

void NotchDropView::resizeEvent(QResizeEvent *)
{
    m_content->setGeometry(rect());
}

void NotchDropView::dragEnterEvent(QDragEnterEvent *event)
{
    // Only what a shelf accepts targets the zone.
    if (!ShelfItem::canAccept(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (m_state->isTargeted())
        return;
    m_state->setTargeted(true);
    if (onTargetChange)
        onTargetChange(true);
}

void NotchDropView::dragMoveEvent(QDragMoveEvent *event)
{
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void NotchDropView::dragLeaveEvent(QDragLeaveEvent *)
{
    m_state->setTargeted(false);
    if (onTargetChange)
        onTargetChange(false);
}

void NotchDropView::dropEvent(QDropEvent *event)
{
    // The zone keeps its size until it is hidden; only the caption goes.
    m_state->setTargeted(false);
    if (onDrop && onDrop(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

NotchPanel::NotchPanel(const Rect &notchRect)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint)
    , m_notchRect(notchRect)
    , m_state(new NotchDropState(this))
    , m_view(new NotchDropView(m_state, this))
    , m_animation(new QPropertyAnimation(this, "geometry", this))
{
    setObjectName(QStringLiteral("notchPanel"));
    setWindowTitle(QStringLiteral("Vyo 놓기 영역"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    m_animation->setDuration(animationMilliseconds);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    setGeometry(qtRect(notchRect));
}

Rect NotchPanel::frame() const
{
    return fromQt(QRectF(geometry()));
}

void NotchPanel::animateTargeted(bool targeted)
{
    m_animation->stop();
    m_animation->setStartValue(geometry());
    m_animation->setEndValue(
        qtRect(targeted ? NotchGeometry::targetedFrame(m_notchRect) : m_notchRect));
    m_animation->start();
}

void NotchPanel::reset()
{
    m_animation->stop();
    m_state->setTargeted(false);
    setGeometry(qtRect(m_notchRect));
}

QList<NotchScreen> currentNotchScreens()
{
    QList<NotchScreen> screens;
    QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary)
        return screens;
    const double primaryHeight = primary->geometry().height();
    screens.append({fromQt(QRectF(primary->geometry()), primaryHeight), 0, {}, {}});
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen != primary)
            screens.append({fromQt(QRectF(screen->geometry()), primaryHeight), 0, {}, {}});
    }
    return screens;
}

NotchDropTarget::NotchDropTarget(ShelfManager *manager, Defaults *defaults, QObject *parent)
    : QObject(parent)
    , screens(currentNotchScreens)
    , m_manager(manager)
    , m_defaults(defaults)
{}

NotchDropTarget::~NotchDropTarget()
{
    m_hideTask.cancel();
    qDeleteAll(std::exchange(m_panels, {}));
}

ShelfManager &NotchDropTarget::manager() const
{
    return m_manager ? *m_manager : ShelfManager::shared();
}

Defaults &NotchDropTarget::defaults() const
{
    return m_defaults ? *m_defaults : Defaults::shared();
}

void NotchDropTarget::show()
{
    if (!defaults().notchDropEnabled())
        return;
    const QList<Rect> rects = screens ? NotchGeometry::dropZoneRects(screens()) : QList<Rect>();

    if (!m_panels.isEmpty()) {
        // Zones from a drag that finished moments ago: this drag keeps them, unless the screens
        // changed in between.
        QList<Rect> shown;
        for (const NotchPanel *panel : std::as_const(m_panels))
            shown.append(panel->notchRect());
        if (shown == rects) {
            m_hideTask.cancel();
            for (NotchPanel *panel : std::as_const(m_panels))
                panel->reset();
            return;
        }
        hide();
    }

    for (const Rect &rect : rects)
        m_panels.append(makePanel(rect));
    vyoDebug(lcDrop, u"놓기 영역 %ld개 표시", m_panels.size());
}

void NotchDropTarget::hide()
{
    m_hideTask.cancel();
    if (m_panels.isEmpty())
        return;
    // A panel may be the one whose event is being handled: it goes once control is back.
    for (NotchPanel *panel : std::exchange(m_panels, {})) {
        panel->hide();
        panel->deleteLater();
    }
    vyoDebug(lcDrop, u"놓기 영역 닫음");
}

void NotchDropTarget::hideLater(int milliseconds)
{
    QPointer<NotchDropTarget> target(this);
    m_hideTask.start(milliseconds, [target] {
        if (target)
            target->hide();
    });
}

NotchPanel *NotchDropTarget::makePanel(const Rect &notchRect)
{
    auto *panel = new NotchPanel(notchRect);
    QPointer<NotchPanel> weakPanel(panel);
    QPointer<NotchDropTarget> target(this);
    panel->dropView()->onTargetChange = [weakPanel](bool targeted) {
        if (weakPanel)
            weakPanel->animateTargeted(targeted);
    };
    panel->dropView()->onDrop = [weakPanel, target, notchRect](const QMimeData *data) {
        if (!weakPanel || !target)
            return false;
        return target->openShelf(notchRect, data);
    };
    panel->winId();
    Desktop::shared().windowSystem().showOnAllDesktops(panel);
    panel->show();
    panel->raise();
    return panel;
}

bool NotchDropTarget::openShelf(const Rect &notchRect, const QMimeData *data)
{
    ShelfManager &manager = this->manager();
    const ShelfManager::Opened opened = manager.newShelf();
    // Centred under the notch, its top edge 14 points below the notch's bottom edge.
    ShelfManager::presentBelow(opened.window, NotchGeometry::shelfAnchor(notchRect));

    QPointer<Shelf> shelf(opened.shelf);
    if (ShelfItem::offersPromisedFiles(data))
        opened.shelf->hasReceivedDrop = true;
    if (ShelfItem::receivePromisedFiles(data,
                                        [shelf](const ShelfItem &item, const QUuid &replacing) {
                                            if (shelf)
                                                shelf->replace(replacing, item);
                                        }))
        return true;
    if (!shelf)
        return false;
    const QList<ShelfItem> items = data ? ShelfItem::items(data) : QList<ShelfItem>();
    if (!items.isEmpty()) {
        opened.shelf->hasReceivedDrop = true;
        opened.shelf->add(items);
        return true;
    }
    vyoInfo(lcDrop, u"위쪽 놓기 영역에 셸프가 받을 수 있는 것이 없어 놓기를 거절합니다");
    manager.close(opened.shelf);
    return false;
}

} // namespace vyo
