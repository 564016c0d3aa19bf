#include "logic/ShakeDetector.h"

#include <algorithm>
#include <cmath>

namespace vyo {

bool ShakeDetector::addSample(double x, double time)
{
    if (hasTriggered)
        return false;
    // A broken sample says nothing about the pointer; it must not move the origin or the peak.
    if (!std::isfinite(x) || !std::isfinite(time))
        return false;

    // A jump larger than any hand makes (a warp, a screen change, lost samples) restarts the
    // attempt at the new position instead of counting as motion.
    if (lastX && std::abs(x - *lastX) > config.maxStepLength) {
        origin = x;
        peak = x;
        direction = 0;
        reversalTimes.clear();
        lastX = x;
        return false;
    }

    if (!origin) {
        origin = x;
        peak = x;
        lastX = x;
        return false;
    }

    if (direction == 0) {
        if (std::abs(x - *origin) >= config.minSegmentLength) {
            direction = x > *origin ? 1.0 : -1.0;
            peak = x;
        }
        lastX = x;
        return false;
    }

    if (direction * (x - peak) >= 0) {
        peak = x;
    } else if (std::abs(x - peak) >= config.minSegmentLength) {
        // Reversals are measured back from the extreme point, not from the previous reversal.
        direction = -direction;
        peak = x;
        reversalTimes.push_back(time);
    }

    std::erase_if(reversalTimes, [&](double t) { return time - t > config.window; });

    lastX = x;
    if (std::ssize(reversalTimes) >= config.requiredReversals) {
        hasTriggered = true;
        return true;
    }
    return false;
}

} // namespace vyo
