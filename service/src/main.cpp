// vyo-service: the share service (signaling rooms, ICE-server list, share page) on one port.

#include "RoomHub.h"
#include "ServiceConfig.h"
#include "ShareService.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

using namespace vyo;

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: the event loop reads the byte and quits.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

// The first SIGTERM or SIGINT drains the service (no new rooms, open rooms kept until they end or
// the drain time-out) and then ends the event loop; a second one ends it at once. Either way the
// service closes its sockets and exits cleanly.
void drainOnTerminationSignals(QCoreApplication &app, ShareService &service)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&service] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(signalPipe[1], &byte, 1);
        if (service.isDraining()) {
            QTextStream(stderr) << "vyo-service: second signal, exiting now" << Qt::endl;
            QCoreApplication::quit();
            return;
        }
        QTextStream(stderr) << "vyo-service: draining (" << service.hub().memberCount()
                            << " sockets in " << service.hub().roomCount() << " rooms)" << Qt::endl;
        service.drain();
    });
    QObject::connect(&service, &ShareService::drained, &app, [] {
        QTextStream(stderr) << "vyo-service: drained, exiting" << Qt::endl;
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vyo-service"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VYO_SERVICE_VERSION));

    QTextStream out(stdout);
    QTextStream err(stderr);
    const ServiceConfigParse parsed = parseServiceConfig(QCoreApplication::arguments());
    if (parsed.helpRequested) {
        out << parsed.helpText;
        return 0;
    }
    if (parsed.versionRequested) {
        out << "vyo-service " << QCoreApplication::applicationVersion() << Qt::endl;
        return 0;
    }
    if (!parsed.config) {
        err << "vyo-service: " << parsed.error << "\nTry 'vyo-service --help'." << Qt::endl;
        return 2;
    }

    ShareService service(*parsed.config);
    drainOnTerminationSignals(app, service);
    if (!service.listen()) {
        err << "vyo-service: cannot listen on " << parsed.config->listenAddress.toString()
            << " port " << parsed.config->port << ": " << service.errorString() << Qt::endl;
        return 1;
    }
    if (parsed.config->stunURLs.isEmpty() && parsed.config->turnURLs.isEmpty())
        err << "vyo-service: no --stun or --turn given: /api/ice hands out an empty list, so "
               "only devices on the same network can connect"
            << Qt::endl;
    // One line that scripts can read the port from.
    out << "vyo-service listening on " << parsed.config->listenAddress.toString() << " port "
        << service.port() << Qt::endl;
    return app.exec();
}
