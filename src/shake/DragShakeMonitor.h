#pragma once

// Notices drags anywhere on the desktop and a shake of the pointer during one. A drag is
// recognised only by the system's drag counter moving while the left button is held after a
// mouse-down in another application; the pointer is then polled 60 times a second until the
// button is released, and nothing is polled at any other time. What is being dragged is never
// read.

#include "core/Geometry.h"
#include "logic/ShakeDetector.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace vyo {

class Defaults;
class DragWatcher;

class DragShakeMonitor : public QObject
{
    Q_OBJECT
public:
    // Watches this session's desktop (see Desktop::makeDragWatcher) with the process-wide defaults.
    explicit DragShakeMonitor(QObject *parent = nullptr);
    // Watches through `watcher`; without defaults the process-wide ones are used.
    DragShakeMonitor(std::unique_ptr<DragWatcher> watcher, Defaults *defaults,
                     QObject *parent = nullptr);
    ~DragShakeMonitor() override;

    // A shake was recognised during a drag, at this pointer position.
    std::function<void(Point pointer)> onShake;
    // The button was released after a drag during which a shake was reported.
    std::function<void()> onDragEnded;
    // A drag was recognised (once per drag).
    std::function<void()> onDragBegan;
    // The button was released after any recognised drag; called before onDragEnded.
    std::function<void()> onDragFinished;

    // Starts listening for mouse-downs anywhere. Called once after the callbacks are set; later
    // calls do nothing. Where the session hides other applications (Wayland, no display) it logs
    // that once and the monitor stays idle.
    void start();

    // Run for every left mouse-down outside the application: resets the per-drag state and the
    // detector (with the sensitivity and the shake setting stored now) and starts polling.
    void beginTracking();
    // One tick of the 60 Hz poll while a mouse-down is tracked.
    void poll();

    bool isStarted() const { return m_mouseDownMonitor; }
    bool isTracking() const { return m_timer.isActive(); }
    qint64 initialChangeCount() const { return m_initialChangeCount; }
    bool isDragging() const { return m_isDragging; }
    bool didShake() const { return m_didShake; }
    const ShakeDetector &detector() const { return m_detector; }
    DragWatcher *watcher() const { return m_watcher.get(); }

private:
    Defaults &defaults() const;
    // Logs the end of tracking and calls onDragFinished, then onDragEnded, as they apply.
    void reportEnd();

    std::unique_ptr<DragWatcher> m_watcher;
    Defaults *m_defaults;
    QMetaObject::Connection m_mouseDownMonitor;
    bool m_startRequested = false;
    QTimer m_timer;
    ShakeDetector m_detector;
    qint64 m_initialChangeCount = 0;
    bool m_isDragging = false;
    bool m_didShake = false;
    bool m_shakeEnabled = false;
};

} // namespace vyo
