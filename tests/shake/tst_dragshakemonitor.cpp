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

    Desk()
    {
        defaults.registerDefaults();
        auto owned = std::make_unique<FakeDragWatcher>();
        watcher = owned.get();
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
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("vyo.shake.debug=true"));
    }
    void shakeReportsThePointerOncePerDragAndEndsWithIt();
    void excludedApplicationIsIgnoredForTheWholeDrag();
    void settingsApplyFromTheNextPress();
};

void TestDragShakeMonitor::shakeReportsThePointerOncePerDragAndEndsWithIt()
{
    Desk desk;
    desk.pressAndDrag();
    desk.shake(6);
    QCOMPARE(desk.shakes, (QList<Point>{{560, 300}}));
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
    // A second device pressing while the first still drags must not leave the drop zones up and
    // the shake shelves waiting: the recognised drag is ended before tracking starts afresh.
    desk.events.clear();
    desk.watcher->pressLeftButton();
    QCOMPARE(desk.events, (QStringList{"finished", "ended"}));
    QVERIFY(!desk.monitor->isDragging());
    QVERIFY(desk.monitor->isTracking());
    desk.release();
    QCOMPARE(desk.events.size(), 2);
}

void TestDragShakeMonitor::excludedApplicationIsIgnoredForTheWholeDrag()
{
    test::LogCapture log;
    Desk desk;
    desk.defaults.setValue(DefaultsKey::excludedBundleIDs,
                           QStringList{"", "  ", "junk\n", "org.example.Paint"});
    desk.watcher->setFrontmostApplicationID(QStringLiteral("org.example.Paint"));
    desk.pressAndDrag();
    desk.shake(26);
    desk.release();
    QCOMPARE(desk.events, (QStringList{"began", "finished"}));
    QCOMPARE(log.messages().filter("제외 앱에서 흔들기 감지, 무시: org.example.Paint").size(), 1);

    // A window without a class is no excluded application (the list's blank entries included).
    desk.watcher->setFrontmostApplicationID(std::nullopt);
    desk.pressAndDrag();
    desk.shake(6);
    QCOMPARE(desk.shakes.size(), 1);
}

void TestDragShakeMonitor::settingsApplyFromTheNextPress()
{
    Desk desk;
    desk.defaults.setValue(DefaultsKey::shakeEnabled, false);
    desk.pressAndDrag();
    // Shaking turned on during a drag, the drop zones on all along: the drag is reported and the
    // detector never fed.
    desk.defaults.setValue(DefaultsKey::shakeEnabled, true);
    desk.shake(20);
    desk.release();
    QCOMPARE(desk.events, (QStringList{"began", "finished"}));
    QVERIFY(!desk.monitor->detector().origin);

    // Both off: a press is not even tracked.
    desk.events.clear();
    desk.defaults.setValue(DefaultsKey::shakeEnabled, false);
    desk.defaults.setValue(DefaultsKey::notchDropEnabled, false);
    desk.watcher->beginDrag();
    desk.watcher->pressLeftButton();
    QVERIFY(!desk.monitor->isTracking());
    QVERIFY(desk.events.isEmpty());
}

QTEST_GUILESS_MAIN(TestDragShakeMonitor)
#include "tst_dragshakemonitor.moc"
