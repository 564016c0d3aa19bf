#pragma once

// What the end-to-end sharing tests share: starting a share and waiting until its room is open,
// and reading a file back to compare.

#include "share/ShareCenter.h"
#include "shelf/Shelf.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QString>
#include <QTest>

namespace vyo::test {

// Shares `shelf` and answers its share address once its room is open; empty (with the center's
// message logged) when it does not open within 10 seconds.
inline QString startShare(ShareCenter &center, Shelf &shelf)
{
    center.startSharing(&shelf);
    ShareSession *session = nullptr;
    const bool online = QTest::qWaitFor(
        [&] {
            session = center.session(shelf.id());
            return session && session->isOnline();
        },
        10000);
    if (!online) {
        qWarning() << "no share:" << center.lastError().value_or(QString());
        return {};
    }
    return session->url().toString(QUrl::FullyEncoded);
}

inline QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace vyo::test
