#include "platform/GlobalHotKeys.h"

#include "core/Log.h"
#include "platform/Toolkit.h"
#include "platform/x11/X11HotKeys.h"

#include <QGuiApplication>

namespace vyo {

namespace {

// A session without global key grabs (Wayland, no display): registers nothing.
class UnavailableHotKeys : public GlobalHotKeys
{
public:
    UnavailableHotKeys(QString reason, QObject *parent)
        : GlobalHotKeys(parent)
        , m_reason(std::move(reason))
    {}

    bool isAvailable() const override { return false; }
    int registerHotKey(const HotKeyCombination &, QString *error) override
    {
        if (error)
            *error = m_reason;
        return 0;
    }
    void unregisterHotKey(int) override {}
    bool isHeldElsewhere(const HotKeyCombination &) override { return false; }
    quint32 baseKeySymbol(quint32) const override { return 0; }

private:
    QString m_reason;
};

} // namespace

GlobalHotKeys *GlobalHotKeys::create(QObject *parent)
{
    QString reason;
    if (QGuiApplication::platformName() != u"xcb") {
        reason = isWaylandSession()
                     ? QStringLiteral("Wayland 세션은 다른 앱 앞에서 키를 가로챌 수 없음")
                     : QStringLiteral("X11 화면이 아님 (Qt 플랫폼 %1)")
                           .arg(QGuiApplication::platformName());
    } else if (isWaylandSession()) {
        // XWayland would only see keys while one of its own windows is in front.
        reason = QStringLiteral("Wayland 세션은 다른 앱 앞에서 키를 가로챌 수 없음");
    } else if (X11HotKeys *hotKeys = X11HotKeys::create(parent, &reason)) {
        return hotKeys;
    }
    vyoWarning(lcApp, u"전역 단축키를 쓸 수 없음: %{public}s", reason);
    return new UnavailableHotKeys(reason, parent);
}

} // namespace vyo
