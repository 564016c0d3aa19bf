#pragma once

// Starting Vyo when the user logs in, as an XDG autostart entry:
// $XDG_CONFIG_HOME/autostart/app.vyo.Vyo.desktop, naming this executable. The state is always
// read back from that file, so an entry the user edited or disabled by hand counts as it is.

#include <QByteArray>
#include <QString>

namespace vyo {

class LoginItem
{
public:
    // The entry of the current user (its folder is read from the environment on each call).
    static QString defaultPath();

    explicit LoginItem(const QString &entryPath = defaultPath());

    // Whether the session starts Vyo at login: the entry exists, can be read, and is neither
    // hidden nor disabled.
    bool isEnabled() const;
    // Turns starting at login on (the entry is written atomically with `executable`) or off (the
    // entry is removed). False with a reason for the user when refused; an entry that cannot be
    // read is left untouched.
    bool setEnabled(bool enabled, QString *error = nullptr,
                    const QString &executable = QString()) const;

    QString path() const { return m_path; }

    // Whether an entry's text starts the program: a [Desktop Entry] group without Hidden=true
    // or X-GNOME-Autostart-enabled=false.
    static bool entryEnabled(const QByteArray &text);
    // The entry written for an executable.
    static QString entryText(const QString &executable);

private:
    QString m_path;
};

} // namespace vyo
