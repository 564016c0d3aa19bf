// Sharing on the local network with no "shareServiceURL": the share center runs the embedded
// service, and headless Chromium plays a phone on the same network from a network namespace of
// its own, joined to this one by a veth pair (10.231.x.2 there, 10.231.x.1 here, where the veth's
// near end stands for the LAN through the test switch VYO_SHARE_LAN_INTERFACE). It opens the share
// address and downloads a file byte for byte (kept in the page's memory: plain http is no secure
// context); a host from the network is refused. (When the service runs and stops is the share
// center's rule, tested in tests/share.)
//
// Making namespaces needs root (as here and in CI); without it the test skips. The namespace and
// the veth pair are removed however the test ends, short of being killed.

#include "core/Defaults.h"
#include "platform/PeerConnection.h"
#include "platform/fake/FakeDesktop.h"
#include "share/ShareCenter.h"
#include "shelf/Shelf.h"

#include "ChildProcess.h"
#include "SharePageDriver.h"
#include "ShareTestSupport.h"
#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace vyo;
using namespace vyo::test;

namespace {

// Runs `ip` with the arguments; what failed, nothing when it worked.
std::optional<QString> ip(const QStringList &arguments)
{
    if (runToEnd(QStringLiteral("ip"), arguments))
        return std::nullopt;
    return QStringLiteral("ip %1 failed").arg(arguments.join(u' '));
}

// A network namespace for the phone and the veth pair into it, removed when it goes.
class PhoneNetwork
{
public:
    PhoneNetwork()
    {
        // Names of at most 15 characters, and a subnet of 10.231.0.0/16, both from the process.
        const qint64 pid = QCoreApplication::applicationPid();
        const int subnet = int(pid % 250) + 1;
        name = QStringLiteral("vyo-phone-%1").arg(pid);
        nearEnd = QStringLiteral("vyo-n%1").arg(pid % 10000000);
        farEnd = QStringLiteral("vyo-f%1").arg(pid % 10000000);
        desktopAddress = QHostAddress(QStringLiteral("10.231.%1.1").arg(subnet));
        phoneAddress = QHostAddress(QStringLiteral("10.231.%1.2").arg(subnet));
    }
    ~PhoneNetwork() { remove(); }

    // Makes the namespace and the pair; the reason when it cannot.
    std::optional<QString> make()
    {
        remove();
        const QString inside = QStringLiteral("netns exec %1 ip ").arg(name);
        const QStringList steps = {
            QStringLiteral("netns add ") + name,
            QStringLiteral("link add %1 type veth peer name %2").arg(nearEnd, farEnd),
            QStringLiteral("link set %1 netns %2").arg(farEnd, name),
            QStringLiteral("addr add %1/24 dev %2").arg(desktopAddress.toString(), nearEnd),
            QStringLiteral("link set %1 up").arg(nearEnd),
            inside + QStringLiteral("addr add %1/24 dev %2").arg(phoneAddress.toString(), farEnd),
            inside + QStringLiteral("link set %1 up").arg(farEnd),
            inside + QStringLiteral("link set lo up"),
        };
        m_made = true;
        for (const QString &step : steps) {
            if (std::optional<QString> failure = ip(step.split(u' ')))
                return failure;
        }
        return std::nullopt;
    }

    // Removes what `make` made (also what a failed `make` left behind).
    void remove()
    {
        if (!m_made)
            return;
        // Deleting one end of a veth pair deletes both; the namespace goes with its own end.
        (void)ip({QStringLiteral("link"), QStringLiteral("del"), nearEnd});
        (void)ip({QStringLiteral("netns"), QStringLiteral("del"), name});
        m_made = false;
    }

    // The program and arguments that run a command inside the namespace.
    QStringList launcher() const
    {
        return {QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), name};
    }

    QString name;
    QString nearEnd;
    QString farEnd;
    QHostAddress desktopAddress;
    QHostAddress phoneAddress;

private:
    bool m_made = false;
};

} // namespace

class TestEmbeddedShare : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void phoneDownloadsOverTheLan();
    void hostsFromTheNetworkAreRefused();

private:
    PhoneNetwork m_network;
    QTemporaryDir m_files;
    QTemporaryDir m_downloads;
    std::unique_ptr<FakeDesktop> m_desktop;
    std::unique_ptr<ShareCenter> m_center;
    std::unique_ptr<Driver> m_driver;
    Shelf m_shelf;
    QString m_url;
};

void TestEmbeddedShare::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty(), "node is missing");
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
        QSKIP("`ip` (iproute2) is missing: no network namespace for the phone");
    if (const std::optional<QString> failure = m_network.make()) {
        m_network.remove();
        QSKIP(qPrintable(QStringLiteral("no network namespace for the phone (making one needs "
                                        "root): %1")
                             .arg(*failure)));
    }
    qputenv(LanAddress::interfaceVariable, m_network.nearEnd.toUtf8());
    Defaults::shared().remove(QString::fromLatin1(DefaultsKey::shareServiceURL));
    m_desktop = std::make_unique<FakeDesktop>();
    m_center = std::make_unique<ShareCenter>();
    m_center->setPeerConnectionMaker(makePeerConnection);
    m_driver = std::make_unique<Driver>(240, true, m_network.launcher());

    QByteArray bytes(2 * 1024 * 1024 + 5, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    QVERIFY(writeFile(m_files.filePath(QStringLiteral("한글 문서.bin")), bytes));
    m_shelf.add({file(m_files.filePath(QStringLiteral("한글 문서.bin")))});
    m_url = startShare(*m_center, m_shelf);
    QVERIFY(!m_url.isEmpty());
}

void TestEmbeddedShare::cleanupTestCase()
{
    m_driver.reset();
    m_center.reset();
    m_desktop.reset();
    qunsetenv(LanAddress::interfaceVariable);
    m_network.remove();
}

void TestEmbeddedShare::phoneDownloadsOverTheLan()
{
    // The share address names the LAN address, where the phone reaches the embedded service.
    QCOMPARE(QUrl(m_url).host(), m_network.desktopAddress.toString());
    const auto items = m_driver->openPage(m_url, 1);
    QVERIFY2(items, qPrintable(m_driver->error));
    const QJsonObject item = items->first().toObject();
    QCOMPARE(item.value("name").toString(), QStringLiteral("한글 문서.bin"));
    const auto saved = m_driver->download(item.value("id").toString(), m_downloads.path());
    QVERIFY2(saved, qPrintable(m_driver->error));
    QVERIFY(fileContents(saved->value("path").toString()) ==
            fileContents(m_files.filePath(QStringLiteral("한글 문서.bin"))));

    // The phone's connection is direct, between the two ends of the pair.
    ShareSession *session = m_center->session(m_shelf.id());
    QVERIFY(session);
    QTRY_COMPARE_WITH_TIMEOUT(session->devices().size(), 1, browserWait);
    QCOMPARE(session->devices().first().route, PeerSession::Route::direct);
}

void TestEmbeddedShare::hostsFromTheNetworkAreRefused()
{
    // The phone's page tries to be the room's host.
    ShareSession *session = m_center->session(m_shelf.id());
    QVERIFY(session);
    const QString hostURL = QStringLiteral("ws://%1:%2/api/room/%3?role=host")
                                .arg(m_network.desktopAddress.toString())
                                .arg(m_center->embeddedService().port())
                                .arg(session->roomID());
    const auto code = m_driver->call(QStringLiteral("closeCode"), {{"url", hostURL}});
    QVERIFY2(code, qPrintable(m_driver->error));
    QCOMPARE(code->toInt(), 4405);
    // The desktop's own host connection is untouched.
    QVERIFY(session->isOnline());
}

QTEST_MAIN(TestEmbeddedShare)
#include "tst_embeddedshare.moc"
