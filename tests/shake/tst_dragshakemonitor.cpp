// The drag shake monitor's state machine, driven through the fake drag watcher.

#include "core/Defaults.h"
#include "platform/fake/FakeDragWatcher.h"
#include "shake/DragShakeMonitor.h"

#include "TestSupport.h"

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vyo;

namespace {

// One monitor over a fake desktop, with every callback recorded in order.
struct Desk
{
    QTemporaryDir folder;
    Defaults defaults{folder.filePath("Vyo.conf")};
    FakeDragWatcher *watcher = nullptr;
    std::unique_ptr<DragShakeMonitor> monitor;
    QStringList events;
    QList<Point> shakes;

    // `unavailable`: why the fake watcher cannot see drags, when it cannot.
    explicit Desk(const QString &unavailable = {})
    {
        defaults.registerDefaults();
        auto owned = std::make_unique<FakeDragWatcher>();
        watcher = owned.get();
        if (!unavailable.isEmpty())
            watcher->setUnavailable(unavailable);
        monitor = std::make_unique<DragShakeMonitor>(std::move(owned), &defaults);
        monitor->onShake = [this](Point p) {
            events.append("shake");
            shakes.append(p);
        };
        monitor->onDragBegan = [this] { events.append("began"); };
        monitor->onDragFinished = [this] { events.append("finished"); };
        monitor->onDragEnded = [this] { events.append("ended"); };
        monitor->start();
    }

    // Presses at (400, 300) in another application, which then starts dragging.
    void pressAndDrag()
    {
        watcher->moveTo({400, 300});
        watcher->pressLeftButton();
        tick();
        watcher->beginDrag();
        tick();
    }
    // Moves the pointer and polls once, 50 ms later.
    void moveAndTick(double x)
    {
        watcher->moveTo({x, 300});
        tick();
    }
    void tick()
    {
        watcher->advance(0.05);
        monitor->poll();
    }
    // Swings `legs` times between 500 + amplitude and 500 − amplitude.
    void shake(int legs, double amplitude = 60)
    {
        for (int i = 0; i < legs; ++i)
            moveAndTick(i % 2 == 0 ? 500 + amplitude : 500 - amplitude);
    }
    void release()
    {
        watcher->releaseLeftButton();
        monitor->poll();
    }
};

} // namespace

class TestDragShakeMonitor : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();

    void plainClickCallsNothing();
    void timerPollsOnlyWhilePressed();
    void dragWithoutShake();
    void shakeReportsThePointerOncePerDrag();
    void excludedApplicationIsIgnoredForTheWholeDrag();
    void windowWithoutClassIsNotExcluded();
    void shakingOffWithDropZoneOn();
    void bothOffTouchNothing();
    void sensitivityAppliesFromTheNextPress();
    void pressDuringADragEndsItFirst();
    void pressStormLeavesNoTimer();
    void unavailableSessionLogsOnceAndStaysIdle();
};

void TestDragShakeMonitor::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("vyo.shake.debug=true"));
}

void TestDragShakeMonitor::plainClickCallsNothing()
{
    test::LogCapture log;
    Desk desk;
    desk.watcher->pressLeftButton();
    QVERIFY(desk.monitor->isTracking());
    desk.moveAndTick(402); // a little jitter, no drag
    desk.release();
    QVERIFY(!desk.monitor->isTracking());
    QVERIFY(desk.events.isEmpty());
    QVERIFY(log.contains("추적 시작 (changeCount 0, 타이머 실행 중 false)"));
    QVERIFY(log.contains("추적 종료 (드래그 false, 흔들기 false)"));
}

void TestDragShakeMonitor::timerPollsOnlyWhilePressed()
{
    Desk desk;
    QVERIFY(!desk.monitor->isTracking());
    desk.watcher->pressLeftButton();
    desk.watcher->beginDrag();
    // The monitor's own 60 Hz timer notices the drag and, after the release, stops.
    QTRY_COMPARE_WITH_TIMEOUT(desk.events, QStringList{"began"}, 2000);
    QVERIFY(desk.monitor->isTracking());
    desk.watcher->releaseLeftButton();
    QTRY_VERIFY_WITH_TIMEOUT(!desk.monitor->isTracking(), 2000);
    QCOMPARE(desk.events, (QStringList{"began", "finished"}));
}

void TestDragShakeMonitor::dragWithoutShake()
{
    test::LogCapture log;
    Desk desk;
    desk.pressAndDrag();
    QVERIFY(desk.monitor->isDragging());
    QVERIFY(log.contains("드래그 시작 감지 (changeCount 1)"));
    for (int x = 420; x < 1000; x += 20)
        desk.moveAndTick(x);
    desk.release();
    QCOMPARE(desk.events, (QStringList{"began", "finished"}));
    QVERIFY(log.contains("추적 종료 (드래그 true, 흔들기 false)"));
}

void TestDragShakeMonitor::shakeReportsThePointerOncePerDrag()
{
    test::LogCapture log;
    Desk desk;
    desk.pressAndDrag();
    desk.shake(6);
    // Origin at 400, direction at 560, reversals at 440, 560, 440 and 560.
    QCOMPARE(desk.shakes, (QList<Point>{{560, 300}}));
    QVERIFY(log.contains("흔들기 감지"));
    desk.shake(20);
    QCOMPARE(desk.shakes.size(), 1);
    desk.release();
    QCOMPARE(desk.events, (QStringList{"began", "shake", "finished", "ended"}));
    // The flags keep their values until the next press.
    QVERIFY(desk.monitor->isDragging());
    QVERIFY(desk.monitor->didShake());

    // The next drag may open its own shelf.
    desk.pressAndDrag();
    desk.shake(6);
    QCOMPARE(desk.shakes.size(), 2);
}

void TestDragShakeMonitor::excludedApplicationIsIgnoredForTheWholeDrag()
{
    test::LogCapture log;
    Desk desk;
    desk.defaults.setValue(
        DefaultsKey::excludedBundleIDs,
        QStringList{"", "  ", "junk\n", "org.example.Paint", "ORG.EXAMPLE.PAINT"});
    desk.watcher->setFrontmostApplicationID(QStringLiteral("org.example.Paint"));
    desk.pressAndDrag();
    desk.shake(6);
    desk.shake(20);
    desk.release();
    QCOMPARE(desk.events, (QStringList{"began", "finished"}));
    QCOMPARE(log.messages().filter("제외 앱에서 흔들기 감지, 무시: org.example.Paint").size(), 1);
    QVERIFY(!log.messages().contains(QStringLiteral("흔들기 감지")));
    QVERIFY(!desk.monitor->didShake());
}

void TestDragShakeMonitor::windowWithoutClassIsNotExcluded()
{
    Desk desk;
    desk.defaults.setValue(DefaultsKey::excludedBundleIDs, QStringList{"", "org.example.Paint"});
    desk.watcher->setFrontmostApplicationID(std::nullopt);
    desk.pressAndDrag();
    desk.shake(6);
    QCOMPARE(desk.shakes.size(), 1);
}

void TestDragShakeMonitor::shakingOffWithDropZoneOn()
{
    Desk desk;
    desk.defaults.setValue(DefaultsKey::shakeEnabled, false);
    desk.pressAndDrag();
    // Turned on during the drag, it applies from the next press.
    desk.defaults.setValue(DefaultsKey::shakeEnabled, true);
    desk.shake(20);
    desk.release();
    QCOMPARE(desk.events, (QStringList{"began", "finished"}));
    // The detector was never fed.
    QVERIFY(!desk.monitor->detector().origin);
}

void TestDragShakeMonitor::bothOffTouchNothing()
{
    Desk desk;
    desk.defaults.setValue(DefaultsKey::shakeEnabled, false);
    desk.defaults.setValue(DefaultsKey::notchDropEnabled, false);
    desk.watcher->beginDrag();
    desk.watcher->beginDrag();
    desk.watcher->pressLeftButton();
    QVERIFY(!desk.monitor->isTracking());
    QCOMPARE(desk.monitor->initialChangeCount(), 0);
    QVERIFY(desk.events.isEmpty());
}

void TestDragShakeMonitor::sensitivityAppliesFromTheNextPress()
{
    Desk desk;
    desk.pressAndDrag();
    desk.defaults.setValue(DefaultsKey::shakeSensitivity, 2);
    desk.shake(20, 12); // 24-point legs: enough for high, not for medium
    QVERIFY(desk.shakes.isEmpty());
    desk.release();

    desk.pressAndDrag();
    desk.shake(20, 12);
    QCOMPARE(desk.shakes.size(), 1);
}

void TestDragShakeMonitor::pressDuringADragEndsItFirst()
{
    // A second device pressing while the first still drags must not leave the drop zones up and
    // the shake shelves waiting: the recognised drag is ended before tracking starts afresh.
    Desk desk;
    desk.pressAndDrag();
    desk.shake(6);
    desk.watcher->pressLeftButton();
    QCOMPARE(desk.events, (QStringList{"began", "shake", "finished", "ended"}));
    QVERIFY(!desk.monitor->isDragging());
    QVERIFY(desk.monitor->isTracking());
    desk.release();
    QCOMPARE(desk.events.size(), 4);
}

void TestDragShakeMonitor::pressStormLeavesNoTimer()
{
    Desk desk;
    for (int i = 0; i < 500; ++i) {
        desk.watcher->pressLeftButton();
        if (i % 7 == 0)
            desk.watcher->beginDrag();
        if (i % 2 == 0)
            desk.tick();
        if (i % 3 == 0)
            desk.release();
    }
    desk.release();
    QVERIFY(!desk.monitor->isTracking());
    // Every drag that began also finished.
    QVERIFY(desk.events.count("began") > 10);
    QCOMPARE(desk.events.count("began"), desk.events.count("finished"));
    QCOMPARE(desk.events.count("shake"), 0);
}

void TestDragShakeMonitor::unavailableSessionLogsOnceAndStaysIdle()
{
    test::LogCapture log;
    Desk desk(QStringLiteral("wayland 세션"));
    desk.monitor->start();
    QCOMPARE(desk.watcher->startCount(), 1);
    QVERIFY(!desk.monitor->isStarted());
    QCOMPARE(log.messages().filter("다른 앱의 드래그를 볼 수 없어").size(), 1);
    QVERIFY(log.contains("(wayland 세션)"));
    desk.watcher->pressLeftButton();
    QVERIFY(!desk.monitor->isTracking());
}

QTEST_GUILESS_MAIN(TestDragShakeMonitor)
#include "tst_dragshakemonitor.moc"
