// Sharing between the desktop and the share page in headless Chromium, every part real: the share
// center with its WebRTC peer sessions and the share service (on 127.0.0.1) in this process, the
// page driven by tests/web/driver.mjs. One transfer of MIB MiB of random bytes per run:
//
//   download   the page downloads a shared file; timed from the click to the saved file
//              (streamed to disk through the page's service worker, or kept in memory by the
//              page with --no-service-workers; the line says "download-stream" or
//              "download-memory" as the page reports it)
//   upload     the page uploads a file; timed from the command until the shelf holds it
//
// The bytes at the far end are compared with the original afterwards. Prints one line:
//   result <mode> <bytes> <seconds> <MB/s> <equal|DIFFERENT> <user s> <system s>
//          <peak RSS before KiB> <peak RSS after KiB>
// with this process's CPU time (getrusage: every thread, the service's too) spent during the
// transfer and its peak resident size (ru_maxrss) before and after it. Run it in user folders of
// its own (bench/share.sh runs it through scripts/run-test.sh): it writes the share address
// setting.
//
// Usage: bench_share download|upload [MIB] [--no-service-workers]   (default 256)

#include "core/Defaults.h"
#include "platform/PeerConnection.h"
#include "platform/fake/FakeDesktop.h"
#include "share/ShareCenter.h"
#include "shelf/Shelf.h"

#include "ServiceTestSupport.h"
#include "SharePageDriver.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <functional>
#include <map>
#include <optional>

using namespace vyo;
using vyo::test::Driver;
using vyo::test::waitUntil;

namespace {

constexpr qint64 blockSize = 4 * 1024 * 1024;
// The longest transfer allowed: 2 GiB at 10 MB/s.
constexpr int transferWait = 240000;

// Writes `size` random bytes (from `seed`) to `path`, a block at a time.
bool writeRandomFile(const QString &path, qint64 size, quint32 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QRandomGenerator generator(seed);
    QByteArray block(blockSize, Qt::Uninitialized);
    for (qint64 written = 0; written < size; written += block.size()) {
        generator.fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
        const qint64 length = std::min<qint64>(block.size(), size - written);
        if (file.write(block.constData(), length) != length)
            return false;
    }
    return file.flush();
}

// Whether two files hold the same bytes, read a block at a time.
bool sameContents(const QString &first, const QString &second)
{
    QFile a(first);
    QFile b(second);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.size() != b.size())
        return false;
    while (!a.atEnd()) {
        if (a.read(blockSize) != b.read(blockSize))
            return false;
    }
    return true;
}

struct Usage
{
    double userSeconds = 0;
    double systemSeconds = 0;
    long peakKiB = 0;
};

Usage usage()
{
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    return {self.ru_utime.tv_sec + self.ru_utime.tv_usec / 1e6,
            self.ru_stime.tv_sec + self.ru_stime.tv_usec / 1e6, self.ru_maxrss};
}

int fail(const QString &message)
{
    std::fprintf(stderr, "bench_share: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const QString mode = arguments.value(1);
    const qint64 size = (arguments.size() > 2 ? arguments.at(2).toLongLong() : 256) * 1024 * 1024;
    const bool serviceWorkers = !arguments.contains(QStringLiteral("--no-service-workers"));
    if ((mode != u"download" && mode != u"upload") || size <= 0)
        return fail(QStringLiteral("usage: bench_share download|upload [MIB] "
                                   "[--no-service-workers]"));

    QTemporaryDir files;
    QTemporaryDir saved;
    const QString original = files.filePath(QStringLiteral("random.bin"));
    if (!files.isValid() || !saved.isValid() || !writeRandomFile(original, size, 1))
        return fail(QStringLiteral("cannot write %1").arg(original));

    // The desktop: the service, the share center and a shelf, shared.
    const std::unique_ptr<ShareService> service = test::startService();
    if (!service)
        return fail(QStringLiteral("the service cannot listen"));
    Defaults::shared().setValue(QString::fromLatin1(DefaultsKey::shareServiceURL),
                                test::serviceBase(*service).toString());
    FakeDesktop desktop;
    Shelf shelf; // outlives the center, which may still share it on an early return
    ShareCenter center;
    center.setPeerConnectionMaker(makePeerConnection);
    if (mode == u"download")
        shelf.add({ShelfItem(ShelfItem::Content::file(QUrl::fromLocalFile(original)))});
    center.startSharing(&shelf);
    ShareSession *session = nullptr;
    if (!waitUntil(
            [&] {
                session = center.session(shelf.id());
                return session && session->isOnline();
            },
            vyo::test::browserWait))
        return fail(QStringLiteral("no share: ") + center.lastError().value_or(QString()));

    // The page, connected.
    Driver driver(transferWait / 1000 + 120, serviceWorkers);
    if (!driver.call(QStringLiteral("open"),
                     {{"url", session->url().toString(QUrl::FullyEncoded)}}) ||
        !driver.call(QStringLiteral("waitForStatus"),
                     {{"state", "connected"}, {"timeout", vyo::test::browserWait}},
                     vyo::test::browserWait + 5000))
        return fail(driver.error);
    const auto items =
        driver.call(QStringLiteral("waitForListing"),
                    {{"count", int(shelf.items().size())}, {"timeout", vyo::test::browserWait}},
                    vyo::test::browserWait + 5000);
    if (!items)
        return fail(driver.error);
    // Named by what the page does, not by what it was asked to do.
    const auto streaming = driver.call(QStringLiteral("streaming"));
    if (!streaming)
        return fail(driver.error);

    QString received;
    QElapsedTimer timer;
    qint64 nanoseconds = 0;
    const Usage before = usage();
    timer.start();
    if (mode == u"download") {
        const auto download =
            driver.call(QStringLiteral("download"),
                        {{"item", items->toArray().first().toObject().value("id").toString()},
                         {"folder", saved.path()},
                         {"timeout", transferWait}},
                        transferWait + 5000);
        nanoseconds = timer.nsecsElapsed();
        if (!download)
            return fail(driver.error);
        received = download->toObject().value("path").toString();
    } else {
        // Timed until the shelf holds the upload, which is before the page shows it done.
        QObject::connect(&shelf, &Shelf::itemsChanged, &shelf, [&] {
            if (!nanoseconds && !shelf.items().isEmpty())
                nanoseconds = timer.nsecsElapsed();
        });
        const auto rows = driver.call(QStringLiteral("upload"),
                                      {{"paths", QJsonArray{original}}, {"timeout", transferWait}},
                                      transferWait + 5000);
        if (!rows)
            return fail(driver.error);
        if (!waitUntil([&] { return nanoseconds > 0; }, vyo::test::browserWait))
            return fail(QStringLiteral("the upload did not reach the shelf: ") +
                        QJsonDocument(rows->toArray()).toJson(QJsonDocument::Compact));
        received = shelf.items().first().content().url().toLocalFile();
    }
    const Usage after = usage();

    const double seconds = nanoseconds / 1e9;
    const QString label = mode == u"upload"     ? mode
                          : streaming->toBool() ? QStringLiteral("download-stream")
                                                : QStringLiteral("download-memory");
    std::printf("result %s %lld %.3f %.1f %s %.2f %.2f %ld %ld\n", qPrintable(label),
                static_cast<long long>(size), seconds, size / seconds / 1e6,
                sameContents(original, received) ? "equal" : "DIFFERENT",
                after.userSeconds - before.userSeconds, after.systemSeconds - before.systemSeconds,
                before.peakKiB, after.peakKiB);
    std::fflush(stdout);
    center.stopSharing(shelf.id());
    return 0;
}
