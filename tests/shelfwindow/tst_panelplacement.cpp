#include "logic/PanelPlacement.h"
#include "shelfwindow/ShelfPanel.h"

#include <QTest>

using namespace vyo;

namespace {

// Two screens side by side: the main one 1920 × 1080 with a 32-point bar at the top, and a
// 1280 × 1024 one to its left whose bottom sits 100 points lower.
const QList<ScreenFrames> twoScreens = {
    {Rect{{0, 0}, {1920, 1080}}, Rect{{0, 0}, {1920, 1048}}},
    {Rect{{-1280, -100}, {1280, 1024}}, Rect{{-1280, -100}, {1280, 1024}}},
};

} // namespace

class TestPanelPlacement : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void screenChoice_data();
    void screenChoice();
    void clamping_data();
    void clamping();
    void screenHoldingMostOfAFrame();
    void panelKeys_data();
    void panelKeys();
};

void TestPanelPlacement::screenChoice_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<int>("mainIndex");
    QTest::addColumn<int>("expected"); // index into twoScreens, -1 for none
    QTest::newRow("inside main") << 500.0 << 500.0 << 0 << 0;
    QTest::newRow("inside left screen") << -10.0 << 500.0 << 0 << 1;
    QTest::newRow("left edge belongs to main") << 0.0 << 10.0 << 0 << 0;
    QTest::newRow("right edge belongs to nobody") << 1920.0 << 10.0 << 0 << 0;
    QTest::newRow("below the left screen, no screen") << -500.0 << -150.0 << 0 << 0;
    QTest::newRow("no screen, other main") << 5000.0 << 5000.0 << 1 << 1;
    QTest::newRow("no screen, no main") << 5000.0 << 5000.0 << -1 << -1;
}

void TestPanelPlacement::screenChoice()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(int, mainIndex);
    QFETCH(int, expected);
    const std::optional<Rect> visible = visibleFrameFor({x, y}, twoScreens, mainIndex);
    if (expected < 0)
        QVERIFY(!visible);
    else
        QCOMPARE(visible, std::optional<Rect>(twoScreens[expected].visibleFrame));
}

void TestPanelPlacement::clamping_data()
{
    QTest::addColumn<Point>("origin");
    QTest::addColumn<Size>("size");
    QTest::addColumn<Point>("expected");
    const Size panel{180, 210};
    QTest::newRow("fits") << Point{100, 100} << panel << Point{100, 100};
    QTest::newRow("off the right edge") << Point{1850, 100} << panel << Point{1740, 100};
    QTest::newRow("off the bottom") << Point{100, -50} << panel << Point{100, 0};
    QTest::newRow("under the top bar") << Point{100, 1000} << panel << Point{100, 838};
    QTest::newRow("off the left") << Point{-30, 400} << panel << Point{0, 400};
    QTest::newRow("larger than the frame keeps the top-right")
        << Point{-50, -50} << Size{2000, 1200} << Point{-80, -152};
}

void TestPanelPlacement::clamping()
{
    QFETCH(Point, origin);
    QFETCH(Size, size);
    QFETCH(Point, expected);
    QCOMPARE(clampIntoVisibleFrame(origin, size, twoScreens[0].visibleFrame), expected);
}

void TestPanelPlacement::screenHoldingMostOfAFrame()
{
    QCOMPARE(visibleFrameHolding(Rect{{-50, 500}, {180, 210}}, twoScreens),
             std::optional<Rect>(twoScreens[0].visibleFrame));
    QCOMPARE(visibleFrameHolding(Rect{{-150, 500}, {180, 210}}, twoScreens),
             std::optional<Rect>(twoScreens[1].visibleFrame));
    QVERIFY(!visibleFrameHolding(Rect{{5000, 5000}, {180, 210}}, twoScreens));
}

void TestPanelPlacement::panelKeys_data()
{
    using Command = ShelfPanel::KeyCommand;
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("native");
    QTest::addColumn<int>("expected");
    QTest::newRow("space") << int(Qt::Key_Space) << 0 << 0 << int(Command::preview);
    QTest::newRow("shift space") << int(Qt::Key_Space) << int(Qt::ShiftModifier) << 0
                                 << int(Command::preview);
    QTest::newRow("ctrl space") << int(Qt::Key_Space) << int(Qt::ControlModifier) << 0
                                << int(Command::none);
    QTest::newRow("alt space") << int(Qt::Key_Space) << int(Qt::AltModifier) << 0
                               << int(Command::none);
    QTest::newRow("esc") << int(Qt::Key_Escape) << 0 << 0 << int(Command::close);
    QTest::newRow("ctrl w") << int(Qt::Key_W) << int(Qt::ControlModifier) << 0
                            << int(Command::close);
    QTest::newRow("ctrl c") << int(Qt::Key_C) << int(Qt::ControlModifier) << 0
                            << int(Command::copy);
    QTest::newRow("ctrl v") << int(Qt::Key_V) << int(Qt::ControlModifier) << 0
                            << int(Command::paste);
    QTest::newRow("ctrl shift c") << int(Qt::Key_C) << int(Qt::ControlModifier | Qt::ShiftModifier)
                                  << 0 << int(Command::none);
    QTest::newRow("ctrl alt w") << int(Qt::Key_W) << int(Qt::ControlModifier | Qt::AltModifier) << 0
                                << int(Command::none);
    QTest::newRow("ctrl w with caps lock")
        << int(Qt::Key_W) << int(Qt::ControlModifier) << 0x2 << int(Command::none);
    QTest::newRow("ctrl w with num lock")
        << int(Qt::Key_W) << int(Qt::ControlModifier) << 0x10 << int(Command::close);
    QTest::newRow("plain w") << int(Qt::Key_W) << 0 << 0 << int(Command::none);
    QTest::newRow("keypad ctrl c")
        << int(Qt::Key_C) << int(Qt::ControlModifier | Qt::KeypadModifier) << 0
        << int(Command::copy);
}

void TestPanelPlacement::panelKeys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, native);
    QFETCH(int, expected);
    QCOMPARE(int(ShelfPanel::keyCommand(key, Qt::KeyboardModifiers(modifiers), quint32(native))),
             expected);
}

QTEST_MAIN(TestPanelPlacement)
#include "tst_panelplacement.moc"
