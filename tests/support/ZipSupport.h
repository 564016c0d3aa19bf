#pragma once

// Independent readers for the ZIP tests: a strict byte-level parser of the archive layout,
// Python's zipfile, Info-ZIP unzip, 7-Zip and bsdtar.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <optional>

namespace vyo::test {

// One entry: its central directory record's fields, its name and its data.
struct ZipRecord
{
    quint16 versionMadeBy = 0;
    quint16 versionNeeded = 0;
    quint16 flags = 0;
    quint16 method = 0;
    quint16 time = 0;
    quint16 date = 0;
    quint32 compressedSize = 0;
    quint32 uncompressedSize = 0;
    quint32 externalAttributes = 0;
    quint32 localHeaderOffset = 0;
    QByteArray name;
    QByteArray data;
};

struct ZipLayout
{
    QList<ZipRecord> records;
    quint16 totalRecords = 0;
    quint32 directoryOffset = 0;
};

inline quint16 le16(const QByteArray &bytes, qsizetype at)
{
    return quint16(quint8(bytes[at])) | quint16(quint8(bytes[at + 1])) << 8;
}

inline quint32 le32(const QByteArray &bytes, qsizetype at)
{
    return quint32(le16(bytes, at)) | quint32(le16(bytes, at + 2)) << 16;
}

// Reads the archive the way it must be laid out: local header and data of each entry back to
// back from offset 0, each local header repeating its central record (version needed to the
// extra length, then the name), then the central directory, then a 22-byte end record that ends
// the file; one disk, no extra fields, no comments. Nothing when the layout differs (the reason
// in `error`).
inline std::optional<ZipLayout> parseZip(const QByteArray &bytes, QString *error)
{
    const auto fail = [error](const QString &reason) {
        *error = reason;
        return std::nullopt;
    };
    if (bytes.size() < 22)
        return fail(QStringLiteral("shorter than an end record"));
    const qsizetype end = bytes.size() - 22;
    if (le32(bytes, end) != 0x06054B50)
        return fail(QStringLiteral("no end record in the last 22 bytes"));
    ZipLayout layout;
    layout.totalRecords = le16(bytes, end + 10);
    layout.directoryOffset = le32(bytes, end + 16);
    if (le32(bytes, end + 4) != 0 || le16(bytes, end + 8) != layout.totalRecords ||
        le16(bytes, end + 20) != 0)
        return fail(QStringLiteral("end record names other disks or a comment"));
    if (qsizetype(layout.directoryOffset) + qsizetype(le32(bytes, end + 12)) != end)
        return fail(QStringLiteral("central directory does not end at the end record"));

    qsizetype at = layout.directoryOffset;
    qsizetype expectedLocal = 0;
    for (int i = 0; i < layout.totalRecords; ++i) {
        if (at + 46 > end || le32(bytes, at) != 0x02014B50)
            return fail(QStringLiteral("central record %1 missing").arg(i));
        ZipRecord r;
        r.versionMadeBy = le16(bytes, at + 4);
        r.versionNeeded = le16(bytes, at + 6);
        r.flags = le16(bytes, at + 8);
        r.method = le16(bytes, at + 10);
        r.time = le16(bytes, at + 12);
        r.date = le16(bytes, at + 14);
        r.compressedSize = le32(bytes, at + 20);
        r.uncompressedSize = le32(bytes, at + 24);
        const quint16 nameLength = le16(bytes, at + 28);
        r.externalAttributes = le32(bytes, at + 38);
        r.localHeaderOffset = le32(bytes, at + 42);
        r.name = bytes.mid(at + 46, nameLength);
        // Extra field, comment, disk number and internal attributes.
        if (le32(bytes, at + 30) != 0 || le32(bytes, at + 34) != 0)
            return fail(QStringLiteral("central record %1 has extras").arg(i));

        const qsizetype local = r.localHeaderOffset;
        if (local != expectedLocal)
            return fail(
                QStringLiteral("entry %1 does not start where the previous one ends").arg(i));
        if (local + 30 + nameLength > layout.directoryOffset || le32(bytes, local) != 0x04034B50)
            return fail(QStringLiteral("local header %1 missing").arg(i));
        if (bytes.mid(local + 4, 26) != bytes.mid(at + 6, 26) ||
            bytes.mid(local + 30, nameLength) != r.name)
            return fail(QStringLiteral("local header %1 differs from its central record").arg(i));
        at += 46 + nameLength;
        r.data = bytes.mid(local + 30 + nameLength, r.compressedSize);
        expectedLocal = local + 30 + nameLength + r.compressedSize;
        layout.records.append(r);
    }
    if (at != end)
        return fail(QStringLiteral("central directory size does not match its records"));
    if (expectedLocal != layout.directoryOffset)
        return fail(QStringLiteral("gap between the last entry and the central directory"));
    return layout;
}

struct ToolResult
{
    bool started = false;
    int exitCode = -1;
    QByteArray output;
};

// Runs a command line tool in a UTF-8 locale, bounded in time.
inline ToolResult runTool(const QString &program, const QStringList &arguments,
                          int timeoutMilliseconds = 120000)
{
    ToolResult result;
    const QString path = QStandardPaths::findExecutable(program);
    result.output = program.toUtf8() + " not found (scripts/install-deps.sh installs it)";
    if (path.isEmpty())
        return result;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(path, arguments);
    if (!process.waitForStarted(10000))
        return result;
    result.started = true;
    if (!process.waitForFinished(timeoutMilliseconds)) {
        process.kill();
        process.waitForFinished(5000);
        result.output = "timed out";
        return result;
    }
    result.output = process.readAll();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

// What Python's zipfile reads from the archive: {"entries": [{"name": ...}], "testzip": null or
// the first bad name}. Empty on failure, with the reason in `error`.
inline QJsonObject pythonReport(const QString &archive, QString *error)
{
    static const QString script = QStringLiteral(R"(
import json, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    entries = [dict(name=name) for name in z.namelist()]
    print(json.dumps(dict(entries=entries, testzip=z.testzip())))
)");
    const ToolResult python =
        runTool(QStringLiteral("python3"), {QStringLiteral("-c"), script, archive});
    if (python.exitCode != 0) { // also when python3 is missing, which the output says
        *error = QStringLiteral("zipfile failed: ") + QString::fromUtf8(python.output);
        return {};
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(python.output, &parseError);
    if (!document.isObject()) {
        *error = QStringLiteral("zipfile printed no JSON: ") + QString::fromUtf8(python.output);
        return {};
    }
    return document.object();
}

inline QStringList pythonNames(const QJsonObject &report)
{
    QStringList names;
    for (const QJsonValue &entry : report.value(QStringLiteral("entries")).toArray())
        names.append(entry.toObject().value(QStringLiteral("name")).toString());
    return names;
}

// Checks the archive with every independent reader; answers what went wrong, empty when all of
// them accept it with exactly `names`, in order.
inline QString checkWithReaders(const QString &archive, const QStringList &names)
{
    QString error;
    const QJsonObject report = pythonReport(archive, &error);
    if (!error.isEmpty())
        return error;
    if (!report.value(QStringLiteral("testzip")).isNull())
        return QStringLiteral("zipfile testzip: bad entry ") +
               report.value(QStringLiteral("testzip")).toString();
    if (pythonNames(report) != names)
        return QStringLiteral("zipfile names: ") + pythonNames(report).join(u" | ");

    const ToolResult test = runTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive});
    if (test.exitCode != 0 || !test.output.contains("No errors detected"))
        return QStringLiteral("unzip -t: ") + QString::fromUtf8(test.output);

    const ToolResult sevenZip = runTool(QStringLiteral("7z"), {QStringLiteral("t"), archive});
    if (sevenZip.exitCode != 0 || !sevenZip.output.contains("Everything is Ok"))
        return QStringLiteral("7z t: ") + QString::fromUtf8(sevenZip.output);

    const ToolResult tar = runTool(QStringLiteral("bsdtar"), {QStringLiteral("-tf"), archive});
    const QStringList tarNames = QString::fromUtf8(tar.output).split(u'\n', Qt::SkipEmptyParts);
    if (tar.exitCode != 0 || tarNames != names)
        return QStringLiteral("bsdtar -tf: ") + QString::fromUtf8(tar.output);
    return {};
}

} // namespace vyo::test

// Fails the test with the readers' complaint unless checkWithReaders accepts the archive
// (the names may be a braced list).
#define VYO_VERIFY_READERS(archive, ...)                                                           \
    do {                                                                                           \
        const QString readersError = ::vyo::test::checkWithReaders(archive, __VA_ARGS__);          \
        QVERIFY2(readersError.isEmpty(), qPrintable(readersError));                                \
    } while (false)
