#pragma once

// The automation actions on the session bus: the object at /app/vyo/Vyo with the interface
// app.vyo.Vyo.Shelves (app.vyo.Vyo.Shelves.xml beside this file), under the well-known name
// app.vyo.Vyo. Calls arrive on the main thread; a failed action answers with a D-Bus error whose
// message is the Korean text for the user.

#include "intents/ShelfActions.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>

namespace vyo {

namespace automation {
inline constexpr QLatin1StringView serviceName("app.vyo.Vyo");
inline constexpr QLatin1StringView objectPath("/app/vyo/Vyo");
inline constexpr QLatin1StringView interfaceName("app.vyo.Vyo.Shelves");
inline constexpr QLatin1StringView noShelfError("app.vyo.Vyo.Error.NoShelf");
inline constexpr QLatin1StringView fileSystemError("app.vyo.Vyo.Error.FileSystem");
inline constexpr QLatin1StringView tooLargeError("app.vyo.Vyo.Error.TooLarge");

// Makes the file list known to Qt's D-Bus type system; call once before marshalling it.
void registerTypes();
} // namespace automation

QDBusArgument &operator<<(QDBusArgument &argument, const AutomationFile &file);
const QDBusArgument &operator>>(const QDBusArgument &argument, AutomationFile &file);

class AutomationService : public QObject, protected QDBusContext
{
    Q_OBJECT
public:
    explicit AutomationService(ShelfActions actions, QObject *parent = nullptr);

    // Serves the interface on `bus` and takes the well-known name; false (logged) when either
    // fails, for example because another process owns the name.
    bool publish(QDBusConnection bus);

public Q_SLOTS:
    void NewShelf();
    void AddFilesToShelf(const QList<vyo::AutomationFile> &files);
    void ReopenLastShelf();
    void ShareShelf();

private:
    void reply(const std::optional<ShelfActions::Failure> &failure);

    ShelfActions m_actions;
};

} // namespace vyo

Q_DECLARE_METATYPE(vyo::AutomationFile)
