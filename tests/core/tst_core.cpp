#include "core/Base64Url.h"
#include "core/Defaults.h"
#include "core/Ids.h"
#include "core/Json.h"
#include "core/Log.h"
#include "core/MainThread.h"
#include "core/Paths.h"

#include <QDir>
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
    void formatMessage_data();
    void formatMessage();
    void formatMessageTypedArguments();
    void base64Url_data();
    void base64Url();
    void uuidText();
    void compactJson();
    void canonicalPath();
    void defaults();
    void delayCancelAndReplace();
    void runInBackground();
};

void TestCore::formatMessage_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    QTest::newRow("long integer") << "사라진 파일 %ld개를 셸프에서 제거" << QStringList{"3"}
                                  << "사라진 파일 3개를 셸프에서 제거";
    QTest::newRow("percent sign") << "100%% 완료 %s" << QStringList{"x"} << "100% 완료 x";
    QTest::newRow("precision") << "%.1f초" << QStringList{"2.5"} << "2.5초";
    QTest::newRow("missing argument kept") << "a %s b %s" << QStringList{"1"} << "a 1 b %s";
    QTest::newRow("surplus ignored") << "없음" << QStringList{"1"} << "없음";
    QTest::newRow("lone percent at end") << "50%" << QStringList{"1"} << "50%";
    QTest::newRow("unclosed brace") << "%{public" << QStringList{"1"} << "%{public";
    QTest::newRow("argument with percent") << "%s %s" << QStringList{"%s", "b"} << "%s b";
}

void TestCore::formatMessage()
{
    QFETCH(QString, format);
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QCOMPARE(formatMessageList(format, arguments), expected);
}

void TestCore::formatMessageTypedArguments()
{
    const QUuid id = QUuid::fromString(u"e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    QCOMPARE(vyo::formatMessage(u"%ld개 %{public}s %@ %.2f", qint64(12), QUrl("https://a.b/c d"),
                                id, 0.25),
             "12개 https://a.b/c%20d E621E1F8-C36C-495A-93FC-0C247A3E6E5F 0.25");
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

void TestCore::uuidText()
{
    const QUuid id = newId();
    const QString text = vyo::uuidText(id);
    QCOMPARE(text.size(), 36);
    QCOMPARE(text, text.toUpper());
    QCOMPARE(parseUuid(text), std::optional<QUuid>(id));
    QCOMPARE(parseUuid(text.toLower()), std::optional<QUuid>(id));
    QVERIFY(!parseUuid(QString(u"{" + text + u"}")));
    QVERIFY(!parseUuid(u""));
    QVERIFY(!parseUuid(QString(text.left(35) + u"x")));
}

void TestCore::compactJson()
{
    const QJsonObject object{{"t", "list"}, {"a", QJsonArray{1, "x/y"}}, {"Z", "사진 1.png"}};
    QCOMPARE(vyo::compactJson(object),
             QByteArray(R"({"Z":"사진 1.png","a":[1,"x/y"],"t":"list"})"));
    // Numbers JSON cannot hold make nothing.
    QCOMPARE(vyo::compactJson(QJsonObject{{"size", std::nan("")}}), QByteArray("{}"));
    QCOMPARE(vyo::compactJson(QJsonObject{{"a", QJsonArray{1, HUGE_VAL}}}), QByteArray("{}"));
}

void TestCore::canonicalPath()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString real = QDir(dir.path()).canonicalPath() + "/real";
    QVERIFY(QDir().mkpath(real + "/sub"));
    QVERIFY(QFile::link(real, dir.path() + "/link"));
    QCOMPARE(vyo::canonicalPath(dir.path() + "/link/"), real);
    QCOMPARE(vyo::canonicalPath(dir.path() + "/link/sub/.."), real);
    QCOMPARE(vyo::canonicalPath(real + "//sub/./"), real + "/sub");
    QCOMPARE(vyo::canonicalPath("/"), QString("/"));
    QCOMPARE(vyo::canonicalPath("/no/such/../folder/"), QString("/no/folder"));
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
    QCOMPARE(defaults.shakeEnabled(), true);
    QCOMPARE(defaults.notchDropEnabled(), true);
    QCOMPARE(defaults.removeAfterDragOut(), false);
    QCOMPARE(defaults.hasShownWelcome(), false);
    QVERIFY(!defaults.contains(DefaultsKey::hasShownWelcome));
    QVERIFY(defaults.watchedFolders().isEmpty());
    QVERIFY(defaults.shortcut("newShelf").isEmpty());

    // Setters tell of a change only.
    QSignalSpy spy(&defaults, &Defaults::changed);
    defaults.setValue(DefaultsKey::shakeEnabled, false);
    defaults.setValue(DefaultsKey::shakeEnabled, false);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toString(), QString(DefaultsKey::shakeEnabled));
    defaults.setShortcut("newShelf", R"({"carbonKeyCode":46,"carbonModifiers":6144})");
    QCOMPARE(defaults.shortcut("newShelf"), R"({"carbonKeyCode":46,"carbonModifiers":6144})");
    defaults.setShortcut("newShelf", {});
    QVERIFY(defaults.shortcut("newShelf").isEmpty());
    QCOMPARE(spy.count(), 3);
}

void TestCore::delayCancelAndReplace()
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

    // A cancelled delay stays silent past a later one that fires.
    delay.start(10, [&] { ++first; });
    delay.cancel();
    Delay later;
    later.start(30, [&] { ++second; });
    QTRY_COMPARE(second, 2);
    QCOMPARE(first, 0);
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
