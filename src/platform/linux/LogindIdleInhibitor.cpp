#include "platform/linux/LogindIdleInhibitor.h"

#include "core/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <unistd.h>

namespace vyo {

LogindIdleInhibitor::~LogindIdleInhibitor()
{
    release();
}

void LogindIdleInhibitor::inhibit(const QString &reason)
{
    if (m_wanted)
        return;
    m_wanted = true;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("idle") << QStringLiteral("Vyo") << reason << QStringLiteral("block");
    auto *watcher =
        new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call, 5000), &m_context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &m_context,
                     [this](QDBusPendingCallWatcher *finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
                         if (reply.isError() || !reply.value().isValid()) {
                             vyoWarning(lcShare, u"잠자기 방지를 켜지 못함: %{public}s",
                                        reply.error().message());
                             m_wanted = false;
                             return;
                         }
                         // The reply's descriptor closes with it: keep a copy of our own, and
                         // none once the hold was released while logind answered.
                         if (m_wanted && m_descriptor < 0)
                             m_descriptor = ::dup(reply.value().fileDescriptor());
                     });
}

void LogindIdleInhibitor::release()
{
    m_wanted = false;
    if (m_descriptor < 0)
        return;
    ::close(m_descriptor);
    m_descriptor = -1;
}

} // namespace vyo
