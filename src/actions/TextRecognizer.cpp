#include "actions/TextRecognizer.h"

#include "actions/TextRecognitionHelper.h"
#include "core/Log.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

namespace vyo {

namespace Helper = TextRecognitionHelper;
using QuickActions::ActionError;

namespace {

// How long the helper may take to start, and to go once it is killed.
constexpr int startTimeoutMilliseconds = 10'000;
constexpr int killTimeoutMilliseconds = 5'000;

// The underlying error of a missing or broken helper, as the shelf shows it.
QString helperFailedText()
{
    return QStringLiteral("글자 인식 도구를 실행하지 못했어요.");
}

QString lastLines(const QByteArray &output)
{
    return QString::fromUtf8(output.right(600)).trimmed();
}

} // namespace

QString TextRecognizer::defaultHelperPath()
{
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QString directory = QCoreApplication::applicationDirPath();
        candidates << directory + u'/' + QLatin1String(Helper::programName)
                   << directory + QStringLiteral("/../libexec/vyo/") +
                          QLatin1String(Helper::programName);
    }
    candidates << QStringLiteral(VYO_OCR_HELPER_BUILD_PATH);
    for (const QString &candidate : std::as_const(candidates)) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return info.absoluteFilePath();
    }
    return candidates.constLast();
}

TextRecognizer::TextRecognizer(QString helperPath, int timeoutMilliseconds)
    : m_helperPath(std::move(helperPath))
    , m_timeoutMilliseconds(timeoutMilliseconds)
{}

QuickAction::Result TextRecognizer::recognizeText(const QString &imagePath) const
{
    const QFileInfo image(imagePath);
    const QString fileName = image.fileName();

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OMP_THREAD_LIMIT"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    // An absolute path never reads as an option.
    process.start(m_helperPath, {image.absoluteFilePath()});
    if (!process.waitForStarted(startTimeoutMilliseconds)) {
        vyoError(lcShelf, u"글자 인식 도구 실행 실패: %{public}s (%{public}s)", m_helperPath,
                 process.errorString());
        return QuickAction::Result::underlyingError(helperFailedText());
    }
    if (!process.waitForFinished(m_timeoutMilliseconds)) {
        process.kill();
        process.waitForFinished(killTimeoutMilliseconds);
        vyoError(lcShelf, u"글자 인식 시간 초과 (%ld ms): %{public}s", m_timeoutMilliseconds,
                 fileName);
        return ActionError::unreadable(fileName);
    }
    const QByteArray output = process.readAllStandardOutput();
    const QByteArray errors = process.readAllStandardError();
    if (process.exitStatus() == QProcess::CrashExit) {
        vyoError(lcShelf, u"글자 인식 도구 비정상 종료: %{public}s %{public}s", fileName,
                 lastLines(errors));
        return ActionError::unreadable(fileName);
    }
    switch (process.exitCode()) {
    case Helper::foundText: {
        const QString text = QString::fromUtf8(output).trimmed();
        if (text.isEmpty())
            return ActionError::noText();
        return QuickAction::Output::text(text);
    }
    case Helper::noText:
        return ActionError::noText();
    case Helper::unreadable:
        return ActionError::unreadable(fileName);
    case Helper::engineFailed:
        vyoError(lcShelf, u"글자 인식 도구 실행 실패: %{public}s (%{public}s)", m_helperPath,
                 lastLines(errors));
        return QuickAction::Result::underlyingError(helperFailedText());
    default:
        vyoError(lcShelf, u"글자 인식 도구 비정상 종료 (%ld): %{public}s %{public}s",
                 process.exitCode(), fileName, lastLines(errors));
        return ActionError::unreadable(fileName);
    }
}

} // namespace vyo
