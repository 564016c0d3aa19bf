#pragma once

// One folder the user watches: its identity, its path and whether it is watched right now.
// Stored as a JSON object with exactly the keys "id", "path" and "isEnabled".

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUuid>

#include <optional>

namespace vyo {

struct WatchedFolder
{
    QUuid id;
    QString path;
    bool isEnabled = true;

    friend bool operator==(const WatchedFolder &, const WatchedFolder &) = default;

    QJsonObject toJson() const;
    // Nothing when a key is missing or has the wrong type, or the identifier is not a UUID.
    static std::optional<WatchedFolder> fromJson(const QJsonObject &object);

    // The list as a JSON array (the "watchedFolders" preference).
    static QByteArray encodeList(const QList<WatchedFolder> &folders);
    // Nothing when the data is not such an array or any element is not a folder.
    static std::optional<QList<WatchedFolder>> decodeList(const QByteArray &data);
};

} // namespace vyo

Q_DECLARE_METATYPE(vyo::WatchedFolder)
