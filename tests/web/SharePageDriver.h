#pragma once

// The share-page driver (driver.mjs) as a child process: one command, one answer. The tests run
// the share service (and the desktop's side) in their own thread, so every wait keeps the event
// loop running.

#include "ChildProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStandardPaths>
#include <QTest>

#include <optional>

namespace vyo::test {

// Starting Chromium and loading a page take a few seconds on a busy machine.
constexpr int browserWait = 30000;

class Driver
{
public:
    Driver()
        : Driver(QStringList())
    {}
    // The driver started through `launcher` (a program and its arguments, such as "ip netns exec
    // <namespace>"), or directly when it is empty.
    explicit Driver(const QStringList &launcher)
        : m_process(launcher.isEmpty() ? nodePath() : launcher.first(),
                    launcher.mid(1) +
                        (launcher.isEmpty() ? QStringList() : QStringList{nodePath()}) +
                        QStringList{QStringLiteral(VYO_SHARE_PAGE_DRIVER),
                                    QStringLiteral("--timeout=240")})
    {}
    ~Driver() { call(QStringLiteral("quit"), {}, 5000); }

    // The command's result, or nothing (with the reason in `error`) when it failed or timed out.
    std::optional<QJsonValue> call(const QString &command, QJsonObject arguments = {},
                                   int milliseconds = browserWait)
    {
        arguments.insert(QStringLiteral("id"), ++m_id);
        arguments.insert(QStringLiteral("cmd"), command);
        m_process.write(QJsonDocument(arguments).toJson(QJsonDocument::Compact) + '\n');
        const QString marker = QStringLiteral("VYO-DRIVER {\"id\":%1,").arg(m_id);
        QString line;
        // The service runs in this thread: wait with the event loop running.
        (void)QTest::qWaitFor(
            [&] {
                const QString output = m_process.output();
                const qsizetype start = output.indexOf(marker);
                const qsizetype end = start < 0 ? -1 : output.indexOf(u'\n', start);
                if (end > 0)
                    line = output.mid(start + 11, end - start - 11);
                return end > 0;
            },
            milliseconds);
        if (line.isEmpty()) {
            error = QStringLiteral("no answer to %1; output: %2").arg(command, m_process.output());
            return std::nullopt;
        }
        const QJsonObject answer = QJsonDocument::fromJson(line.toUtf8()).object();
        if (!answer.value(QStringLiteral("ok")).toBool()) {
            error =
                command + QStringLiteral(": ") + answer.value(QStringLiteral("error")).toString();
            return std::nullopt;
        }
        return answer.value(QStringLiteral("result"));
    }

    QString error;

private:
    static QString nodePath() { return QStandardPaths::findExecutable(QStringLiteral("node")); }

    ChildProcess m_process;
    int m_id = 0;
};

} // namespace vyo::test
