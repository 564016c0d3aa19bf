// The drop zones at the top of the screen: shown and hidden with drags, growing under a hovering
// drag, and opening a shelf below the zone on a drop. Runs on a real X server.

#include "core/Defaults.h"
#include "platform/ScreenCoordinates.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"
#include "shelfwindow/NotchDropTarget.h"
#include "shelfwindow/ShelfPanelController.h"

#include "ChildProcess.h"
#include "TestSupport.h"

#include <QDragEnterEvent>
#include <QDropEvent>
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

// The primary screen's virtual notch in screen coordinates: 200 × 32 points at the middle of
// its top edge.
Rect expectedNotch()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    return fromQt(QRectF(screen.x() + screen.width() / 2.0 - 100, screen.y(), 200, 32));
}

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

class TestNotchDropTarget : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

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

void TestNotchDropTarget::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    m_defaults = std::make_unique<Defaults>(m_folder->filePath("Vyo.conf"));
    m_defaults->registerDefaults();
    m_manager = std::make_unique<ShelfManager>(ShelfPersistence(m_folder->filePath("shelves.json")),
                                               ShelfPanelController::windowMaker());
    m_target = std::make_unique<NotchDropTarget>(m_manager.get(), m_defaults.get());
}

void TestNotchDropTarget::cleanup()
{
    m_target.reset();
    m_manager.reset();
    m_defaults.reset();
    m_folder.reset();
}

NotchPanel *TestNotchDropTarget::showOnePanel()
{
    m_target->show();
    return m_target->panels().size() == 1 ? m_target->panels().first() : nullptr;
}

void TestNotchDropTarget::zonesComeAndGoWithDrags()
{
    QPointer<NotchPanel> panel = showOnePanel();
    QVERIFY(panel);
    QCOMPARE(panel->notchRect(), expectedNotch());
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

void TestNotchDropTarget::drops_data()
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

void TestNotchDropTarget::drops()
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

QTEST_MAIN(TestNotchDropTarget)
#include "tst_notchdroptarget.moc"
