#pragma once

// Keeping the computer awake while something is shared: the desktop is asked not to go to idle
// sleep (the screen may still lock) until the hold is released.

#include <QString>

namespace vyo {

class IdleInhibitor
{
public:
    virtual ~IdleInhibitor() = default;

    // Holds off idle sleep, giving `reason` to the system; holding already does nothing.
    virtual void inhibit(const QString &reason) = 0;
    // Lets idle sleep happen again; not holding does nothing.
    virtual void release() = 0;
    // Whether the hold is taken (false where the system refused it).
    virtual bool isInhibiting() const = 0;
};

} // namespace vyo
