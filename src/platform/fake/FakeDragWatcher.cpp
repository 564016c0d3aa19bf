#include "platform/fake/FakeDragWatcher.h"

namespace vyo {

bool FakeDragWatcher::start()
{
    ++m_startCount;
    m_started = m_unavailableReason.isEmpty();
    return m_started;
}

void FakeDragWatcher::pressLeftButton()
{
    m_leftButtonDown = true;
    if (m_started)
        Q_EMIT leftMouseDown();
}

} // namespace vyo
