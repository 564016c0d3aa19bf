#include "logic/UploadName.h"

#include <QList>
#include <QTextBoundaryFinder>

namespace vyo {

namespace {

bool isReplaced(char32_t c)
{
    if (c == U'/' || c == U'\\' || c == U':')
        return true;
    // Line and paragraph separators break lines without being control characters.
    if (c == 0x2028 || c == 0x2029)
        return true;
    const QChar::Category category = QChar::category(c);
    return category == QChar::Other_Control || category == QChar::Other_Format;
}

bool isTrimmed(QChar c)
{
    return c == u' ' || c == u'\t';
}

// Linux file systems take names of at most 255 bytes (UTF-8), where 200 Korean characters take
// 600: the end of the name before its extension gives way, a whole character at a time.
QString fitFileSystemName(const QString &name)
{
    constexpr qsizetype maximumBytes = 255;
    constexpr qsizetype maximumExtensionBytes = 32;
    if (name.toUtf8().size() <= maximumBytes)
        return name;
    const qsizetype dot = name.lastIndexOf(u'.');
    QString extension = dot > 0 ? name.mid(dot) : QString();
    if (extension.toUtf8().size() > maximumExtensionBytes)
        extension.clear();
    QString stem = name.left(name.size() - extension.size());
    const qsizetype stemBytes = maximumBytes - extension.toUtf8().size();
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, stem);
    graphemes.toEnd();
    while (stem.toUtf8().size() > stemBytes && graphemes.toPreviousBoundary() > 0)
        stem.truncate(graphemes.position());
    return stem + extension;
}

} // namespace

std::optional<QString> cleanUploadName(const QString &name)
{
    QString cleaned;
    cleaned.reserve(name.size());
    for (const uint c : name.toUcs4()) {
        if (isReplaced(char32_t(c)))
            cleaned.append(u'_');
        else
            cleaned.append(QStringView(QChar::fromUcs4(char32_t(c))));
    }

    qsizetype begin = 0;
    qsizetype end = cleaned.size();
    while (begin < end && isTrimmed(cleaned.at(begin)))
        ++begin;
    while (end > begin && isTrimmed(cleaned.at(end - 1)))
        --end;
    while (begin < end && cleaned.at(begin) == u'.')
        ++begin;
    cleaned = cleaned.mid(begin, end - begin);

    // Cut after the 200th grapheme, so that no character is split from its combining marks.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, cleaned);
    int count = 0;
    while (count < maximumUploadNameLength && graphemes.toNextBoundary() != -1)
        ++count;
    if (count == maximumUploadNameLength && graphemes.position() != -1)
        cleaned.truncate(graphemes.position());

    if (cleaned.isEmpty())
        return std::nullopt;
    return fitFileSystemName(cleaned.normalized(QString::NormalizationForm_C));
}

} // namespace vyo
