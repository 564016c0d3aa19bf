#include "platform/UnavailableServices.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace vyo {

UnavailableDragWatcher::UnavailableDragWatcher(QString reason, QObject *parent)
    : DragWatcher(parent)
    , m_reason(std::move(reason))
{}

UnavailableHotKeys::UnavailableHotKeys(QString reason, QObject *parent)
    : GlobalHotKeys(parent)
    , m_reason(std::move(reason))
{}

int UnavailableHotKeys::registerHotKey(const HotKeyCombination &, QString *error)
{
    if (error)
        *error = m_reason;
    return 0;
}

void UnavailableDropSource::receive(const Request &request,
                                    std::function<void(const Result &)> done)
{
    Result result;
    result.answer = request.savePath.isEmpty() ? SaveAnswer::notAsked : SaveAnswer::noAnswer;
    result.error = QStringLiteral("이 세션에서는 끌어 온 앱에 물어볼 수 없음");
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [done = std::move(done), result] { done(result); },
        Qt::QueuedConnection);
}

} // namespace vyo
