#pragma once

// The drop zones at the top of the screen. While a drag is under way anywhere on the desktop, a
// small black panel sits over each screen's notch (on Linux: one virtual notch centred on the top
// edge of the primary screen); it grows and shows "여기에 놓으면 셸프가 열려요" while the drag
// hovers over it, and a drop opens a new shelf right below it holding what was dropped.

#include "core/Geometry.h"
#include "core/MainThread.h"
#include "logic/NotchGeometry.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

class QMimeData;
class QPropertyAnimation;
class QVariantAnimation;

namespace vyo {

class Defaults;
class ShelfManager;

// Whether a drag hovers over one drop zone.
class NotchDropState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isTargeted READ isTargeted WRITE setTargeted NOTIFY isTargetedChanged)
public:
    using QObject::QObject;

    bool isTargeted() const { return m_isTargeted; }
    void setTargeted(bool targeted);

Q_SIGNALS:
    void isTargetedChanged();

private:
    bool m_isTargeted = false;
};

// The drawing inside a zone: a black shape with square top corners and rounded bottom corners
// (10 points, 22 while targeted) and, while targeted, the caption near the bottom edge.
class NotchDropContent : public QWidget
{
    Q_OBJECT
public:
    NotchDropContent(NotchDropState *state, QWidget *parent);

    // 0 when idle, 1 when targeted; animated between the two.
    double targetedProgress() const { return m_progress; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    NotchDropState *m_state;
    QVariantAnimation *m_animation;
    double m_progress = 0;
};

// The zone's drag destination: it accepts whatever a shelf accepts.
class NotchDropView : public QWidget
{
    Q_OBJECT
public:
    NotchDropView(NotchDropState *state, QWidget *parent);

    NotchDropState *state() const { return m_state; }
    NotchDropContent *content() const { return m_content; }

    // Animates the panel's frame; bound to the panel.
    std::function<void(bool targeted)> onTargetChange;
    // Opens the shelf; false refuses the drop.
    std::function<bool(const QMimeData *data)> onDrop;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    NotchDropState *m_state;
    NotchDropContent *m_content;
};

// One zone's window: a frameless tool window above other windows on every desktop that never
// takes focus.
class NotchPanel : public QWidget
{
    Q_OBJECT
public:
    explicit NotchPanel(const Rect &notchRect);

    const Rect &notchRect() const { return m_notchRect; }
    NotchDropState *state() const { return m_state; }
    NotchDropView *dropView() const { return m_view; }
    // The window's frame in screen coordinates (y upwards).
    Rect frame() const;

    // Grows the panel to the targeted frame, or shrinks it back to the notch, in 0.2 s.
    void animateTargeted(bool targeted);
    // Back to the notch's size, not targeted, at once: for a panel that serves the next drag.
    void reset();

private:
    Rect m_notchRect;
    NotchDropState *m_state;
    NotchDropView *m_view;
    QPropertyAnimation *m_animation;
};

class NotchDropTarget : public QObject
{
    Q_OBJECT
public:
    // Without a manager or defaults the process-wide ones are used, looked up when first needed.
    explicit NotchDropTarget(ShelfManager *manager = nullptr, Defaults *defaults = nullptr,
                             QObject *parent = nullptr);
    ~NotchDropTarget() override;

    // Shows a zone over every notch (when "notchDropEnabled" is on). Zones still up from a drag
    // that finished less than 0.3 s ago stay and serve this drag: their pending hide is cancelled.
    void show();
    // Closes every zone at once.
    void hide();
    // Closes every zone after `milliseconds`, unless a new drag shows them first.
    void hideLater(int milliseconds);
    bool isHidePending() const { return m_hideTask.isPending(); }

    const QList<NotchPanel *> &panels() const { return m_panels; }

    // Opens a shelf under the notch holding what was dropped; closes it again and answers false
    // when nothing usable arrived.
    bool openShelf(const Rect &notchRect, const QMimeData *data);

    // The screens, primary first; replaceable so tests can use synthetic screens.
    std::function<QList<NotchScreen>()> screens;

private:
    ShelfManager &manager() const;
    Defaults &defaults() const;
    NotchPanel *makePanel(const Rect &notchRect);

    ShelfManager *m_manager;
    Defaults *m_defaults;
    QList<NotchPanel *> m_panels;
    Delay m_hideTask;
};

// The screens Qt reports, primary first, in screen coordinates. Linux screens report no notch.
QList<NotchScreen> currentNotchScreens();

} // namespace vyo
