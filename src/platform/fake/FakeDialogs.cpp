#include "platform/fake/FakeDialogs.h"

#include <utility>

namespace vyo {

void FakeDialogs::askForSavePath(const SaveRequest &request, QObject *context,
                                 std::function<void(std::optional<QString>)> completion)
{
    m_saveRequests.append(request);
    if (!std::exchange(m_hasSaveAnswer, false))
        return;
    std::optional<QString> answer = std::exchange(m_saveAnswer, std::nullopt);
    QMetaObject::invokeMethod(
        context, [completion = std::move(completion), answer] { completion(answer); },
        Qt::QueuedConnection);
}

void FakeDialogs::askForFolders(const FoldersRequest &request, QObject *context,
                                std::function<void(QStringList)> completion)
{
    m_foldersRequests.append(request);
    if (!std::exchange(m_hasFoldersAnswer, false))
        return;
    QMetaObject::invokeMethod(
        context,
        [completion = std::move(completion), answer = std::exchange(m_foldersAnswer, {})] {
            completion(answer);
        },
        Qt::QueuedConnection);
}

void FakeDialogs::setNextFoldersAnswer(const QStringList &paths)
{
    m_hasFoldersAnswer = true;
    m_foldersAnswer = paths;
}

void FakeDialogs::setNextSaveAnswer(std::optional<QString> path)
{
    m_hasSaveAnswer = true;
    m_saveAnswer = std::move(path);
}

void FakeDialogs::clear()
{
    m_hasSaveAnswer = false;
    m_saveAnswer.reset();
    m_saveRequests.clear();
    m_hasFoldersAnswer = false;
    m_foldersAnswer.clear();
    m_foldersRequests.clear();
    m_alerts.clear();
    m_beeps = 0;
}

} // namespace vyo
