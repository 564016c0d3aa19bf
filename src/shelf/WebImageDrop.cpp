#include "shelf/WebImageDrop.h"

#include "core/Log.h"
#include "logic/UploadName.h"
#include "logic/WebImageName.h"
#include "platform/Desktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QTemporaryFile>

namespace vyo {

namespace {

const QString directSaveType = QStringLiteral("XdndDirectSave0");
const QString rawDataType = QStringLiteral("application/octet-stream");
// Bytes enough to tell every known image kind.
constexpr qsizetype headBytes = 16;
// A file saved by a source counts as written when its writer closed it and its size held for a
// moment; a writer that closes nothing (or a close that went unseen) needs a longer calm.
constexpr std::chrono::milliseconds pollInterval{50};
constexpr int steadyPollsAfterClose = 2;
constexpr int steadyPollsWithoutClose = 40;

QByteArray fileHead(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(headBytes) : QByteArray();
}

} // namespace

bool WebImageDrop::start(const QMimeData *data, const ShelfItem::PromiseHandler &handler)
{
    if (!data || !data->hasFormat(directSaveType))
        return false;
    std::optional<QString> folder = makeDropDirectory();
    if (!folder)
        return false;

    auto *drop = new WebImageDrop(*folder, handler);
    DropSource &source = Desktop::shared().dropSource();
    drop->m_suggestion = source.suggestedName();
    for (const QUrl &url : data->urls()) {
        if (url.isValid() && !url.isLocalFile()) {
            drop->m_dropped = url;
            break;
        }
    }
    // An image inside a link drops the link's address; the image's own is in the HTML.
    const std::optional<QUrl> inHtml =
        data->hasHtml() ? imageUrlInHtml(data->html(), drop->m_dropped) : std::nullopt;
    drop->m_image = inHtml.value_or(drop->m_dropped);

    const QString name =
        cleanUploadName(drop->m_suggestion.value_or(QString()))
            .value_or(cleanUploadName(drop->imageUrlName()).value_or(QStringLiteral("이미지")));
    DropSource::Request request;
    request.savePath = drop->m_folder + u'/' + name;
    if (data->hasFormat(rawDataType))
        request.dataType = rawDataType;
    request.maximumBytes = maximumDataBytes;
    request.timeout = answerTimeout;
    drop->m_savePath = request.savePath;
    // Watched before the source is asked: a small file may be written before its answer is read.
    drop->m_folderEvents = Desktop::shared().makeFileSystemEvents(pollInterval);
    connect(drop->m_folderEvents.get(), &FileSystemEvents::eventsArrived, drop,
            [drop](const QList<FileSystemEvent> &events) {
                for (const FileSystemEvent &event : events) {
                    if (event.path == drop->m_savePath && (event.closed || event.renamed))
                        drop->m_written = true;
                }
            });
    drop->m_folderEvents->start({drop->m_folder});
    source.receive(request, [drop = QPointer<WebImageDrop>(drop)](const DropSource::Result &r) {
        if (drop)
            drop->received(r);
    });
    return true;
}

WebImageDrop::WebImageDrop(QString folder, ShelfItem::PromiseHandler handler)
    : QObject(QCoreApplication::instance())
    , m_folder(std::move(folder))
    , m_handler(std::move(handler))
{
    m_poll.setInterval(pollInterval);
    connect(&m_poll, &QTimer::timeout, this, &WebImageDrop::checkSavedFile);
}

QString WebImageDrop::imageUrlName() const
{
    // A data: URL has no name, only its bytes.
    return isWebUrl(m_image) ? urlFileName(m_image) : QString();
}

void WebImageDrop::received(const DropSource::Result &result)
{
    if (result.answer == DropSource::SaveAnswer::saved) {
        m_writeDeadline.setRemainingTime(writeTimeout);
        m_poll.start();
        return;
    }
    m_folderEvents.reset();
    vyoError(lcDrop, u"파일 프로미스 수신 실패: %{public}s", result.error);
    if (imageKindOfBytes(result.data.left(headBytes))) {
        saveBytes(result.data, {m_suggestion.value_or(QString()), imageUrlName()},
                  QStringLiteral("원본 데이터"));
        return;
    }
    fallBack();
}

void WebImageDrop::checkSavedFile()
{
    // Only the very file asked for, inside the drop folder, is taken: never a link to elsewhere.
    const QFileInfo info(m_savePath);
    const bool inFolder = info.absolutePath() == QDir(m_folder).absolutePath();
    if (info.isSymLink() || (info.exists() && !info.isFile()) || !inFolder) {
        QFile::remove(m_savePath);
        m_poll.stop();
        vyoError(lcDrop, u"파일 프로미스 수신 실패: %{public}s",
                 QStringLiteral("놓기 폴더 밖을 가리키는 파일"));
        fallBack();
        return;
    }
    const qint64 size = info.exists() ? info.size() : -1;
    if (size > maximumFileBytes || m_writeDeadline.hasExpired()) {
        m_poll.stop();
        QFile::remove(m_savePath);
        vyoError(lcDrop, u"파일 프로미스 수신 실패: %{public}s",
                 size > maximumFileBytes ? QStringLiteral("파일이 너무 큼")
                                         : QStringLiteral("끌어 온 앱이 파일을 다 쓰지 않음"));
        fallBack();
        return;
    }
    m_steadyPolls = size > 0 && size == m_lastSize ? m_steadyPolls + 1 : 0;
    m_lastSize = size;
    if (m_steadyPolls < (m_written ? steadyPollsAfterClose : steadyPollsWithoutClose))
        return;
    m_poll.stop();
    m_folderEvents.reset();
    QString path = m_savePath;
    // The extension tells the real kind of image, whatever the page called it.
    if (const std::optional<ImageKind> kind = imageKindOfBytes(fileHead(path))) {
        const QString named = m_folder + u'/' + webImageFileName({info.fileName()}, *kind);
        if (named != path && !QFileInfo::exists(named) && QFile::rename(path, named))
            path = named;
    }
    finish(path, QStringLiteral("직접 저장"));
}

void WebImageDrop::fallBack()
{
    if (const std::optional<QByteArray> bytes = dataImageBytes(m_image)) {
        if (imageKindOfBytes(bytes->left(headBytes))) {
            saveBytes(*bytes, {m_suggestion.value_or(QString())}, QStringLiteral("data: 주소"));
            return;
        }
    }
    if (isWebUrl(m_image)) {
        download();
        return;
    }
    fail(QStringLiteral("받을 수 있는 이미지가 없음"));
}

void WebImageDrop::download()
{
    // The link waits on the shelf while the original comes.
    const ShelfItem placeholder(
        ShelfItem::Content::link(m_dropped.isValid() ? m_dropped : m_image));
    m_placeholder = placeholder.id();
    m_handler(placeholder, {});

    m_download = new QTemporaryFile(m_folder + QStringLiteral("/.download-XXXXXX"), this);
    if (!m_download->open()) {
        fail(m_download->errorString());
        return;
    }
    m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(m_image);
    // Redirects stay on https when the page was https, and never loop for long.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setTransferTimeout(int(downloadTimeout.count()));
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (length > maximumFileBytes)
            fail(QStringLiteral("이미지가 너무 큼 (%1바이트)").arg(length));
    });
    connect(m_reply, &QNetworkReply::readyRead, this, [this] {
        const QByteArray bytes = m_reply->readAll();
        if (m_head.size() < headBytes) {
            m_head += bytes.left(headBytes - m_head.size());
            if (m_head.size() >= headBytes && !imageKindOfBytes(m_head)) {
                fail(QStringLiteral("받은 내용이 이미지가 아님"));
                return;
            }
        }
        m_downloaded += bytes.size();
        if (m_downloaded > maximumFileBytes) {
            fail(QStringLiteral("이미지가 너무 큼"));
            return;
        }
        if (m_download->write(bytes) != bytes.size())
            fail(m_download->errorString());
    });
    connect(m_reply, &QNetworkReply::finished, this, &WebImageDrop::downloadFinished);
}

void WebImageDrop::downloadFinished()
{
    if (!m_reply)
        return;
    if (m_reply->error() != QNetworkReply::NoError) {
        fail(m_reply->errorString());
        return;
    }
    const std::optional<ImageKind> kind = imageKindOfBytes(m_head);
    if (!kind) {
        fail(QStringLiteral("받은 내용이 이미지가 아님"));
        return;
    }
    const QString name = webImageFileName(
        {contentDispositionFileName(m_reply->rawHeader("Content-Disposition")),
         m_suggestion.value_or(QString()), urlFileName(m_reply->url()), urlFileName(m_image)},
        *kind);
    const QString path = m_folder + u'/' + name;
    if (!m_download->flush() || !m_download->rename(path)) {
        fail(m_download->errorString());
        return;
    }
    m_download->setAutoRemove(false);
    finish(path, QStringLiteral("내려받기"));
}

void WebImageDrop::saveBytes(const QByteArray &bytes, const QStringList &names, const QString &how)
{
    const std::optional<ImageKind> kind = imageKindOfBytes(bytes.left(headBytes));
    const QString path = m_folder + u'/' + webImageFileName(names, kind.value_or(ImageKind()));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        fail(file.errorString());
        return;
    }
    finish(path, how);
}

void WebImageDrop::finish(const QString &path, const QString &how)
{
    vyoInfo(lcDrop, u"끌어 온 파일 받음 (%{public}s): %{public}s", how, path);
    m_handler(ShelfItem(ShelfItem::Content::file(QUrl::fromLocalFile(path))), m_placeholder);
    deleteLater();
}

void WebImageDrop::fail(const QString &message)
{
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        // Not from inside the reply's own signal: it aborts once control is back in the loop.
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    }
    m_poll.stop();
    vyoError(lcDrop, u"웹 이미지 받기 실패: %{public}s", message);
    delete m_download;
    m_download = nullptr;
    QDir(m_folder).removeRecursively();
    deleteLater();
}

} // namespace vyo
