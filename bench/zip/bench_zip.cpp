// Benchmark helper for the ZIP writer, driven by bench/zip.sh.
//
//   bench_zip archive [--threads <n>] <destination.zip> <file or folder>...
//       Writes the archive with ZipWriter::makeEntries and ZipWriter::write, deflating on <n>
//       threads (default: one per core, as the application does), and prints
//       "seconds=<wall time> bytes=<archive size>".
//   bench_zip jpegs <folder> <count> <seed>
//       Makes <count> photo-like JPEG files (3000 x 2000, quality 90) in <folder>.

#include "logic/ZipWriter.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <cstdio>

namespace {

int usage()
{
    std::fputs("usage: bench_zip archive [--threads <n>] <destination.zip> <path>...\n"
               "       bench_zip jpegs <folder> <count> <seed>\n",
               stderr);
    return 2;
}

int archive(QStringList arguments)
{
    int threads = 0;
    if (arguments.size() >= 2 && arguments[0] == u"--threads") {
        threads = arguments[1].toInt();
        arguments = arguments.mid(2);
    }
    if (arguments.size() < 2)
        return usage();
    QList<QUrl> urls;
    for (qsizetype i = 1; i < arguments.size(); ++i)
        urls.append(QUrl::fromLocalFile(QFileInfo(arguments[i]).absoluteFilePath()));
    const QUrl destination = QUrl::fromLocalFile(QFileInfo(arguments[0]).absoluteFilePath());
    QElapsedTimer timer;
    timer.start();
    const auto failure =
        vyo::ZipWriter::write(vyo::ZipWriter::makeEntries(urls), destination, {}, threads);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (failure) {
        std::fprintf(stderr, "bench_zip: %s\n", qPrintable(failure->description()));
        return 1;
    }
    std::printf("seconds=%.3f bytes=%lld\n", seconds,
                static_cast<long long>(QFileInfo(destination.toLocalFile()).size()));
    return 0;
}

// A smooth gradient with soft shapes and sensor-like noise: compresses like a photograph.
QImage photo(QRandomGenerator &random)
{
    QImage image(3000, 2000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, image.width(), image.height());
    gradient.setColorAt(0, QColor::fromHsv(random.bounded(360), 120, 220));
    gradient.setColorAt(1, QColor::fromHsv(random.bounded(360), 200, 90));
    painter.fillRect(image.rect(), gradient);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 40; ++i) {
        painter.setBrush(
            QColor::fromHsv(random.bounded(360), random.bounded(256), random.bounded(256), 90));
        painter.drawEllipse(QPoint(random.bounded(image.width()), random.bounded(image.height())),
                            random.bounded(50, 700), random.bounded(50, 500));
    }
    painter.end();
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int noise = int(random.bounded(25)) - 12;
            const QRgb p = line[x];
            line[x] = qRgb(qBound(0, qRed(p) + noise, 255), qBound(0, qGreen(p) + noise, 255),
                           qBound(0, qBlue(p) + noise, 255));
        }
    }
    return image;
}

int jpegs(const QStringList &arguments)
{
    if (arguments.size() != 3)
        return usage();
    const QDir folder(arguments[0]);
    const int count = arguments[1].toInt();
    QRandomGenerator random(arguments[2].toUInt());
    if (!QDir().mkpath(folder.path()))
        return 1;
    for (int i = 0; i < count; ++i) {
        const QString path =
            folder.filePath(QStringLiteral("사진 %1.jpg").arg(i + 1, 3, 10, QChar(u'0')));
        if (!photo(random).save(path, "JPEG", 90)) {
            std::fprintf(stderr, "bench_zip: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty())
        return usage();
    const QString mode = arguments.takeFirst();
    if (mode == u"archive")
        return archive(arguments);
    if (mode == u"jpegs")
        return jpegs(arguments);
    return usage();
}
