#include "core/Log.h"

#include "core/Ids.h"

Q_LOGGING_CATEGORY(lcApp, "vyo.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcShelf, "vyo.shelf", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDrop, "vyo.drop", QtInfoMsg)
Q_LOGGING_CATEGORY(lcShake, "vyo.shake", QtInfoMsg)
Q_LOGGING_CATEGORY(lcShare, "vyo.share", QtInfoMsg)

namespace vyo {

QString messageArgument(const QUuid &value)
{
    return uuidText(value);
}

namespace {

// Length of the conversion that starts at format[start] ('%'), or 0 when it is not one.
qsizetype conversionLength(QStringView format, qsizetype start)
{
    qsizetype i = start + 1;
    if (i < format.size() && format[i] == u'{') {
        const qsizetype close = format.indexOf(u'}', i);
        if (close < 0)
            return 0;
        i = close + 1;
    }
    while (i < format.size() && (format[i].isDigit() || format[i] == u'.' || format[i] == u'-'))
        ++i;
    while (i < format.size() && (format[i] == u'l' || format[i] == u'h' || format[i] == u'z'))
        ++i;
    if (i >= format.size())
        return 0;
    static const QString conversions = QStringLiteral("sdiufgeDUxX@c");
    return conversions.contains(format[i]) ? i - start + 1 : 0;
}

} // namespace

QString formatMessageList(QStringView format, const QStringList &arguments)
{
    QString out;
    out.reserve(format.size() + 16);
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] != u'%') {
            out.append(format[i]);
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == u'%') {
            out.append(u'%');
            ++i;
            continue;
        }
        const qsizetype length = conversionLength(format, i);
        if (length == 0 || next >= arguments.size()) {
            out.append(format[i]);
            continue;
        }
        out.append(arguments[next++]);
        i += length - 1;
    }
    return out;
}

} // namespace vyo
