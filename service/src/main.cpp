// vyo-service: the share service (signaling rooms, ICE-server list, share page) on one port.

#include "ServiceConfig.h"
#include "ShareService.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace vyo;

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
