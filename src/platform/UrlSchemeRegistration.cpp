#include "platform/UrlSchemeRegistration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringList>

#include <optional>

namespace vyo {

namespace {

constexpr auto schemeMimeType = "x-scheme-handler/vyoshelf";

// The bytes of a file Vyo rewrites: empty when there is none yet, nullopt (with the reason) when
// one exists but cannot be read, which means it must be left alone: it may hold other people's
// choices that a rewrite would lose.
std::optional<QByteArray> currentContent(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return QByteArray();
    const auto unreadable = [&](const QString &reason) -> std::optional<QByteArray> {
        if (error)
            *error = QStringLiteral("%1: 읽을 수 없어 그대로 둠 (%2)").arg(path, reason);
        return std::nullopt;
    };
    if (info.isDir())
        return unreadable(QStringLiteral("폴더임"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return unreadable(file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return unreadable(file.errorString());
    return bytes;
}

// The text of a file Vyo merges into; nullopt when it cannot be read or is not UTF-8.
std::optional<QString> currentText(const QString &path, QString *error)
{
    const std::optional<QByteArray> bytes = currentContent(path, error);
    if (!bytes)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(*bytes);
    if (decoder.hasError()) {
        if (error)
            *error = QStringLiteral("%1: UTF-8이 아니어서 그대로 둠").arg(path);
        return std::nullopt;
    }
    return text;
}

bool writeIfChanged(const QString &path, const QByteArray &bytes, QString *error)
{
    const std::optional<QByteArray> existing = currentContent(path, error);
    if (!existing)
        return false;
    if (*existing == bytes)
        return true;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

QString quoteExecArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`=%");
    if (std::none_of(argument.begin(), argument.end(),
                     [](QChar c) { return reserved.contains(c); }))
        return argument;
    QString quoted = QStringLiteral("\"");
    for (QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    // Inside the key's value, backslashes and percent signs are escaped once more.
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    quoted.replace(u'%', QStringLiteral("%%"));
    return quoted;
}

QString desktopEntryText(const QString &executable)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Vyo\n"
                          "GenericName=끌어 놓기 셸프\n"
                          "Comment=끌고 있는 파일, 링크, 글, 이미지를 잠시 올려 두는 셸프\n"
                          "Exec=%1 %u\n"
                          "Icon=%3\n"
                          "Terminal=false\n"
                          "Categories=Utility;\n"
                          "Keywords=shelf;drag;drop;clipboard;셸프;끌어 놓기;보관;\n"
                          "MimeType=%2;\n"
                          "StartupNotify=false\n"
                          "Actions=new-shelf;reopen-shelf;share-shelf;\n"
                          "\n"
                          "[Desktop Action new-shelf]\n"
                          "Name=새 셸프 열기\n"
                          "Exec=%1 --new-shelf\n"
                          "\n"
                          "[Desktop Action reopen-shelf]\n"
                          "Name=닫은 셸프 다시 열기\n"
                          "Exec=%1 --reopen\n"
                          "\n"
                          "[Desktop Action share-shelf]\n"
                          "Name=셸프 보내기 QR 열기\n"
                          "Exec=%1 --share\n")
        .arg(quoteExecArgument(executable), QLatin1String(schemeMimeType),
             QLatin1String(applicationId));
}

QString userIconPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/icons/hicolor/scalable/apps/") + QLatin1String(applicationId) +
           QStringLiteral(".svg");
}

QString withDefaultApplication(const QString &mimeappsText, const QString &mimeType,
                               const QString &desktopId)
{
    const QString section = QStringLiteral("[Default Applications]");
    const QString entry = mimeType + u'=' + desktopId;
    QStringList lines = mimeappsText.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();

    qsizetype sectionLine = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed() == section) {
            sectionLine = i;
            break;
        }
    }
    if (sectionLine < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QString());
        lines.append(section);
        lines.append(entry);
        return lines.join(u'\n') + u'\n';
    }
    qsizetype end = sectionLine + 1;
    while (end < lines.size() && !lines[end].trimmed().startsWith(u'['))
        ++end;
    for (qsizetype i = sectionLine + 1; i < end; ++i) {
        if (lines[i].section(u'=', 0, 0).trimmed() == mimeType) {
            lines[i] = entry;
            return lines.join(u'\n') + u'\n';
        }
    }
    lines.insert(sectionLine + 1, entry);
    return lines.join(u'\n') + u'\n';
}

bool registerUrlSchemeHandler(const QString &executable, QString *error)
{
    const QString desktopId = QLatin1String(applicationId) + QStringLiteral(".desktop");
    const QString applications =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
        QStringLiteral("/applications/");
    if (!writeIfChanged(applications + desktopId, desktopEntryText(executable).toUtf8(), error))
        return false;

    const QString mimeapps =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/mimeapps.list");
    const std::optional<QString> current = currentText(mimeapps, error);
    if (!current)
        return false;
    if (!writeIfChanged(
            mimeapps,
            withDefaultApplication(*current, QLatin1String(schemeMimeType), desktopId).toUtf8(),
            error))
        return false;
    // Last, the entry's icon, where icon themes look for an application's own icons.
    QFile icon(QStringLiteral(":/icons/app.vyo.Vyo.svg"));
    return icon.open(QIODevice::ReadOnly) && writeIfChanged(userIconPath(), icon.readAll(), error);
}

} // namespace vyo
