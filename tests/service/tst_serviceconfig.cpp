// The share service's settings from the command line and its configuration file.

#include "ServiceConfig.h"

#include "TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace vyo;

class TestServiceConfig : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void refusedValues_data();
    void refusedValues();
    void configFileAndCommandLine();
    void origins_data();
    void origins();
};

void TestServiceConfig::refusedValues_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");

    QTest::newRow("port out of range") << QStringList{"--port", "70000"} << "--port";
    QTest::newRow("turn without secret") << QStringList{"--turn", "turn:t:3478"} << "--turn-secret";
    QTest::newRow("public URL without host")
        << QStringList{"--public-url", "share"} << "--public-url";
    QTest::newRow("origin with a path")
        << QStringList{"--origin", "https://a.example/x"} << "--origin";
    QTest::newRow("zero rooms") << QStringList{"--max-rooms", "0"} << "--max-rooms";
    QTest::newRow("zero idle time-out")
        << QStringList{"--http-idle-timeout", "0"} << "--http-idle-timeout";
    QTest::newRow("unknown option") << QStringList{"--rooms", "3"} << "rooms";
    QTest::newRow("missing file") << QStringList{"--config", "/nonexistent/vyo.conf"}
                                  << "cannot read";
}

void TestServiceConfig::refusedValues()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    arguments.prepend("vyo-service");
    const ServiceConfigParse parsed = parseServiceConfig(arguments);
    QVERIFY(!parsed.config);
    QVERIFY2(parsed.error.contains(error), qPrintable(parsed.error));
}

void TestServiceConfig::configFileAndCommandLine()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("vyo-service.conf");
    QVERIFY(test::writeFile(path, "# the relay\n"
                                  "turn = turn:relay.example.org:3478?transport=udp\n"
                                  "turn = turns:relay.example.org:5349\n"
                                  "turn-secret = kept out of ps\n"
                                  "\n"
                                  "port = 9000\n"
                                  "max-guests = 4\n"));
    ServiceConfigParse parsed =
        parseServiceConfig({"vyo-service", "--config", path, "--port", "9100"});
    QVERIFY2(parsed.config, qPrintable(parsed.error));
    QCOMPARE(parsed.config->turnURLs.size(), 2);
    QCOMPARE(parsed.config->turnSecret, QStringLiteral("kept out of ps"));
    QCOMPARE(parsed.config->port, 9100);
    QCOMPARE(parsed.config->maxGuestsPerRoom, 4);

    QVERIFY(test::writeFile(path, "port = 9000\nbogus = 1\n"));
    parsed = parseServiceConfig({"vyo-service", "--config", path});
    QVERIFY(!parsed.config);
    QVERIFY2(parsed.error.contains(":2: unknown setting 'bogus'"), qPrintable(parsed.error));
}

void TestServiceConfig::origins_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("origin");
    QTest::newRow("https, default port")
        << QUrl("https://Share.Example.org:443/x") << "https://share.example.org";
    QTest::newRow("http, own port")
        << QUrl("http://192.168.0.5:47800/") << "http://192.168.0.5:47800";
    QTest::newRow("IPv6") << QUrl("http://[2001:DB8::5]:47800/") << "http://[2001:db8::5]:47800";
    QTest::newRow("no host") << QUrl("http:///x") << "";
}

void TestServiceConfig::origins()
{
    QFETCH(QUrl, url);
    QFETCH(QString, origin);
    QCOMPARE(originOf(url), origin);
}

QTEST_GUILESS_MAIN(TestServiceConfig)
#include "tst_serviceconfig.moc"
