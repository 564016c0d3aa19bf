// Shelf panels as real windows on an X server with a window manager: focus, placement, growth,
// and real drags in from and out to another X client, driven with xdotool.

#include "platform/Desktop.h"
#include "platform/WindowSystem.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"
#include "shelfwindow/DragSource.h"
#include "shelfwindow/ShelfItemRow.h"
#include "shelfwindow/ShelfPanel.h"
#include "shelfwindow/ShelfPanelController.h"
#include "shelfwindow/ShelfView.h"

#include "ChildProcess.h"
#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vyo;
using Content = ShelfItem::Content;

namespace {

using test::dragGesture;
using test::xdotool;
using Shift = test::DragShift;
using test::xdotoolOutput;

// A running vyo-test-dndpeer with its announced window frame and output.
class Peer
{
public:
    explicit Peer(const QStringList &arguments)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(VYO_DNDPEER, arguments);
    }
    ~Peer()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    bool waitForLine(const QString &prefix, int milliseconds = 10000)
    {
        QDeadlineTimer deadline(milliseconds);
        while (!hasLine(prefix)) {
            if (deadline.hasExpired())
                return false;
            // Keep this process's event loop turning: drags involve our windows too.
            QTest::qWait(20);
            m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        }
        return true;
    }
    QString line(const QString &prefix) const
    {
        for (const QString &line : m_output.split(u'\n')) {
            if (line.startsWith(prefix))
                return line;
        }
        return {};
    }
    QRect frame() const
    {
        const QStringList parts = line("READY").split(u' ');
        return parts.size() >= 5
                   ? QRect(parts[1].toInt(), parts[2].toInt(), parts[3].toInt(), parts[4].toInt())
                   : QRect();
    }
    QString windowId() const { return line("READY").section(u' ', 5, 5); }

private:
    bool hasLine(const QString &prefix) const { return !line(prefix).isEmpty(); }
    QProcess m_process;
    QString m_output;
};

ShelfPanelController *panelOf(const ShelfManager::Opened &opened)
{
    return qobject_cast<ShelfPanelController *>(opened.window);
}

QString activeWindow()
{
    return xdotoolOutput({QStringLiteral("getactivewindow")}).trimmed();
}

} // namespace

class TestShelfPanel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void presentingAndGrowingNeverTakesFocus();
    void clickAnywhereGivesTheKeys_data();
    void clickAnywhereGivesTheKeys();
    void placementStaysOnScreen();
    void growthKeepsTheTopEdge();
    void userMovesAreReported();
    void realDragInFromAnotherClient();
    void realDragOutCopiesAndMoves();
    void dragOntoItsOwnShelfIsRefused();
    void screenshotsOfEachMode();
    void grownPanelLeavesNoGhostPixels();

private:
    ShelfManager::Opened open(Point origin);
    QString file(const QString &name);
    QRect screen() const { return QGuiApplication::primaryScreen()->availableGeometry(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ShelfManager> m_manager;
};

void TestShelfPanel::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server (run under scripts/with-display.sh)");
    if (QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("needs xdotool");
    QDir().mkpath(VYO_ARTIFACTS);
}

void TestShelfPanel::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_manager = std::make_unique<ShelfManager>(ShelfPersistence(m_dir->filePath("state.json")),
                                               ShelfPanelController::windowMaker());
}

void TestShelfPanel::cleanup()
{
    m_manager.reset();
    m_dir.reset();
    QTest::qWait(50);
}

ShelfManager::Opened TestShelfPanel::open(Point origin)
{
    ShelfManager::Opened opened = m_manager->newShelf();
    panelOf(opened)->present(origin, origin);
    [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(panelOf(opened)->panel());
    return opened;
}

QString TestShelfPanel::file(const QString &name)
{
    const QString path = m_dir->filePath(name);
    test::writeFile(path, "content of " + name.toUtf8());
    return path;
}

void TestShelfPanel::presentingAndGrowingNeverTakesFocus()
{
    Peer peer({"focus", "100", "100"});
    QVERIFY(peer.waitForLine("READY"));
    QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), peer.windowId(), 5000);

    ShelfManager::Opened opened = open({800, 400});
    QVERIFY(panelOf(opened)->panel()->isVisible());
    QTest::qWait(300);
    QCOMPARE(activeWindow(), peer.windowId());

    opened.shelf->add({test::text("a"), test::text("b")});
    panelOf(opened)->view()->setExpanded(true);
    QTest::qWait(300);
    QCOMPARE(activeWindow(), peer.windowId());
    QCOMPARE(panelOf(opened)->panel()->size(), QSize(260, 340));
}

void TestShelfPanel::clickAnywhereGivesTheKeys_data()
{
    // Where the click lands (a widget by name, on a spot none of its children covers) and the key
    // pressed next, with the panel in its stack or list mode.
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("expanded");
    QTest::addColumn<QString>("key");
    QTest::newRow("header, Esc") << "header" << false << "Escape";
    QTest::newRow("header in list, Ctrl+W") << "header" << true << "ctrl+w";
    QTest::newRow("title, Esc") << "title" << false << "Escape";
    QTest::newRow("empty area, Esc") << "emptyState" << false << "Escape";
    QTest::newRow("footer, Ctrl+W") << "listFooter" << true << "ctrl+w";
    QTest::newRow("list, Esc") << "listView" << true << "Escape";
}

void TestShelfPanel::clickAnywhereGivesTheKeys()
{
    QFETCH(QString, target);
    QFETCH(bool, expanded);
    QFETCH(QString, key);
    Peer peer({"focus", "100", "100"});
    QVERIFY(peer.waitForLine("READY"));
    QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), peer.windowId(), 5000);

    // The panel is presented in its final size, so the window server has it where Qt has it.
    ShelfManager::Opened opened = m_manager->newShelf();
    auto *controller = panelOf(opened);
    if (target != "emptyState")
        opened.shelf->add({test::text("a"), test::text("b")});
    controller->view()->setExpanded(expanded);
    controller->present({700, 400}, {700, 400});
    QVERIFY(QTest::qWaitForWindowExposed(controller->panel()));
    QWidget *widget = controller->panel()->findChild<QWidget *>(target);
    QVERIFY2(widget && widget->isVisible(), qPrintable(target));
    // The free spot nearest the middle (away from the rounded corners), else the middle.
    const QPoint middle = widget->rect().center();
    QPoint spot = middle;
    for (int y = 0, x = 0; y < widget->height(); x = (x + 1) % widget->width(), y += !x) {
        if (!widget->childAt(x, y) &&
            (widget->childAt(spot) ||
             (QPoint(x, y) - middle).manhattanLength() < (spot - middle).manhattanLength()))
            spot = {x, y};
    }
    const QPoint global = widget->mapToGlobal(spot);
    QVERIFY(xdotool(
        {"mousemove", QString::number(global.x()), QString::number(global.y()), "click", "1"}));
    QTRY_VERIFY_WITH_TIMEOUT(activeWindow() != peer.windowId(), 5000);
    QVERIFY(xdotool({"key", key}));
    QTRY_VERIFY_WITH_TIMEOUT(m_manager->shelves().isEmpty(), 5000);
}

void TestShelfPanel::placementStaysOnScreen()
{
    const QRect visible = screen();
    const double height = QGuiApplication::primaryScreen()->geometry().height();
    // Off the right edge and below the bottom edge (y upwards: below means negative).
    ShelfManager::Opened opened = open({double(visible.right()) - 50, -300});
    const QRect geometry = panelOf(opened)->panel()->geometry();
    QCOMPARE(geometry.right(), visible.right());
    QCOMPARE(geometry.bottom(), visible.bottom());
    const Rect frame = panelOf(opened)->frame();
    QCOMPARE(frame.maxX(), double(visible.right() + 1));
    QCOMPARE(frame.minY(), height - visible.bottom() - 1);

    // A reference point on no screen places the panel on the main screen.
    ShelfManager::Opened second = m_manager->newShelf();
    panelOf(second)->present({-5000, 400}, {-5000, 400});
    QVERIFY(visible.contains(panelOf(second)->panel()->geometry()));
}

void TestShelfPanel::growthKeepsTheTopEdge()
{
    ShelfManager::Opened opened = open({400, 500});
    const double top = panelOf(opened)->frame().maxY();
    QCOMPARE(top, 710.0);
    opened.shelf->add({test::text("a"), test::text("b")});
    panelOf(opened)->view()->setExpanded(true);
    QCOMPARE(panelOf(opened)->frame().size, (Size{260, 340}));
    QCOMPARE(panelOf(opened)->frame().maxY(), top);
    panelOf(opened)->view()->setExpanded(false);
    QCOMPARE(panelOf(opened)->frame().maxY(), top);

    // Near the bottom the grown panel is pushed up just enough to fit.
    ShelfManager::Opened low = open({400, 0});
    low.shelf->add({test::text("a"), test::text("b")});
    panelOf(low)->view()->setExpanded(true);
    const double height = QGuiApplication::primaryScreen()->geometry().height();
    QCOMPARE(panelOf(low)->frame().minY(), height - screen().bottom() - 1);
    // Shrunk again, it stays where it was pushed to.
    const double pushedTop = panelOf(low)->frame().maxY();
    panelOf(low)->view()->setExpanded(false);
    QCOMPARE(panelOf(low)->frame().size, (Size{180, 210}));
    QCOMPARE(panelOf(low)->frame().maxY(), pushedTop);
}

void TestShelfPanel::userMovesAreReported()
{
    ShelfManager::Opened opened = open({300, 300});
    QSignalSpy saved(m_manager.get(), &ShelfManager::saved);
    QVERIFY(saved.wait(2000)); // the save that opening scheduled
    // The user drags the header to a new place.
    const QPoint header = panelOf(opened)->panel()->mapToGlobal(QPoint(90, 14));
    QVERIFY(xdotool(dragGesture(header, header + QPoint(120, 80))));
    // The header follows the pointer: the top edge ends up 80 points lower (y upwards).
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(panelOf(opened)->frame().maxY() - 430.0) < 10, 5000);
    const double top = panelOf(opened)->frame().maxY();
    QTRY_COMPARE_WITH_TIMEOUT(panelOf(opened)->anchoredTop(), std::optional<double>(top), 2000);
    QVERIFY(saved.wait(2000));
    opened.shelf->add({test::text("a"), test::text("b")});
    panelOf(opened)->view()->setExpanded(true);
    QCOMPARE(panelOf(opened)->frame().maxY(), top);
}

void TestShelfPanel::realDragInFromAnotherClient()
{
    const QString path = file("보고서.txt");
    Peer peer({"source", path, "100", "100"});
    QVERIFY(peer.waitForLine("READY"));
    ShelfManager::Opened opened = open({900, 400});
    const QRect source = peer.frame();
    const QPoint target = panelOf(opened)->panel()->geometry().center();
    QVERIFY(xdotool(dragGesture(source.center(), target)));
    QVERIFY2(peer.waitForLine("DRAGRESULT"), "the drag did not end");
    QTRY_COMPARE_WITH_TIMEOUT(opened.shelf->items().size(), 1, 5000);
    QCOMPARE(opened.shelf->items().first().content(), Content::file(QUrl::fromLocalFile(path)));
    QVERIFY(opened.shelf->hasReceivedDrop);
    QVERIFY(!opened.shelf->isDropTargeted());
    QCOMPARE(peer.line("DRAGRESULT"), "DRAGRESULT copy");
}

void TestShelfPanel::realDragOutCopiesAndMoves()
{
    Peer peer({"target", "100", "100"});
    QVERIFY(peer.waitForLine("READY"));
    const QString first = file("첫째.txt");
    const QString second = file("둘째.txt");
    ShelfManager::Opened opened = open({900, 300});
    opened.shelf->add({test::file(first), test::file(second)});
    panelOf(opened)->view()->setExpanded(true);
    QTest::qWait(100);

    const auto rowCenter = [&](int index) {
        QWidget *area = panelOf(opened)->view()->rows()[index]->dragArea();
        return area->mapToGlobal(area->rect().center());
    };
    QVERIFY(xdotool(dragGesture(rowCenter(0), peer.frame().center())));
    QVERIFY(peer.waitForLine("DROP"));
    QVERIFY2(peer.line("DROP").startsWith("DROP copy " + QUrl::fromLocalFile(first).toString()),
             qPrintable(peer.line("DROP")));
    QTest::qWait(200);
    QCOMPARE(opened.shelf->items().size(), 2);

    // With Shift held the destination moves the file, and it leaves the shelf.
    Peer mover({"target", "100", "400"});
    QVERIFY(mover.waitForLine("READY"));
    QVERIFY(xdotool(dragGesture(rowCenter(1), mover.frame().center(), Shift::held)));
    QVERIFY(mover.waitForLine("DROP"));
    QVERIFY2(mover.line("DROP").startsWith("DROP move " + QUrl::fromLocalFile(second).toString()),
             qPrintable(mover.line("DROP")));
    QTRY_COMPARE_WITH_TIMEOUT(opened.shelf->items().size(), 1, 3000);
    QCOMPARE(opened.shelf->items().first().content().url(), QUrl::fromLocalFile(first));

    // Shift let go before the drop: a copy after all, and the item stays.
    Peer copier({"target", "400", "100"});
    QVERIFY(copier.waitForLine("READY"));
    QVERIFY(xdotool(dragGesture(rowCenter(0), copier.frame().center(), Shift::letGoMidway)));
    QVERIFY(copier.waitForLine("DROP"));
    QVERIFY2(copier.line("DROP").startsWith("DROP copy " + QUrl::fromLocalFile(first).toString()),
             qPrintable(copier.line("DROP")));
    QTest::qWait(200);
    QCOMPARE(opened.shelf->items().size(), 1);
}

void TestShelfPanel::dragOntoItsOwnShelfIsRefused()
{
    ShelfManager::Opened opened = open({700, 300});
    opened.shelf->add({test::text("a"), test::text("b")});
    panelOf(opened)->view()->setExpanded(true);
    QTest::qWait(100);
    QSignalSpy targeted(opened.shelf, &Shelf::isDropTargetedChanged);
    QWidget *area = panelOf(opened)->view()->rows()[0]->dragArea();
    const QPoint from = area->mapToGlobal(area->rect().center());
    const QPoint to = panelOf(opened)->panel()->mapToGlobal(QPoint(130, 300));
    QVERIFY(xdotool(dragGesture(from, to)));
    QTest::qWait(300);
    QCOMPARE(targeted.count(), 0);
    QCOMPARE(opened.shelf->items().size(), 2);
}

void TestShelfPanel::screenshotsOfEachMode()
{
    ShelfManager::Opened opened = open({600, 400});
    const auto save = [&](const QString &name) {
        QTRY_COMPARE(panelOf(opened)->panel()->windowOpacity(), 1.0); // past the fade-in
        const QPixmap shot = panelOf(opened)->panel()->grab();
        QVERIFY(!shot.isNull());
        QVERIFY(shot.save(QString(VYO_ARTIFACTS) + "/shelf-" + name + ".png"));
    };
    save("empty");
    opened.shelf->add({test::text("메모 한 줄"), test::link("https://example.com/page"),
                       test::file(file("문서.txt"))});
    opened.shelf->setName("작업 모음");
    opened.shelf->setColor(ShelfColor::blue);
    save("stack");
    panelOf(opened)->view()->setExpanded(true);
    opened.shelf->setStatus(QStringLiteral("만들었어요"));
    save("list");
}

void TestShelfPanel::grownPanelLeavesNoGhostPixels()
{
    // Under a compositor the panel is translucent: a panel grown from the stack to the list must
    // look exactly like one opened in the list, with nothing left of its old header or outline.
    QProcess compositor;
    compositor.start("xcompmgr", {});
    if (!compositor.waitForStarted())
        QSKIP("needs xcompmgr");
    const auto stop = qScopeGuard([&] {
        compositor.terminate();
        compositor.waitForFinished(3000);
    });
    QTRY_VERIFY_WITH_TIMEOUT(Desktop::shared().windowSystem().hasCompositor(), 5000);
    const auto shot = [](ShelfPanel *panel) {
        return panel->screen()
            ->grabWindow(0, panel->x(), panel->y(), panel->width(), panel->height())
            .toImage();
    };
    const auto make = [&](bool expanded) {
        ShelfManager::Opened opened = m_manager->newShelf();
        opened.shelf->add({test::text("메모"), test::text("글")});
        opened.shelf->setColor(ShelfColor::blue);
        auto *controller = panelOf(opened);
        controller->view()->setExpanded(expanded);
        controller->present({500, 200}, {500, 200});
        return std::pair{opened.shelf, controller};
    };
    const auto [fresh, freshController] = make(true);
    // Drawn when past the fade-in, two shots one poll apart agree.
    QImage expected;
    QTRY_VERIFY(freshController->panel()->windowOpacity() == 1.0 &&
                std::exchange(expected, shot(freshController->panel())) == expected);
    m_manager->close(fresh);
    const auto [grown, grownController] = make(false);
    QTRY_COMPARE(grownController->panel()->windowOpacity(), 1.0);
    grownController->view()->setExpanded(true);
    QImage actual;
    QTRY_VERIFY_WITH_TIMEOUT((actual = shot(grownController->panel())) == expected, 5000);
    QVERIFY(actual.save(QString(VYO_ARTIFACTS) + "/shelf-grown-under-compositor.png"));
}

QTEST_MAIN(TestShelfPanel)
#include "tst_shelfpanel.moc"
