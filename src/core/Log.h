#pragma once

// Logging categories of the application and the formatter for its Korean message texts.
//
// Messages are written as format strings in the style "사라진 파일 %ld개를 셸프에서 제거" or
// "셸프 저장 실패: %{public}s"; formatMessage substitutes the arguments in order.

#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <concepts>

Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcShelf)
Q_DECLARE_LOGGING_CATEGORY(lcDrop)
Q_DECLARE_LOGGING_CATEGORY(lcShake)
Q_DECLARE_LOGGING_CATEGORY(lcShare)

namespace vyo {

// Replaces each conversion (%s, %{public}s, %{private}@, %d, %ld, %lu, %f, %.2f, …) of the format
// with the next argument's text, in order; "%%" stands for a percent sign. Missing arguments
// leave the conversion as it is; surplus arguments are ignored.
QString formatMessageList(QStringView format, const QStringList &arguments);

inline QString messageArgument(const QString &value)
{
    return value;
}
inline QString messageArgument(const char *value)
{
    return QString::fromUtf8(value);
}
inline QString messageArgument(const QUrl &value)
{
    return value.toString(QUrl::FullyEncoded);
}
QString messageArgument(const QUuid &value);
template <std::integral T> QString messageArgument(T value)
{
    return QString::number(value);
}
template <std::floating_point T> QString messageArgument(T value)
{
    return QString::number(value);
}

template <typename... Args> QString formatMessage(QStringView format, const Args &...args)
{
    return formatMessageList(format, QStringList{messageArgument(args)...});
}

} // namespace vyo

// Logs a formatted Korean message: vyoInfo(lcShelf, "사라진 파일 %ld개를 셸프에서 제거", n).
#define vyoDebug(category, ...) qCDebug(category).noquote() << vyo::formatMessage(__VA_ARGS__)
#define vyoInfo(category, ...) qCInfo(category).noquote() << vyo::formatMessage(__VA_ARGS__)
#define vyoWarning(category, ...) qCWarning(category).noquote() << vyo::formatMessage(__VA_ARGS__)
#define vyoError(category, ...) qCCritical(category).noquote() << vyo::formatMessage(__VA_ARGS__)
