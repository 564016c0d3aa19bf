// The drag shake monitor's state machine, driven through the fake drag watcher, and the drop zones
// at the top of the screen, shown and hidden with drags and opening a shelf below the zone on a
// drop, on a real X server.

#include "core/Defaults.h"
#include "platform/fake/FakeDragWatcher.h"
#include "shake/DragShakeMonitor.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"
#include "shelfwindow/NotchDropTarget.h"
#include "shelfwindow/ShelfPanelController.h"

#include "ChildProcess.h"
#include "TestSupport.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLoggingCategory>
#include <QMimeData>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <memory>

using namespace vyo;

namespace {

using test::xdotool;
using test::xdotoolOutput;

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

QMimeData *mimeData(const QString &kind, const QString &value)
{
    auto *data = new QMimeData;
    if (kind == "text")
        data->setText(value);
    else if (kind == "urls")
        data->setUrls({QUrl(value)});
    else
        data->setData(kind, value.toUtf8());
    return data;
}

} // namespace

class TestShakeAndDropZones : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("vyo.shake.debug=true"));
    }
    void init();
    void cleanup();

    void shakeReportsThePointerOncePerDragAndEndsWithIt();
    void excludedApplicationIsIgnoredForTheWholeDrag();

    void zonesComeAndGoWithDrags();
    void drops_data();
    void drops();

private:
    NotchPanel *showOnePanel();

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<Defaults> m_defaults;
    std::unique_ptr<ShelfManager> m_manager;
    std::unique_ptr<NotchDropTarget> m_target;
};

void TestShakeAndDropZones::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    m_defaults = std::make_unique<Defaults>(m_folder->filePath("Vyo.conf"));
    m_defaults->registerDefaults();
    m_manager = std::make_unique<ShelfManager>(ShelfPersistence(m_folder->filePath("shelves.json")),
                                               ShelfPanelController::windowMaker());
    m_target = std::make_unique<NotchDropTarget>(m_manager.get(), m_defaults.get());
}

void TestShakeAndDropZones::cleanup()
{
    m_target.reset();
    m_manager.reset();
    m_defaults.reset();
    m_folder.reset();
}

NotchPanel *TestShakeAndDropZones::showOnePanel()
{
    m_target->show();
    return m_target->panels().size() == 1 ? m_target->panels().first() : nullptr;
}

void TestShakeAndDropZones::shakeReportsThePointerOncePerDragAndEndsWithIt()
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

void TestShakeAndDropZones::excludedApplicationIsIgnoredForTheWholeDrag()
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
}

void TestShakeAndDropZones::zonesComeAndGoWithDrags()
{
    QPointer<NotchPanel> panel = showOnePanel();
    QVERIFY(panel);
    // A second show while they are up changes nothing.
    m_target->show();
    QCOMPARE(m_target->panels(), QList<NotchPanel *>{panel});
    // The last drag left the zone grown; a new drag begins before the hide: it keeps the same
    // zone, back at the notch's size.
    panel->animateTargeted(true);
    panel->state()->setTargeted(true);
    m_target->hideLater(300);
    m_target->show();
    QVERIFY(!m_target->isHidePending());
    QCOMPARE(m_target->panels(), QList<NotchPanel *>{panel});
    QVERIFY(!panel->state()->isTargeted());
    QCOMPARE(panel->frame(), panel->notchRect());

    // Hidden later, they go; hiding with nothing shown is harmless.
    m_target->hideLater(300);
    QTRY_VERIFY_WITH_TIMEOUT(m_target->panels().isEmpty() && panel.isNull(), 3000);
    m_target->hide();
    // With the setting off a drag shows nothing.
    m_defaults->setValue(DefaultsKey::notchDropEnabled, false);
    m_target->show();
    QVERIFY(m_target->panels().isEmpty());
}

void TestShakeAndDropZones::drops_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("targets");
    QTest::addColumn<int>("content"); // the kind of the new shelf's item; -1: no shelf
    using Kind = ShelfItem::Content::Kind;
    QTest::newRow("text") << "text"
                          << "안녕하세요, 셸프" << true << int(Kind::text);
    QTest::newRow("link") << "urls"
                          << "https://example.org/page" << true << int(Kind::link);
    QTest::newRow("a type no shelf accepts") << "application/x-unknown"
                                             << "bytes" << false << -1;
    QTest::newRow("blank text") << "text"
                                << "  \n\t " << true << -1;
}

void TestShakeAndDropZones::drops()
{
    QFETCH(QString, kind);
    QFETCH(QString, value);
    QFETCH(bool, targets);
    QFETCH(int, content);
    NotchPanel *panel = showOnePanel();
    QVERIFY(panel);
    const std::unique_ptr<QMimeData> data(mimeData(kind, value));
    QDragEnterEvent enter(QPoint(100, 16), Qt::CopyAction, data.get(), Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(panel->dropView(), &enter);
    QCOMPARE(enter.isAccepted(), targets);
    QCOMPARE(panel->state()->isTargeted(), targets);
    if (targets) {
        QDropEvent drop(QPointF(100, 16), Qt::CopyAction, data.get(), Qt::LeftButton,
                        Qt::NoModifier);
        QCoreApplication::sendEvent(panel->dropView(), &drop);
        QCOMPARE(drop.isAccepted(), content >= 0);
        QVERIFY(content < 0 || drop.dropAction() == Qt::CopyAction);
    } else {
        // No drop reaches a zone that refused the drag; the rule holds for it all the same.
        QVERIFY(!m_target->openShelf(panel->notchRect(), data.get()));
    }
    QCOMPARE(m_manager->shelves().size(), content < 0 ? 0 : 1);
    if (content < 0)
        return;
    QVERIFY(!panel->state()->isTargeted());
    Shelf *shelf = m_manager->shelves().first();
    QVERIFY(shelf->hasReceivedDrop);
    QCOMPARE(shelf->items().size(), 1);
    QCOMPARE(int(shelf->items().first().content().kind()), content);

    // Centred under the notch, its top edge 14 points below the notch's bottom edge.
    const Rect notch = panel->notchRect();
    ShelfPanelController *controller =
        qobject_cast<ShelfPanelController *>(m_manager->window(shelf->id()));
    QVERIFY(controller && controller->isPresented());
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(controller->frame().maxY() - (notch.minY() - 14)) < 1, 3000);
    QVERIFY2(qAbs(controller->frame().midX() - notch.midX()) < 1,
             qPrintable(QString::number(controller->frame().midX())));
    QVERIFY(m_manager->pendingShakeShelves().isEmpty());
}

QTEST_MAIN(TestShakeAndDropZones)
#include "tst_shakeanddropzones.moc"
