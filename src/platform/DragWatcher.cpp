#include "platform/DragWatcher.h"

#include "core/Log.h"
#include "platform/Toolkit.h"
#include "platform/x11/X11DragWatcher.h"

#include <QGuiApplication>

#include <chrono>

namespace vyo {

namespace {

// Stands in where nothing outside the application can be seen; it never reports a press.
class UnavailableDragWatcher final : public DragWatcher
{
public:
    explicit UnavailableDragWatcher(QString reason)
        : m_reason(std::move(reason))
    {}

    bool start() override { return false; }
    QString unavailableReason() const override { return m_reason; }
    qint64 dragChangeCount() override { return 0; }
    bool isLeftButtonDown() override { return false; }
    Point pointerLocation() override { return {}; }
    std::optional<QString> frontmostApplicationID() override { return std::nullopt; }

private:
    QString m_reason;
};

} // namespace

double DragWatcher::uptime() const
{
    // The steady clock is CLOCK_MONOTONIC here: it never jumps with wall-clock changes.
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::unique_ptr<DragWatcher> makeDragWatcher()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb")) {
        // Through XWayland only the presses and drags of other X11 applications can be seen.
        if (isWaylandSession())
            vyoWarning(lcShake, u"Wayland 세션이라 X11 앱의 드래그만 볼 수 있음");
        return std::make_unique<X11DragWatcher>();
    }
    return std::make_unique<UnavailableDragWatcher>(platform.isEmpty()
                                                        ? QStringLiteral("화면 세션 없음")
                                                        : QStringLiteral("%1 세션").arg(platform));
}

} // namespace vyo
