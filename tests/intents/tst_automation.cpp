// The automation actions: first in process, against a manager with stand-in windows (what each
// handed-over file becomes, the failures), then the real application on a private session bus
// (its methods and errors and the command line against one running copy, the bus starting Vyo on
// demand).

#include "intents/AutomationService.h"
#include "intents/ShelfActions.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfItem.h"
#include "shelf/ShelfManager.h"
#include "shelf/ShelfPersistence.h"

#include "ChildProcess.h"
#include "FakeShelfWindow.h"
#include "PrivateSessionBus.h"
#include "TestSupport.h"

#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMetaType>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using namespace vyo;
using Files = QList<AutomationFile>;
using Kind = ShelfActions::Failure::Kind;

namespace {

constexpr Point pointer{1000, 500};
const QString launched = QStringLiteral("최근 닫은 셸프 0개 복원");

QString fileUri(const QString &path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

// Each item as "ref:<path>" (referred to where it is) or "new:<name>=<contents>" (stored by Vyo).
QStringList describe(const Shelf &shelf)
{
    QStringList described;
    for (const QUrl &url : shelf.fileURLs()) {
        const QString path = url.toLocalFile();
        if (!path.startsWith(itemsDirectory() + u'/')) {
            described.append("ref:" + path);
            continue;
        }
        QFile stored(path);
        stored.open(QIODevice::ReadOnly);
        described.append("new:" + QFileInfo(path).fileName() + "=" + stored.readAll());
    }
    return described;
}

int dropFolderCount()
{
    return int(QDir(itemsDirectory()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

} // namespace

class TestAutomation : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void addFiles_data();
    void addFiles();
    void dataAboveTheCapOpensNothing();
    void theNewestShelfIsShared();

    void methodsAndCommandLineOfOneCopy();
    void busStartsVyoWhenNotRunning();

private:
    // The real application's user folders and a bus of its own; `services` enables activation.
    bool startBus(bool services = false);
    QString statePath() const { return m_root->filePath("data/Vyo/shelves.json"); }

    QString m_existing;
    std::unique_ptr<ShelfManager> m_manager;
    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<test::PrivateSessionBus> m_bus;
    QProcessEnvironment m_environment;
};

void TestAutomation::initTestCase()
{
    m_existing = QDir::home().filePath("보고서.pdf");
    QVERIFY(test::writeFile(m_existing, "pdf"));
    automation::registerTypes();
    qDBusRegisterMetaType<QMap<QString, QString>>();
}

void TestAutomation::init()
{
    QDir(itemsDirectory()).removeRecursively();
    QFile::remove(itemsDirectory());
    m_manager = std::make_unique<ShelfManager>(
        ShelfPersistence(QDir::temp().filePath("shelves.json")), test::FakeShelfWindow::maker());
}

void TestAutomation::cleanup()
{
    m_manager.reset();
    m_bus.reset();
    m_root.reset();
}

void TestAutomation::addFiles_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("existing file by reference")
        << Files{{fileUri(m_existing), "보고서.pdf", "ignored"}}
        << QStringList{"ref:" + m_existing};
    QTest::newRow("two data files of one name") << Files{{"", "a.txt", "1"}, {"", "a.txt", "2"}}
                                                << QStringList{"new:a.txt=1", "new:a.txt=2"};
    QTest::newRow("into /proc") << Files{{"file:///proc/self/status", "status", "s"}}
                                << QStringList{"new:status=s"};
    // The name is cleaned as for any upload; nothing left of it gives the fallback.
    QTest::newRow("only dots") << Files{{"", "...", "d"}} << QStringList{"new:파일=d"};
}

void TestAutomation::addFiles()
{
    QFETCH(Files, files);
    QFETCH(QStringList, items);
    ShelfActions actions(*m_manager, [] { return pointer; });
    QVERIFY(!actions.addFilesToShelf(files));
    QCOMPARE(m_manager->shelves().size(), 1);
    QCOMPARE(describe(*m_manager->shelves().first()), items);
    // One fresh folder per stored file; nothing is copied for a file referred to.
    QCOMPARE(dropFolderCount(), int(items.filter(QRegularExpression("^new:")).size()));
    QVERIFY(QFileInfo::exists(m_existing));
}

void TestAutomation::dataAboveTheCapOpensNothing()
{
    // An unusable drop folder is refused the same way; that is checked over the bus below.
    ShelfActions actions(
        *m_manager, [] { return pointer; }, 4);
    const auto failure = actions.addFilesToShelf({{"", "a", "123"}, {"", "b", "45"}});
    QVERIFY(failure && failure->kind == Kind::tooLarge);
    QVERIFY(m_manager->shelves().isEmpty());
    QCOMPARE(dropFolderCount(), 0);
}

void TestAutomation::theNewestShelfIsShared()
{
    ShelfActions actions(*m_manager, [] { return pointer; });
    actions.newShelf();
    QVERIFY(!actions.addFilesToShelf({{fileUri(m_existing), "보고서.pdf", {}}}));
    QCOMPARE(m_manager->shelves().size(), 2);
    QVERIFY(!actions.shareShelf());
    Shelf *newest = m_manager->shelves().last();
    QVERIFY(!m_manager->shelves().first()->shareRequest());
    QVERIFY(newest->shareRequest());
    auto *window = test::FakeShelfWindow::of(m_manager->window(newest->id()));
    QVERIFY(window->isPresented());
    QCOMPARE(window->frontOrderCount(), 1);
}

bool TestAutomation::startBus(bool services)
{
    m_root = std::make_unique<QTemporaryDir>();
    m_bus = std::make_unique<test::PrivateSessionBus>();
    // Whatever the bus starts inherits its environment: not the test harness's switch.
    const QByteArray harness = qgetenv("VYO_TEST_HARNESS");
    qunsetenv("VYO_TEST_HARNESS");
    const bool started = m_bus->start(services ? VYO_SERVICE_DIRECTORY : QString());
    qputenv("VYO_TEST_HARNESS", harness);
    m_environment = test::applicationEnvironment(m_root->path(), "offscreen");
    // Sharing stays on this computer's loopback.
    return started && !m_environment.isEmpty() &&
           test::writeFile(m_root->filePath("config/Vyo/Vyo.conf"),
                           "[General]\nshareServiceURL=http://127.0.0.1:9/\n");
}

namespace {

QDBusConnection connectTo(const QProcessEnvironment &environment)
{
    static int count = 0;
    return QDBusConnection::connectToBus(environment.value("DBUS_SESSION_BUS_ADDRESS"),
                                         QString("automation-test-%1").arg(++count));
}

// Runs `vyo` with the arguments and standard input to its end: its exit code and everything it
// printed.
std::pair<int, QString> runCommand(const QProcessEnvironment &environment,
                                   const QStringList &arguments, const QByteArray &input = {})
{
    QProcess command;
    command.setProcessEnvironment(environment);
    command.start(VYO_BINARY, arguments);
    command.write(input);
    command.closeWriteChannel();
    if (!command.waitForFinished(30000))
        return {-1, "still running"};
    return {command.exitCode(),
            QString::fromUtf8(command.readAllStandardOutput() + command.readAllStandardError())};
}

// The open shelves' items as the application saved them when it quit.
QList<QList<QUrl>> savedShelves(const QString &statePath)
{
    QList<QList<QUrl>> shelves;
    for (const ShelfSnapshot &snapshot : ShelfPersistence(statePath).load().open) {
        QList<QUrl> urls;
        for (const auto &item : snapshot.items)
            urls.append(item.url.value_or(QUrl()));
        shelves.append(urls);
    }
    return shelves;
}

} // namespace

void TestAutomation::methodsAndCommandLineOfOneCopy()
{
    QVERIFY(startBus());
    test::ChildProcess app(VYO_BINARY, {}, m_environment);
    QVERIFY2(app.waitForOutput(launched), qPrintable(app.output()));
    QDBusConnection bus = connectTo(m_environment);
    QTRY_VERIFY(bus.interface()->isServiceRegistered(QString(automation::serviceName)));
    QDBusInterface shelves(QString(automation::serviceName), QString(automation::objectPath),
                           QString(automation::interfaceName), bus);

    QDBusMessage answer = shelves.call("ShareShelf");
    QCOMPARE(answer.errorName(), "app.vyo.Vyo.Error.NoShelf");
    QCOMPARE(answer.errorMessage(), "열려 있는 셸프가 없어요.");
    // Where the drop folders go is taken by a file: the file system's refusal reaches the caller.
    const QString items = m_root->filePath("data/Vyo/Items");
    QVERIFY(!QFileInfo(items).isDir() || QDir(items).removeRecursively());
    QVERIFY(test::writeFile(items, "not a folder"));
    answer = shelves.call("AddFilesToShelf", QVariant::fromValue(Files{{"", "x.txt", "x"}}));
    QCOMPARE(answer.errorName(), "app.vyo.Vyo.Error.FileSystem");
    QVERIFY2(answer.errorMessage().contains("폴더를 만들 수 없음"),
             qPrintable(answer.errorMessage()));
    QVERIFY(QFile::remove(items));

    // The command line, in order: its exit code, what it prints, and whether the copy opened a
    // shelf (each opening is counted, so one too many shows at the next).
    struct Command
    {
        QString arguments;
        int exitCode;
        QString printed;
        bool opens = false;
        QByteArray input = {};
    };
    const Command commands[] = {
        {"--share", 1, "열려 있는 셸프가 없어요."},
        {"--new-shelf", 0, "", true},
        {"--add 보고서.pdf", 0, "", true},
        {"--add - --name 메모.txt", 0, "", true, "hi"},
        {"--add -", 1, "63MiB", false, QByteArray(63 * 1024 * 1024 + 1, 'x')},
        {"--add /nonexistent/x", 1, "파일을 찾을 수 없어요: /nonexistent/x"},
        {"--add", 2, "담을 파일을 적어 주세요."},
        {"--new-shelf --reopen", 2, "하나만"},
        {"--share x", 2, "알 수 없는 인수: x"},
        {"--help", 0, "--new-shelf"},
    };
    QVERIFY(QDir::setCurrent(QDir::homePath()));
    int opened = 0;
    for (const Command &command : commands) {
        const auto [code, output] =
            runCommand(m_environment, command.arguments.split(' '), command.input);
        QVERIFY2(code == command.exitCode && output.contains(command.printed),
                 qPrintable(command.arguments + ": " + output));
        if (command.opens) {
            const QString shown = QString("셸프 열림 (열린 셸프 %1개)").arg(++opened);
            QVERIFY2(app.waitForOutput(shown), qPrintable(command.arguments));
        }
    }

    answer = shelves.call("AddFilesToShelf", QVariant::fromValue(Files{
                                                 {fileUri(m_existing), "보고서.pdf", {}},
                                                 {"", "메모.txt", "hi"},
                                             }));
    QCOMPARE(answer.type(), QDBusMessage::ReplyMessage);
    QVERIFY(app.waitForOutput(QString("셸프 열림 (열린 셸프 %1개)").arg(++opened)));
    QCOMPARE(app.output().count("셸프 열림"), opened);
    QCOMPARE(shelves.call("ShareShelf").type(), QDBusMessage::ReplyMessage);

    app.signal(SIGTERM);
    QVERIFY(app.waitForExit());
    // The empty shelf is not kept; the last one holds the file where it is and the stored data.
    const QList<QList<QUrl>> all = savedShelves(statePath());
    QCOMPARE(all.size(), 3);
    const QList<QUrl> saved = all.last();
    QCOMPARE(saved.size(), 2);
    QCOMPARE(saved.first(), QUrl::fromLocalFile(m_existing));
    QFile stored(saved.last().toLocalFile());
    QVERIFY(stored.fileName().startsWith(m_root->filePath("data/Vyo/Items/")));
    QVERIFY(stored.fileName().endsWith("/메모.txt"));
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QCOMPARE(stored.readAll(), "hi");
}

void TestAutomation::busStartsVyoWhenNotRunning()
{
    QVERIFY(startBus(true));
    QDBusConnection bus = connectTo(m_environment);
    // What a desktop session does for the services it starts: the user's folders.
    QMap<QString, QString> variables;
    for (const QString &name : m_environment.keys()) {
        if (name.startsWith("XDG_") || name == "HOME" || name == "QT_QPA_PLATFORM")
            variables.insert(name, m_environment.value(name));
    }
    QDBusMessage update =
        QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "UpdateActivationEnvironment");
    update << QVariant::fromValue(variables);
    QCOMPARE(bus.call(update).type(), QDBusMessage::ReplyMessage);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString(automation::serviceName), QString(automation::objectPath),
        QString(automation::interfaceName), "AddFilesToShelf");
    call << QVariant::fromValue(Files{{fileUri(m_existing), "보고서.pdf", {}}});
    const QDBusMessage answer = bus.call(call, QDBus::Block, 30000);
    QVERIFY2(answer.type() == QDBusMessage::ReplyMessage, qPrintable(answer.errorMessage()));
    // The started copy is no child of this test: it is found by its lock and asked to quit.
    QFile lock(m_root->filePath("runtime/vyo.lock"));
    QVERIFY(lock.open(QIODevice::ReadOnly));
    const qint64 pid = lock.readLine().trimmed().toLongLong();
    QVERIFY(pid > 0);
    QVERIFY(bus.interface()->isServiceRegistered(QString(automation::serviceName)));
    QCOMPARE(::kill(pid_t(pid), SIGTERM), 0);
    QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(pid), 0) != 0, 10000);
    const auto saved = savedShelves(statePath());
    QCOMPARE(saved.size(), 1);
    QCOMPARE(saved.first(), QList<QUrl>{QUrl::fromLocalFile(m_existing)});
}

QTEST_GUILESS_MAIN(TestAutomation)
#include "tst_automation.moc"
