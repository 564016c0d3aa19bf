#include "core/MainThread.h"

namespace vyo {

Delay::Delay()
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        auto action = std::move(m_action);
        m_action = nullptr;
        if (action)
            action();
    });
}

void Delay::start(int milliseconds, std::function<void()> action)
{
    m_action = std::move(action);
    m_timer.start(milliseconds);
}

void Delay::cancel()
{
    m_timer.stop();
    m_action = nullptr;
}

void callLater(QObject *context, int milliseconds, std::function<void()> action)
{
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, context, std::move(action));
}

} // namespace vyo
