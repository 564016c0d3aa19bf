#pragma once

// An idle inhibitor that only remembers whether it holds, and how often it was taken.

#include "platform/IdleInhibitor.h"

namespace vyo {

class FakeIdleInhibitor final : public IdleInhibitor
{
public:
    void inhibit(const QString &reason) override
    {
        if (m_inhibiting)
            return;
        m_inhibiting = true;
        m_reason = reason;
        ++m_holds;
    }
    void release() override { m_inhibiting = false; }
    bool isInhibiting() const override { return m_inhibiting; }

    const QString &reason() const { return m_reason; }
    int holdCount() const { return m_holds; }

private:
    bool m_inhibiting = false;
    QString m_reason;
    int m_holds = 0;
};

} // namespace vyo
