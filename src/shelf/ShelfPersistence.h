#pragma once

// The state file "shelves.json": the shelves open at the last save, the recent list and the
// pinned shelves. Loading never fails (problems yield the empty state with a log line); saving is
// atomic, so a failed or interrupted save leaves the old file intact. At start-up a file that
// exists but cannot be used is moved aside rather than overwritten by the next save.

#include "shelf/ShelfSnapshot.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace vyo {

class ShelfPersistence
{
public:
    struct State
    {
        int version = 1;
        QList<ShelfSnapshot> open;
        RecentShelves recent;
        QList<ShelfSnapshot> pinned;

        friend bool operator==(const State &, const State &) = default;
    };

    // $XDG_DATA_HOME/Vyo/shelves.json
    static QString defaultFilePath();

    explicit ShelfPersistence(QString filePath = defaultFilePath());

    const QString &filePath() const { return m_filePath; }
    void setFilePath(const QString &filePath) { m_filePath = filePath; }

    State load() const;

    // What start-up read: the state, and whether the file was usable (missing counts as usable,
    // a clean start). An unusable file has been moved aside to `movedAsideTo`.
    struct Loaded
    {
        State state;
        bool usable = true;
        QString movedAsideTo;
    };
    // Reads the state as load() does, after removing the temporary files of saves that were
    // killed before they ended; a file that exists but cannot be used is renamed to
    // "shelves.json.unreadable-<date>", keeping the newest `keptUnreadableCopies` of those.
    Loaded loadAtLaunch() const;
    void removeLeftoverTemporaryFiles() const;
    static constexpr int keptUnreadableCopies = 3;
    // Writes the state; on failure returns false with the reason in `error`.
    bool save(const State &state, QString *error = nullptr) const;

    // Decoding without file access, for tests and tools: the state or the reason it is unreadable.
    static std::optional<State> decode(const QByteArray &json, QString *error);
    static QByteArray encode(const State &state);

private:
    // The state, or nullopt when the file exists but cannot be used (logged).
    std::optional<State> read() const;

    QString m_filePath;
};

// Every file URL stored in the state (open, then recent, then pinned); may repeat.
QList<QUrl> referencedFileURLs(const ShelfPersistence::State &state);

// Deletes every entry of the items directory that is not the folder of one of the given files.
void removeUnreferencedDropFolders(const QList<QUrl> &keep, const QString &itemsDirectory);

// Start-up: reads the stored state and removes the drop folders it no longer names. When the file
// could not be used nothing is removed, since the folders may belong to the shelves it held.
ShelfPersistence::State loadStateAndCleanUp(const ShelfPersistence &persistence,
                                            const QString &itemsDirectory);

} // namespace vyo
