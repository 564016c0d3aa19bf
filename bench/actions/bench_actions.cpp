// Times the image quick actions on 24-megapixel inputs against ImageMagick's convert doing the same
// work on the same files, and prints the median of several runs of each.
//
//   bench_actions [--runs N] [--convert PATH] WORK_FOLDER
//
// The inputs (a 6000 × 4000 photo-like JPEG and PNG) are made in WORK_FOLDER. Results of Vyo's
// actions go to the items folder under XDG_DATA_HOME, which the caller points at a scratch folder.

#include "actions/QuickAction.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace vyo;

namespace {

// A photo-like 24-megapixel picture: soft gradients, shapes and sensor-like noise, so that the
// encoders see realistic detail (the JPEG comes out at about 10 MB).
QImage photoLikeImage()
{
    QImage image(6000, 4000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 6000, 4000);
    sky.setColorAt(0, QColor(40, 100, 180));
    sky.setColorAt(0.6, QColor(230, 190, 140));
    sky.setColorAt(1, QColor(60, 90, 50));
    painter.fillRect(image.rect(), sky);
    QRandomGenerator random(2024);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 400; ++i) {
        painter.setBrush(
            QColor(random.bounded(256), random.bounded(256), random.bounded(256), 120));
        painter.drawEllipse(QPoint(random.bounded(6000), random.bounded(4000)),
                            20 + random.bounded(500), 20 + random.bounded(500));
    }
    painter.end();
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int noise = int(random.bounded(25)) - 12;
            const QRgb p = line[x];
            line[x] =
                qRgb(std::clamp(qRed(p) + noise, 0, 255), std::clamp(qGreen(p) + noise, 0, 255),
                     std::clamp(qBlue(p) + noise, 0, 255));
        }
    }
    return image;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Milliseconds of each run; a failed run ends the benchmark.
std::vector<double> timeRuns(int runs, const std::function<bool()> &work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!work())
            return {};
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return times;
}

bool runVyo(QuickAction action, const QString &input, QSize expectedSize)
{
    const QuickAction::Result result = QuickActions::perform(action, {QUrl::fromLocalFile(input)});
    if (!result.succeeded()) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(action.title()),
                     qPrintable(result.errorDescription()));
        return false;
    }
    const QString made = result.output().fileURLs().value(0).toLocalFile();
    const bool right = QImageReader(made).size() == expectedSize;
    if (!right)
        std::fprintf(stderr, "%s made %s of the wrong size\n", qPrintable(action.title()),
                     qPrintable(made));
    QDir(QFileInfo(made).absolutePath()).removeRecursively();
    return right;
}

bool runConvert(const QString &program, const QStringList &arguments, const QString &output,
                QSize expectedSize)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(300'000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "%s %s failed: %s\n", qPrintable(program),
                     qPrintable(arguments.join(u' ')), process.readAllStandardError().constData());
        return false;
    }
    const bool right = QImageReader(output).size() == expectedSize;
    if (!right)
        std::fprintf(stderr, "convert made %s of the wrong size\n", qPrintable(output));
    QFile::remove(output);
    return right;
}

struct Row
{
    const char *task;
    std::vector<double> vyo;
    std::vector<double> convert;
    std::vector<double> convertHinted; // with -define jpeg:size, ImageMagick's own fast path
};

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    int runs = 5;
    QString convert = QStringLiteral("/usr/bin/convert");
    while (arguments.size() > 1 && arguments.first().startsWith(u"--")) {
        const QString option = arguments.takeFirst();
        if (option == u"--runs")
            runs = std::max(1, arguments.takeFirst().toInt());
        else if (option == u"--convert")
            convert = arguments.takeFirst();
    }
    if (arguments.size() != 1) {
        std::fprintf(stderr, "usage: bench_actions [--runs N] [--convert PATH] WORK_FOLDER\n");
        return 2;
    }
    const QDir work(arguments.first());
    work.mkpath(QStringLiteral("."));
    const QString jpeg = work.filePath(QStringLiteral("photo24mp.jpg"));
    const QString png = work.filePath(QStringLiteral("photo24mp.png"));
    const QString out = work.filePath(QStringLiteral("convert-out.jpg"));

    std::fprintf(stderr, "making the 24-megapixel inputs…\n");
    const QImage image = photoLikeImage();
    QImageWriter jpegWriter(jpeg, "jpeg");
    jpegWriter.setQuality(92);
    QImageWriter pngWriter(png, "png");
    if (!jpegWriter.write(image) || !pngWriter.write(image)) {
        std::fprintf(stderr, "cannot write the inputs in %s\n", qPrintable(work.path()));
        return 1;
    }
    std::printf("inputs: %s %lld bytes, %s %lld bytes, %d runs each\n",
                qPrintable(QFileInfo(jpeg).fileName()), QFileInfo(jpeg).size(),
                qPrintable(QFileInfo(png).fileName()), QFileInfo(png).size(), runs);

    const bool haveConvert = QFileInfo(convert).isExecutable();
    if (!haveConvert)
        std::fprintf(stderr, "%s not found: timing Vyo only\n", qPrintable(convert));

    std::vector<Row> rows;
    const auto shrink = [&](const char *task, QuickAction action, int side, QSize size) {
        Row row{task, {}, {}, {}};
        row.vyo = timeRuns(runs, [&] { return runVyo(action, jpeg, size); });
        if (haveConvert) {
            const QString geometry = QStringLiteral("%1x%1>").arg(side);
            row.convert = timeRuns(runs, [&] {
                return runConvert(
                    convert, {jpeg, "-auto-orient", "-resize", geometry, "-quality", "85", out},
                    out, size);
            });
            row.convertHinted = timeRuns(runs, [&] {
                return runConvert(convert,
                                  {"-define", QStringLiteral("jpeg:size=%1x%1").arg(side), jpeg,
                                   "-auto-orient", "-resize", geometry, "-quality", "85", out},
                                  out, size);
            });
        }
        rows.push_back(row);
    };
    shrink("shrink 24 MP JPEG to 2048", QuickAction::resize2048, 2048, QSize(2048, 1365));
    shrink("shrink 24 MP JPEG to 800", QuickAction::resize800, 800, QSize(800, 533));

    Row toJpeg{"convert 24 MP PNG to JPEG", {}, {}, {}};
    toJpeg.vyo = timeRuns(runs, [&] {
        return runVyo(QuickAction::convertToJPEG, png, {6000, 4000});
    });
    if (haveConvert)
        toJpeg.convert = timeRuns(runs, [&] {
            return runConvert(
                convert,
                {png, "-auto-orient", "-background", "white", "-flatten", "-quality", "85", out},
                out, {6000, 4000});
        });
    rows.push_back(toJpeg);

    // Not compared: text recognition on the same photo, scaled down to the helper's cap first.
    const std::vector<double> recognition = timeRuns(std::min(runs, 3), [&] {
        const QuickAction::Result result =
            QuickActions::perform(QuickAction::extractText, {QUrl::fromLocalFile(jpeg)});
        return result.succeeded() || result.actionError() == QuickActions::ActionError::noText();
    });

    std::printf("\n%-28s %12s %14s %26s\n", "median of runs (ms)", "Vyo", "convert",
                "convert -define jpeg:size");
    for (const Row &row : rows) {
        const auto cell = [](const std::vector<double> &times) {
            return times.empty() ? QStringLiteral("-") : QString::number(median(times), 'f', 0);
        };
        std::printf("%-28s %12s %14s %26s\n", row.task, qPrintable(cell(row.vyo)),
                    qPrintable(cell(row.convert)), qPrintable(cell(row.convertHinted)));
    }
    std::printf("%-28s %12s\n", "text recognition, 24 MP",
                recognition.empty() ? "-"
                                    : qPrintable(QString::number(median(recognition), 'f', 0)));
    const bool complete =
        !recognition.empty() && std::all_of(rows.begin(), rows.end(), [&](const Row &row) {
            return !row.vyo.empty() && (!haveConvert || !row.convert.empty());
        });
    return complete ? 0 : 1;
}
