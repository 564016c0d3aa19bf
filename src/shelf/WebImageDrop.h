#pragma once

// Receiving the file a drop promises, most often an image dragged out of a web page. In order:
// the source saves it into a fresh drop folder (X Direct Save; taken once its size settles, as a
// browser may answer before it has written anything), else the original bytes the source offers
// as raw data, else the image's own address: a data: image is decoded here, a web image is
// downloaded while a link to it waits on the shelf, and becomes the file when the download
// succeeds. Nothing half-written stays behind: a failed attempt removes its drop folder.

#include "platform/DropSource.h"
#include "platform/FileSystemEvents.h"
#include "shelf/ShelfItem.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QTemporaryFile;

namespace vyo {

class WebImageDrop final : public QObject
{
    Q_OBJECT
public:
    // The largest file taken from a source or a download, and how long each may take.
    static constexpr qint64 maximumFileBytes = qint64(512) << 20;
    static constexpr qint64 maximumDataBytes = qint64(16) << 20;
    static constexpr std::chrono::milliseconds answerTimeout{1500};
    static constexpr std::chrono::milliseconds writeTimeout{15000};
    static constexpr std::chrono::milliseconds downloadTimeout{30000};

    // Starts receiving when `data` promises a file (it offers a direct save); false when it does
    // not or no drop folder can be made. Must be called inside the drop.
    static bool start(const QMimeData *data, const ShelfItem::PromiseHandler &handler);

private:
    WebImageDrop(QString folder, ShelfItem::PromiseHandler handler);

    // The last segment of the image's web address; empty for other addresses.
    QString imageUrlName() const;
    void received(const DropSource::Result &result);
    void checkSavedFile();
    void fallBack();
    void download();
    void downloadFinished();
    // Writes `bytes` under the name the image's kind and the candidates give.
    void saveBytes(const QByteArray &bytes, const QStringList &names, const QString &how);
    // `how` tells the log which way the file came.
    void finish(const QString &path, const QString &how);
    void fail(const QString &message);

    QString m_folder;
    ShelfItem::PromiseHandler m_handler;
    std::optional<QString> m_suggestion;
    QUrl m_dropped; // the first URL of the drop: the image, or the link around it
    QUrl m_image;   // the image's own address
    QString m_savePath;
    QTimer m_poll;
    std::unique_ptr<FileSystemEvents> m_folderEvents;
    // The source closed the file it wrote (or moved the finished file in).
    bool m_written = false;
    QDeadlineTimer m_writeDeadline;
    qint64 m_lastSize = -1;
    int m_steadyPolls = 0;
    QUuid m_placeholder;
    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QTemporaryFile *m_download = nullptr;
    QByteArray m_head;
    qint64 m_downloaded = 0;
};

} // namespace vyo
