#pragma once

// Idle sleep held off through systemd-logind: Inhibit("idle", …, "block") over the system bus
// answers a file descriptor that holds the lock while it stays open. The call does not block the
// caller: the hold is taken when logind answers, unless it was released before.

#include "platform/IdleInhibitor.h"

#include <QObject>

namespace vyo {

class LogindIdleInhibitor final : public IdleInhibitor
{
public:
    LogindIdleInhibitor() = default;
    ~LogindIdleInhibitor() override;
    LogindIdleInhibitor(const LogindIdleInhibitor &) = delete;
    LogindIdleInhibitor &operator=(const LogindIdleInhibitor &) = delete;

    void inhibit(const QString &reason) override;
    void release() override;
    bool isInhibiting() const override { return m_descriptor >= 0; }

private:
    // Whether a hold is wanted: an answer that arrives after release() is let go at once.
    bool m_wanted = false;
    int m_descriptor = -1;
    // Answers are taken only while this inhibitor lives.
    QObject m_context;
};

} // namespace vyo
