#include "core/Json.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace vyo {

namespace {

bool isWritable(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Double:
        return std::isfinite(value.toDouble());
    case QJsonValue::Array: {
        const QJsonArray array = value.toArray();
        return std::all_of(array.begin(), array.end(), isWritable);
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        return std::all_of(object.begin(), object.end(), isWritable);
    }
    case QJsonValue::Undefined:
        return false;
    default:
        return true;
    }
}

} // namespace

QByteArray compactJson(const QJsonObject &object)
{
    // QJsonObject keeps its keys sorted and the writer does not escape "/".
    if (!isWritable(object))
        return QByteArrayLiteral("{}");
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray prettyJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

} // namespace vyo
