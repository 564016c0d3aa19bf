// Shake to open and the top drop zone end to end, with real processes on a real X server: the
// application, a drag source of its own (vyo_shake_source) that starts a real XDND drag, and
// xdotool moving the pointer as a hand would. The rules behind them are proved with a fake drag
// watcher in tst_shakeanddropzones; here each crossing is made once.

#include "shelf/ShelfPersistence.h"

#include "ChildProcess.h"
#include "TestSupport.h"

#include <QElapsedTimer>
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

// A window's frame; empty when xdotool cannot tell.
QRect geometry(const QString &window)
{
    QHash<QString, int> values;
    for (const QString &line :
         xdotoolOutput({"getwindowgeometry", "--shell", window}).split('\n')) {
        const QStringList pair = line.split('=');
        if (pair.size() == 2)
            values.insert(pair[0], pair[1].toInt());
    }
    return QRect(values.value("X"), values.value("Y"), values.value("WIDTH"),
                 values.value("HEIGHT"));
}

// The visible windows of a process with a given title.
QStringList windows(qint64 pid, const QString &title)
{
    return xdotoolOutput({"search", "--all", "--onlyvisible", "--pid", QString::number(pid),
                          "--name", "^" + QRegularExpression::escape(title) + "$"})
        .split('\n', Qt::SkipEmptyParts);
}

const QString dropZoneTitle = QStringLiteral("Vyo 놓기 영역");
const QString shelfTitle = QStringLiteral("Vyo");

} // namespace

class TestShakeEndToEnd : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase() { release(); }
    void clicksShakesAndDropsInOneSession();

private:
    // Presses on the drag source and drags to `to` until the application has seen the drag.
    bool startDrag(QPoint to);
    // Swings the pointer left and right around `centre` until the application reports `text`.
    bool shakeUntil(QPoint centre, const QString &text);
    // Glides to `to` until the window there accepts the copy.
    bool hoverUntilAccepted(QPoint from, QPoint to);
    void release() { xdotool({"mouseup", "1"}); }
    ShelfPersistence::State savedState() const
    {
        return ShelfPersistence(m_root.filePath("data/Vyo/shelves.json")).load();
    }

    QTemporaryDir m_root;
    QString m_file;
    QSize m_screen;
    std::unique_ptr<ChildProcess> m_app;
    std::unique_ptr<ChildProcess> m_source;
    QPoint m_sourceCentre;
};

// Starts the drag source, and the application with its drag watching logged.
void TestShakeEndToEnd::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs the X server of scripts/with-display.sh");
    const QStringList size = xdotoolOutput({"getdisplaygeometry"}).split(' ', Qt::SkipEmptyParts);
    QCOMPARE(size.size(), 2);
    m_screen = QSize(size[0].toInt(), size[1].trimmed().toInt());
    QProcessEnvironment environment = test::applicationEnvironment(m_root.path(), "xcb");
    QVERIFY(!environment.isEmpty());
    m_file = m_root.filePath("home/흔들어 놓은 파일.txt");
    QVERIFY(test::writeFile(m_file, "hello"));
    // No welcome window in the way of the pointer.
    QSettings(m_root.filePath("config/Vyo/Vyo.conf"), QSettings::IniFormat)
        .setValue("hasShownWelcome", true);
    release();
    moveTo({m_screen.width() - 50, m_screen.height() - 50});
    m_source = std::make_unique<ChildProcess>(SOURCE_BINARY, QStringList{m_file, "100", "300"},
                                              environment);
    environment.insert("QT_LOGGING_RULES", "vyo.shake.debug=true");
    m_app = std::make_unique<ChildProcess>(VYO_BINARY, QStringList(), environment);
    QVERIFY2(m_app->waitForOutput("X11 드래그 감시 시작"), qPrintable(m_app->output()));
    static const QRegularExpression ready("ready (-?\\d+) (-?\\d+)");
    QVERIFY(m_source->waitForOutput(ready));
    const QRegularExpressionMatch match = ready.match(m_source->output());
    m_sourceCentre = QPoint(match.captured(1).toInt(), match.captured(2).toInt());
}

bool TestShakeEndToEnd::startDrag(QPoint to)
{
    const int drags = m_app->output().count("드래그 시작 감지");
    moveTo(m_sourceCentre);
    QTest::qWait(50);
    xdotool({"mousedown", "1"});
    QTest::qWait(50);
    glide(m_sourceCentre, to, 12);
    return QTest::qWaitFor([&] { return m_app->output().count("드래그 시작 감지") > drags; }, 5000);
}

bool TestShakeEndToEnd::shakeUntil(QPoint centre, const QString &text)
{
    const int before = m_app->output().count(text);
    const auto seen = [&] { return m_app->output().count(text) > before; };
    // Legs of 120 points every 40 ms: four reversals well inside 0.8 s; a busy machine may need
    // a few more. Bounded.
    for (int leg = 0; leg < 48 && !seen(); ++leg) {
        moveTo(centre + QPoint(leg % 2 == 0 ? 60 : -60, 0));
        QTest::qWait(40);
    }
    if (QTest::qWaitFor(seen, 2000))
        return true;
    qWarning().noquote() << m_app->output();
    return false;
}

bool TestShakeEndToEnd::hoverUntilAccepted(QPoint from, QPoint to)
{
    const int accepted = m_source->output().count("drag action 1");
    glide(from, to, 8);
    return QTest::qWaitFor([&] { return m_source->output().count("drag action 1") > accepted; },
                           3000);
}

void TestShakeEndToEnd::clicksShakesAndDropsInOneSession()
{
    // A click in another application is tracked until the release, and nothing more.
    moveTo(m_sourceCentre);
    xdotool({"click", "1"});
    QVERIFY(m_app->waitForOutput("추적 종료 (드래그 false, 흔들기 false)", 5000));

    // A shake while dragging opens a shelf beside the pointer: its left edge 24 points right of
    // where the shake was recognised (somewhere within the swing), its middle at the pointer's
    // height.
    const QPoint centre(700, 500);
    QVERIFY(startDrag(centre));
    QVERIFY(shakeUntil(centre, "셸프 열림 (열린 셸프 1개)"));
    QStringList shelves;
    QTRY_VERIFY_WITH_TIMEOUT((shelves = windows(m_app->pid(), shelfTitle)).size() == 1, 5000);
    QRect panel;
    QTRY_VERIFY_WITH_TIMEOUT((panel = geometry(shelves.first())).left() >=
                                     centre.x() - 60 + 24 - 1 &&
                                 panel.left() <= centre.x() + 60 + 24 + 1,
                             3000);
    QCOMPARE_LE(qAbs(panel.center().y() - centre.y()), 2);

    // Dropped on it: the drag source learns the copy was accepted and the shelf keeps the file.
    QVERIFY(hoverUntilAccepted(centre, panel.center()));
    release();
    QVERIFY2(m_source->waitForOutput("drag finished 1", 5000), qPrintable(m_source->output()));
    QTRY_VERIFY_WITH_TIMEOUT(savedState().open.size() == 1, 5000);
    QCOMPARE(savedState().open.first().items.size(), 1);
    QCOMPARE(savedState().open.first().items.first().url, QUrl::fromLocalFile(m_file));
    QVERIFY(m_app->waitForOutput("추적 종료 (드래그 true, 흔들기 true)", 3000));

    // A drag that ends without a drop: the top drop zone is up while it lasts, and the shelf its
    // shake opened goes 0.3 s after the release; the shelf that received the drop stays.
    const QPoint second(400, 850);
    QVERIFY(startDrag(second));
    QTRY_VERIFY_WITH_TIMEOUT(!windows(m_app->pid(), dropZoneTitle).isEmpty(), 5000);
    QVERIFY(shakeUntil(second, "셸프 열림 (열린 셸프 2개)"));
    glide(second, {m_screen.width() - 60, m_screen.height() - 60}, 8);
    release();
    QElapsedTimer sinceRelease;
    sinceRelease.start();
    QVERIFY(m_source->waitForOutput("drag finished 0", 5000));
    QVERIFY2(m_app->waitForOutput("셸프 닫힘 (열린 셸프 1개)", 5000), qPrintable(m_app->output()));
    QVERIFY2(sinceRelease.elapsed() >= 200, qPrintable(QString::number(sinceRelease.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(windows(m_app->pid(), dropZoneTitle).isEmpty(), 5000);
    QCOMPARE(m_app->output().count("셸프 닫힘"), 1);
    QTRY_COMPARE_WITH_TIMEOUT(windows(m_app->pid(), shelfTitle), shelves, 3000);

    // Straight up onto the top drop zone, no shaking: it grows under the drag, and the drop opens
    // a shelf that holds the file.
    const QPoint top(m_screen.width() / 2, 300);
    QVERIFY(startDrag(top));
    QStringList zones;
    QTRY_VERIFY_WITH_TIMEOUT((zones = windows(m_app->pid(), dropZoneTitle)).size() == 1, 5000);
    QVERIFY(hoverUntilAccepted(top, {top.x(), 16}));
    QTRY_COMPARE_WITH_TIMEOUT(geometry(zones.first()).width(), 320, 3000);
    release();
    QTRY_COMPARE_WITH_TIMEOUT(m_source->output().count("drag finished 1"), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(savedState().open.size(), 2, 5000);
    QCOMPARE(savedState().open.last().items.first().url, QUrl::fromLocalFile(m_file));
    QTRY_VERIFY_WITH_TIMEOUT(windows(m_app->pid(), dropZoneTitle).isEmpty(), 5000);
}

QTEST_GUILESS_MAIN(TestShakeEndToEnd)
#include "tst_shakeendtoend.moc"
