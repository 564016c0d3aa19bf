#include "share/PeerSession.h"

#include "core/Ids.h"
#include "core/Log.h"
#include "logic/UploadName.h"
#include "logic/ZipWriter.h"
#include "shelf/Shelf.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMimeDatabase>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace vyo {

namespace {

using TransferProtocol::Incoming;

const QString notFoundText = QStringLiteral("셸프에서 찾을 수 없는 항목이에요.");
const QString cannotOpenText = QStringLiteral("파일을 열 수 없어요.");
const QString cannotReadText = QStringLiteral("파일을 읽지 못했어요.");
const QString nothingToGetText = QStringLiteral("받을 파일이 없어요.");
const QString tooLargeText = QStringLiteral("4GB보다 큰 파일은 올릴 수 없어요.");
const QString cannotStoreText = QStringLiteral("파일을 저장할 수 없어요.");
const QString sizeMismatchText = QStringLiteral("받은 크기가 맞지 않거나 저장하지 못했어요.");
const QString incompleteText = QStringLiteral("파일이 끝까지 오지 않았어요. 다시 올려 주세요.");

constexpr qint64 defaultMessageSize = 65536;
constexpr qint64 minimumChunkPayload = 1024;

QString nfc(const QString &text)
{
    return text.normalized(QString::NormalizationForm_C);
}

QString lastPathComponent(const QString &path)
{
    return QFileInfo(path).fileName();
}

// The MIME type registered for the name's extension, or generic data.
QString mimeTypeFor(const QString &name)
{
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return QStringLiteral("application/octet-stream");
    return type.name();
}

QString candidatePayload(const IceCandidate &candidate)
{
    QJsonObject inner{{QStringLiteral("candidate"), candidate.candidate},
                      {QStringLiteral("sdpMLineIndex"), candidate.sdpMLineIndex}};
    if (candidate.sdpMid)
        inner.insert(QStringLiteral("sdpMid"), *candidate.sdpMid);
    return TransferProtocol::encode(QJsonObject{{QStringLiteral("candidate"), inner}});
}

QString offerPayload(const QString &sdp)
{
    const QJsonObject inner{{QStringLiteral("sdp"), sdp}, {QStringLiteral("type"), "offer"}};
    return TransferProtocol::encode(QJsonObject{{QStringLiteral("sdp"), inner}});
}

std::optional<QString> stringValue(const QVariantMap &values, const QString &key)
{
    const auto it = values.constFind(key);
    if (it == values.cend() || it->typeId() != QMetaType::QString)
        return std::nullopt;
    return it->toString();
}

// How long WebRTC answers statistics from the report it made last.
constexpr int statisticsLifetimeMilliseconds = 100;

bool isRelayCandidate(const RtcStatsReport &report, const std::optional<QString> &id)
{
    if (!id)
        return false;
    const auto it = report.constFind(*id);
    return it != report.cend() &&
           it->values.value(QStringLiteral("candidateType")).toString() == u"relay";
}

// Closes an upload and deletes the folder made for it, with everything in it.
void abortUpload(const QString &path, QFile *handle)
{
    if (handle)
        handle->close();
    QDir(QFileInfo(path).absolutePath()).removeRecursively();
}

} // namespace

PeerSession::PeerSession(const QString &peerID, Shelf *shelf,
                         std::unique_ptr<PeerConnection> connection, QObject *parent)
    : QObject(parent)
    , m_peerID(peerID)
    , m_deviceName(deviceNameFor(QString()))
    , m_shelf(shelf)
    , m_connection(std::move(connection))
{
    PeerConnection *c = m_connection.get();
    connect(c, &PeerConnection::iceCandidate, this, &PeerSession::localCandidate);
    connect(c, &PeerConnection::stateChanged, this, &PeerSession::connectionStateChanged);
    connect(c, &PeerConnection::channelStateChanged, this, &PeerSession::channelStateChanged);
    connect(c, &PeerConnection::messageReceived, this, &PeerSession::messageReceived);
    connect(c, &PeerConnection::bufferedAmountChanged, this, [this](quint64 amount) {
        if (amount <= resumeBufferedAmount)
            pump();
    });

    const QPointer<PeerSession> self(this);
    c->createOffer([self](std::optional<QString> sdp, const QString &error) {
        if (self)
            self->offerMade(sdp, error);
    });
}

PeerSession::~PeerSession()
{
    if (m_route == Route::closed)
        return;
    m_route = Route::closed;
    endAllTransfers();
    m_connection->disconnect(this);
    m_connection->close();
}

Shelf *PeerSession::shelf() const
{
    return m_shelf;
}

QString PeerSession::deviceNameFor(const QString &device)
{
    const QString text = device.toLower();
    const auto has = [&text](const char *piece) { return text.contains(QLatin1String(piece)); };
    if (has("samsung") || has("sm-"))
        return QStringLiteral("갤럭시");
    if (has("android"))
        return QStringLiteral("안드로이드 휴대폰");
    if (has("iphone"))
        return QStringLiteral("iPhone");
    if (has("ipad"))
        return QStringLiteral("iPad");
    if (has("windows"))
        return QStringLiteral("윈도우 PC");
    if (has("macintosh") || has("mac os"))
        return QStringLiteral("Mac");
    if (has("linux"))
        return QStringLiteral("리눅스 PC");
    return QStringLiteral("다른 기기");
}

PeerSession::Route PeerSession::routeFor(const RtcStatsReport &report)
{
    const RtcStatistic *pair = nullptr;
    for (auto it = report.cbegin(); it != report.cend() && !pair; ++it) {
        if (it->type != u"transport")
            continue;
        const std::optional<QString> id =
            stringValue(it->values, QStringLiteral("selectedCandidatePairId"));
        if (id && report.contains(*id))
            pair = &*report.constFind(*id);
    }
    for (auto it = report.cbegin(); it != report.cend() && !pair; ++it) {
        if (it->type == u"candidate-pair" &&
            it->values.value(QStringLiteral("nominated")).toBool() &&
            it->values.value(QStringLiteral("state")).toString() == u"succeeded")
            pair = &*it;
    }
    if (!pair)
        return Route::direct;
    const bool relayed =
        isRelayCandidate(report, stringValue(pair->values, QStringLiteral("localCandidateId"))) ||
        isRelayCandidate(report, stringValue(pair->values, QStringLiteral("remoteCandidateId")));
    return relayed ? Route::relay : Route::direct;
}

qint64 PeerSession::chunkPayloadSize(std::optional<qint64> maxMessageSize)
{
    const qint64 limit = maxMessageSize && *maxMessageSize < defaultMessageSize
                             ? *maxMessageSize
                             : defaultMessageSize;
    return std::max(limit - 4, minimumChunkPayload);
}

// Negotiation

void PeerSession::offerMade(std::optional<QString> sdp, const QString &error)
{
    if (!sdp) {
        vyoError(lcShare, u"offer 생성 실패: %{public}s", error);
        return;
    }
    const QPointer<PeerSession> self(this);
    const QString offer = *sdp;
    m_connection->setLocalDescription(QStringLiteral("offer"), offer,
                                      [self, offer](std::optional<QString> failure) {
                                          if (!self || failure)
                                              return;
                                          if (self->sendSignal)
                                              self->sendSignal(offerPayload(offer));
                                      });
}

void PeerSession::handleSignal(const QString &payload)
{
    if (m_route == Route::closed)
        return;
    const QJsonDocument document = QJsonDocument::fromJson(payload.toUtf8());
    if (!document.isObject())
        return;
    const QJsonObject object = document.object();

    const QJsonObject sdp = object.value(QLatin1String("sdp")).toObject();
    const QJsonValue sdpText = sdp.value(QLatin1String("sdp"));
    if (sdp.value(QLatin1String("type")).toString() == u"answer" && sdpText.isString()) {
        const QPointer<PeerSession> self(this);
        m_connection->setRemoteDescription(
            QStringLiteral("answer"), sdpText.toString(), [self](std::optional<QString> failure) {
                if (!self)
                    return;
                if (failure) {
                    vyoError(lcShare, u"answer 적용 실패: %{public}s", *failure);
                    return;
                }
                self->m_hasRemoteDescription = true;
                const QList<IceCandidate> pending = std::exchange(self->m_pendingCandidates, {});
                for (const IceCandidate &candidate : pending)
                    self->addCandidate(candidate);
            });
        return;
    }

    const QJsonValue candidateValue = object.value(QLatin1String("candidate"));
    if (!candidateValue.isObject())
        return;
    const QJsonObject candidate = candidateValue.toObject();
    const QJsonValue line = candidate.value(QLatin1String("candidate"));
    if (!line.isString() || line.toString().isEmpty())
        return;
    IceCandidate ice;
    ice.candidate = line.toString();
    ice.sdpMLineIndex = candidate.value(QLatin1String("sdpMLineIndex")).toInt(0);
    const QJsonValue mid = candidate.value(QLatin1String("sdpMid"));
    if (mid.isString())
        ice.sdpMid = mid.toString();
    if (m_hasRemoteDescription)
        addCandidate(ice);
    else
        m_pendingCandidates.append(ice);
}

void PeerSession::addCandidate(const IceCandidate &candidate)
{
    const QPointer<PeerSession> self(this);
    m_connection->addIceCandidate(candidate, [self](std::optional<QString> failure) {
        if (failure) {
            vyoDebug(lcShare, u"ICE 후보 추가 실패: %{public}s", *failure);
            return;
        }
        // A browser behind a relay may reach us before its relay candidate arrives: the pair
        // then names a peer-reflexive candidate, which learns that it is a relay only now.
        // WebRTC keeps a statistics report for 50 ms: ask once that one has expired.
        if (self && self->m_connection->state() == PeerConnection::State::connected)
            QTimer::singleShot(statisticsLifetimeMilliseconds, self.data(), [self] {
                if (self)
                    self->detectRoute();
            });
    });
}

void PeerSession::localCandidate(const IceCandidate &candidate)
{
    if (sendSignal)
        sendSignal(candidatePayload(candidate));
}

void PeerSession::detectRoute()
{
    const QPointer<PeerSession> self(this);
    m_connection->statistics([self](const RtcStatsReport &report) {
        if (!self || self->m_route == Route::closed)
            return;
        self->m_route = routeFor(report);
        self->call(self->onRouteChange);
    });
}

void PeerSession::connectionStateChanged(PeerConnection::State state)
{
    switch (state) {
    case PeerConnection::State::connected:
        detectRoute();
        break;
    case PeerConnection::State::failed:
    case PeerConnection::State::closed:
        close(false);
        break;
    case PeerConnection::State::fresh:
    case PeerConnection::State::connecting:
    case PeerConnection::State::disconnected:
        break;
    }
}

void PeerSession::channelStateChanged(PeerConnection::ChannelState state)
{
    if (state == PeerConnection::ChannelState::open)
        pump();
    else if (state == PeerConnection::ChannelState::closed)
        close(false);
}

// Messages

void PeerSession::messageReceived(const PeerConnection::Message &message)
{
    if (m_route == Route::closed)
        return;
    if (message.binary)
        receiveFrame(message.data);
    else
        handleText(TransferProtocol::parse(message.data));
}

void PeerSession::handleText(const Incoming &message)
{
    switch (message.kind) {
    case Incoming::Kind::ready:
        m_remoteMaxMessageSize = message.maxMessageSize;
        m_deviceName = deviceNameFor(message.device);
        m_isReady = true;
        call(onRouteChange);
        call(onReady);
        break;
    case Incoming::Kind::get:
        getItem(message.tid, message.itemID);
        break;
    case Incoming::Kind::getAll:
        getAll(message.tid);
        break;
    case Incoming::Kind::put:
        startUpload(message.tid, message.name, message.size);
        break;
    case Incoming::Kind::end:
        endUpload(message.tid);
        break;
    case Incoming::Kind::cancel:
        cancel(message.tid);
        break;
    case Incoming::Kind::unknown:
        break;
    }
}

void PeerSession::sendText(const QString &text)
{
    if (m_isReady && m_route != Route::closed)
        m_connection->send({text.toUtf8(), false});
}

void PeerSession::sendMessage(const QJsonObject &message)
{
    m_connection->send({TransferProtocol::encode(message).toUtf8(), false});
}

void PeerSession::sendError(quint32 tid, const QString &message)
{
    sendMessage(TransferProtocol::errorMessage(tid, message));
}

void PeerSession::activity(const QString &text)
{
    if (onActivity)
        onActivity(text);
}

void PeerSession::call(const std::function<void()> &callback)
{
    if (callback)
        callback();
}

// Downloads

void PeerSession::getItem(quint32 tid, const QUuid &itemID)
{
    const ShelfItem *found = nullptr;
    if (m_shelf) {
        const QList<ShelfItem> &items = m_shelf->items();
        const auto it =
            std::find_if(items.cbegin(), items.cend(),
                         [&itemID](const ShelfItem &item) { return item.id() == itemID; });
        if (it != items.cend())
            found = &*it;
    }
    if (!found || !found->content().isFileBacked() ||
        !QFileInfo::exists(found->content().url().toLocalFile())) {
        sendError(tid, notFoundText);
        return;
    }
    const QString path = found->content().url().toLocalFile();
    const bool isFolder = QFileInfo(path).isDir();
    activity(m_deviceName + QStringLiteral("에서 ") + found->displayName() +
             QStringLiteral(" 받는 중"));
    if (isFolder)
        zipAndSend({QUrl::fromLocalFile(path)},
                   nfc(lastPathComponent(path)) + QStringLiteral(".zip"), tid);
    else
        startDownload(path, nfc(lastPathComponent(path)), tid, false);
}

void PeerSession::getAll(quint32 tid)
{
    QList<QUrl> urls;
    if (m_shelf) {
        for (const ShelfItem &item : m_shelf->items()) {
            if (item.content().isFileBacked() &&
                QFileInfo::exists(item.content().url().toLocalFile()))
                urls.append(item.content().url());
        }
    }
    if (urls.isEmpty()) {
        sendError(tid, nothingToGetText);
        return;
    }
    activity(m_deviceName + QStringLiteral("에서 ") + QString::number(urls.size()) +
             QStringLiteral("개를 ZIP으로 받는 중"));
    const QString stamp = QLocale(QLocale::Korean, QLocale::SouthKorea)
                              .toString(QDateTime::currentDateTime(), u"yyyy-MM-dd HH.mm");
    zipAndSend(urls, QStringLiteral("Vyo ") + stamp + QStringLiteral(".zip"), tid);
}

void PeerSession::zipAndSend(const QList<QUrl> &urls, const QString &name, quint32 tid)
{
    const QString path =
        QDir(QDir::tempPath())
            .filePath(QStringLiteral("vyo-") + uuidText(newId()) + QStringLiteral(".zip"));
    m_archivesInProgress.insert(tid, path);
    QFuture<std::optional<ZipWriter::Failure>> written = QtConcurrent::run(
        [urls, path] { return ZipWriter::writeArchive(urls, QUrl::fromLocalFile(path)); });
    // The continuation runs on the main thread whatever happened to the session meanwhile, so the
    // archive is deleted when nobody is left to send it.
    const QPointer<PeerSession> self(this);
    written.then(QCoreApplication::instance(),
                 [self, path, name, tid](std::optional<ZipWriter::Failure> failure) {
                     const bool wanted = self && self->m_archivesInProgress.remove(tid, path) > 0;
                     if (!wanted || failure)
                         QFile::remove(path);
                     if (!wanted)
                         return;
                     if (failure)
                         self->sendError(tid, failure->description());
                     else
                         self->startDownload(path, name, tid, true);
                 });
}

void PeerSession::startDownload(const QString &path, const QString &name, quint32 tid,
                                bool deleteAfter)
{
    auto handle = std::make_unique<QFile>(path);
    const QFileInfo info(path);
    if (m_route == Route::closed || !handle->open(QIODevice::ReadOnly) || !info.isFile() ||
        info.size() < 0) {
        if (deleteAfter)
            QFile::remove(path);
        sendError(tid, cannotOpenText);
        return;
    }
    OutgoingTransfer transfer;
    transfer.tid = tid;
    transfer.size = quint64(info.size());
    transfer.path = path;
    transfer.handle = std::move(handle);
    transfer.deleteAfter = deleteAfter;
    sendMessage(TransferProtocol::fileMessage(tid, name, transfer.size, mimeTypeFor(name)));
    m_outgoing.push_back(std::move(transfer));
    pump();
}

void PeerSession::pump()
{
    // A report of the buffered amount may arrive while a frame is being sent; the running loop
    // then simply goes round once more.
    if (m_pumping) {
        m_pumpAgain = true;
        return;
    }
    m_pumping = true;
    do {
        m_pumpAgain = false;
        if (m_route == Route::closed ||
            m_connection->channelState() != PeerConnection::ChannelState::open)
            break;
        const qint64 chunk = chunkPayloadSize(m_remoteMaxMessageSize);
        while (!m_outgoing.empty()) {
            if (m_connection->bufferedAmount() >= maximumBufferedAmount)
                break;
            OutgoingTransfer &transfer = m_outgoing.front();
            if (transfer.sent < transfer.size) {
                const QByteArray data = transfer.handle->read(chunk);
                if (!data.isEmpty()) {
                    if (!m_connection->send({TransferProtocol::frame(transfer.tid, data), true})) {
                        // The channel took nothing: read these bytes again next time.
                        transfer.handle->seek(qint64(transfer.sent));
                        break;
                    }
                    transfer.sent += quint64(data.size());
                    continue;
                }
            }
            finishFront();
        }
    } while (m_pumpAgain);
    m_pumping = false;
}

void PeerSession::finishFront()
{
    OutgoingTransfer transfer = std::move(m_outgoing.front());
    m_outgoing.pop_front();
    transfer.succeeded = transfer.sent == transfer.size;
    transfer.handle->close();
    if (transfer.deleteAfter)
        QFile::remove(transfer.path);
    if (transfer.succeeded)
        sendMessage(TransferProtocol::endMessage(transfer.tid));
    else
        sendError(transfer.tid, cannotReadText);
}

// Uploads

void PeerSession::startUpload(quint32 tid, const QString &name, quint64 size)
{
    if (size > maximumUploadSize) {
        sendError(tid, tooLargeText);
        return;
    }
    const std::optional<QString> cleaned = cleanUploadName(name);
    if (!cleaned) {
        sendError(tid, cannotStoreText);
        return;
    }
    const std::optional<QString> folder = makeDropDirectory();
    if (!folder) {
        sendError(tid, cannotStoreText);
        return;
    }
    const QString path = QDir(*folder).filePath(*cleaned);
    auto handle = std::make_unique<QFile>(path);
    if (!handle->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        QDir(*folder).removeRecursively();
        sendError(tid, cannotStoreText);
        return;
    }
    if (const auto earlier = m_incoming.find(tid); earlier != m_incoming.end()) {
        abortUpload(earlier->second.path, earlier->second.handle.get());
        m_incoming.erase(earlier);
    }
    IncomingTransfer transfer;
    transfer.path = path;
    transfer.handle = std::move(handle);
    transfer.expectedSize = size;
    m_incoming.emplace(tid, std::move(transfer));
    activity(m_deviceName + QStringLiteral("에서 ") + *cleaned + QStringLiteral(" 올리는 중"));
}

void PeerSession::receiveFrame(const QByteArray &data)
{
    const std::optional<TransferProtocol::Frame> frame = TransferProtocol::splitFrame(data);
    if (!frame)
        return;
    const auto it = m_incoming.find(frame->tid);
    if (it == m_incoming.end())
        return;
    IncomingTransfer &transfer = it->second;
    transfer.received += quint64(frame->payload.size());
    const bool fits = transfer.received <= transfer.expectedSize;
    if (fits && (frame->payload.isEmpty() ||
                 transfer.handle->write(frame->payload) == frame->payload.size()))
        return;
    abortUpload(transfer.path, transfer.handle.get());
    m_incoming.erase(it);
    sendError(frame->tid, sizeMismatchText);
}

void PeerSession::endUpload(quint32 tid)
{
    const auto it = m_incoming.find(tid);
    if (it == m_incoming.end())
        return;
    IncomingTransfer transfer = std::move(it->second);
    m_incoming.erase(it);
    const bool flushed = transfer.handle->flush();
    transfer.handle->close();
    if (transfer.received != transfer.expectedSize || !flushed) {
        abortUpload(transfer.path, nullptr);
        sendError(tid, incompleteText);
        return;
    }
    if (m_shelf)
        m_shelf->add({ShelfItem(ShelfItem::Content::file(QUrl::fromLocalFile(transfer.path)))});
    activity(m_deviceName + QStringLiteral("에서 ") + lastPathComponent(transfer.path) +
             QStringLiteral(" 올림"));
    sendMessage(TransferProtocol::storedMessage(tid));
}

// Cancel and close

void PeerSession::cancel(quint32 tid)
{
    m_archivesInProgress.remove(tid);
    const auto download =
        std::find_if(m_outgoing.begin(), m_outgoing.end(),
                     [tid](const OutgoingTransfer &transfer) { return transfer.tid == tid; });
    if (download != m_outgoing.end()) {
        download->handle->close();
        if (download->deleteAfter)
            QFile::remove(download->path);
        m_outgoing.erase(download);
    }
    if (const auto upload = m_incoming.find(tid); upload != m_incoming.end()) {
        abortUpload(upload->second.path, upload->second.handle.get());
        m_incoming.erase(upload);
    }
}

void PeerSession::endAllTransfers()
{
    for (OutgoingTransfer &transfer : m_outgoing) {
        transfer.handle->close();
        if (transfer.deleteAfter)
            QFile::remove(transfer.path);
    }
    m_outgoing.clear();
    for (auto &[tid, transfer] : m_incoming)
        abortUpload(transfer.path, transfer.handle.get());
    m_incoming.clear();
    // Archives still being written are deleted when they are done.
    m_archivesInProgress.clear();
}

void PeerSession::close(bool notify)
{
    if (m_route == Route::closed)
        return;
    if (notify)
        sendMessage(TransferProtocol::byeMessage());
    m_route = Route::closed;
    endAllTransfers();
    m_connection->disconnect(this);
    m_connection->close();
    call(onRouteChange);
    call(onClosed);
}

} // namespace vyo
