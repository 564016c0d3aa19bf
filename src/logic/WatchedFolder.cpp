#include "logic/WatchedFolder.h"

#include "core/Ids.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace vyo {

QJsonObject WatchedFolder::toJson() const
{
    return {{QStringLiteral("id"), uuidText(id)},
            {QStringLiteral("path"), path},
            {QStringLiteral("isEnabled"), isEnabled}};
}

std::optional<WatchedFolder> WatchedFolder::fromJson(const QJsonObject &object)
{
    const QJsonValue id = object.value(QStringLiteral("id"));
    const QJsonValue path = object.value(QStringLiteral("path"));
    const QJsonValue isEnabled = object.value(QStringLiteral("isEnabled"));
    if (!id.isString() || !path.isString() || !isEnabled.isBool())
        return std::nullopt;
    const std::optional<QUuid> uuid = parseUuid(id.toString());
    if (!uuid)
        return std::nullopt;
    return WatchedFolder{*uuid, path.toString(), isEnabled.toBool()};
}

QByteArray WatchedFolder::encodeList(const QList<WatchedFolder> &folders)
{
    QJsonArray array;
    for (const WatchedFolder &folder : folders)
        array.append(folder.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<WatchedFolder>> WatchedFolder::decodeList(const QByteArray &data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<WatchedFolder> folders;
    for (const QJsonValue &value : document.array()) {
        if (!value.isObject())
            return std::nullopt;
        std::optional<WatchedFolder> folder = fromJson(value.toObject());
        if (!folder)
            return std::nullopt;
        folders.append(*folder);
    }
    return folders;
}

} // namespace vyo
