// The update feed's rules as tables: versions, feeds good and bad, signatures (RFC 8032's test
// vector), addresses and the schedule.

#include "logic/UpdateFeed.h"

#include <QTest>

using namespace vyo;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::partial_ordering)
Q_DECLARE_METATYPE(std::optional<UpdateFeed::Error>)

namespace {

// One item of a feed; an empty `signature` leaves the attribute out.
QByteArray item(const QByteArray &version, const QByteArray &shortVersion = {},
                const QByteArray &signature = "c2ln", const QByteArray &length = "10")
{
    QByteArray xml = "<item><title>Vyo</title><link>https://vyo.example/releases</link>"
                     "<sparkle:releaseNotesLink>https://vyo.example/notes.html"
                     "</sparkle:releaseNotesLink>";
    if (!version.isEmpty())
        xml += "<sparkle:version>" + version + "</sparkle:version>";
    if (!shortVersion.isEmpty())
        xml += "<sparkle:shortVersionString>" + shortVersion + "</sparkle:shortVersionString>";
    xml += "<enclosure url=\"https://vyo.example/vyo.deb\" length=\"" + length +
           "\" type=\"application/vnd.debian.binary-package\"";
    if (!signature.isEmpty())
        xml += " sparkle:edSignature=\"" + signature + "\"";
    return xml + "/></item>";
}

QByteArray feed(const QByteArray &items)
{
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
           "<title>Vyo</title>" +
           items + "</channel></rss>";
}

} // namespace

class TestUpdateFeed : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void versions_data();
    void versions();
    void feeds_data();
    void feeds();
    void signatures_data();
    void signatures();
    void addresses();
    void schedule_data();
    void schedule();
};

void TestUpdateFeed::versions_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<std::partial_ordering>("order");
    const auto row = [](const char *a, const char *b, std::partial_ordering order) {
        QTest::addRow("%s vs %s", a, b) << QString(a) << QString(b) << order;
    };
    row("1.10", "1.9", std::partial_ordering::greater);
    row("2.0", "2.0.0", std::partial_ordering::equivalent);
    row("2.0.1", "2.0", std::partial_ordering::greater);
    row("1", "1.0.0.1", std::partial_ordering::less);
    row(" 3.0 ", "3", std::partial_ordering::equivalent);
    row("1.2b", "1.2", std::partial_ordering::unordered);
    row("", "1", std::partial_ordering::unordered);
    row("99999999999", "1", std::partial_ordering::unordered);
}

void TestUpdateFeed::versions()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(std::partial_ordering, order);
    QVERIFY(compareVersions(a, b) == order);
}

void TestUpdateFeed::feeds_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<std::optional<UpdateFeed::Error>>("error");
    // The newest version offered over 1.5, as shown to the user; empty for none.
    QTest::addColumn<QString>("offered");
    using E = UpdateFeed::Error;
    const std::optional<E> fine;
    QTest::newRow("newer") << feed(item("1.6", "1.6 beta")) << fine << "1.6 beta";
    QTest::newRow("equal") << feed(item("1.5.0")) << fine << "";
    QTest::newRow("numeric order")
        << feed(item("1.9") + item("1.10") + item("1.6")) << fine << "1.10";
    QTest::newRow("enclosure's version")
        << feed("<item><enclosure url=\"https://vyo.example/a.deb\" length=\"5\" "
                "sparkle:version=\"2.0\" sparkle:shortVersionString=\"2.0 정식\" "
                "sparkle:edSignature=\"c2ln\"/></item>")
        << fine << "2.0 정식";
    QTest::newRow("one bad item") << feed(item("x.y") + item("1.7")) << fine << "1.7";
    QTest::newRow("not XML") << QByteArray("HTTP 500 이 아니라 그냥 글") << std::optional(E::notXml)
                             << "";
    QTest::newRow("huge") << feed(QByteArray(UpdateFeed::maxFeedBytes, ' ') + item("1.6"))
                          << std::optional(E::tooLarge) << "";
    QTest::newRow("no items") << feed({}) << std::optional(E::noItems) << "";
    QTest::newRow("bad version") << feed(item("1.6-rc1")) << std::optional(E::badVersion) << "";
    QTest::newRow("no signature") << feed(item("1.6", {}, {})) << std::optional(E::noSignedPackage)
                                  << "";
    QTest::newRow("no length") << feed(item("1.6", {}, "c2ln", "many"))
                               << std::optional(E::noSignedPackage) << "";
}

void TestUpdateFeed::feeds()
{
    QFETCH(QByteArray, xml);
    QFETCH(std::optional<UpdateFeed::Error>, error);
    QFETCH(QString, offered);
    const UpdateFeed::Parsed parsed = UpdateFeed::parse(xml);
    QCOMPARE(parsed.error, error);
    QCOMPARE(parsed.items.isEmpty(), error.has_value());
    const std::optional<UpdateItem> newest = UpdateFeed::newestAfter(parsed.items, "1.5");
    QCOMPARE(newest ? newest->displayVersion : QString(), offered);
    if (newest && xml.contains("<link>")) {
        QCOMPARE(newest->downloadUrl, QUrl("https://vyo.example/vyo.deb"));
        QCOMPARE(newest->length, 10);
        QCOMPARE(newest->releasePage, QUrl("https://vyo.example/releases"));
        QCOMPARE(newest->releaseNotesLink, QUrl("https://vyo.example/notes.html"));
    }
}

void TestUpdateFeed::signatures_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("signature");
    QTest::addColumn<QString>("publicKey");
    QTest::addColumn<bool>("valid");
    // RFC 8032's Ed25519 test vector 2 (the one-byte message 0x72).
    const QByteArray message = QByteArray::fromHex("72");
    const QString key = QString::fromLatin1(
        QByteArray::fromHex("3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c")
            .toBase64());
    const QString signature = QString::fromLatin1(
        QByteArray::fromHex("92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
                            "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00")
            .toBase64());
    QString otherKey = key;
    otherKey[5] = 'A';
    QTest::newRow("verified") << message << signature << key << true;
    QTest::newRow("altered byte") << QByteArray::fromHex("73") << signature << key << false;
    QTest::newRow("wrong key") << message << signature << otherKey << false;
    QTest::newRow("missing") << message << QString() << key << false;
    QTest::newRow("not base64") << message << "서명!" << key << false;
    QTest::newRow("no key") << message << signature << QString() << false;
}

void TestUpdateFeed::signatures()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, signature);
    QFETCH(QString, publicKey);
    QFETCH(bool, valid);
    QCOMPARE(verifyEd25519(data, signature, publicKey), valid);
}

void TestUpdateFeed::addresses()
{
    QVERIFY(isAllowedUpdateAddress(QUrl("https://vyo.example/appcast.xml")));
    QVERIFY(isAllowedUpdateAddress(QUrl("http://127.0.0.1:8080/appcast.xml")));
    for (const char *refused : {"http://vyo.example/a.xml", "http://localhost/a.xml",
                                "file:///tmp/a.xml", "https:///a.xml", ""})
        QVERIFY2(!isAllowedUpdateAddress(QUrl(refused)), refused);
}

void TestUpdateFeed::schedule_data()
{
    QTest::addColumn<std::optional<QDateTime>>("lastCheck");
    QTest::addColumn<QDateTime>("next");
    const QDateTime now(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    QTest::newRow("never checked") << std::optional<QDateTime>() << now.addSecs(60);
    QTest::newRow("an hour ago") << std::optional(now.addSecs(-3600)) << now.addSecs(23 * 3600);
    QTest::newRow("just under a day ago")
        << std::optional(now.addSecs(-24 * 3600 + 30)) << now.addSecs(60);
    QTest::newRow("in the future") << std::optional(now.addDays(3)) << now.addDays(1);
    QTest::newRow("unreadable") << std::optional(QDateTime()) << now.addSecs(60);
}

void TestUpdateFeed::schedule()
{
    QFETCH(std::optional<QDateTime>, lastCheck);
    QFETCH(QDateTime, next);
    const UpdateSchedule schedule{24h, 1min};
    QCOMPARE(schedule.nextCheck(lastCheck, QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC)),
             next);
}

QTEST_GUILESS_MAIN(TestUpdateFeed)
#include "tst_updatefeed.moc"
