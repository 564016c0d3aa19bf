// Shelf panels as real windows on an X server with a window manager, driven with xdotool: focus,
// placement, growth, real drags out to another X client, and images dragged out of Debian's
// Chromium and Firefox ESR: each lands as the original file (same bytes, its own name) by
// whatever the browser offers, a plain link stays a link, and the panel keeps answering.

#include "platform/Desktop.h"
#include "platform/WindowSystem.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"
#include "shelfwindow/DragSource.h"
#include "shelfwindow/ShelfItemRow.h"
#include "shelfwindow/ShelfPanel.h"
#include "shelfwindow/ShelfPanelController.h"
#include "shelfwindow/ShelfView.h"

#include "ActionTestFiles.h"
#include "ChildProcess.h"
#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace vyo;
using Content = ShelfItem::Content;
using Shift = test::DragShift;

namespace {

// A running vyo-test-dndpeer, whose lines tell its window and what it received.
class Peer
{
public:
    explicit Peer(const QStringList &arguments)
        : m_process(VYO_DNDPEER, arguments)
    {}
    // The first line starting with the prefix, waited for with this process's events turning
    // (drags involve our windows too); empty when none came.
    QString line(const QString &prefix, int milliseconds = 10000)
    {
        const QRegularExpression pattern(u"^"_qs + QRegularExpression::escape(prefix) + u".*$"_qs,
                                         QRegularExpression::MultilineOption);
        (void)QTest::qWaitFor([&] { return m_process.output().contains(pattern); }, milliseconds);
        return pattern.match(m_process.output()).captured();
    }
    QRect frame()
    {
        const QStringList parts = line("READY").split(u' ');
        return parts.size() >= 6
                   ? QRect(parts[1].toInt(), parts[2].toInt(), parts[3].toInt(), parts[4].toInt())
                   : QRect();
    }
    QString windowId() { return line("READY").section(u' ', 5, 5); }

private:
    test::ChildProcess m_process;
};

// An image of noise (which no encoder shrinks much) in `format`.
QByteArray noiseImage(int width, int height, const char *format, quint32 seed)
{
    QImage image(width, height, QImage::Format_ARGB32);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(image.bits()), width * height);
    return test::encodedImage(image.convertToFormat(QImage::Format_RGB888), format, 90);
}

// What one drag out of the page should leave on the shelf.
struct DragCase
{
    const char *name;
    QPoint onPage;      // where the drag starts, in page coordinates
    QString servedFile; // the file whose bytes should arrive; empty: a link stays
    QString storedName; // the name it should have; empty: any image name
};

// Boxes of 200 × 150 on the page, with the plain link below them.
const QList<DragCase> &dragCases()
{
    static const QList<DragCase> cases = {
        {"png", {120, 95}, u"red.png"_qs, u"red.png"_qs},
        {"above 1 MiB", {380, 95}, u"big.png"_qs, u"big.png"_qs},
        {"linked image", {120, 295}, u"linked.jpg"_qs, u"linked.jpg"_qs},
        {"data: image", {380, 295}, u"inline.png"_qs, {}},
        {"plain link", {60, 430}, {}, {}},
    };
    return cases;
}

ShelfPanelController *panelOf(const ShelfManager::Opened &opened)
{
    return qobject_cast<ShelfPanelController *>(opened.window);
}

QString activeWindow()
{
    return test::xdotoolOutput({"getactivewindow"}).trimmed();
}

// Drags the item of a visible row (or the stack when no rows show) to a point and answers how the
// drag ended (nothing when it did not).
std::optional<Qt::DropAction> dragRow(ShelfView *view, int row, QPoint to, Shift shift = Shift::up)
{
    // The rows and the panel's size may just have changed: the row shows (with one item left the
    // panel shows it as its stack), and X has the size, before the press.
    const QStringList geometry{"getwindowgeometry", QString::number(view->window()->winId())};
    DragSource *area = nullptr;
    const auto settled = [&] {
        QList<ShelfItemRow *> shown = view->rows();
        shown.removeIf([](const ShelfItemRow *candidate) { return !candidate->isVisible(); });
        area = shown.size() > row ? shown[row]->dragArea()
                                  : view->findChild<DragSource *>("stackView");
        const QString size = u"%1x%2"_qs.arg(view->window()->width()).arg(view->window()->height());
        return area && area->isVisible() && test::xdotoolOutput(geometry).contains(size);
    };
    if (!QTest::qWaitFor(settled, 5000))
        return std::nullopt;
    auto ended = std::make_shared<std::optional<Qt::DropAction>>();
    area->onDragEnded = [ended, previous = area->onDragEnded](Qt::DropAction action) {
        *ended = action;
        const auto call = previous; // the row may go with the item
        call(action);
    };
    if (!test::xdotool(test::dragGesture(area->mapToGlobal(area->rect().center()), to, shift)))
        return std::nullopt;
    (void)QTest::qWaitFor([&] { return ended->has_value(); }, 10000);
    return *ended;
}

} // namespace

class TestShelfPanel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void focusOnlyWithAClick();
    void placementAndGrowthStayOnScreen();
    void realDragsInAndOut();
    void grownPanelLeavesNoGhostPixels();
    void imagesFromBrowsers_data();
    void imagesFromBrowsers();

private:
    // The page's top-left corner on the screen, as the page reported it.
    std::optional<QPoint> pageOrigin(test::ChildProcess &browser);
    void dragEach(const QPoint &origin, Shelf *shelf, QPoint target);
    ShelfManager::Opened open(Point origin);
    QString file(const QString &name);
    QRect screen() const { return QGuiApplication::primaryScreen()->availableGeometry(); }
    double screenHeight() const { return QGuiApplication::primaryScreen()->geometry().height(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ShelfManager> m_manager;
    // The browsers' page, served from a folder on a loopback server.
    QTemporaryDir m_www;
    std::unique_ptr<test::ChildProcess> m_server;
    QString m_page;
};

void TestShelfPanel::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server (run under scripts/with-display.sh)");
    if (QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("needs xdotool");
    // The window manager, which a busy machine may start late, has announced itself.
    const auto managed = [] {
        QProcess xprop;
        xprop.start("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"});
        return xprop.waitForFinished(5000) && xprop.readAll().contains("window id");
    };
    QTRY_VERIFY_WITH_TIMEOUT(managed(), 30000);
    QDir().mkpath(VYO_ARTIFACTS);
    const QString www = m_www.path();
    const QByteArray inlinePng = noiseImage(40, 30, "PNG", 5);
    QVERIFY(test::writeFile(www + "/red.png", noiseImage(320, 240, "PNG", 1)));
    QVERIFY(test::writeFile(www + "/big.png", noiseImage(700, 600, "PNG", 3)));
    QVERIFY(QFileInfo(www + "/big.png").size() > (1 << 20));
    QVERIFY(test::writeFile(www + "/linked.jpg", noiseImage(200, 150, "JPEG", 4)));
    QVERIFY(test::writeFile(www + "/inline.png", inlinePng));
    QVERIFY(test::writeFile(www + "/target.html", "<!doctype html><title>target</title>"));
    const QByteArray page =
        "<!doctype html><html><head><title>images</title><style>body{margin:0}"
        ".c{position:absolute;width:200px;height:150px}img{width:200px;height:150px;"
        "display:block}</style></head><body>"
        "<div class=c style='left:20px;top:20px'><img src=red.png></div>"
        "<div class=c style='left:280px;top:20px'><img src=big.png></div>"
        "<div class=c style='left:20px;top:220px'><a href=target.html><img "
        "src=linked.jpg></a></div>"
        "<div class=c style='left:280px;top:220px'><img src='data:image/png;base64," +
        inlinePng.toBase64() +
        "'></div>"
        "<p style='position:absolute;left:20px;top:420px;margin:0'>"
        "<a href=target.html>A plain link</a></p>"
        // Where the page is on the screen, told to the server's request log.
        "<script>onload=()=>setTimeout(()=>{const m='mozInnerScreenX' in window,"
        "x=m?mozInnerScreenX:screenX+outerWidth-innerWidth,"
        "y=m?mozInnerScreenY:screenY+outerHeight-innerHeight;"
        "fetch('where?'+Math.round(x)+','+Math.round(y))},500)</script>"
        "</body></html>";
    QVERIFY(test::writeFile(www + "/index.html", page));
    m_server = std::make_unique<test::ChildProcess>(
        "python3",
        QStringList{"-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", www});
    const QRegularExpression serving(u"port (\\d+)"_qs);
    QVERIFY(m_server->waitForOutput(serving));
    m_page =
        u"http://127.0.0.1:%1/index.html"_qs.arg(serving.match(m_server->output()).captured(1));
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

void TestShelfPanel::focusOnlyWithAClick()
{
    Peer peer({"focus", "100", "100"});
    QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), peer.windowId(), 5000);

    // Neither showing nor growing takes the focus: read once the window manager has shown the
    // panel and X has its new size.
    ShelfManager::Opened grown = open({300, 400});
    QCOMPARE(activeWindow(), peer.windowId());
    grown.shelf->add({test::text("a"), test::text("b")});
    panelOf(grown)->view()->setExpanded(true);
    const QStringList geometry{"getwindowgeometry",
                               QString::number(panelOf(grown)->panel()->winId())};
    QTRY_VERIFY_WITH_TIMEOUT(test::xdotoolOutput(geometry).contains("260x340"), 5000);
    QCOMPARE(activeWindow(), peer.windowId());
    m_manager->close(grown.shelf);

    // The panel is presented in its final size, so the window server has it where Qt has it.
    ShelfManager::Opened opened = m_manager->newShelf();
    auto *controller = panelOf(opened);
    opened.shelf->add({test::text("a"), test::text("b")});
    controller->view()->setExpanded(true);
    controller->present({700, 400}, {700, 400});
    QVERIFY(QTest::qWaitForWindowExposed(controller->panel()));

    // A click on the header, on a spot none of its children covers, gives it the keys.
    QWidget *widget = controller->panel()->findChild<QWidget *>("header");
    QVERIFY(widget && widget->isVisible());
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
    QVERIFY(test::xdotool(
        {"mousemove", QString::number(global.x()), QString::number(global.y()), "click", "1"}));
    QTRY_VERIFY_WITH_TIMEOUT(activeWindow() != peer.windowId(), 5000);
    QVERIFY(test::xdotool({"key", "Escape"}));
    QTRY_VERIFY_WITH_TIMEOUT(m_manager->shelves().isEmpty(), 5000);
}

void TestShelfPanel::placementAndGrowthStayOnScreen()
{
    // Off the right edge and below the bottom edge (y upwards: below means negative); grown
    // there, it is pushed up just enough to fit.
    const QRect visible = screen();
    ShelfManager::Opened low = open({double(visible.right()) - 50, -300});
    QCOMPARE(panelOf(low)->panel()->geometry().bottomRight(), visible.bottomRight());
    low.shelf->add({test::text("a"), test::text("b")});
    panelOf(low)->view()->setExpanded(true);
    QCOMPARE(panelOf(low)->panel()->geometry().bottomRight(), visible.bottomRight());
    QCOMPARE(panelOf(low)->frame().minY(), screenHeight() - visible.bottom() - 1);
    m_manager->close(low.shelf);

    // Screenshots of each mode go to the test artifacts.
    ShelfManager::Opened opened = open({400, 500});
    const auto save = [&](const QString &mode) {
        QTRY_COMPARE(panelOf(opened)->panel()->windowOpacity(), 1.0); // past the fade-in
        QVERIFY(panelOf(opened)->panel()->grab().save(VYO_ARTIFACTS "/shelf-" + mode + ".png"));
    };
    save("empty");
    QCOMPARE(panelOf(opened)->frame().maxY(), 710.0);
    opened.shelf->add({test::text("메모 한 줄"), test::link("https://example.com/page")});
    save("stack");

    // Moved by its header, the panel follows the pointer (the top edge 80 points lower) and its
    // new frame is saved.
    const QPoint header = panelOf(opened)->panel()->mapToGlobal(QPoint(90, 14));
    QVERIFY(test::xdotool(test::dragGesture(header, header + QPoint(120, 80))));
    const auto savedFrame = [&] { return m_manager->persistence().load().open.value(0).frame; };
    QTRY_VERIFY2_WITH_TIMEOUT(std::abs(panelOf(opened)->frame().maxY() - 630) < 10 &&
                                  savedFrame() == panelOf(opened)->frame(),
                              qPrintable(u"top %1, saved %2"_qs.arg(panelOf(opened)->frame().maxY())
                                             .arg(savedFrame() ? savedFrame()->maxY() : -1)),
                              10000);

    // Growing keeps the top edge.
    const double top = panelOf(opened)->frame().maxY();
    panelOf(opened)->view()->setExpanded(true);
    save("list");
    QCOMPARE(panelOf(opened)->frame().size, (Size{260, 340}));
    QCOMPARE(panelOf(opened)->frame().maxY(), top);
}

void TestShelfPanel::realDragsInAndOut()
{
    const QString first = file("첫째.txt");
    const QString second = file("둘째.txt");
    ShelfManager::Opened opened = open({900, 300});
    // A file dragged in from another program lands as that file.
    Peer source({"source", "400", "400", first});
    QVERIFY(test::xdotool(
        test::dragGesture(source.frame().center(), panelOf(opened)->panel()->geometry().center())));
    QCOMPARE(source.line("DRAGGED"), "DRAGGED copy");
    QTRY_COMPARE_WITH_TIMEOUT(opened.shelf->items().size(), 1, 5000);
    QCOMPARE(opened.shelf->items().first().content(), Content::file(QUrl::fromLocalFile(first)));
    opened.shelf->add({test::file(second)});
    ShelfView *view = panelOf(opened)->view();
    view->setExpanded(true);
    const auto dropped = [](Peer &peer, const QString &action, const QString &path) {
        const QString line = peer.line("DROP");
        return line.startsWith("DROP " + action + " " + QUrl::fromLocalFile(path).toString());
    };

    // A shelf does not take a drag of its own items.
    QSignalSpy targeted(opened.shelf, &Shelf::isDropTargetedChanged);
    QCOMPARE(dragRow(view, 0, panelOf(opened)->panel()->mapToGlobal(QPoint(130, 300))),
             Qt::IgnoreAction);
    QCOMPARE(targeted.count(), 0);

    // A copy leaves the item on the shelf.
    Peer copier({"target", "100", "100"});
    QCOMPARE(dragRow(view, 0, copier.frame().center()), Qt::CopyAction);
    QVERIFY(dropped(copier, "copy", first));
    QCOMPARE(opened.shelf->items().size(), 2);

    // With Shift held the destination moves the file, and it leaves the shelf.
    Peer mover({"target", "100", "400"});
    QCOMPARE(dragRow(view, 1, mover.frame().center(), Shift::held), Qt::MoveAction);
    QVERIFY(dropped(mover, "move", second));
    QCOMPARE(opened.shelf->items().size(), 1);

    // Shift let go before the drop: a copy after all, and the item stays.
    Peer late({"target", "400", "100"});
    QCOMPARE(dragRow(view, 0, late.frame().center(), Shift::letGoMidway), Qt::CopyAction);
    QVERIFY(dropped(late, "copy", first));
    QCOMPARE(opened.shelf->items().size(), 1);
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

void TestShelfPanel::imagesFromBrowsers_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("arguments"); // %1: the page, %2: a fresh profile folder
    QTest::newRow("chromium") << "chromium"
                              << "--no-sandbox --user-data-dir=%2 --no-first-run "
                                 "--no-default-browser-check --disable-gpu --password-store=basic "
                                 "--window-position=0,0 --window-size=900,700 --app=%1";
    QTest::newRow("firefox") << "firefox-esr"
                             << "--no-remote --new-instance --profile %2 -width 900 -height 700 %1";
}

void TestShelfPanel::imagesFromBrowsers()
{
    QFETCH(QString, program);
    QFETCH(QString, arguments);
    if (QStandardPaths::findExecutable(program).isEmpty())
        QSKIP(qPrintable(program + " is not installed"));
    // Profiles are removed with the test's folder.
    const QString profile = m_www.filePath("profile-" + program);
    if (program.startsWith("firefox")) {
        // A profile that shows the page at once: no welcome tabs, no default-browser question.
        QVERIFY(
            test::writeFile(profile + "/user.js",
                            "user_pref('browser.shell.checkDefaultBrowser', false);\n"
                            "user_pref('browser.aboutwelcome.enabled', false);\n"
                            "user_pref('browser.startup.homepage_override.mstone', 'ignore');\n"
                            "user_pref('datareporting.policy.dataSubmissionEnabled', false);\n"
                            "user_pref('toolkit.telemetry.reportingpolicy.firstRun', false);\n"));
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("MOZ_ENABLE_WAYLAND", "0");
    test::ChildProcess browser(program, arguments.arg(m_page, profile).split(u' '), environment);
    const std::optional<QPoint> origin = pageOrigin(browser);
    QVERIFY2(origin, qPrintable(browser.output().right(2000)));
    const ShelfManager::Opened opened = open({1400, 500});
    dragEach(*origin, opened.shelf, panelOf(opened)->panel()->geometry().center());
}

std::optional<QPoint> TestShelfPanel::pageOrigin(test::ChildProcess &browser)
{
    const QRegularExpression where(u"GET /where\\?(-?\\d+),(-?\\d+)"_qs);
    // Only what this browser's page reported counts.
    const qsizetype seen = m_server->output().size();
    QDeadlineTimer deadline(60000);
    QRegularExpressionMatch match;
    while (!(match = where.match(m_server->output(), seen)).hasMatch()) {
        if (deadline.hasExpired() || browser.waitForExit(0))
            return std::nullopt;
        QTest::qWait(100);
    }
    return QPoint(match.captured(1).toInt(), match.captured(2).toInt());
}

void TestShelfPanel::dragEach(const QPoint &origin, Shelf *shelf, QPoint target)
{
    // The longest time the main thread did not answer, from the press to the item's arrival.
    QElapsedTimer sinceTick;
    qint64 longestStall = 0;
    QTimer ticker;
    ticker.setInterval(10);
    connect(&ticker, &QTimer::timeout, this,
            [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
    for (const DragCase &drag : dragCases()) {
        shelf->clear();
        sinceTick.start();
        longestStall = 0;
        ticker.start();
        // A drop leaves an item or a line of the drop log at once. A gesture the browser did not
        // take as a drag (synthetic input on a busy machine) leaves neither: it is made again,
        // twice at most.
        test::LogCapture log;
        const auto dropped = [&] {
            return !shelf->items().isEmpty() ||
                   std::any_of(log.messages().cbegin(), log.messages().cend(),
                               [](const QString &line) { return line.contains(u"파일"_qs); });
        };
        for (int attempt = 0; attempt < 3 && !dropped(); ++attempt) {
            if (attempt > 0)
                qWarning() << drag.name << "left no trace; dragging again";
            QVERIFY2(test::xdotool(test::dragGesture(origin + drag.onPage, target)), drag.name);
            (void)QTest::qWaitFor(dropped, 8000);
        }
        const auto settled = [&] {
            const QList<ShelfItem> items = shelf->items();
            return items.size() == 1 &&
                   (drag.servedFile.isEmpty() || items[0].content().kind() == Content::Kind::file);
        };
        QTRY_VERIFY2_WITH_TIMEOUT(settled(), drag.name, 20000);
        ticker.stop();
        const ShelfItem item = shelf->items().first();
        // What this guards against is a freeze of seconds (reading a large offer in one call
        // blocks for 5 s). Stalls here are tens of milliseconds on an idle machine; a busy one
        // stretches the toolkit's own round trips to the browser on a first drag to a few hundred.
        QVERIFY2(longestStall < 1000,
                 qPrintable(u"%1: stalled %2 ms"_qs.arg(drag.name).arg(longestStall)));
        if (drag.servedFile.isEmpty()) {
            QCOMPARE(item.content().kind(), Content::Kind::link);
            QCOMPARE(item.content().url().fileName(), u"target.html"_qs);
            continue;
        }
        const QString path = item.content().url().toLocalFile();
        QVERIFY2(path.startsWith(itemsDirectory()), qPrintable(path));
        QFile received(path), served(m_www.filePath(drag.servedFile));
        QVERIFY(received.open(QIODevice::ReadOnly) && served.open(QIODevice::ReadOnly));
        QVERIFY2(received.readAll() == served.readAll(), drag.name);
        const QString expectedName = drag.storedName.isEmpty()
                                         ? QFileInfo(path).completeBaseName() + ".png"
                                         : drag.storedName;
        QCOMPARE(QFileInfo(path).fileName(), expectedName);
    }
}

QTEST_MAIN(TestShelfPanel)
#include "tst_shelfpanel.moc"
