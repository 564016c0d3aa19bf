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
    void base64UrlRejectsForeignCharacters();
    void uuidText();
    void compactJson();
    void compactJsonRefusesNonFiniteNumbers();
    void canonicalPath();
    void defaultsRegistrationKeepsUserValues();
    void defaultsSetterEmitsOnlyOnChange();
    void defaultsStrayTypes();
    void delayCancelAndReplace();
    void runInBackgroundHandsBackOnMainThread();
    void runInBackgroundSkipsDeadContext();
};

void TestCore::formatMessage_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    QTest::newRow("public string") << "셸프 저장 실패: %{public}s" << QStringList{"디스크 가득 참"}
                                   << "셸프 저장 실패: 디스크 가득 참";
    QTest::newRow("long integer") << "사라진 파일 %ld개를 셸프에서 제거" << QStringList{"3"}
                                  << "사라진 파일 3개를 셸프에서 제거";
    QTest::newRow("two in order") << "%d / %{public}@" << QStringList{"1", "b"} << "1 / b";
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
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("one byte") << QByteArray("\xff", 1) << QByteArray("_w");
    QTest::newRow("two bytes") << QByteArray("\xfb\xef", 2) << QByteArray("--8");
    QTest::newRow("three bytes") << QByteArray("abc") << QByteArray("YWJj");
    QTest::newRow("sixteen bytes")
        << QByteArray(16, '\xfe') << QByteArray("_v7-_v7-_v7-_v7-_v7-_g");
}

void TestCore::base64Url()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, text);
    QCOMPARE(base64UrlEncode(bytes), text);
    QCOMPARE(base64UrlDecode(text), std::optional<QByteArray>(bytes));
    QVERIFY(!base64UrlEncode(bytes).contains('='));
}

void TestCore::base64UrlRejectsForeignCharacters()
{
    QVERIFY(!base64UrlDecode("ab+c"));
    QVERIFY(!base64UrlDecode("ab/c"));
    QVERIFY(!base64UrlDecode("a b"));
    QCOMPARE(base64UrlDecode("YWJj"), std::optional<QByteArray>("abc"));
}

void TestCore::uuidText()
{
    const QUuid id = newId();
    const QString text = vyo::uuidText(id);
    QCOMPARE(text.size(), 36);
    QCOMPARE(text, text.toUpper());
    QVERIFY(!text.contains(u'{'));
    QCOMPARE(parseUuid(text), std::optional<QUuid>(id));
    QCOMPARE(parseUuid(text.toLower()), std::optional<QUuid>(id));
    QVERIFY(!parseUuid(QString(u"{" + text + u"}")));
    QVERIFY(!parseUuid(u"not-a-uuid"));
    QVERIFY(!parseUuid(u""));
    QVERIFY(!parseUuid(QString(text.left(35) + u"x")));
}

void TestCore::compactJson()
{
    const QJsonObject object{{"t", "list"}, {"a", QJsonArray{1, "x/y"}}, {"Z", true}};
    QCOMPARE(vyo::compactJson(object), QByteArray(R"({"Z":true,"a":[1,"x/y"],"t":"list"})"));
    QCOMPARE(vyo::compactJson(QJsonObject()), QByteArray("{}"));
    QCOMPARE(vyo::compactJson(QJsonObject{{"name", "사진 1.png"}}),
             QByteArray(R"({"name":"사진 1.png"})"));
}

void TestCore::compactJsonRefusesNonFiniteNumbers()
{
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

void TestCore::defaultsRegistrationKeepsUserValues()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("Vyo.conf");
    {
        Defaults defaults(file);
        QVERIFY(!defaults.contains(DefaultsKey::restoreShelves));
        defaults.setValue(DefaultsKey::restoreShelves, false);
        defaults.setValue(DefaultsKey::excludedBundleIDs, QStringList{"org.gimp.gimp", "firefox"});
        defaults.sync();
    }
    Defaults defaults(file);
    defaults.registerDefaults();
    QCOMPARE(defaults.restoreShelves(), false);
    QCOMPARE(defaults.shakeEnabled(), true);
    QCOMPARE(defaults.shakeSensitivity(), 1);
    QCOMPARE(defaults.notchDropEnabled(), true);
    QCOMPARE(defaults.removeAfterDragOut(), false);
    QCOMPARE(defaults.hasShownWelcome(), false);
    QVERIFY(!defaults.contains(DefaultsKey::hasShownWelcome));
    QVERIFY(defaults.watchedFolders().isEmpty());
    QCOMPARE(defaults.excludedBundleIDs(), (QStringList{"org.gimp.gimp", "firefox"}));
    QVERIFY(defaults.shortcut("newShelf").isEmpty());
}

void TestCore::defaultsSetterEmitsOnlyOnChange()
{
    QTemporaryDir dir;
    Defaults defaults(dir.filePath("Vyo.conf"));
    defaults.registerDefaults();
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

void TestCore::defaultsStrayTypes()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("Vyo.conf");
    QFile conf(file);
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(
        "[General]\nshakeSensitivity=banana\nexcludedBundleIDs=gimp\nrestoreShelves=false\n");
    conf.close();
    Defaults defaults(file);
    defaults.registerDefaults();
    QCOMPARE(defaults.shakeSensitivity(), 1);
    QCOMPARE(defaults.excludedBundleIDs(), QStringList{"gimp"});
    QCOMPARE(defaults.restoreShelves(), false);
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

    delay.start(10, [&] { ++first; });
    delay.cancel();
    QTest::qWait(50);
    QCOMPARE(first, 0);
}

void TestCore::runInBackgroundHandsBackOnMainThread()
{
    QObject context;
    QThread *workerThread = nullptr;
    QThread *doneThread = nullptr;
    int result = 0;
    runInBackground(
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
}

void TestCore::runInBackgroundSkipsDeadContext()
{
    auto *context = new QObject;
    bool called = false;
    QAtomicInt finished = 0;
    runInBackground(
        context,
        [&finished] {
            QThread::msleep(30);
            finished = 1;
            return 1;
        },
        [&called](int) { called = true; });
    delete context;
    QTRY_COMPARE(finished.loadRelaxed(), 1);
    QTest::qWait(30);
    QVERIFY(!called);
}

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
