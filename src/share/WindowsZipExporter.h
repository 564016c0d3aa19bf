#pragma once

// The "윈도우용 ZIP으로 저장…" command: saves a shelf's files as a ZIP archive whose Korean file
// names survive on Windows. Lives on the main thread; the archive is written in the background.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

namespace vyo {

class Shelf;

class WindowsZipExporter : public QObject
{
    Q_OBJECT
public:
    static WindowsZipExporter &shared();

    explicit WindowsZipExporter(QObject *parent = nullptr);

    // Asks where to save the shelf's files and writes the archive there, showing the progress in
    // the shelf's status line, where it can be cancelled (nothing is then written or replaced);
    // the new file is then revealed in the file manager, a failure is logged and shown in an
    // alert. Does nothing when the shelf has no file that still exists.
    void exportShelf(Shelf &shelf);

    // The URLs of the shelf's file and image items whose file still exists, in item order.
    static QList<QUrl> exportableURLs(const Shelf &shelf);

    // The file name offered in the save dialog: the only item's name without its extension, or
    // "Vyo 파일 3개" for several, in NFC, followed by ".zip".
    static QString suggestedName(const QList<QUrl> &urls);

Q_SIGNALS:
    // The archive was written and revealed (`succeeded`), or the failure was shown.
    void exportFinished(const QString &destination, bool succeeded);

private:
    void writeArchive(const QList<QUrl> &urls, const QString &destination, QPointer<Shelf> shelf);
};

} // namespace vyo
