#pragma once

// A drag watcher that tests drive by hand: press, move, start a drag, release, pick the
// application in front, advance the clock.

#include "platform/DragWatcher.h"

namespace vyo {

class FakeDragWatcher : public DragWatcher
{
    Q_OBJECT
public:
    using DragWatcher::DragWatcher;

    bool start() override;
    QString unavailableReason() const override { return m_unavailableReason; }
    qint64 dragChangeCount() override { return m_changeCount; }
    bool isLeftButtonDown() override { return m_leftButtonDown; }
    Point pointerLocation() override { return m_location; }
    std::optional<QString> frontmostApplicationID() override { return m_frontmost; }
    double uptime() const override { return m_uptime; }

    // Makes start() fail with this reason (an empty reason lets it succeed again).
    void setUnavailable(const QString &reason) { m_unavailableReason = reason; }
    bool isStarted() const { return m_started; }
    int startCount() const { return m_startCount; }

    // Holds the left button down and reports the press, as a press in another window does.
    void pressLeftButton();
    void releaseLeftButton() { m_leftButtonDown = false; }
    // Another application starts a drag: the drag counter moves.
    void beginDrag() { ++m_changeCount; }
    void moveTo(Point location) { m_location = location; }
    void setFrontmostApplicationID(const std::optional<QString> &id) { m_frontmost = id; }
    void setUptime(double seconds) { m_uptime = seconds; }
    void advance(double seconds) { m_uptime += seconds; }

private:
    QString m_unavailableReason;
    bool m_started = false;
    int m_startCount = 0;
    qint64 m_changeCount = 0;
    bool m_leftButtonDown = false;
    Point m_location;
    std::optional<QString> m_frontmost;
    double m_uptime = 1000.0;
};

} // namespace vyo
