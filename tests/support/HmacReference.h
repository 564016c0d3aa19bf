#pragma once

// Runs the independent HMAC reference (Python's hmac module, hmac_reference.py) on a batch of
// requests and returns its answers in order; nothing when Python is not there or fails.

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <optional>

namespace vyo::test {

inline std::optional<QStringList> hmacReference(const QList<QJsonObject> &requests)
{
    // The system's Python first: version-manager shims in PATH take seconds to start.
    QString python = QStandardPaths::findExecutable(QStringLiteral("python3"), {"/usr/bin"});
    if (python.isEmpty())
        python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        return std::nullopt;
    QByteArray input;
    for (const QJsonObject &request : requests)
        input += QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n';
    QProcess process;
    process.start(python, {QStringLiteral(VYO_HMAC_REFERENCE)});
    if (!process.waitForStarted(5000))
        return std::nullopt;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return std::nullopt;
    QStringList answers = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n');
    answers.removeAll(QString());
    if (answers.size() != requests.size())
        return std::nullopt;
    return answers;
}

} // namespace vyo::test
