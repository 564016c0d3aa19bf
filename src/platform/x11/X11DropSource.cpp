#include "platform/x11/X11DropSource.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPointer>
#include <QSysInfo>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <xcb/xcb.h>

#include <poll.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace vyo {

namespace {

struct FreeDeleter
{
    void operator()(void *pointer) const { std::free(pointer); }
};
template <typename T> using XcbPointer = std::unique_ptr<T, FreeDeleter>;

std::uint32_t internAtom(xcb_connection_t *connection, const QByteArray &name)
{
    const XcbPointer<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::uint16_t(name.size()), name.constData()),
        nullptr));
    return reply ? reply->atom : std::uint32_t(XCB_ATOM_NONE);
}

// One drop's questions on a connection of their own: sent on the main thread inside the drop (so
// they reach the source before Qt tells it the drop is over), answered on a worker thread.
class Conversation
{
public:
    Conversation(std::uint32_t source, std::uint32_t time, DropSource::Request request)
        : m_source(source)
        , m_time(time)
        , m_request(std::move(request))
    {}
    ~Conversation()
    {
        if (m_connection)
            xcb_disconnect(m_connection);
    }

    // Connects and sends the questions; false (with the reason) when there is no server.
    bool begin(QString *error)
    {
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection)) {
            *error = QStringLiteral("X 서버에 연결할 수 없음");
            return false;
        }
        const xcb_setup_t *setup = xcb_get_setup(m_connection);
        const xcb_screen_t *screen = xcb_setup_roots_iterator(setup).data;
        m_window = xcb_generate_id(m_connection);
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &mask);
        m_selection = internAtom(m_connection, "XdndSelection");
        m_saveProperty = internAtom(m_connection, "VYO_DROP_SAVE");
        m_dataProperty = internAtom(m_connection, "VYO_DROP_DATA");
        m_incr = internAtom(m_connection, "INCR");
        m_saveTarget = internAtom(m_connection, "XdndDirectSave0");
        if (!m_request.dataType.isEmpty())
            m_dataTarget = internAtom(m_connection, m_request.dataType.toLatin1());
        // Both questions go now, while the drop lasts: a source may forget its data soon after.
        if (!m_request.savePath.isEmpty()) {
            // The host part tells the source the file is on this machine.
            const QByteArray uri = "file://" +
                                   QUrl::toPercentEncoding(QSysInfo::machineHostName()) +
                                   QUrl::toPercentEncoding(m_request.savePath, "/");
            xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_source, m_saveTarget,
                                internAtom(m_connection, "text/plain"), 8,
                                std::uint32_t(uri.size()), uri.constData());
            convert(m_saveTarget, m_saveProperty);
        }
        if (m_dataTarget)
            convert(m_dataTarget, m_dataProperty);
        m_unanswered = (m_request.savePath.isEmpty() ? 0 : 1) + (m_dataTarget ? 1 : 0);
        xcb_flush(m_connection);
        return true;
    }

    // Whether every question has had its first answer (or never will).
    bool answered() const { return m_answered; }

    // Waits for the answers; runs on the worker thread.
    DropSource::Result finish()
    {
        DropSource::Result result = answer();
        m_answered = true;
        return result;
    }

private:
    static QString refusal() { return QStringLiteral("끌어 온 앱이 거절함"); }

    DropSource::Result answer()
    {
        DropSource::Result result;
        if (!m_request.savePath.isEmpty()) {
            const std::optional<QByteArray> answer =
                readAnswer(m_saveTarget, m_saveProperty, 64, &result.error);
            if (!answer)
                result.answer = result.error == refusal() ? DropSource::SaveAnswer::failed
                                                          : DropSource::SaveAnswer::noAnswer;
            else if (answer->startsWith('S'))
                result.answer = DropSource::SaveAnswer::saved;
            else if (answer->startsWith('F'))
                result.answer = DropSource::SaveAnswer::fallBack;
            else
                result.answer = DropSource::SaveAnswer::failed;
            if (result.answer == DropSource::SaveAnswer::fallBack)
                result.error = QStringLiteral("끌어 온 앱이 파일을 저장하지 않음 (F)");
            else if (result.answer == DropSource::SaveAnswer::failed && result.error.isEmpty())
                result.error = QStringLiteral("끌어 온 앱이 저장에 실패함 (E)");
            if (result.answer == DropSource::SaveAnswer::saved || !m_dataTarget)
                return result;
        }
        QString dataError;
        if (std::optional<QByteArray> data =
                readAnswer(m_dataTarget, m_dataProperty, m_request.maximumBytes, &dataError))
            result.data = std::move(*data);
        else if (result.error.isEmpty())
            result.error = dataError;
        else
            result.error += QStringLiteral("; ") + dataError;
        return result;
    }

    void convert(std::uint32_t target, std::uint32_t property)
    {
        xcb_convert_selection(m_connection, m_window, m_selection, target, property,
                              m_time ? m_time : XCB_CURRENT_TIME);
    }

    // The next event that `accept` takes, within the request's time-out; null when none came.
    template <typename Accept>
    XcbPointer<xcb_generic_event_t> waitFor(const QDeadlineTimer &deadline, Accept accept)
    {
        for (auto it = m_unread.begin(); it != m_unread.end(); ++it) {
            if (accept(it->get())) {
                XcbPointer<xcb_generic_event_t> event = std::move(*it);
                m_unread.erase(it);
                return event;
            }
        }
        const int descriptor = xcb_get_file_descriptor(m_connection);
        while (!xcb_connection_has_error(m_connection)) {
            while (XcbPointer<xcb_generic_event_t> event{xcb_poll_for_event(m_connection)}) {
                if (accept(event.get()))
                    return event;
                // The answer to the other question may come first.
                if ((event->response_type & 0x7f) == XCB_SELECTION_NOTIFY)
                    m_unread.push_back(std::move(event));
            }
            const qint64 remaining = deadline.remainingTime();
            if (remaining <= 0)
                break;
            pollfd waiting{descriptor, POLLIN, 0};
            ::poll(&waiting, 1, int(remaining));
        }
        return nullptr;
    }

    // The property the source wrote, deleted as it is read (which lets an incremental transfer go
    // on); nothing when it is larger than `maximumBytes`.
    std::optional<std::pair<std::uint32_t, QByteArray>> takeProperty(std::uint32_t property,
                                                                     qint64 maximumBytes)
    {
        const std::uint32_t words = std::uint32_t(maximumBytes / 4 + 1);
        const XcbPointer<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(m_connection,
                                   xcb_get_property(m_connection, 1, m_window, property,
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, words),
                                   nullptr));
        if (!reply || reply->bytes_after > 0)
            return std::nullopt;
        const int length = xcb_get_property_value_length(reply.get());
        return std::pair(
            reply->type,
            QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())), length));
    }

    // The answer to the conversion to `target`, read from `property`.
    std::optional<QByteArray> readAnswer(std::uint32_t target, std::uint32_t property,
                                         qint64 maximumBytes, QString *error)
    {
        const QDeadlineTimer deadline(m_request.timeout);
        const XcbPointer<xcb_generic_event_t> event =
            waitFor(deadline, [target](const xcb_generic_event_t *event) {
                return (event->response_type & 0x7f) == XCB_SELECTION_NOTIFY &&
                       reinterpret_cast<const xcb_selection_notify_event_t *>(event)->target ==
                           target;
            });
        if (!event) {
            *error = QStringLiteral("끌어 온 앱이 %1 안에 답하지 않음")
                         .arg(QStringLiteral("%1초").arg(double(m_request.timeout.count()) / 1000));
            return std::nullopt;
        }
        // The rest of an incremental transfer may come after the drop.
        if (--m_unanswered == 0)
            m_answered = true;
        const auto *notify = reinterpret_cast<const xcb_selection_notify_event_t *>(event.get());
        if (notify->property == XCB_ATOM_NONE) {
            *error = refusal();
            return std::nullopt;
        }
        auto first = takeProperty(property, maximumBytes);
        if (!first) {
            *error = QStringLiteral("끌어 온 데이터가 너무 큼");
            return std::nullopt;
        }
        if (first->first != m_incr)
            return first->second;
        // Incremental transfer: each deletion asks for the next piece, an empty piece ends it.
        QByteArray data;
        while (true) {
            const XcbPointer<xcb_generic_event_t> piece =
                waitFor(deadline, [property](const xcb_generic_event_t *event) {
                    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
                        return false;
                    const auto *notify =
                        reinterpret_cast<const xcb_property_notify_event_t *>(event);
                    return notify->atom == property && notify->state == XCB_PROPERTY_NEW_VALUE;
                });
            if (!piece) {
                *error = QStringLiteral("끌어 온 앱이 데이터를 끝까지 보내지 않음");
                return std::nullopt;
            }
            const auto next = takeProperty(property, maximumBytes - data.size());
            if (!next) {
                *error = QStringLiteral("끌어 온 데이터가 너무 큼");
                return std::nullopt;
            }
            if (next->second.isEmpty())
                return data;
            data += next->second;
        }
    }

    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_window = 0;
    std::uint32_t m_selection = 0;
    std::uint32_t m_saveProperty = 0;
    std::uint32_t m_dataProperty = 0;
    std::uint32_t m_saveTarget = 0;
    std::uint32_t m_dataTarget = 0;
    std::uint32_t m_incr = 0;
    std::vector<XcbPointer<xcb_generic_event_t>> m_unread;
    int m_unanswered = 0;
    std::atomic<bool> m_answered = false;
    const std::uint32_t m_source;
    const std::uint32_t m_time;
    const DropSource::Request m_request;
};

} // namespace

X11DropSource::X11DropSource()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    m_connection = x11->connection();
    m_enterAtom = internAtom(m_connection, "XdndEnter");
    m_positionAtom = internAtom(m_connection, "XdndPosition");
    m_dropAtom = internAtom(m_connection, "XdndDrop");
    m_directSaveAtom = internAtom(m_connection, "XdndDirectSave0");
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11DropSource::~X11DropSource()
{
    if (m_connection && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool X11DropSource::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
        return false;
    const auto *client = static_cast<const xcb_client_message_event_t *>(message);
    // Every XDND message names the source window first; the drop carries its time third.
    if (client->type == m_enterAtom || client->type == m_positionAtom) {
        m_sourceWindow = client->data.data32[0];
    } else if (client->type == m_dropAtom) {
        m_sourceWindow = client->data.data32[0];
        m_dropTime = client->data.data32[2];
    }
    return false;
}

std::optional<QString> X11DropSource::suggestedName()
{
    if (!m_connection || !m_sourceWindow)
        return std::nullopt;
    const XcbPointer<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(m_connection,
                               xcb_get_property(m_connection, 0, m_sourceWindow, m_directSaveAtom,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
                               nullptr));
    if (!reply || reply->format != 8 || reply->type == XCB_ATOM_NONE)
        return std::nullopt;
    const QByteArray value(static_cast<const char *>(xcb_get_property_value(reply.get())),
                           xcb_get_property_value_length(reply.get()));
    return QString::fromUtf8(value);
}

void X11DropSource::receive(const Request &request, std::function<void(const Result &)> done)
{
    auto finishOnMainThread = [done](const Result &result) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [done, result] { done(result); }, Qt::QueuedConnection);
    };
    auto conversation = std::make_shared<Conversation>(m_sourceWindow, m_dropTime, request);
    QString error;
    if (!m_connection || !m_sourceWindow) {
        Result result;
        result.answer = request.savePath.isEmpty() ? SaveAnswer::notAsked : SaveAnswer::noAnswer;
        result.error = QStringLiteral("끌어 온 창을 알 수 없음");
        finishOnMainThread(result);
        return;
    }
    if (!conversation->begin(&error)) {
        Result result;
        result.answer = SaveAnswer::noAnswer;
        result.error = error;
        finishOnMainThread(result);
        return;
    }
    QThread *worker = QThread::create(
        [conversation, finishOnMainThread] { finishOnMainThread(conversation->finish()); });
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();

    // Sources stop answering once the drop is over, and it is over when this returns: the drop
    // lasts until the first answers are in, the windows answering meanwhile.
    const QDeadlineTimer deadline(request.timeout);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (conversation->answered() || deadline.hasExpired())
            loop.quit();
    });
    poll.start(5);
    loop.exec();
}

} // namespace vyo
