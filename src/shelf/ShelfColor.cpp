#include "shelf/ShelfColor.h"

namespace vyo {

namespace {

struct ColorInfo
{
    ShelfColor color;
    const char16_t *raw;
    const char16_t *label;
    QColor tint;
};

const ColorInfo &info(ShelfColor color)
{
    static const ColorInfo table[] = {
        {ShelfColor::none, u"none", u"없음", QColor(Qt::transparent)},
        {ShelfColor::red, u"red", u"빨강", QColor(255, 59, 48)},
        {ShelfColor::orange, u"orange", u"주황", QColor(255, 149, 0)},
        {ShelfColor::yellow, u"yellow", u"노랑", QColor(255, 204, 0)},
        {ShelfColor::green, u"green", u"초록", QColor(52, 199, 89)},
        {ShelfColor::blue, u"blue", u"파랑", QColor(0, 122, 255)},
        {ShelfColor::purple, u"purple", u"보라", QColor(175, 82, 222)},
        {ShelfColor::gray, u"gray", u"회색", QColor(142, 142, 147)},
    };
    return table[static_cast<int>(color)];
}

} // namespace

QList<ShelfColor> allShelfColors()
{
    return {ShelfColor::none,  ShelfColor::red,  ShelfColor::orange, ShelfColor::yellow,
            ShelfColor::green, ShelfColor::blue, ShelfColor::purple, ShelfColor::gray};
}

QString rawValue(ShelfColor color)
{
    return QString::fromUtf16(info(color).raw);
}

std::optional<ShelfColor> shelfColorFromRawValue(QStringView raw)
{
    for (ShelfColor color : allShelfColors()) {
        if (raw == QStringView(info(color).raw))
            return color;
    }
    return std::nullopt;
}

QString label(ShelfColor color)
{
    return QString::fromUtf16(info(color).label);
}

QColor tint(ShelfColor color)
{
    return info(color).tint;
}

} // namespace vyo
