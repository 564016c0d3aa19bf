#include "logic/ShakeSensitivity.h"

#include "core/Defaults.h"

namespace vyo {

std::optional<ShakeSensitivity> ShakeSensitivity::fromRawValue(int rawValue)
{
    switch (rawValue) {
    case low:
        return ShakeSensitivity(low);
    case medium:
        return ShakeSensitivity(medium);
    case high:
        return ShakeSensitivity(high);
    default:
        return std::nullopt;
    }
}

ShakeSensitivity ShakeSensitivity::current(const Defaults &defaults)
{
    // Read the raw value: a key that is neither stored nor registered must still mean medium.
    bool ok = false;
    const int stored =
        defaults.value(QString::fromLatin1(DefaultsKey::shakeSensitivity)).toInt(&ok);
    if (ok && stored == low)
        return low;
    if (ok && stored == high)
        return high;
    return medium;
}

QString ShakeSensitivity::title() const
{
    switch (m_value) {
    case low:
        return QStringLiteral("낮음");
    case high:
        return QStringLiteral("높음");
    case medium:
        break;
    }
    return QStringLiteral("보통");
}

QString ShakeSensitivity::description() const
{
    switch (m_value) {
    case low:
        return QStringLiteral("크게 여러 번 흔들어야 열려요. 드래그하다 잘못 열리는 일이 줄어요.");
    case high:
        return QStringLiteral("살짝만 흔들어도 열려요.");
    case medium:
        break;
    }
    return QStringLiteral("좌우로 두세 번 흔들면 열려요.");
}

ShakeDetector::Config ShakeSensitivity::config() const
{
    static constexpr std::array<double, 3> segmentLengths{40.0, 30.0, 20.0};
    ShakeDetector::Config config;
    config.requiredReversals = 5 - rawValue();
    config.minSegmentLength = segmentLengths[std::size_t(rawValue())];
    config.window = 0.8;
    config.maxStepLength = 300.0;
    return config;
}

} // namespace vyo
