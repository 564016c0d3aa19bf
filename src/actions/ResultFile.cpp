#include "actions/ResultFile.h"

#include "core/Log.h"
#include "shelf/ShelfItem.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextBoundaryFinder>
#include <QUrl>

namespace vyo {

namespace {

// File names are limited to 255 bytes; the temporary file adds a few more to the final name.
constexpr qsizetype maximumNameBytes = 240;

} // namespace

QuickAction::Result writeResultFile(const QString &fileName,
                                    const std::function<bool(QIODevice *)> &write)
{
    QString error;
    const std::optional<QString> folder = makeDropDirectory(&error);
    if (!folder) {
        vyoError(lcShelf, u"결과 폴더 생성 실패: %{public}s", error);
        return QuickAction::Result::underlyingError(error);
    }
    const QString path = *folder + u'/' + fileName;
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) && write(&file) && file.commit();
    if (!written) {
        vyoError(lcShelf, u"결과 파일을 쓸 수 없음: %{public}s (%{public}s)", path,
                 file.errorString());
        file.cancelWriting();
        QDir().rmdir(*folder);
        return QuickActions::ActionError::writeFailed();
    }
    return QuickAction::Output::files({QUrl::fromLocalFile(path)});
}

QString resultFileName(const QString &baseName, const QString &suffix)
{
    const qsizetype available = maximumNameBytes - suffix.toUtf8().size();
    if (baseName.toUtf8().size() <= available)
        return baseName + suffix;
    // Cut between user-perceived characters so that no character is split.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, baseName);
    qsizetype end = 0;
    for (qsizetype next = finder.toNextBoundary(); next > 0; next = finder.toNextBoundary()) {
        if (QStringView(baseName).left(next).toUtf8().size() > available)
            break;
        end = next;
    }
    return baseName.left(end) + suffix;
}

QString nameWithoutExtension(const QString &path)
{
    const QFileInfo info(path);
    const QString base = info.completeBaseName();
    return base.isEmpty() ? info.fileName() : base;
}

} // namespace vyo
