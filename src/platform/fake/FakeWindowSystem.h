#pragma once

// A window system that records which windows were to show on all desktops and answers as a
// session without a compositor or a tray host would, unless the test sets other answers.

#include "platform/WindowSystem.h"

#include <QList>
#include <QPointer>
#include <QWidget>

namespace vyo {

class FakeWindowSystem final : public WindowSystem
{
public:
    void showOnAllDesktops(QWidget *window) override { m_onAllDesktops.append(window); }
    bool hasCompositor() override { return m_hasCompositor; }
    std::optional<QRect> trayEmbeddedGeometry(WId) override { return m_trayGeometry; }

    // The windows asked to show on all desktops, in order (null once deleted).
    QList<QPointer<QWidget>> windowsOnAllDesktops() const { return m_onAllDesktops; }
    void setHasCompositor(bool has) { m_hasCompositor = has; }
    void setTrayEmbeddedGeometry(std::optional<QRect> geometry) { m_trayGeometry = geometry; }

private:
    QList<QPointer<QWidget>> m_onAllDesktops;
    bool m_hasCompositor = false;
    std::optional<QRect> m_trayGeometry;
};

} // namespace vyo
