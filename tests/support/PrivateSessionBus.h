#pragma once

// A session bus of the test's own: a dbus-daemon without service activation (unless the test
// names a folder of service files), so that tests can own well-known names (a fake file manager)
// without meeting other tests running at the same time or starting a real desktop service. Start it
// before the application object, which may connect to the session bus as it starts.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace vyo::test {

class PrivateSessionBus
{
public:
    ~PrivateSessionBus()
    {
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            if (!m_daemon.waitForFinished(3000))
                m_daemon.kill();
            m_daemon.waitForFinished(3000);
        }
    }

    // Starts the daemon and points DBUS_SESSION_BUS_ADDRESS at it; false (with a message on
    // stderr) when it cannot start. With `serviceDirectory`, the bus starts the services whose
    // service files are there when they are called.
    bool start(const QString &serviceDirectory = {})
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() || !m_dir.isValid()) {
            std::fputs("dbus-daemon not found (scripts/install-deps.sh installs dbus)\n", stderr);
            return false;
        }
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        // Without a <servicedir> nothing is ever started on demand.
        const QByteArray services =
            serviceDirectory.isEmpty()
                ? QByteArray()
                : "  <servicedir>" + QFile::encodeName(serviceDirectory) + "</servicedir>\n";
        file.write("<busconfig>\n"
                   "  <type>session</type>\n" +
                   services + "  <listen>unix:dir=" + QFile::encodeName(m_dir.path()) +
                   "</listen>\n"
                   "  <policy context=\"default\">\n"
                   "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                   "    <allow eavesdrop=\"true\"/>\n"
                   "    <allow own=\"*\"/>\n"
                   "  </policy>\n"
                   "</busconfig>\n");
        file.close();
        m_daemon.start(daemon, {QStringLiteral("--config-file=") + config,
                                QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!m_daemon.waitForStarted(5000))
            return false;
        QByteArray address;
        // The address is the first line the daemon prints.
        for (int i = 0; i < 50 && !address.contains('\n'); ++i) {
            m_daemon.waitForReadyRead(100);
            address += m_daemon.readAllStandardOutput();
        }
        address = address.trimmed();
        if (address.isEmpty()) {
            std::fputs("dbus-daemon printed no address\n", stderr);
            return false;
        }
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        return true;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
};

} // namespace vyo::test
