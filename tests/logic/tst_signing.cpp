// Signatures of signaling payloads, checked against an independent HMAC (Python's hmac module)
// and a published HMAC-SHA256 vector.

#include "core/Base64Url.h"
#include "logic/Signing.h"

#include "HmacReference.h"

#include <QJsonDocument>
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

struct SigningRow
{
    const char *name;
    QByteArray key;
    QString payload;
};

QList<SigningRow> signingRows()
{
    static const QByteArray random = *vyo::secureRandomBytes(32);
    return {
        {"ascii", random, QStringLiteral("{\"type\":\"answer\"}")},
        {"korean", random,
         QStringLiteral("{\"name\":\"보고서 최종본.pdf\",\"note\":\"안녕하세요 📦\"}")},
        {"empty payload", random, QString()},
        {"sdp with slashes and line breaks", keyWithUrlCharacters(),
         QStringLiteral(
             "{\"sdp\":\"v=0\\r\\na=fingerprint:sha-256 AB:CD\\r\\na=x/y\",\"type\":\"offer\"}")},
        {"large payload", random, QString(100000, u'가')},
        {"short key", QByteArray("k"), QStringLiteral("payload")},
    };
}

} // namespace

class TestSigning : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void matchesIndependentHmac_data();
    void matchesIndependentHmac();
    void publishedVector();
    void alteredPayloadOrSignatureFails_data();
    void alteredPayloadOrSignatureFails();
    void unusableKeys_data();
    void unusableKeys();

private:
    // The independent signatures of signingRows(), in order; nothing without Python.
    std::optional<QStringList> m_reference;
};

void TestSigning::initTestCase()
{
    QList<QJsonObject> requests;
    for (const SigningRow &row : signingRows())
        requests.append({{"mode", "sign"}, {"key", keyText(row.key)}, {"payload", row.payload}});
    m_reference = test::hmacReference(requests);
}

void TestSigning::matchesIndependentHmac_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QString>("reference");

    const QList<SigningRow> rows = signingRows();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QTest::newRow(rows[i].name)
            << rows[i].key << rows[i].payload << (m_reference ? m_reference->at(i) : QString());
    }
}

void TestSigning::matchesIndependentHmac()
{
    QFETCH(QByteArray, key);
    QFETCH(QString, payload);
    QFETCH(QString, reference);

    if (!m_reference)
        QSKIP("python3 is not available for the independent HMAC");
    const std::optional<QString> signature = signPayload(payload, keyText(key));
    QVERIFY(signature);
    QCOMPARE(signature->size(), 43);
    QCOMPARE(*signature, reference);
    QVERIFY(verifyPayload(payload, *signature, keyText(key)));
}

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
    QTest::newRow("payload with a trailing space") << payload + " " << signature << false;
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
    QTest::newRow("non-Latin text") << QStringLiteral("열쇠열쇠");
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
