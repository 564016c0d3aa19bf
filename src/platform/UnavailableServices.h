#pragma once

// Stand-ins for desktop services a session does not offer (Wayland, no display): they do nothing,
// answer "no" and say why where the interface asks. Any port can hand them out.

#include "platform/DragWatcher.h"
#include "platform/DropSource.h"
#include "platform/GlobalHotKeys.h"

namespace vyo {

// Sees nothing outside the application; it never reports a press and cannot start.
class UnavailableDragWatcher final : public DragWatcher
{
    Q_OBJECT
public:
    explicit UnavailableDragWatcher(QString reason, QObject *parent = nullptr);

    bool start() override { return false; }
    QString unavailableReason() const override { return m_reason; }
    qint64 dragChangeCount() override { return 0; }
    bool isLeftButtonDown() override { return false; }
    Point pointerLocation() override { return {}; }
    std::optional<QString> frontmostApplicationID() override { return std::nullopt; }

private:
    QString m_reason;
};

// A session without global key grabs: registers nothing, giving the reason.
class UnavailableHotKeys final : public GlobalHotKeys
{
    Q_OBJECT
public:
    UnavailableHotKeys(QString reason, QObject *parent = nullptr);

    bool isAvailable() const override { return false; }
    int registerHotKey(const HotKeyCombination &combination, QString *error) override;
    void unregisterHotKey(int) override {}
    bool isHeldElsewhere(const HotKeyCombination &) override { return false; }
    quint32 baseKeySymbol(quint32) const override { return 0; }

private:
    QString m_reason;
};

// A session where drops carry only what Qt hands over: no direct save, no raw data.
class UnavailableDropSource final : public DropSource
{
public:
    std::optional<QString> suggestedName() override { return std::nullopt; }
    void receive(const Request &request, std::function<void(const Result &)> done) override;
};

} // namespace vyo
