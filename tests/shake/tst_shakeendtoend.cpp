// Shake to open and the top drop zone end to end, with real processes on a real X server: the
// application, a drag source of its own (vyo_shake_source) that starts a real XDND drag, and
// xdotool moving the pointer as a hand would.

#include "platform/InstalledApplications.h"
#include "shelf/ShelfPersistence.h"

#include "ChildProcess.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vyo;

namespace {

using test::ChildProcess;
using test::xdotool;
using test::xdotoolOutput;

void moveTo(QPoint point)
{
    xdotool({"mousemove", QString::number(point.x()), QString::number(point.y())});
}

// Moves in `steps` steps 25 ms apart, as a hand drags.
void glide(QPoint from, QPoint to, int steps)
{
    for (int i = 1; i <= steps; ++i) {
        moveTo(from + (to - from) * i / steps);
        QTest::qWait(25);
    }
}

struct WindowGeometry
{
    QRect rect;
    bool valid = false;
};

WindowGeometry geometry(const QString &window)
{
    const QString shell = xdotoolOutput({"getwindowgeometry", "--shell", window});
    QHash<QString, int> values;
    for (const QString &line : shell.split('\n', Qt::SkipEmptyParts)) {
        const QStringList pair = line.split('=');
        if (pair.size() == 2)
            values.insert(pair[0], pair[1].toInt());
    }
    if (!values.contains("WIDTH"))
        return {};
    return {QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]), true};
}

// The visible windows of a process with a given title.
QStringList windows(qint64 pid, const QString &title)
{
    return xdotoolOutput({"search", "--all", "--onlyvisible", "--pid", QString::number(pid),
                          "--name", "^" + QRegularExpression::escape(title) + "$"})
        .split('\n', Qt::SkipEmptyParts);
}

const QString dropZoneTitle = QStringLiteral("Vyo 놓기 영역");
// The shelf window's title.
const QString shelfTitle = QStringLiteral("Vyo");

} // namespace

class TestShakeEndToEnd : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void clicksOpenNothing();
    void shakeOpensShelfBesidePointerThatKeepsTheDrop();
    void dragEndingWithoutDropClosesTheShakeShelf();
    void dropOnTopZoneOpensShelfBelowIt();
    void shakeInExcludedApplicationOpensNothing();

private:
    // Starts the application and the drag source; false when either did not come up.
    bool launch();
    // Presses on the drag source and drags to `to` until the application has seen the drag.
    bool startDrag(QPoint to);
    // Swings the pointer left and right around `centre` until the application reports `text`.
    bool shakeUntil(QPoint centre, const QString &text);
    void release() { xdotool({"mouseup", "1"}); }
    ShelfPersistence::State savedState() const
    {
        return ShelfPersistence(m_root->filePath("data/Vyo/shelves.json")).load();
    }

    std::unique_ptr<QTemporaryDir> m_root;
    QProcessEnvironment m_environment;
    QString m_file;
    QSize m_screen;
    std::unique_ptr<ChildProcess> m_app;
    std::unique_ptr<ChildProcess> m_source;
    QPoint m_sourceCentre;
};

void TestShakeEndToEnd::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs the X server of scripts/with-display.sh");
    const QStringList size = xdotoolOutput({"getdisplaygeometry"}).split(' ', Qt::SkipEmptyParts);
    QCOMPARE(size.size(), 2);
    m_screen = QSize(size[0].toInt(), size[1].trimmed().toInt());
}

void TestShakeEndToEnd::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    m_environment = test::applicationEnvironment(m_root->path(), "xcb");
    QVERIFY(!m_environment.isEmpty());
    m_environment.insert("QT_LOGGING_RULES", "vyo.shake.debug=true");
    m_file = m_root->filePath("home/흔들어 놓은 파일.txt");
    QVERIFY(test::writeFile(m_file, "hello"));
    // No welcome window in the way of the pointer.
    QSettings settings(m_root->filePath("config/Vyo/Vyo.conf"), QSettings::IniFormat);
    settings.setValue("hasShownWelcome", true);
    // Start every test from a released button in an empty spot.
    release();
    moveTo({m_screen.width() - 50, m_screen.height() - 50});
}

void TestShakeEndToEnd::cleanup()
{
    release();
    m_source.reset();
    m_app.reset();
    m_root.reset();
}

bool TestShakeEndToEnd::launch()
{
    m_app = std::make_unique<ChildProcess>(VYO_BINARY, QStringList(), m_environment);
    if (!m_app->waitForOutput("X11 드래그 감시 시작")) {
        qWarning().noquote() << m_app->output();
        return false;
    }
    QProcessEnvironment sourceEnvironment = m_environment;
    sourceEnvironment.remove("QT_LOGGING_RULES");
    m_source = std::make_unique<ChildProcess>(SOURCE_BINARY, QStringList{m_file, "100", "300"},
                                              sourceEnvironment);
    static const QRegularExpression ready("ready (-?\\d+) (-?\\d+)");
    if (!m_source->waitForOutput(ready))
        return false;
    const QRegularExpressionMatch match = ready.match(m_source->output());
    m_sourceCentre = QPoint(match.captured(1).toInt(), match.captured(2).toInt());
    return true;
}

bool TestShakeEndToEnd::startDrag(QPoint to)
{
    moveTo(m_sourceCentre);
    QTest::qWait(50);
    xdotool({"mousedown", "1"});
    QTest::qWait(50);
    glide(m_sourceCentre, to, 12);
    return m_source->waitForOutput("drag started", 5000) &&
           m_app->waitForOutput("드래그 시작 감지", 5000);
}

bool TestShakeEndToEnd::shakeUntil(QPoint centre, const QString &text)
{
    // Legs of 120 points every 40 ms: four reversals well inside 0.8 s. Bounded.
    for (int leg = 0; leg < 24; ++leg) {
        moveTo(centre + QPoint(leg % 2 == 0 ? 60 : -60, 0));
        QTest::qWait(40);
        if (m_app->output().contains(text))
            return true;
    }
    return m_app->waitForOutput(text, 2000);
}

void TestShakeEndToEnd::clicksOpenNothing()
{
    QVERIFY(launch());
    // A click in another application is tracked until the release, and nothing more.
    moveTo(m_sourceCentre);
    xdotool({"click", "1"});
    QVERIFY(m_app->waitForOutput("추적 종료 (드래그 false, 흔들기 false)", 5000));
    // A storm of presses and releases, the pointer jumping about in between.
    for (int i = 0; i < 10; ++i) {
        moveTo(m_sourceCentre + QPoint(i % 2 == 0 ? 80 : -80, 0));
        xdotool({"click", "--repeat", "3", "--delay", "5", "1"});
    }
    // Every press is seen; presses closer than one 60 Hz tick share one tracking, and the last
    // release ends it (no poll goes on).
    QTRY_COMPARE_WITH_TIMEOUT(m_app->output().count("추적 시작"), 31, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(
        m_app->output().lastIndexOf("추적 종료") > m_app->output().lastIndexOf("추적 시작"), 5000);

    // A press in Vyo's own window (here a shelf the running copy opened for a URL) is not
    // another application's drag.
    moveTo({900, 400}); // the shelf opens beside the pointer, away from the drag source
    ChildProcess url(VYO_BINARY, {"vyoshelf://new"}, m_environment);
    QVERIFY(m_app->waitForOutput("셸프 열림 (열린 셸프 1개)"));
    QStringList shelves;
    QTRY_VERIFY_WITH_TIMEOUT(!(shelves = windows(m_app->pid(), shelfTitle)).isEmpty(), 5000);
    WindowGeometry shelf;
    QTRY_VERIFY_WITH_TIMEOUT((shelf = geometry(shelves.first())).valid, 3000);
    const int tracked = m_app->output().count("추적 시작");
    moveTo(shelf.rect.center());
    QTest::qWait(50);
    xdotool({"click", "1"});
    // Then one more click elsewhere, which is tracked: everything before it has been handled.
    moveTo(m_sourceCentre);
    xdotool({"click", "1"});
    QTRY_VERIFY_WITH_TIMEOUT(m_app->output().count("추적 시작") > tracked &&
                                 m_app->output().lastIndexOf("추적 종료") >
                                     m_app->output().lastIndexOf("추적 시작"),
                             5000);
    QCOMPARE(m_app->output().count("추적 시작"), tracked + 1);

    const QString output = m_app->output();
    QVERIFY2(!output.contains("드래그 시작 감지"), qPrintable(output));
    QCOMPARE(output.count("셸프 열림"), 1);
}

void TestShakeEndToEnd::shakeOpensShelfBesidePointerThatKeepsTheDrop()
{
    QVERIFY(launch());
    const QPoint centre(700, 500);
    QVERIFY(startDrag(centre));
    QVERIFY2(shakeUntil(centre, "셸프 열림 (열린 셸프 1개)"), qPrintable(m_app->output()));
    QVERIFY(m_app->output().contains("흔들기 감지"));

    // The shelf window beside the pointer: its left edge 24 points right of where the shake was
    // recognised (somewhere within the swing), its middle at the pointer's height.
    QStringList shelves;
    QTRY_VERIFY_WITH_TIMEOUT(!(shelves = windows(m_app->pid(), shelfTitle)).isEmpty(), 5000);
    QCOMPARE(shelves.size(), 1);
    WindowGeometry panel;
    QTRY_VERIFY_WITH_TIMEOUT((panel = geometry(shelves.first())).valid &&
                                 panel.rect.left() >= centre.x() - 60 + 24 - 1 &&
                                 panel.rect.left() <= centre.x() + 60 + 24 + 1,
                             3000);
    QCOMPARE_LE(qAbs(panel.rect.center().y() - centre.y()), 2);

    // Drop on it: the drag source learns the copy was accepted and the shelf keeps the file.
    glide(centre, panel.rect.center(), 8);
    QTest::qWait(150);
    release();
    QVERIFY2(m_source->waitForOutput("drag finished 1", 5000), qPrintable(m_source->output()));
    QTRY_VERIFY_WITH_TIMEOUT(savedState().open.size() == 1, 5000);
    const ShelfSnapshot saved = savedState().open.first();
    QCOMPARE(saved.items.size(), 1);
    QCOMPARE(saved.items.first().url, QUrl::fromLocalFile(m_file));
    // A shelf that received the drop is not discarded when the drag ends.
    QVERIFY(m_app->waitForOutput("추적 종료 (드래그 true, 흔들기 true)", 3000));
    QTest::qWait(500);
    QVERIFY2(!m_app->output().contains("셸프 닫힘"), qPrintable(m_app->output()));
}

void TestShakeEndToEnd::dragEndingWithoutDropClosesTheShakeShelf()
{
    QVERIFY(launch());
    const QPoint centre(700, 500);
    QVERIFY(startDrag(centre));
    // The top drop zone is up while the drag lasts.
    QTRY_VERIFY_WITH_TIMEOUT(!windows(m_app->pid(), dropZoneTitle).isEmpty(), 5000);
    QVERIFY2(shakeUntil(centre, "셸프 열림 (열린 셸프 1개)"), qPrintable(m_app->output()));

    // Release over the bare desktop, where nothing accepts the drop.
    glide(centre, {m_screen.width() - 60, m_screen.height() - 60}, 8);
    release();
    QElapsedTimer sinceRelease;
    sinceRelease.start();
    QVERIFY(m_source->waitForOutput("drag finished 0", 5000));
    QVERIFY2(m_app->waitForOutput("셸프 닫힘 (열린 셸프 0개)", 5000), qPrintable(m_app->output()));
    // The shelf goes 0.3 s after the release (the release came before the clock started).
    QVERIFY2(sinceRelease.elapsed() >= 200, qPrintable(QString::number(sinceRelease.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(windows(m_app->pid(), dropZoneTitle).isEmpty(), 5000);
    QVERIFY(m_app->output().contains("추적 종료 (드래그 true, 흔들기 true)"));
}

void TestShakeEndToEnd::dropOnTopZoneOpensShelfBelowIt()
{
    QVERIFY(launch());
    // Straight up towards the top edge, with no shaking on the way.
    const QPoint zoneCentre(m_screen.width() / 2, 16);
    QVERIFY(startDrag({zoneCentre.x(), 300}));
    QStringList zones;
    QTRY_VERIFY_WITH_TIMEOUT(!(zones = windows(m_app->pid(), dropZoneTitle)).isEmpty(), 5000);
    QCOMPARE(zones.size(), 1);
    const WindowGeometry zone = geometry(zones.first());
    QVERIFY(zone.valid);
    QCOMPARE(zone.rect, QRect(m_screen.width() / 2 - 100, 0, 200, 32));
    QVERIFY(xdotoolOutput({"getwindowname", zones.first()}).contains(dropZoneTitle));

    glide({zoneCentre.x(), 300}, zoneCentre, 10);
    // Hovering grows the zone 60 points to each side and 64 points down.
    QTRY_COMPARE_WITH_TIMEOUT(geometry(zones.first()).rect,
                              QRect(m_screen.width() / 2 - 160, 0, 320, 96), 3000);
    moveTo(zoneCentre + QPoint(0, 4));
    QTest::qWait(100);
    release();
    QVERIFY2(m_source->waitForOutput("drag finished 1", 5000), qPrintable(m_source->output()));

    // The shelf holds the file, centred under the zone with its top 14 points below it.
    QTRY_VERIFY_WITH_TIMEOUT(savedState().open.size() == 1, 5000);
    const ShelfSnapshot saved = savedState().open.first();
    QCOMPARE(saved.items.size(), 1);
    QCOMPARE(saved.items.first().url, QUrl::fromLocalFile(m_file));
    QVERIFY(saved.frame);
    QVERIFY2(qAbs(saved.frame->midX() - m_screen.width() / 2.0) <= 1,
             qPrintable(QString::number(saved.frame->midX())));
    QCOMPARE(saved.frame->maxY(), m_screen.height() - 32.0 - 14.0);
    // The zone goes once the drag has finished.
    QTRY_VERIFY_WITH_TIMEOUT(windows(m_app->pid(), dropZoneTitle).isEmpty(), 5000);
}

void TestShakeEndToEnd::shakeInExcludedApplicationOpensNothing()
{
    // The drag source as an installed application, excluded the way "앱 추가…" stores it: its
    // identifier is what the drag watcher reports for the source's window.
    QVERIFY(test::writeFile(m_root->filePath("data/applications/vyo-shake-source.desktop"),
                            "[Desktop Entry]\nType=Application\nName=흔들기 원본\n"
                            "Exec=vyo_shake_source\nStartupWMClass=VyoShakeSource\n"));
    const QList<InstalledApplication> installed = installedApplications({m_root->filePath("data")});
    QCOMPARE(installed.size(), 1);
    {
        QSettings settings(m_root->filePath("config/Vyo/Vyo.conf"), QSettings::IniFormat);
        settings.setValue("excludedBundleIDs", QStringList{"", "junk entry \t", "VyoShakeSource",
                                                           installed.first().applicationID});
    }
    QVERIFY(launch());
    const QPoint centre(700, 500);
    QVERIFY(startDrag(centre));
    QVERIFY2(shakeUntil(centre, "제외 앱에서 흔들기 감지, 무시: vyoshakesource"),
             qPrintable(m_app->output()));
    // Shaking on in the same drag reports nothing more.
    for (int leg = 0; leg < 12; ++leg) {
        moveTo(centre + QPoint(leg % 2 == 0 ? 60 : -60, 0));
        QTest::qWait(40);
    }
    release();
    QVERIFY(m_app->waitForOutput("추적 종료 (드래그 true, 흔들기 false)", 5000));
    const QString output = m_app->output();
    QVERIFY2(!output.contains("셸프 열림"), qPrintable(output));
    QCOMPARE(output.count("제외 앱에서 흔들기 감지"), 1);
}

QTEST_GUILESS_MAIN(TestShakeEndToEnd)
#include "tst_shakeendtoend.moc"
