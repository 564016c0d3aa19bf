#include "actions/QuickAction.h"

#include "actions/ImageActions.h"
#include "actions/PDFMerger.h"
#include "actions/TextRecognizer.h"
#include "core/Log.h"

#include <QFileInfo>
#include <QMimeDatabase>

#include <algorithm>

namespace vyo {

using QuickActions::ActionError;

QString ActionError::description() const
{
    switch (m_case) {
    case Case::unreadable:
        return m_fileName + QStringLiteral("을(를) 이미지로 읽을 수 없어요.");
    case Case::alreadySmall:
        return m_fileName + QStringLiteral("은(는) 이미 그보다 작아요.");
    case Case::noText:
        return QStringLiteral("이미지에서 글자를 찾지 못했어요.");
    case Case::writeFailed:
        return QStringLiteral("결과 파일을 만들지 못했어요.");
    }
    Q_UNREACHABLE();
}

const QList<QuickAction> &QuickAction::allCases()
{
    static const QList<QuickAction> cases{convertToJPEG, resize2048,  resize1280,
                                          resize800,     extractText, mergePDF};
    return cases;
}

QString QuickAction::title() const
{
    switch (m_case) {
    case convertToJPEG:
        return QStringLiteral("JPG로 바꾸기");
    case resize2048:
        return QStringLiteral("이미지 줄이기 (긴 변 2048)");
    case resize1280:
        return QStringLiteral("이미지 줄이기 (긴 변 1280)");
    case resize800:
        return QStringLiteral("이미지 줄이기 (긴 변 800)");
    case extractText:
        return QStringLiteral("이미지 속 글자 추출");
    case mergePDF:
        return QStringLiteral("PDF 하나로 합치기");
    }
    Q_UNREACHABLE();
}

QString QuickAction::progressText() const
{
    switch (m_case) {
    case convertToJPEG:
        return QStringLiteral("JPG로 바꾸는 중…");
    case resize2048:
    case resize1280:
    case resize800:
        return QStringLiteral("이미지를 줄이는 중…");
    case extractText:
        return QStringLiteral("글자를 읽는 중…");
    case mergePDF:
        return QStringLiteral("PDF를 합치는 중…");
    }
    Q_UNREACHABLE();
}

std::optional<int> QuickAction::longSide() const
{
    switch (m_case) {
    case resize2048:
        return 2048;
    case resize1280:
        return 1280;
    case resize800:
        return 800;
    default:
        return std::nullopt;
    }
}

QuickAction::Result QuickAction::Result::underlyingError(const QString &description)
{
    Result result;
    result.m_underlyingError = description;
    return result;
}

const QuickAction::Output &QuickAction::Result::output() const
{
    static const Output none = Output::files({});
    return m_output ? *m_output : none;
}

QString QuickAction::Result::errorDescription() const
{
    if (m_actionError)
        return m_actionError->description();
    return m_underlyingError;
}

namespace QuickActions {

namespace {

QMimeType typeByExtension(const QUrl &file)
{
    // Thread-safe; one database per call keeps perform free of shared state.
    return QMimeDatabase().mimeTypeForFile(file.toLocalFile(), QMimeDatabase::MatchExtension);
}

bool isPDFType(const QMimeType &type)
{
    return type.name() == QLatin1String("application/pdf") ||
           type.inherits(QStringLiteral("application/pdf"));
}

bool isImageType(const QMimeType &type)
{
    return !type.isDefault() && type.name().startsWith(QLatin1String("image/")) && !isPDFType(type);
}

QList<QUrl> images(const QList<QUrl> &files)
{
    QList<QUrl> result;
    std::copy_if(files.begin(), files.end(), std::back_inserter(result), isImage);
    return result;
}

QuickAction::Result convertAll(const QList<QUrl> &files, const Progress &progress)
{
    QList<QUrl> made;
    const QList<QUrl> found = images(files);
    for (qsizetype i = 0; i < found.size(); ++i) {
        const QuickAction::Result result = ImageActions::makeJPEG(found[i].toLocalFile());
        if (!result.succeeded())
            return result; // what was written stays, but the run fails
        made += result.output().fileURLs();
        if (progress)
            progress(int(i + 1), int(found.size()));
    }
    return QuickAction::Output::files(made);
}

QuickAction::Result resizeAll(const QList<QUrl> &files, int longSide, const Progress &progress)
{
    QList<QUrl> made;
    std::optional<QuickAction::Result> lastFailure;
    const QList<QUrl> found = images(files);
    for (qsizetype i = 0; i < found.size(); ++i) {
        QuickAction::Result result = ImageActions::makeResized(found[i].toLocalFile(), longSide);
        if (result.succeeded())
            made += result.output().fileURLs();
        else
            lastFailure = std::move(result);
        if (progress)
            progress(int(i + 1), int(found.size()));
    }
    if (made.isEmpty() && lastFailure)
        return *lastFailure;
    return QuickAction::Output::files(made);
}

QuickAction::Result recognizeText(const QList<QUrl> &files)
{
    const QList<QUrl> found = images(files);
    if (found.isEmpty())
        return ActionError::noText();
    return TextRecognizer().recognizeText(found.first().toLocalFile());
}

QuickAction::Result merge(const QList<QUrl> &files)
{
    QList<PDFMerger::Input> inputs;
    for (const QUrl &file : files) {
        const QMimeType type = typeByExtension(file);
        if (isPDFType(type))
            inputs.append({file.toLocalFile(), true});
        else if (isImageType(type))
            inputs.append({file.toLocalFile(), false});
    }
    return PDFMerger::makeMergedPDF(inputs);
}

} // namespace

bool isImage(const QUrl &file)
{
    return file.isLocalFile() && isImageType(typeByExtension(file));
}

bool isPDF(const QUrl &file)
{
    return file.isLocalFile() && isPDFType(typeByExtension(file));
}

QList<QUrl> candidateFiles(const QList<ShelfItem> &items)
{
    QList<QUrl> files;
    for (const ShelfItem &item : items) {
        if (item.content().isFileBacked() && item.exists())
            files.append(item.content().url());
    }
    return files;
}

bool isApplicable(const QList<QUrl> &files, QuickAction action)
{
    const auto imageCount = std::count_if(files.begin(), files.end(), isImage);
    switch (action) {
    case QuickAction::convertToJPEG:
    case QuickAction::resize2048:
    case QuickAction::resize1280:
    case QuickAction::resize800:
        return imageCount >= 1;
    case QuickAction::extractText:
        return imageCount == 1;
    case QuickAction::mergePDF:
        return imageCount + std::count_if(files.begin(), files.end(), isPDF) >= 2;
    }
    return false;
}

bool isApplicable(const QList<ShelfItem> &items, QuickAction action)
{
    return isApplicable(candidateFiles(items), action);
}

QuickAction::Result perform(QuickAction action, const QList<QUrl> &files, const Progress &progress)
{
    switch (action) {
    case QuickAction::convertToJPEG:
        return convertAll(files, progress);
    case QuickAction::resize2048:
    case QuickAction::resize1280:
    case QuickAction::resize800:
        return resizeAll(files, *action.longSide(), progress);
    case QuickAction::extractText:
        return recognizeText(files);
    case QuickAction::mergePDF:
        return merge(files);
    }
    Q_UNREACHABLE();
}

} // namespace QuickActions

} // namespace vyo
