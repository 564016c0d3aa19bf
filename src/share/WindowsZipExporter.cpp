#include "share/WindowsZipExporter.h"

#include "core/Ids.h"
#include "core/Log.h"
#include "core/MainThread.h"
#include "logic/ZipWriter.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/FileManager.h"
#include "shelf/Shelf.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

namespace vyo {

namespace {

// Writes the archive beside the destination under a hidden temporary name and moves it into
// place only once it is complete. A failure thus never leaves a partial archive under the chosen
// name, and never costs the user the file the archive was to replace. Answers the failure's
// description, or nothing on success.
std::optional<QString> saveArchive(const QList<QUrl> &urls, const QString &destination,
                                   const ZipWriter::Progress &progress)
{
    const QString partial = QFileInfo(destination)
                                .absoluteDir()
                                .filePath(u".vyo-zip-" + uuidText(newId()).left(8) + u".part");
    if (auto failure = ZipWriter::writeArchive(urls, QUrl::fromLocalFile(partial), progress)) {
        QFile::remove(partial); // a failure to remove changes nothing for the user
        return failure->description();
    }
    std::error_code error;
    std::filesystem::rename(QFile::encodeName(partial).toStdString(),
                            QFile::encodeName(destination).toStdString(), error);
    if (error) {
        QFile::remove(partial);
        return QString::fromLocal8Bit(error.message());
    }
    return std::nullopt;
}

} // namespace

WindowsZipExporter &WindowsZipExporter::shared()
{
    static WindowsZipExporter instance;
    return instance;
}

WindowsZipExporter::WindowsZipExporter(QObject *parent)
    : QObject(parent)
{}

QList<QUrl> WindowsZipExporter::exportableURLs(const Shelf &shelf)
{
    QList<QUrl> urls;
    for (const ShelfItem &item : shelf.items()) {
        if (item.content().isFileBacked() && item.exists())
            urls.append(item.content().url());
    }
    return urls;
}

QString WindowsZipExporter::suggestedName(const QList<QUrl> &urls)
{
    QString name;
    if (urls.size() == 1) {
        name = QFileInfo(QDir::cleanPath(urls.first().toLocalFile())).fileName();
        // Without the extension, by the same rule as the archive's names: "archive.tar.gz" gives
        // "archive.tar"; ".profile" has none.
        const qsizetype dot = name.lastIndexOf(u'.');
        if (dot > 0 && dot < name.size() - 1)
            name.truncate(dot);
    }
    if (name.isEmpty())
        name = u"Vyo 파일 " + QString::number(urls.size()) + u"개";
    return name.normalized(QString::NormalizationForm_C) + u".zip";
}

void WindowsZipExporter::exportShelf(Shelf &shelf)
{
    const QList<QUrl> urls = exportableURLs(shelf);
    if (urls.isEmpty())
        return;

    Dialogs::SaveRequest request;
    request.title = QStringLiteral("윈도우용 ZIP으로 저장");
    request.message =
        QStringLiteral("윈도우에서도 한글 파일 이름이 깨지지 않는 ZIP으로 저장합니다.");
    request.confirmText = QStringLiteral("저장");
    request.directory = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    request.suggestedName = suggestedName(urls);
    request.nameFilters = {QStringLiteral("ZIP 압축 파일 (*.zip)")};
    request.defaultSuffix = QStringLiteral("zip");
    Dialogs &dialogs = Desktop::shared().dialogs();
    dialogs.askForSavePath(
        request, this,
        [this, urls, target = QPointer<Shelf>(&shelf)](std::optional<QString> destination) {
            if (destination && !destination->isEmpty())
                writeArchive(urls, *destination, target);
        });
}

void WindowsZipExporter::writeArchive(const QList<QUrl> &urls, const QString &destination,
                                      QPointer<Shelf> shelf)
{
    // The shelf's status line shows each whole percent of the bytes read, with a cancel button;
    // a report still queued when the write has ended shows nothing.
    struct Run
    {
        std::atomic<bool> cancelled = false;
        std::atomic<int> percent = -1;
        bool ended = false;
    };
    const auto run = std::make_shared<Run>();
    const auto show = [shelf, run](int percent) {
        if (shelf && !run->ended)
            shelf->setCancellableStatus(QStringLiteral("ZIP 만드는 중… %1%").arg(percent),
                                        [run] { run->cancelled = true; });
    };
    show(0);
    const QPointer<WindowsZipExporter> self(this);
    ZipWriter::Progress progress = [self, run, show](quint64 read, quint64 total) {
        const int percent = total ? int(read * 100 / total) : 100;
        if (run->percent.exchange(percent) != percent)
            QMetaObject::invokeMethod(
                self, [show, percent] { show(percent); }, Qt::QueuedConnection);
        return !run->cancelled;
    };

    runInBackground(
        this, [urls, destination, progress] { return saveArchive(urls, destination, progress); },
        [this, destination, shelf, run](std::optional<QString> error) {
            run->ended = true;
            if (shelf && shelf->status() &&
                shelf->status()->startsWith(QStringLiteral("ZIP 만드는 중…")))
                shelf->setStatus(std::nullopt);
            if (!error) {
                Desktop::shared().fileManager().reveal({QUrl::fromLocalFile(destination)});
                Q_EMIT exportFinished(destination, true);
                return;
            }
            if (run->cancelled) {
                vyoInfo(lcShare, u"ZIP 저장 취소: %{public}s", destination);
                Q_EMIT exportFinished(destination, false);
                return;
            }
            vyoError(lcShare, u"ZIP 저장 실패: %{public}s", *error);
            Desktop::shared().dialogs().showAlert(
                {QStringLiteral("ZIP을 만들지 못했어요"), *error});
            Q_EMIT exportFinished(destination, false);
        });
}

} // namespace vyo
