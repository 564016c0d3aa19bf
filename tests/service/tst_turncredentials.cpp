// TURN credentials of the share service: the same as an independent HMAC-SHA1 (Python's hmac),
// and accepted by a real coturn in its use-auth-secret mode on 127.0.0.1.

#include "IceServers.h"
#include "ServiceTestSupport.h"

#include "HmacReference.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

using namespace vyo;
using namespace vyo::test;

namespace {

const QString secret = QStringLiteral("coturn-shared-secret");

// A port free for both UDP and TCP on 127.0.0.1 (bounded tries).
quint16 freeTurnPort()
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        QUdpSocket udp;
        if (!udp.bind(QHostAddress::LocalHost, 0))
            continue;
        QTcpServer tcp;
        if (tcp.listen(QHostAddress::LocalHost, udp.localPort()))
            return udp.localPort();
    }
    return 0;
}

// coturn on 127.0.0.1 with a shared secret, its files in a temporary folder.
class Coturn
{
public:
    bool start(const QString &folder)
    {
        port = freeTurnPort();
        const int relayBase = 50000 + QRandomGenerator::global()->bounded(90) * 100;
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("turnserver"),
                        {"-n", "--listening-ip=127.0.0.1", "--relay-ip=127.0.0.1",
                         QStringLiteral("--listening-port=%1").arg(port), "--use-auth-secret",
                         "--static-auth-secret=" + secret, "--realm=vyo.test",
                         "--allow-loopback-peers", "--no-tls", "--no-dtls", "--no-cli",
                         QStringLiteral("--min-port=%1").arg(relayBase),
                         QStringLiteral("--max-port=%1").arg(relayBase + 99), "--log-file=stdout",
                         "--simple-log", "--pidfile=" + folder + "/turnserver.pid",
                         "--userdb=" + folder + "/turndb"});
        if (!port || !m_process.waitForStarted(5000))
            return false;
        // Ready once its servers and its (empty) user database are up.
        return QTest::qWaitFor(
            [this] {
                m_log += m_process.readAll();
                return m_log.contains("Total General servers") &&
                       m_log.contains("DB connection success");
            },
            10000);
    }
    ~Coturn()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
        }
    }
    quint16 port = 0;

private:
    QProcess m_process;
    QByteArray m_log;
};

QProcess *allocate(quint16 port, const QString &username, const QString &password)
{
    auto *client = new QProcess;
    client->setProcessChannelMode(QProcess::MergedChannels);
    // One client, one message relayed to itself through its allocation.
    client->start(QStringLiteral("turnutils_uclient"),
                  {"-p", QString::number(port), "-u", username, "-w", password, "-n", "1", "-m",
                   "1", "-y", "-c", "-e", "127.0.0.1", "127.0.0.1"});
    return client;
}

const QList<std::pair<QString, QString>> credentialRows = {
    {QStringLiteral("s3cret"), QStringLiteral("1796595278:AbCdEf12")},
    {QString(200, u'k'), QStringLiteral("1:x")},
    {QStringLiteral("비밀 열쇠"), QStringLiteral("1796595278:vyo")},
};

} // namespace

class TestTurnCredentials : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void matchesIndependentHmac_data();
    void matchesIndependentHmac();
    void coturnAcceptsServiceCredentials();

private:
    // The independent credentials of credentialRows, in order; nothing without Python.
    std::optional<QStringList> m_reference;
};

void TestTurnCredentials::initTestCase()
{
    QList<QJsonObject> requests;
    for (const auto &[secretText, username] : credentialRows)
        requests.append({{"mode", "turn"}, {"secret", secretText}, {"username", username}});
    m_reference = hmacReference(requests);
}

void TestTurnCredentials::matchesIndependentHmac_data()
{
    QTest::addColumn<QString>("secretText");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("reference");

    static const char *names[] = {"typical", "long secret", "korean secret"};
    for (qsizetype i = 0; i < credentialRows.size(); ++i) {
        QTest::newRow(names[i]) << credentialRows[i].first << credentialRows[i].second
                                << (m_reference ? m_reference->at(i) : QString());
    }
}

void TestTurnCredentials::matchesIndependentHmac()
{
    QFETCH(QString, secretText);
    QFETCH(QString, username);
    QFETCH(QString, reference);
    if (!m_reference)
        QSKIP("python3 is not available for the independent HMAC");
    QCOMPARE(turnCredential(secretText, username), reference);
}

void TestTurnCredentials::coturnAcceptsServiceCredentials()
{
    if (QStandardPaths::findExecutable("turnserver").isEmpty() ||
        QStandardPaths::findExecutable("turnutils_uclient").isEmpty())
        QSKIP("coturn (turnserver, turnutils_uclient) is not installed; scripts/install-deps.sh "
              "installs it");
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    Coturn coturn;
    QVERIFY2(coturn.start(folder.path()), "coturn did not start on 127.0.0.1");

    ServiceConfig config = serviceTestConfig();
    config.turnURLs = {QStringLiteral("turn:127.0.0.1:%1?transport=udp").arg(coturn.port)};
    config.turnSecret = secret;
    const auto service = startService(config);
    QVERIFY(service);
    const QJsonObject turn =
        QJsonDocument::fromJson(httpGet(serviceBase(*service).resolved(QUrl("api/ice"))).body)
            .object()
            .value("iceServers")
            .toArray()
            .first()
            .toObject();
    const QString username = turn.value("username").toString();
    const QString credential = turn.value("credential").toString();
    QVERIFY(!username.isEmpty() && !credential.isEmpty());

    // What the service hands out works; an altered password and an expired name do not.
    const QString expired = QStringLiteral("%1:late").arg(QDateTime::currentSecsSinceEpoch() - 60);
    std::unique_ptr<QProcess> accepted(allocate(coturn.port, username, credential));
    std::unique_ptr<QProcess> altered(
        allocate(coturn.port, username,
                 QString(credential).replace(0, 1, credential[0] == u'A' ? "B" : "A")));
    std::unique_ptr<QProcess> late(allocate(coturn.port, expired, turnCredential(secret, expired)));
    for (QProcess *client : {accepted.get(), altered.get(), late.get()})
        QVERIFY(client->waitForFinished(20000));
    const QByteArray output = accepted->readAll();
    QVERIFY2(accepted->exitCode() == 0, output.constData());
    QVERIFY2(output.contains("Total lost packets 0"), output.constData());
    QVERIFY(altered->exitCode() != 0);
    QVERIFY(late->exitCode() != 0);
}

QTEST_GUILESS_MAIN(TestTurnCredentials)
#include "tst_turncredentials.moc"
