#pragma once

// Recognises a quick left-right shake of the pointer from its horizontal position sampled about
// sixty times a second. It answers true once, on the sample that completes the gesture, and then
// stays quiet until its owner replaces it with a fresh detector.

#include <optional>
#include <vector>

namespace vyo {

class ShakeDetector
{
public:
    // The thresholds of one sensitivity preset; the defaults are the medium preset's.
    struct Config
    {
        // Reversals that must lie inside the time window for the gesture to count.
        int requiredReversals = 4;
        // Least horizontal travel, in points, that sets the first direction or makes a reversal.
        double minSegmentLength = 30.0;
        // Seconds after which a reversal no longer counts.
        double window = 0.8;
        // Largest jump between two samples still taken as pointer motion; a larger one restarts.
        double maxStepLength = 300.0;

        friend bool operator==(const Config &, const Config &) = default;
    };

    ShakeDetector() = default;
    explicit ShakeDetector(const Config &config)
        : config(config)
    {}

    // Feeds the pointer's x (global screen points) at `time` (seconds of a monotonic clock).
    // True only on the sample that completes the gesture.
    bool addSample(double x, double time);

    Config config;
    // Where the current attempt started; absent before the first sample.
    std::optional<double> origin;
    // The previous sample's x; absent before the first sample.
    std::optional<double> lastX;
    // The furthest x reached in the current direction.
    double peak = 0;
    // -1, 0 (no direction yet) or +1.
    double direction = 0;
    // Times of the reversals still inside the window, oldest first.
    std::vector<double> reversalTimes;
    // Latched once the gesture has been recognised.
    bool hasTriggered = false;

    friend bool operator==(const ShakeDetector &, const ShakeDetector &) = default;
};

} // namespace vyo
