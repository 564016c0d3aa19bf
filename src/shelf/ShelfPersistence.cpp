#include "shelf/ShelfPersistence.h"

#include "core/Json.h"
#include "core/Log.h"
#include "core/Paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

#include <cmath>

namespace vyo {

namespace {

// A state file is a few kilobytes; anything far larger is not one of ours.
constexpr qint64 maximumFileSize = 64 * 1024 * 1024;

std::optional<QList<ShelfSnapshot>> snapshotList(const QJsonValue &value, const QString &key,
                                                 QString *error)
{
    if (value.isUndefined())
        return QList<ShelfSnapshot>();
    if (!value.isArray()) {
        *error = QStringLiteral("\"%1\"은(는) 배열이어야 함").arg(key);
        return std::nullopt;
    }
    QList<ShelfSnapshot> snapshots;
    for (const QJsonValue &element : value.toArray()) {
        auto snapshot = snapshotFromJson(element, error);
        if (!snapshot)
            return std::nullopt;
        snapshots.append(*snapshot);
    }
    return snapshots;
}

QJsonArray toJsonArray(const QList<ShelfSnapshot> &snapshots)
{
    QJsonArray array;
    for (const ShelfSnapshot &snapshot : snapshots)
        array.append(toJson(snapshot));
    return array;
}

} // namespace

QString ShelfPersistence::defaultFilePath()
{
    return applicationDataDirectory() + QStringLiteral("/shelves.json");
}

ShelfPersistence::ShelfPersistence(QString filePath)
    : m_filePath(std::move(filePath))
{}

std::optional<ShelfPersistence::State> ShelfPersistence::decode(const QByteArray &json,
                                                                QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = parseError.errorString();
        return std::nullopt;
    }
    if (!document.isObject()) {
        *error = QStringLiteral("최상위 값이 객체가 아님");
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    State state;

    const QJsonValue version = root.value(QStringLiteral("version"));
    if (!version.isUndefined()) {
        const double number = version.toDouble();
        if (!version.isDouble() || number != std::floor(number) || std::abs(number) > 1e9) {
            *error = QStringLiteral("\"version\"은(는) 정수여야 함");
            return std::nullopt;
        }
        state.version = int(number);
    }

    auto open = snapshotList(root.value(QStringLiteral("open")), QStringLiteral("open"), error);
    if (!open)
        return std::nullopt;
    state.open = *open;

    const QJsonValue recent = root.value(QStringLiteral("recent"));
    if (!recent.isUndefined()) {
        if (!recent.isObject()) {
            *error = QStringLiteral("\"recent\"은(는) 객체여야 함");
            return std::nullopt;
        }
        const QJsonValue snapshots = recent.toObject().value(QStringLiteral("snapshots"));
        if (snapshots.isUndefined()) {
            *error = QStringLiteral("필수 항목 \"snapshots\"이(가) 없음");
            return std::nullopt;
        }
        auto list = snapshotList(snapshots, QStringLiteral("snapshots"), error);
        if (!list)
            return std::nullopt;
        // A hand-edited file may hold more, or empty ones: the list keeps its bounds all the same.
        for (const ShelfSnapshot &snapshot : std::as_const(*list)) {
            if (!snapshot.items.isEmpty() &&
                state.recent.snapshots.size() < RecentShelves::capacity)
                state.recent.snapshots.append(snapshot);
        }
    }

    auto pinned =
        snapshotList(root.value(QStringLiteral("pinned")), QStringLiteral("pinned"), error);
    if (!pinned)
        return std::nullopt;
    state.pinned = *pinned;
    return state;
}

QByteArray ShelfPersistence::encode(const State &state)
{
    const QJsonObject root{
        {QStringLiteral("version"), state.version},
        {QStringLiteral("open"), toJsonArray(state.open)},
        {QStringLiteral("recent"),
         QJsonObject{{QStringLiteral("snapshots"), toJsonArray(state.recent.snapshots)}}},
        {QStringLiteral("pinned"), toJsonArray(state.pinned)},
    };
    return prettyJson(root);
}

ShelfPersistence::State ShelfPersistence::load() const
{
    return read().value_or(State());
}

std::optional<ShelfPersistence::State> ShelfPersistence::read() const
{
    const QFileInfo info(m_filePath);
    if (!info.exists() && !info.isSymLink())
        return State();

    const auto unreadable = [](const QString &reason) -> std::optional<State> {
        vyoError(lcShelf, u"셸프 저장 파일을 읽지 못함, 빈 상태로 시작: %{public}s", reason);
        return std::nullopt;
    };
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return unreadable(file.errorString());
    if (file.size() > maximumFileSize)
        return unreadable(QStringLiteral("파일이 너무 큼 (%1바이트)").arg(file.size()));
    const QByteArray bytes = file.read(maximumFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return unreadable(file.errorString());

    QString error;
    std::optional<State> state = decode(bytes, &error);
    if (!state)
        return unreadable(error);
    if (state->version != 1) {
        vyoError(lcShelf, u"알 수 없는 저장 형식 버전 %ld, 빈 상태로 시작", state->version);
        return std::nullopt;
    }
    return state;
}

void ShelfPersistence::removeLeftoverTemporaryFiles() const
{
    // An atomic save writes "shelves.json.XXXXXX" and renames it over the file; a process killed
    // in between leaves it behind. Only this process saves the file, so at start-up none is in
    // use.
    const QFileInfo info(m_filePath);
    const QRegularExpression temporary(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(info.fileName()) + QStringLiteral("\\.[A-Za-z0-9]{6}")));
    const QDir folder = info.absoluteDir();
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (temporary.match(name).hasMatch() && QFile::remove(folder.filePath(name)))
            vyoInfo(lcShelf, u"중단된 저장의 임시 파일을 지움: %{public}s", name);
    }
}

ShelfPersistence::Loaded ShelfPersistence::loadAtLaunch() const
{
    removeLeftoverTemporaryFiles();
    std::optional<State> state = read();
    if (state)
        return {*state, true, {}};

    // The file may be from a newer Vyo or damaged by a full disk: it is kept for the user (or a
    // later version) instead of being overwritten by the next save.
    const QFileInfo info(m_filePath);
    const QDir folder = info.absoluteDir();
    const QString prefix = info.fileName() + QStringLiteral(".unreadable-");
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = folder.filePath(prefix + stamp);
    for (int n = 2; QFileInfo(aside).exists() || QFileInfo(aside).isSymLink(); ++n)
        aside = folder.filePath(prefix + stamp + QStringLiteral("-%1").arg(n));
    if (!QFile::rename(m_filePath, aside)) {
        vyoError(lcShelf, u"읽지 못한 셸프 저장 파일을 옮기지 못함: %{public}s", m_filePath);
        return {State(), false, {}};
    }
    vyoError(lcShelf, u"읽지 못한 셸프 저장 파일을 옮겨 둠: %{public}s", aside);

    // Oldest first by name (the stamp sorts by time); the newest few stay.
    QStringList copies = folder.entryList(
        {prefix + QLatin1Char('*')}, QDir::AllEntries | QDir::System | QDir::Hidden, QDir::Name);
    while (copies.size() > keptUnreadableCopies) {
        const QString oldest = folder.filePath(copies.takeFirst());
        if (QFileInfo(oldest).isDir() && !QFileInfo(oldest).isSymLink())
            QDir(oldest).removeRecursively();
        else
            QFile::remove(oldest);
    }
    return {State(), false, aside};
}

bool ShelfPersistence::save(const State &state, QString *error) const
{
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("폴더를 만들 수 없음: %1").arg(folder));
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    const QByteArray bytes = encode(state);
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return fail(reason);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

QList<QUrl> referencedFileURLs(const ShelfPersistence::State &state)
{
    QList<QUrl> urls;
    const auto collect = [&urls](const QList<ShelfSnapshot> &snapshots) {
        for (const ShelfSnapshot &snapshot : snapshots) {
            for (const StoredItem &item : snapshot.items) {
                if (item.url && item.url->isLocalFile())
                    urls.append(*item.url);
            }
        }
    };
    collect(state.open);
    collect(state.recent.snapshots);
    collect(state.pinned);
    return urls;
}

void removeUnreferencedDropFolders(const QList<QUrl> &keep, const QString &itemsDirectory)
{
    QSet<QString> kept;
    for (const QUrl &url : keep)
        kept.insert(canonicalPath(QFileInfo(url.toLocalFile()).absolutePath()));

    const QDir directory(itemsDirectory);
    if (!directory.exists())
        return;
    const QFileInfoList entries =
        directory.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (kept.contains(canonicalPath(entry.filePath())))
            continue;
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
    }
}

ShelfPersistence::State loadStateAndCleanUp(const ShelfPersistence &persistence,
                                            const QString &itemsDirectory)
{
    ShelfPersistence::Loaded loaded = persistence.loadAtLaunch();
    if (loaded.usable)
        removeUnreferencedDropFolders(referencedFileURLs(loaded.state), itemsDirectory);
    else
        vyoInfo(lcShelf, u"저장 파일을 읽지 못해 이번 실행에서는 Items 폴더를 정리하지 않음");
    return loaded.state;
}

} // namespace vyo
