#pragma once

// The four automation actions: a new shelf, files on a new shelf, the last closed shelf again,
// and the share sheet of the newest shelf. They run on the main thread, work only through the
// shelf manager and its shelves, keep nothing between runs, and never take focus: a shelf they
// open is presented beside the pointer like every other.

#include "core/Geometry.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace vyo {

class ShelfManager;

// One file handed to an action: where it is (a file URI, or empty), its name, and its contents
// for when it is not where the URI says.
struct AutomationFile
{
    QString uri;
    QString fileName;
    QByteArray data;
};

class ShelfActions
{
public:
    // Why an action failed; the message is what the caller shows.
    struct Failure
    {
        enum class Kind {
            noShelf,    // sharing with no open shelf
            fileSystem, // a drop folder or a stored file could not be written
            tooLarge,   // one call carried more data than Vyo takes at once
        };
        Kind kind;
        QString message;
    };

    // Data one call may carry, all its files together.
    static constexpr qint64 maximumDataBytes = qint64(512) * 1024 * 1024;

    // `pointer` answers where the pointer is (screen coordinates, y upwards).
    ShelfActions(ShelfManager &manager, std::function<Point()> pointer,
                 qint64 dataLimit = maximumDataBytes);

    void newShelf();
    // Files that exist where their URI says are referred to there; the others are stored in a
    // drop folder of their own under their cleaned name. Nothing opens for an empty list.
    std::optional<Failure> addFilesToShelf(const QList<AutomationFile> &files);
    // Succeeds also when there is nothing to reopen.
    void reopenLastShelf();
    // Brings the newest open shelf forward and asks it for its share sheet.
    std::optional<Failure> shareShelf();

private:
    ShelfManager &m_manager;
    std::function<Point()> m_pointer;
    qint64 m_dataLimit;
};

} // namespace vyo
