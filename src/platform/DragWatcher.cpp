#include "platform/DragWatcher.h"

#include <chrono>

namespace vyo {

DragWatcher::PointerState DragWatcher::pointerState()
{
    const bool down = isLeftButtonDown();
    return {down, pointerLocation()};
}

double DragWatcher::uptime() const
{
    // The steady clock is CLOCK_MONOTONIC here: it never jumps with wall-clock changes.
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace vyo
