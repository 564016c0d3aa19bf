// The tray item in a real tray: an XEmbed tray host (trayer) on the test display coming after the
// real application, whose icon, menu and keys are then clicked and typed with xdotool.

#include "shelf/Shelf.h"
#include "shelf/ShelfPersistence.h"

#include "ChildProcess.h"
#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vyo;

namespace {

using test::xdotool;
using test::xdotoolOutput;

// A tray host docked at the top right of the screen, for as long as it lives; null when no tray
// shows up.
std::unique_ptr<test::ChildProcess> startTrayHost()
{
    auto host = std::make_unique<test::ChildProcess>(
        "trayer", QStringList{"--edge", "top", "--align", "right", "--widthtype", "pixel",
                              "--width", "120", "--heighttype", "pixel", "--height", "28"});
    if (!QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000))
        return nullptr;
    return host;
}

// The visible windows of a process, with their frames in Qt's coordinates.
QList<QPair<QString, QRect>> windowsOf(qint64 pid)
{
    QList<QPair<QString, QRect>> result;
    const QStringList ids =
        xdotoolOutput({"search", "--onlyvisible", "--pid", QString::number(pid)})
            .split('\n', Qt::SkipEmptyParts);
    for (const QString &id : ids) {
        const QStringList lines = xdotoolOutput({"getwindowgeometry", "--shell", id}).split('\n');
        QHash<QString, int> values;
        for (const QString &line : lines)
            values.insert(line.section('=', 0, 0), line.section('=', 1).toInt());
        result.append({id, QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"])});
    }
    return result;
}

void click(const QPoint &point)
{
    xdotool({"mousemove", QString::number(point.x()), QString::number(point.y()), "click", "1"});
}

} // namespace

class TestStatusItemTray : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();

    void applicationTrayAndShortcuts();
};

void TestStatusItemTray::initTestCase()
{
    if (QGuiApplication::platformName() != u"xcb")
        QSKIP("needs the X server of the test display");
    for (const char *tool : {"trayer", "xdotool"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(QString("%1 is not installed").arg(tool)));
    }
}

void TestStatusItemTray::applicationTrayAndShortcuts()
{
    QTemporaryDir root;
    QProcessEnvironment environment = test::applicationEnvironment(root.path(), "xcb");
    QVERIFY(!environment.isEmpty());
    environment.insert("QT_LOGGING_RULES", "vyo.app.debug=true");

    // One recently closed shelf to reopen.
    const QString statePath = root.filePath("data/Vyo/shelves.json");
    {
        Shelf shelf;
        shelf.add({ShelfItem(ShelfItem::Content::text("메모"))});
        ShelfPersistence::State state;
        state.recent.push(
            ShelfSnapshot::from(shelf, std::nullopt, QDateTime::currentDateTimeUtc()));
        QVERIFY(QDir().mkpath(root.filePath("data/Vyo")));
        QVERIFY(ShelfPersistence(statePath).save(state));
    }

    // The tray host comes after Vyo: the icon shows once it is there.
    test::ChildProcess app(VYO_BINARY, {}, environment);
    QVERIFY2(app.waitForOutput("알림 영역(트레이)이 없어"), qPrintable(app.output()));
    QVERIFY2(app.waitForOutput("최근 닫은 셸프 1개 복원"), qPrintable(app.output()));
    const auto host = startTrayHost();
    QVERIFY(host);
    QVERIFY2(app.waitForOutput("알림 영역이 나타나 아이콘을 다시 표시"), qPrintable(app.output()));

    // The icon: the application's small window inside the tray at the top of the screen.
    QRect icon;
    const auto iconShown = [&] {
        for (const auto &[id, frame] : windowsOf(app.pid())) {
            if (frame.y() < 40 && frame.width() <= 64 && frame.height() <= 64)
                icon = frame;
        }
        return !icon.isEmpty();
    };
    QVERIFY2(QTest::qWaitFor(iconShown, 10000), qPrintable(app.output()));

    // Ctrl+Alt+M opens a shelf, Ctrl+Alt+Shift+M reopens the closed one.
    xdotool({"key", "ctrl+alt+m"});
    QVERIFY2(app.waitForOutput("셸프 열림 (열린 셸프 1개)"), qPrintable(app.output()));
    xdotool({"key", "ctrl+alt+shift+m"});
    QVERIFY2(app.waitForOutput("셸프 열림 (열린 셸프 2개)"), qPrintable(app.output()));

    // The menu from the icon: its first entry opens a new shelf ...
    // The menu pops up at the click: a window of the application that covers the click's point
    // and is larger than the icon. Its entries are clicked rather than chosen with keys, which
    // could arrive before the menu holds the keyboard.
    const auto openMenu = [&] {
        const auto menuFrame = [&] {
            for (const auto &[id, frame] : windowsOf(app.pid())) {
                if (frame.contains(icon.center()) && frame.height() > icon.height() * 2)
                    return frame;
            }
            return QRect();
        };
        // As above: a click the tray host was not ready for is repeated, a few times at most.
        for (int attempt = 0; attempt < 5 && menuFrame().isEmpty(); ++attempt) {
            click(icon.center());
            (void)QTest::qWaitFor([&] { return !menuFrame().isEmpty(); }, 2000);
        }
        return menuFrame();
    };
    QRect menu = openMenu();
    QVERIFY2(!menu.isEmpty(), qPrintable(app.output()));
    click({menu.center().x(), menu.top() + 12});
    QVERIFY2(app.waitForOutput("셸프 열림 (열린 셸프 3개)"), qPrintable(app.output()));

    // ... and its last one, "Vyo 종료", quits and saves.
    menu = openMenu();
    QVERIFY2(!menu.isEmpty(), qPrintable(app.output()));
    click({menu.center().x(), menu.bottom() - 12});
    QVERIFY(app.waitForExit());
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    const ShelfPersistence::State saved = ShelfPersistence(statePath).load();
    QCOMPARE(saved.open.size(), 1); // the reopened shelf; the empty ones are not kept
    QCOMPARE(saved.open.first().title, "메모");
    QVERIFY(saved.recent.snapshots.isEmpty());
}

QTEST_MAIN(TestStatusItemTray)
#include "tst_statusitemtray.moc"
