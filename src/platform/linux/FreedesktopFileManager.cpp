#include "platform/linux/FreedesktopFileManager.h"

#include "core/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QStringList>

namespace vyo {

namespace {

constexpr auto service = "org.freedesktop.FileManager1";
constexpr auto objectPath = "/org/freedesktop/FileManager1";
constexpr auto interface = "org.freedesktop.FileManager1";
// Long enough for a file manager that D-Bus has to start first.
constexpr int revealTimeoutMilliseconds = 10000;

void openFolders(const QList<QUrl> &urls)
{
    for (const QUrl &folder : FileManager::parentFolders(urls))
        QDesktopServices::openUrl(folder);
}

} // namespace

void FreedesktopFileManager::reveal(const QList<QUrl> &urls)
{
    if (urls.isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolders(urls);
        return;
    }
    QStringList uris;
    for (const QUrl &url : urls)
        uris.append(url.toString(QUrl::FullyEncoded));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(service), QString::fromLatin1(objectPath),
        QString::fromLatin1(interface), QStringLiteral("ShowItems"));
    call << uris << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, revealTimeoutMilliseconds));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, urls](QDBusPendingCallWatcher *) {
                         watcher->deleteLater();
                         if (!watcher->isError())
                             return;
                         vyoDebug(lcApp, u"파일 관리자에서 보기 실패, 폴더를 엶: %{public}s",
                                  watcher->error().message());
                         openFolders(urls);
                     });
}

bool FreedesktopFileManager::open(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace vyo
