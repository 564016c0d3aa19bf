#include "platform/UrlSchemeRegistration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

namespace vyo {

namespace {

constexpr auto schemeMimeType = "x-scheme-handler/vyoshelf";

bool writeIfChanged(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes)
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
    QFile file(mimeapps);
    QString current;
    if (file.open(QIODevice::ReadOnly))
        current = QString::fromUtf8(file.readAll());
    file.close();
    if (!writeIfChanged(
            mimeapps,
            withDefaultApplication(current, QLatin1String(schemeMimeType), desktopId).toUtf8(),
            error))
        return false;
    // Last, the entry's icon, where icon themes look for an application's own icons.
    QFile icon(QStringLiteral(":/icons/app.vyo.Vyo.svg"));
    return icon.open(QIODevice::ReadOnly) && writeIfChanged(userIconPath(), icon.readAll(), error);
}

} // namespace vyo
