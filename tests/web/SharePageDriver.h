#pragma once

// The share-page driver (tests/web/driver.mjs) as a child process, for the tests and the sharing
// benchmark: one JSON command a line, one answer. The share service and the desktop's side run in
// the caller's thread, so every wait keeps the event loop running.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <functional>
#include <map>
#include <optional>

namespace vyo::test {

// Starting Chromium and loading a page take a few seconds on a busy machine.
constexpr int browserWait = 30000;

// Runs the event loop until `done` answers true or `milliseconds` have passed. Unlike
// QTest::qWaitFor, which sleeps 10 ms between passes, it never holds back the share center's
// flow control: it blocks only while no event is pending.
inline bool waitUntil(const std::function<bool()> &done, int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    QTimer wake; // so that the deadline is noticed while nothing else happens
    wake.start(100);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

class Driver
{
public:
    // `timeoutSeconds` bounds the driver's whole run; `serviceWorkers` false makes the page keep
    // downloads in memory; `launcher` (a program and its arguments, such as "ip netns exec
    // <namespace>") starts the driver when it is not empty.
    explicit Driver(int timeoutSeconds = 240, bool serviceWorkers = true,
                    const QStringList &launcher = {})
    {
        QStringList arguments{QStringLiteral(VYO_SHARE_PAGE_DRIVER),
                              QStringLiteral("--timeout=%1").arg(timeoutSeconds)};
        if (!serviceWorkers)
            arguments << QStringLiteral("--no-service-workers");
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { read(); });
        if (launcher.isEmpty())
            m_process.start(node, arguments);
        else
            m_process.start(launcher.first(), launcher.mid(1) + QStringList{node} + arguments);
    }
    ~Driver()
    {
        (void)call(QStringLiteral("quit"), {}, 5000);
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }
    Driver(const Driver &) = delete;
    Driver &operator=(const Driver &) = delete;

    // The command's result, or nothing (with the reason in `error`) when it failed or timed out.
    std::optional<QJsonValue> call(const QString &command, QJsonObject arguments = {},
                                   int milliseconds = browserWait)
    {
        const int id = ++m_id;
        arguments.insert(QStringLiteral("id"), id);
        arguments.insert(QStringLiteral("cmd"), command);
        m_process.write(QJsonDocument(arguments).toJson(QJsonDocument::Compact) + '\n');
        if (!waitUntil([&] { return m_answers.count(id) > 0; }, milliseconds)) {
            error = QStringLiteral("no answer to %1 within %2 ms").arg(command).arg(milliseconds);
            return std::nullopt;
        }
        const QJsonObject answer = m_answers[id];
        m_answers.erase(id);
        if (!answer.value(QStringLiteral("ok")).toBool()) {
            error =
                command + QStringLiteral(": ") + answer.value(QStringLiteral("error")).toString();
            return std::nullopt;
        }
        return answer.value(QStringLiteral("result"));
    }

    // Opens `url` in a new page and waits for `count` items; the listing, or nothing with the
    // reason and what the page shows in `error`.
    std::optional<QJsonArray> openPage(const QString &url, int count, bool relayOnly = false)
    {
        if (!call(QStringLiteral("open"), {{QStringLiteral("url"), url}, {"relayOnly", relayOnly}}))
            return std::nullopt;
        const auto items =
            call(QStringLiteral("waitForListing"),
                 {{QStringLiteral("count"), count}, {"timeout", browserWait}}, browserWait + 5000);
        if (items)
            return items->toArray();
        const QString waited = error;
        const auto status = call(QStringLiteral("status"));
        error = waited + u' ' + QJsonDocument(status.value_or(QJsonValue()).toObject()).toJson();
        return std::nullopt;
    }
    // Downloads the listed item `item` (or "all") into `folder`: the saved file's "name" and
    // "path", or nothing with the reason in `error`.
    std::optional<QJsonObject> download(const QString &item, const QString &folder)
    {
        const auto saved = call(QStringLiteral("download"),
                                {{QStringLiteral("item"), item}, {"folder", folder}}, 90000);
        return saved ? std::optional(saved->toObject()) : std::nullopt;
    }

    QString error;

private:
    void read()
    {
        m_pending += m_process.readAllStandardOutput();
        qsizetype end = 0;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 1);
            static const QByteArray marker = QByteArrayLiteral("VYO-DRIVER ");
            if (!line.startsWith(marker))
                continue;
            const QJsonObject answer = QJsonDocument::fromJson(line.mid(marker.size())).object();
            m_answers[answer.value(QStringLiteral("id")).toInt()] = answer;
        }
    }

    QProcess m_process;
    QByteArray m_pending;
    std::map<int, QJsonObject> m_answers;
    int m_id = 0;
};

} // namespace vyo::test
