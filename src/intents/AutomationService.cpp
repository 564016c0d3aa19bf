#include "intents/AutomationService.h"

#include "core/Log.h"
#include "shelvesadaptor.h"

#include <QDBusConnectionInterface>
#include <QDBusMetaType>

namespace vyo {

void automation::registerTypes()
{
    qDBusRegisterMetaType<AutomationFile>();
    qDBusRegisterMetaType<QList<AutomationFile>>();
}

QDBusArgument &operator<<(QDBusArgument &argument, const AutomationFile &file)
{
    argument.beginStructure();
    argument << file.uri << file.fileName << file.data;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, AutomationFile &file)
{
    argument.beginStructure();
    argument >> file.uri >> file.fileName >> file.data;
    argument.endStructure();
    return argument;
}

AutomationService::AutomationService(ShelfActions actions, QObject *parent)
    : QObject(parent)
    , m_actions(std::move(actions))
{
    automation::registerTypes();
    new ShelvesAdaptor(this);
}

bool AutomationService::publish(QDBusConnection bus)
{
    if (!bus.isConnected()) {
        vyoError(lcApp, u"자동화: 세션 버스에 연결하지 못함: %{public}s",
                 bus.lastError().message());
        return false;
    }
    if (!bus.registerObject(QString(automation::objectPath), this)) {
        vyoError(lcApp, u"자동화: D-Bus 객체를 등록하지 못함: %{public}s",
                 bus.lastError().message());
        return false;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> owned =
        bus.interface()->registerService(QString(automation::serviceName),
                                         QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!owned.isValid() || owned.value() != QDBusConnectionInterface::ServiceRegistered) {
        vyoError(lcApp, u"자동화: D-Bus 이름 %{public}s을(를) 얻지 못함: %{public}s",
                 QString(automation::serviceName),
                 owned.isValid() ? QStringLiteral("다른 프로그램이 쓰는 중")
                                 : owned.error().message());
        bus.unregisterObject(QString(automation::objectPath));
        return false;
    }
    return true;
}

void AutomationService::NewShelf()
{
    m_actions.newShelf();
}

void AutomationService::AddFilesToShelf(const QList<AutomationFile> &files)
{
    reply(m_actions.addFilesToShelf(files));
}

void AutomationService::ReopenLastShelf()
{
    m_actions.reopenLastShelf();
}

void AutomationService::ShareShelf()
{
    reply(m_actions.shareShelf());
}

void AutomationService::reply(const std::optional<ShelfActions::Failure> &failure)
{
    if (!failure || !calledFromDBus())
        return;
    QLatin1StringView name;
    switch (failure->kind) {
    case ShelfActions::Failure::Kind::noShelf:
        name = automation::noShelfError;
        break;
    case ShelfActions::Failure::Kind::fileSystem:
        name = automation::fileSystemError;
        break;
    case ShelfActions::Failure::Kind::tooLarge:
        name = automation::tooLargeError;
        break;
    }
    sendErrorReply(QString(name), failure->message);
}

} // namespace vyo
