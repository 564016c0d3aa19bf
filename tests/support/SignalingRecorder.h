#pragma once

// Records a signaling client's events as they come (with when they came and the retry delay at
// that moment) and waits for them, bounded in time.

#include "share/SignalingClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <optional>

namespace vyo::test {

struct SignalingRecorder
{
    using Event = SignalingClient::Event;
    using Kind = SignalingClient::Event::Kind;

    QList<Event> events;
    QList<qint64> times;
    QList<double> retryDelays;
    QElapsedTimer clock;
    bool offMainThread = false;

    void attach(SignalingClient &client)
    {
        clock.start();
        client.onEvent = [this, &client](const Event &event) {
            offMainThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
            events.append(event);
            times.append(clock.elapsed());
            retryDelays.append(client.retryDelay());
        };
    }
    // Attaches, connects and waits for the connection.
    bool connect(SignalingClient &client, int milliseconds = 5000)
    {
        attach(client);
        client.connect();
        return waitFor(Kind::connected, 1, milliseconds);
    }
    qsizetype count(Kind kind) const
    {
        return std::count_if(events.begin(), events.end(),
                             [kind](const Event &e) { return e.kind == kind; });
    }
    bool waitFor(Kind kind, qsizetype times = 1, int milliseconds = 5000)
    {
        return QTest::qWaitFor([&] { return count(kind) >= times; }, milliseconds);
    }
    bool waitFor(const Event &event, int milliseconds = 5000)
    {
        return QTest::qWaitFor([&] { return events.contains(event); }, milliseconds);
    }
    // Waits for the first event of `kind` and takes it out of `events`.
    std::optional<Event> take(Kind kind, int milliseconds = 5000)
    {
        if (!waitFor(kind, 1, milliseconds))
            return std::nullopt;
        const auto found = std::find_if(events.begin(), events.end(),
                                        [kind](const Event &e) { return e.kind == kind; });
        const Event event = *found;
        events.erase(found);
        return event;
    }
    // The payload of the first verified signal that has `key` at its top level.
    std::optional<QJsonObject> waitForPayload(const QString &key, int milliseconds = 5000)
    {
        std::optional<QJsonObject> found;
        (void)QTest::qWaitFor(
            [&] {
                for (const Event &event : std::as_const(events)) {
                    const QJsonObject payload =
                        QJsonDocument::fromJson(event.payload.toUtf8()).object();
                    if (event.kind == Kind::signal && payload.contains(key)) {
                        found = payload;
                        return true;
                    }
                }
                return false;
            },
            milliseconds);
        return found;
    }
};

} // namespace vyo::test
