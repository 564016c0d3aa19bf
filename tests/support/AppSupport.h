#pragma once

// Helpers for tests of the application's windows, worked through their objects' names.

#include <QObject>
#include <QString>

namespace vyo::test {

// The descendant of `parent` with this object name; null, with a warning, when there is none.
template <typename T = QObject> T *child(const QObject *parent, const QString &name)
{
    T *found = parent->findChild<T *>(name);
    if (!found)
        qWarning("no child named %s", qPrintable(name));
    return found;
}

} // namespace vyo::test
