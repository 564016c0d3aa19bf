// The notch rule and the virtual notch on synthetic screens (points, y upwards).

#include "logic/NotchGeometry.h"

#include <QTest>

using namespace vyo;

Q_DECLARE_METATYPE(vyo::Rect)
Q_DECLARE_METATYPE(QList<vyo::Rect>)
Q_DECLARE_METATYPE(QList<vyo::NotchScreen>)

namespace {

const Rect leftOfNotch{{0, 950}, {663.5, 32}};
const Rect rightOfNotch{{848.5, 950}, {663.5, 32}};

// A 1512 × 982 laptop screen whose 185-point notch is 32 points tall, unless told otherwise.
NotchScreen laptop(double x = 0, double y = 0, double inset = 32,
                   std::optional<Rect> left = leftOfNotch, std::optional<Rect> right = rightOfNotch)
{
    return {{{x, y}, {1512, 982}}, inset, left, right};
}

NotchScreen plain(double x, double y, double width, double height)
{
    return {{{x, y}, {width, height}}, 0, std::nullopt, std::nullopt};
}

} // namespace

class TestNotchGeometry : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void dropZones_data();
    void dropZones();
    void targetedFrameGrowsDownAndSideways();
    void shelfOpensFourteenPointsBelowTheNotch();
};

void TestNotchGeometry::dropZones_data()
{
    QTest::addColumn<QList<NotchScreen>>("screens");
    QTest::addColumn<QList<Rect>>("expected");

    const Rect laptopNotch{{663.5, 950}, {185, 32}};
    QTest::newRow("notched laptop screen")
        << QList<NotchScreen>{laptop()} << QList<Rect>{laptopNotch};
    QTest::newRow("notched laptop beside an external display: only the laptop")
        << QList<NotchScreen>{plain(-1920, 0, 1920, 1080), laptop()} << QList<Rect>{laptopNotch};
    QTest::newRow("notched laptop placed right of and above the primary")
        << QList<NotchScreen>{plain(0, 0, 2560, 1440), laptop(2560, 300)}
        << QList<Rect>{{{2560 + 663.5, 300 + 950}, {185, 32}}};
    QTest::newRow("no notch anywhere: a virtual one on the primary screen")
        << QList<NotchScreen>{plain(0, 0, 1920, 1080), plain(1920, -200, 1280, 1024)}
        << QList<Rect>{{{860, 1048}, {200, 32}}};
    QTest::newRow("primary screen at an offset, odd width")
        << QList<NotchScreen>{plain(-100, 50, 1365, 768)}
        << QList<Rect>{{{-100 + 682.5 - 100, 50 + 736}, {200, 32}}};
    // Without a notch, the laptop gets a virtual one.
    const QList<Rect> virtualNotch{{{656, 950}, {200, 32}}};
    QTest::newRow("an inset without the areas beside it is no notch")
        << QList<NotchScreen>{laptop(0, 0, 32, std::nullopt)} << virtualNotch;
    QTest::newRow("areas without an inset are no notch")
        << QList<NotchScreen>{laptop(0, 0, 0)} << virtualNotch;
    QTest::newRow("overlapping areas leave no gap: no notch")
        << QList<NotchScreen>{laptop(0, 0, 32, Rect{{0, 950}, {800, 32}},
                                     Rect{{700, 950}, {812, 32}})}
        << virtualNotch;
    QTest::newRow("no screens, no zones") << QList<NotchScreen>{} << QList<Rect>{};
    QTest::newRow("an empty primary frame gets no virtual notch")
        << QList<NotchScreen>{plain(0, 0, 0, 0)} << QList<Rect>{};
}

void TestNotchGeometry::dropZones()
{
    QFETCH(QList<NotchScreen>, screens);
    QFETCH(QList<Rect>, expected);
    QCOMPARE(NotchGeometry::dropZoneRects(screens), expected);
}

void TestNotchGeometry::targetedFrameGrowsDownAndSideways()
{
    const Rect notch{{860, 1048}, {200, 32}};
    QCOMPARE(NotchGeometry::targetedFrame(notch), (Rect{{800, 984}, {320, 96}}));
}

void TestNotchGeometry::shelfOpensFourteenPointsBelowTheNotch()
{
    const Rect notch{{663.5, 950}, {185, 32}};
    // The placement under an anchor leaves 8 more points: 944 − 8 = 950 − 14.
    QCOMPARE(NotchGeometry::shelfAnchor(notch), (Rect{{663.5, 944}, {185, 32}}));
}

QTEST_GUILESS_MAIN(TestNotchGeometry)
#include "tst_notchgeometry.moc"
