#include "core/Base64Url.h"
#include "core/Defaults.h"
#include "core/Json.h"
#include "core/Log.h"
#include "core/MainThread.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>

using namespace vyo;

class TestCore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void formatMessage();
    void base64Url_data();
    void base64Url();
    void compactJson();
    void defaults();
    void delayReplace();
    void runInBackground();
};

void TestCore::formatMessage()
{
    const QUuid id = QUuid::fromString(u"e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    QCOMPARE(vyo::formatMessage(u"%ld개 %{public}s %@ %.2f", qint64(12), QUrl("https://a.b/c d"),
                                id, 0.25),
             "12개 https://a.b/c%20d E621E1F8-C36C-495A-93FC-0C247A3E6E5F 0.25");
    // An argument's own "%s" is no placeholder; a missing argument leaves its placeholder.
    QCOMPARE(formatMessageList(u"100%% %s %s %s", {"%s", "b"}), "100% %s b %s");
}

void TestCore::base64Url_data()
{
    QTest::addColumn<QByteArray>("bytes"); // null for text that is not base64url
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray("") << QByteArray();
    QTest::newRow("one byte") << QByteArray("\xff", 1) << QByteArray("_w");
    QTest::newRow("two bytes") << QByteArray("\xfb\xef", 2) << QByteArray("--8");
    QTest::newRow("three bytes") << QByteArray("abc") << QByteArray("YWJj");
    QTest::newRow("plus") << QByteArray() << QByteArray("ab+c");
    QTest::newRow("slash") << QByteArray() << QByteArray("ab/c");
    QTest::newRow("space") << QByteArray() << QByteArray("a b");
}

void TestCore::base64Url()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, text);
    QCOMPARE(base64UrlDecode(text),
             bytes.isNull() ? std::nullopt : std::optional<QByteArray>(bytes));
    if (!bytes.isNull())
        QCOMPARE(base64UrlEncode(bytes), text);
}

void TestCore::compactJson()
{
    const QJsonObject object{{"t", "list"}, {"a", QJsonArray{1, "x/y"}}, {"Z", "사진 1.png"}};
    QCOMPARE(vyo::compactJson(object),
             QByteArray(R"({"Z":"사진 1.png","a":[1,"x/y"],"t":"list"})"));
    // Numbers JSON cannot hold make nothing.
    QCOMPARE(vyo::compactJson(QJsonObject{{"size", std::nan("")}}), QByteArray("{}"));
}

void TestCore::defaults()
{
    // Registration keeps what the user stored, and stray types read as the defaults.
    QTemporaryDir dir;
    const QString file = dir.filePath("Vyo.conf");
    QFile conf(file);
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(
        "[General]\nshakeSensitivity=banana\nexcludedBundleIDs=gimp\nrestoreShelves=false\n");
    conf.close();
    Defaults defaults(file);
    defaults.registerDefaults();
    QCOMPARE(defaults.restoreShelves(), false);
    QCOMPARE(defaults.shakeSensitivity(), 1);
    QCOMPARE(defaults.excludedBundleIDs(), QStringList{"gimp"});
    QVERIFY(defaults.shortcut("newShelf").isEmpty());

    // Setters tell of a change only.
    QSignalSpy spy(&defaults, &Defaults::changed);
    defaults.setValue(DefaultsKey::shakeEnabled, false);
    defaults.setValue(DefaultsKey::shakeEnabled, false);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toString(), QString(DefaultsKey::shakeEnabled));
}

void TestCore::delayReplace()
{
    Delay delay;
    int first = 0;
    int second = 0;
    delay.start(20, [&] { ++first; });
    delay.start(20, [&] { ++second; });
    QVERIFY(delay.isPending());
    QTRY_COMPARE(second, 1);
    QCOMPARE(first, 0);
    QVERIFY(!delay.isPending());
}

void TestCore::runInBackground()
{
    // The result comes back on the main thread; not at all when the context is gone by then.
    QObject context;
    QThread *workerThread = nullptr;
    QThread *doneThread = nullptr;
    int result = 0;
    vyo::runInBackground(
        &context,
        [&] {
            workerThread = QThread::currentThread();
            return 42;
        },
        [&](int value) {
            doneThread = QThread::currentThread();
            result = value;
        });
    QTRY_COMPARE(result, 42);
    QVERIFY(workerThread != QThread::currentThread());
    QCOMPARE(doneThread, QThread::currentThread());

    auto *dead = new QObject;
    bool called = false;
    QAtomicInt finished = 0;
    vyo::runInBackground(
        dead,
        [&finished] {
            QThread::msleep(30);
            finished = 1;
            return 1;
        },
        [&called](int) { called = true; });
    delete dead;
    QTRY_COMPARE(finished.loadRelaxed(), 1);
    QTest::qWait(30);
    QVERIFY(!called);
}

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
