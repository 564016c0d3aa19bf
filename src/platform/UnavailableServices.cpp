#include "platform/UnavailableServices.h"

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

} // namespace vyo
