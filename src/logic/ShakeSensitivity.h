#pragma once

// The user's choice among three presets of the shake detector's thresholds, stored as an integer
// under "shakeSensitivity" (0 low, 1 medium, 2 high).

#include "logic/ShakeDetector.h"

#include <QString>

#include <array>
#include <optional>

namespace vyo {

class Defaults;

class ShakeSensitivity
{
public:
    enum Value { low = 0, medium = 1, high = 2 };

    constexpr ShakeSensitivity(Value value)
        : m_value(value)
    {}

    // Every case, in the order pickers list them.
    static constexpr std::array<Value, 3> allCases{low, medium, high};

    // The preset of a stored raw value; only 0, 1 and 2 name one.
    static std::optional<ShakeSensitivity> fromRawValue(int rawValue);
    // The stored choice: 0 is low, 2 is high, and anything else (1, nothing stored, a stray
    // number or text) is medium.
    static ShakeSensitivity current(const Defaults &defaults);

    constexpr Value value() const { return m_value; }
    constexpr int rawValue() const { return int(m_value); }
    // "낮음", "보통", "높음".
    QString title() const;
    // The sentence the settings show under the picker.
    QString description() const;
    // The detector's thresholds: 5 − raw value reversals of 40, 30 or 20 points within 0.8 s;
    // jumps over 300 points restart.
    ShakeDetector::Config config() const;

    friend constexpr bool operator==(ShakeSensitivity, ShakeSensitivity) = default;

private:
    Value m_value;
};

} // namespace vyo
