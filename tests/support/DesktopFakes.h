#pragma once

// Stand-ins for the desktop that tests register in place of the real thing.

#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace vyo::test {

// The desktop's file manager (org.freedesktop.FileManager1): register it on a session-bus
// connection of its own so that calls really travel through the bus.
class FakeFileManagerService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> calls;

public Q_SLOTS:
    void ShowItems(const QStringList &uris, const QString &startupId)
    {
        Q_UNUSED(startupId);
        calls.append(uris);
    }
};

// Receives the URLs the desktop is asked to open: register it with
// QDesktopServices::setUrlHandler for "file" (and whatever else the test opens).
class OpenedURLs : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

} // namespace vyo::test
