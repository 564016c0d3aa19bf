#include "platform/LoginItem.h"

#include "platform/UrlSchemeRegistration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace vyo {

namespace {

enum class EntryState { absent, unreadable, readable };

EntryState readEntry(const QString &path, QByteArray *text)
{
    if (!QFileInfo::exists(path))
        return EntryState::absent;
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return EntryState::unreadable;
    *text = file.readAll();
    return EntryState::readable;
}

QString unreadableReason(const QString &path)
{
    return QStringLiteral("%1 파일을 읽을 수 없어 그대로 두었어요").arg(path);
}

} // namespace

QString LoginItem::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + QLatin1String(applicationId) +
           QStringLiteral(".desktop");
}

LoginItem::LoginItem(const QString &entryPath)
    : m_path(entryPath)
{}

bool LoginItem::entryEnabled(const QByteArray &text)
{
    bool inEntry = false;
    bool sawEntry = false;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inEntry = line == "[Desktop Entry]";
            sawEntry = sawEntry || inEntry;
            continue;
        }
        if (!inEntry || line.startsWith('#'))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "Hidden" && value == "true")
            return false;
        if (key == "X-GNOME-Autostart-enabled" && value == "false")
            return false;
    }
    return sawEntry;
}

QString LoginItem::entryText(const QString &executable)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Vyo\n"
                          "Comment=끌고 있는 파일, 링크, 글, 이미지를 잠시 올려 두는 셸프\n"
                          "Exec=%1\n"
                          "Icon=%2\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(quoteExecArgument(executable), QLatin1String(applicationId));
}

bool LoginItem::isEnabled() const
{
    QByteArray text;
    return readEntry(m_path, &text) == EntryState::readable && entryEnabled(text);
}

bool LoginItem::setEnabled(bool enabled, QString *error, const QString &executable) const
{
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    QByteArray text;
    const EntryState state = readEntry(m_path, &text);
    if (state == EntryState::unreadable)
        return fail(unreadableReason(m_path));

    if (!enabled) {
        if (state == EntryState::absent)
            return true;
        QFile file(m_path);
        if (!file.remove())
            return fail(
                QStringLiteral("%1 파일을 지우지 못했어요 (%2)").arg(m_path, file.errorString()));
        return true;
    }

    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("%1 폴더를 만들지 못했어요").arg(folder));
    const QByteArray bytes =
        entryText(executable.isEmpty() ? QCoreApplication::applicationFilePath() : executable)
            .toUtf8();
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return fail(QStringLiteral("%1 파일을 쓰지 못했어요 (%2)").arg(m_path, file.errorString()));
    return true;
}

} // namespace vyo
