// Signatures of signaling payloads, checked against a published HMAC-SHA256 vector.

#include "core/Base64Url.h"
#include "logic/Signing.h"

#include <QTest>

using namespace vyo;

namespace {

QString keyText(const QByteArray &bytes)
{
    return QString::fromLatin1(base64UrlEncode(bytes));
}

// A key whose text holds both "-" and "_", so the alphabet change is exercised.
QByteArray keyWithUrlCharacters()
{
    QByteArray bytes(32, '\0');
    for (int i = 0; i < 32; ++i)
        bytes[i] = char(i % 2 ? 0xFB : 0xFF);
    return bytes;
}

} // namespace

class TestSigning : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void publishedVector();
    void alteredPayloadOrSignatureFails_data();
    void alteredPayloadOrSignatureFails();
    void unusableKeys_data();
    void unusableKeys();
};

void TestSigning::publishedVector()
{
    // HMAC-SHA256 test case 2 of RFC 4231: key "Jefe".
    const QString expected = QString::fromLatin1(base64UrlEncode(
        QByteArray::fromHex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843")));
    QCOMPARE(signPayload(QStringLiteral("what do ya want for nothing?"), keyText("Jefe")),
             std::optional<QString>(expected));
}

void TestSigning::alteredPayloadOrSignatureFails_data()
{
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QString>("signature");
    QTest::addColumn<bool>("valid");

    const QString payload =
        QStringLiteral("{\"candidate\":\"candidate:1 1 udp 2122260223 10.0.0.2 54321 typ host\"}");
    const QString signature = *signPayload(payload, keyText(keyWithUrlCharacters()));
    QString otherCharacter = signature;
    otherCharacter[10] = otherCharacter[10] == u'A' ? u'B' : u'A';

    QTest::newRow("as signed") << payload << signature << true;
    QTest::newRow("with its padding") << payload << signature + "=" << true;
    QTest::newRow("payload one character off")
        << QString(payload).replace("54321", "54322") << signature << false;
    QTest::newRow("signature one character off") << payload << otherCharacter << false;
    QTest::newRow("signature cut short") << payload << signature.left(42) << false;
    QTest::newRow("signature too long") << payload << signature + "AAAA" << false;
    QTest::newRow("signature not base64url") << payload << QString(43, u'!') << false;
    QTest::newRow("empty signature") << payload << QString() << false;
}

void TestSigning::alteredPayloadOrSignatureFails()
{
    QFETCH(QString, payload);
    QFETCH(QString, signature);
    QFETCH(bool, valid);
    QCOMPARE(verifyPayload(payload, signature, keyText(keyWithUrlCharacters())), valid);
}

void TestSigning::unusableKeys_data()
{
    QTest::addColumn<QString>("key");

    QTest::newRow("not base64") << QStringLiteral("not a key!");
    QTest::newRow("impossible length") << QStringLiteral("abcde");
    // Anyone could sign with an empty key, so it signs nothing.
    QTest::newRow("empty") << QString();
}

void TestSigning::unusableKeys()
{
    QFETCH(QString, key);
    QCOMPARE(signPayload(QStringLiteral("payload"), key), std::nullopt);
    const QString someSignature = *signPayload(QStringLiteral("payload"), keyText("k"));
    QVERIFY(!verifyPayload(QStringLiteral("payload"), someSignature, key));
}

QTEST_GUILESS_MAIN(TestSigning)
#include "tst_signing.moc"
