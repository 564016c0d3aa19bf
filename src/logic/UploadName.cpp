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
    return cleaned.normalized(QString::NormalizationForm_C);
}

} // namespace vyo
