#include "shake/DragShakeMonitor.h"

#include "core/Defaults.h"
#include "core/Log.h"
#include "logic/ShakeSensitivity.h"
#include "platform/Desktop.h"
#include "platform/DragWatcher.h"

#include <chrono>

namespace vyo {

namespace {

// 1/60 s, rounded to the timer's milliseconds.
constexpr std::chrono::milliseconds pollInterval{16};

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

DragShakeMonitor::DragShakeMonitor(QObject *parent)
    : DragShakeMonitor(Desktop::shared().makeDragWatcher(), nullptr, parent)
{}

DragShakeMonitor::DragShakeMonitor(std::unique_ptr<DragWatcher> watcher, Defaults *defaults,
                                   QObject *parent)
    : QObject(parent)
    , m_watcher(std::move(watcher))
    , m_defaults(defaults)
{
    m_timer.setInterval(pollInterval);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &DragShakeMonitor::poll);
}

DragShakeMonitor::~DragShakeMonitor() = default;

Defaults &DragShakeMonitor::defaults() const
{
    return m_defaults ? *m_defaults : Defaults::shared();
}

void DragShakeMonitor::start()
{
    if (m_startRequested)
        return;
    m_startRequested = true;
    if (!m_watcher || !m_watcher->start()) {
        vyoWarning(lcShake,
                   u"이 세션에서는 다른 앱의 드래그를 볼 수 없어 흔들기와 위쪽 놓기 영역이 "
                   u"동작하지 않아요 (%{public}s)",
                   m_watcher ? m_watcher->unavailableReason() : QStringLiteral("감시 없음"));
        return;
    }
    // The watcher lives and dies with the monitor, so the connection needs no guard of its own.
    m_mouseDownMonitor = connect(m_watcher.get(), &DragWatcher::leftMouseDown, this,
                                 &DragShakeMonitor::beginTracking);
}

void DragShakeMonitor::beginTracking()
{
    if (!m_watcher)
        return;
    Defaults &defaults = this->defaults();
    // With both features off a press costs nothing beyond this check.
    if (!defaults.shakeEnabled() && !defaults.notchDropEnabled())
        return;

    // A press while a recognised drag is still held (a second pointing device) would otherwise
    // lose that drag's end, leaving the drop zones up: it is reported first.
    if (m_timer.isActive() && m_isDragging)
        reportEnd();

    m_initialChangeCount = m_watcher->dragChangeCount();
    m_isDragging = false;
    m_didShake = false;
    // The settings are read at every press: a change applies from the next drag on, and the
    // 60 Hz poll reads none.
    m_shakeEnabled = defaults.shakeEnabled();
    m_detector = ShakeDetector(ShakeSensitivity::current(defaults).config());
    vyoDebug(lcShake, u"추적 시작 (changeCount %ld, 타이머 실행 중 %{bool}d)", m_initialChangeCount,
             boolText(m_timer.isActive()));
    if (m_timer.isActive())
        return;
    m_timer.start();
}

void DragShakeMonitor::poll()
{
    const DragWatcher::PointerState state =
        m_watcher ? m_watcher->pointerState() : DragWatcher::PointerState();
    if (state.leftButtonDown) {
        if (!m_isDragging) {
            const qint64 changeCount = m_watcher->dragChangeCount();
            // A click, or a press that has not started a drag yet.
            if (changeCount == m_initialChangeCount)
                return;
            m_isDragging = true;
            vyoDebug(lcShake, u"드래그 시작 감지 (changeCount %ld)", changeCount);
            if (onDragBegan)
                onDragBegan();
        }
        // With shaking off the poll serves only the drag's start and end.
        if (!m_shakeEnabled)
            return;
        const Point pointer = state.location;
        if (!m_detector.addSample(pointer.x, m_watcher->uptime()))
            return;
        // The detector stays latched, so a second shake in this drag reports nothing either.
        if (const std::optional<QString> application = m_watcher->frontmostApplicationID();
            application && defaults().excludedBundleIDs().contains(*application)) {
            vyoInfo(lcShake, u"제외 앱에서 흔들기 감지, 무시: %{public}s", *application);
            return;
        }
        vyoInfo(lcShake, u"흔들기 감지");
        m_didShake = true;
        if (onShake)
            onShake(pointer);
        return;
    }

    m_timer.stop();
    reportEnd();
}

void DragShakeMonitor::reportEnd()
{
    vyoDebug(lcShake, u"추적 종료 (드래그 %{bool}d, 흔들기 %{bool}d)", boolText(m_isDragging),
             boolText(m_didShake));
    if (m_isDragging && onDragFinished)
        onDragFinished();
    if (m_didShake && onDragEnded)
        onDragEnded();
}

} // namespace vyo
