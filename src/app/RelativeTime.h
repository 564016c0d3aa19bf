#pragma once

// Short Korean relative times for menus: "지금", "30초 전", "5분 전", "3시간 전", "2일 전",
// "1주 전", "4개월 전", "2년 전" (and "… 후" for dates ahead of now). The largest whole unit
// counts, as the system's relative formatters do.

#include <QDateTime>
#include <QString>

namespace vyo {

QString relativeTimeText(const QDateTime &date, const QDateTime &now);

} // namespace vyo
