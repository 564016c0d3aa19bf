#include "app/RelativeTime.h"

#include <algorithm>

namespace vyo {

namespace {

// Whole calendar months from `from` to `to` (to >= from).
int wholeMonths(const QDateTime &from, const QDateTime &to)
{
    const QDate start = from.date();
    const QDate end = to.date();
    int months = (end.year() - start.year()) * 12 + (end.month() - start.month());
    if (end.day() < start.day() || (end.day() == start.day() && to.time() < from.time()))
        --months;
    return std::max(months, 0);
}

} // namespace

QString relativeTimeText(const QDateTime &date, const QDateTime &now)
{
    const bool past = date <= now;
    const QDateTime from = past ? date.toLocalTime() : now.toLocalTime();
    const QDateTime to = past ? now.toLocalTime() : date.toLocalTime();
    const qint64 seconds = from.secsTo(to);
    if (seconds == 0)
        return QStringLiteral("지금");
    const QString suffix = past ? QStringLiteral(" 전") : QStringLiteral(" 후");
    const auto phrase = [&](qint64 count, const char *unit) -> QString {
        return QString::number(count) + QString::fromUtf8(unit) + suffix;
    };
    if (seconds < 60)
        return phrase(seconds, "초");
    if (seconds < 60 * 60)
        return phrase(seconds / 60, "분");
    if (seconds < 24 * 60 * 60)
        return phrase(seconds / (60 * 60), "시간");
    const qint64 days = seconds / (24 * 60 * 60);
    if (days < 7)
        return phrase(days, "일");
    const int months = wholeMonths(from, to);
    if (months == 0)
        return phrase(days / 7, "주");
    if (months < 12)
        return phrase(months, "개월");
    return phrase(months / 12, "년");
}

} // namespace vyo
