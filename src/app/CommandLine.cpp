#include "app/CommandLine.h"

#include "intents/AutomationService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QUrl>

#include <cstdio>
#include <cstring>

namespace vyo::commandLine {

namespace {

enum Status { done = 0, failed = 1, wrongUsage = 2 };

// D-Bus carries less than 64 MiB in one byte array (2^26 bytes with everything around it); a
// larger call never reaches Vyo, and the caller is left waiting for its answer.
constexpr qint64 maximumStandardInputBytes = qint64(63) * 1024 * 1024;
// How long a Vyo started here may take to appear on the bus.
constexpr int startTimeoutMilliseconds = 20000;
// Writing a large file into Vyo's folder takes its time.
constexpr int callTimeoutMilliseconds = 120000;

int complain(const QString &message, Status status)
{
    std::fputs(qPrintable(message + u'\n'), stderr);
    return status;
}

// Vyo on the bus, started if needed: by the bus itself when it knows how to, else by starting
// this program detached and waiting, for a bounded time, for its name.
bool ensureRunning(QDBusConnection &bus)
{
    QDBusConnectionInterface *daemon = bus.interface();
    const QString name(automation::serviceName);
    if (daemon->isServiceRegistered(name).value())
        return true;
    if (daemon->activatableServiceNames().value().contains(name))
        return true;
    // The started copy outlives this one: it must not hold on to our output, or a script that
    // reads it would wait for Vyo to quit.
    QProcess vyo;
    vyo.setProgram(QCoreApplication::applicationFilePath());
    vyo.setStandardInputFile(QProcess::nullDevice());
    vyo.setStandardOutputFile(QProcess::nullDevice());
    vyo.setStandardErrorFile(QProcess::nullDevice());
    if (!vyo.startDetached())
        return false;
    const QDeadlineTimer deadline(startTimeoutMilliseconds);
    while (!deadline.hasExpired()) {
        QThread::msleep(100);
        if (daemon->isServiceRegistered(name).value())
            return true;
    }
    return false;
}

// Standard input up to the limit; nothing when it holds more.
std::optional<QByteArray> readStandardInput()
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return QByteArray();
    QByteArray data;
    while (true) {
        const QByteArray chunk = input.read(1024 * 1024);
        if (chunk.isEmpty())
            return data;
        if (data.size() + chunk.size() > maximumStandardInputBytes)
            return std::nullopt;
        data += chunk;
    }
}

} // namespace

bool isRequest(int argc, const char *const *argv)
{
    static const char *const options[] = {"--new-shelf", "--add",     "--reopen", "--share",
                                          "--name",      "--help",    "-h",       "--help-all",
                                          "-?",          "--version", "-v"};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strncmp(argv[i], "--name=", 7) == 0)
            return true;
        for (const char *option : options) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

int run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Vyo: 끌고 있는 파일, 링크, 글, 이미지를 잠시 올려 두는 셸프"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption newShelf(QStringLiteral("new-shelf"),
                                      QStringLiteral("새 셸프를 포인터 옆에 엽니다."));
    const QCommandLineOption add(
        QStringLiteral("add"),
        QStringLiteral("파일을 새 셸프에 담습니다. -는 표준 입력의 데이터를 --name의 이름으로 "
                       "담습니다."));
    const QCommandLineOption name(QStringLiteral("name"),
                                  QStringLiteral("표준 입력(-)으로 담는 파일의 이름."),
                                  QStringLiteral("이름"));
    const QCommandLineOption reopen(QStringLiteral("reopen"),
                                    QStringLiteral("닫은 셸프를 다시 엽니다."));
    const QCommandLineOption share(QStringLiteral("share"),
                                   QStringLiteral("가장 최근에 연 셸프의 보내기 QR을 엽니다."));
    parser.addOptions({newShelf, add, name, reopen, share});
    parser.addPositionalArgument(QStringLiteral("파일"), QStringLiteral("--add로 담을 파일."),
                                 QStringLiteral("[파일…]"));
    if (!parser.parse(arguments))
        return complain(parser.errorText(), wrongUsage);
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(done);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    const QList<QCommandLineOption> actions{newShelf, add, reopen, share};
    const auto chosen = std::count_if(actions.begin(), actions.end(),
                                      [&](const QCommandLineOption &o) { return parser.isSet(o); });
    if (chosen != 1)
        return complain(QStringLiteral("--new-shelf, --add, --reopen, --share 중 하나만 "
                                       "적어 주세요."),
                        wrongUsage);
    const QStringList paths = parser.positionalArguments();
    if (!parser.isSet(add) && !paths.isEmpty())
        return complain(QStringLiteral("알 수 없는 인수: %1").arg(paths.first()), wrongUsage);
    if (parser.isSet(name) && !paths.contains(QStringLiteral("-")))
        return complain(QStringLiteral("--name은 표준 입력(-)으로 담을 때만 씁니다."), wrongUsage);

    QList<AutomationFile> files;
    if (parser.isSet(add)) {
        if (paths.isEmpty())
            return complain(QStringLiteral("담을 파일을 적어 주세요."), wrongUsage);
        if (paths.count(QStringLiteral("-")) > 1)
            return complain(QStringLiteral("표준 입력(-)은 한 번만 담을 수 있어요."), wrongUsage);
        for (const QString &path : paths) {
            if (path == u'-') {
                const std::optional<QByteArray> data = readStandardInput();
                if (!data)
                    return complain(QStringLiteral("표준 입력의 데이터가 너무 커요. 한 번에 "
                                                   "63MiB까지 담을 수 있어요."),
                                    failed);
                files.append({QString(), parser.value(name), *data});
                continue;
            }
            const QFileInfo file(path);
            if (!file.exists())
                return complain(QStringLiteral("파일을 찾을 수 없어요: %1").arg(path), failed);
            files.append({QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded),
                          file.fileName(), QByteArray()});
        }
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return complain(
            QStringLiteral("세션 버스에 연결할 수 없어요: %1").arg(bus.lastError().message()),
            failed);
    if (!ensureRunning(bus))
        return complain(QStringLiteral("Vyo를 시작하지 못했어요."), failed);

    const QString method = parser.isSet(newShelf) ? QStringLiteral("NewShelf")
                           : parser.isSet(add)    ? QStringLiteral("AddFilesToShelf")
                           : parser.isSet(reopen) ? QStringLiteral("ReopenLastShelf")
                                                  : QStringLiteral("ShareShelf");
    QDBusMessage call = QDBusMessage::createMethodCall(QString(automation::serviceName),
                                                       QString(automation::objectPath),
                                                       QString(automation::interfaceName), method);
    if (parser.isSet(add)) {
        automation::registerTypes();
        call << QVariant::fromValue(files);
    }
    const QDBusMessage answer = bus.call(call, QDBus::Block, callTimeoutMilliseconds);
    if (answer.type() == QDBusMessage::ErrorMessage)
        return complain(answer.errorMessage(), failed);
    return done;
}

} // namespace vyo::commandLine
