// The shake detector on sample streams, and the sensitivity presets read from the defaults.

#include "core/Defaults.h"
#include "logic/ShakeDetector.h"
#include "logic/ShakeSensitivity.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

using namespace vyo;

namespace {

struct Sample
{
    double x;
    double time;
};

// Samples at a fixed interval starting at time 0.
QList<Sample> evenly(std::initializer_list<double> xs, double interval)
{
    QList<Sample> samples;
    double time = 0;
    for (double x : xs) {
        samples.append({x, time});
        time += interval;
    }
    return samples;
}

// Feeds the stream; the indices of the samples that answered true.
QList<int> triggers(ShakeDetector &detector, const QList<Sample> &samples)
{
    QList<int> indices;
    for (int i = 0; i < samples.size(); ++i) {
        if (detector.addSample(samples[i].x, samples[i].time))
            indices.append(i);
    }
    return indices;
}

} // namespace

Q_DECLARE_METATYPE(QList<Sample>)

class TestShakeDetector : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void streams_data();
    void streams();
    void latchedDetectorChangesNothing();
    void brokenSamplesAreIgnored();
    void currentReadsTheStoredChoice_data();
    void currentReadsTheStoredChoice();
};

void TestShakeDetector::streams_data()
{
    QTest::addColumn<int>("sensitivity");
    QTest::addColumn<QList<Sample>>("samples");
    QTest::addColumn<QList<int>>("expected");

    const auto medium = int(ShakeSensitivity::medium);
    QTest::newRow("medium, 40-point legs every 0.1 s: fourth reversal at t = 0.5")
        << medium << evenly({0, 40, 0, 40, 0, 40, 0, 40}, 0.1) << QList<int>{5};
    QTest::newRow("the same legs every 0.3 s never trigger")
        << medium << evenly({0, 40, 0, 40, 0, 40, 0, 40, 0, 40}, 0.3) << QList<int>{};
    QTest::newRow("staying within the segment length of the origin")
        << medium << evenly({0, 29, -29, 29.9, -29.9, 0, 29, -29, 29, -29}, 0.05) << QList<int>{};
    QTest::newRow("reversals of exactly the segment length count")
        << medium << evenly({0, 40, 10, 40, 10, 40}, 0.1) << QList<int>{5};
    QTest::newRow("reversals a fraction shorter do not")
        << medium << evenly({0, 40, 10.5, 40, 10.5, 40, 10.5, 40}, 0.1) << QList<int>{};
    QTest::newRow("a step of exactly 300 points is motion")
        << medium << evenly({0, 40, 0, 40, 340, 40, 340}, 0.1) << QList<int>{6};
    QTest::newRow("a step of 300.5 points restarts and forgets the reversals")
        << medium << evenly({0, 40, 0, 40, 340.5, 40.5, 340.5}, 0.1) << QList<int>{};
    // Reversals at 0.0, 0.3, 0.5 and 0.8: the first is exactly 0.8 s old and still counts.
    QTest::newRow("a reversal exactly 0.8 s old stays in the window")
        << medium << QList<Sample>{{0, -0.2}, {40, -0.1}, {0, 0.0}, {40, 0.3}, {0, 0.5}, {40, 0.8}}
        << QList<int>{5};
    QTest::newRow("one a little older has left it")
        << medium << QList<Sample>{{0, -0.2}, {40, -0.1}, {0, 0.0}, {40, 0.3}, {0, 0.5}, {40, 0.81}}
        << QList<int>{};
    // Measured from the extreme reached (60), not from where the direction was set (40).
    QTest::newRow("reversals are measured from the peak")
        << medium << evenly({0, 40, 60, 30, 60, 30, 60}, 0.1) << QList<int>{6};
    QTest::newRow("low needs five reversals of 40")
        << int(ShakeSensitivity::low) << evenly({0, 40, 0, 40, 0, 40, 0, 40}, 0.1) << QList<int>{6};
    QTest::newRow("low ignores 30-point legs")
        << int(ShakeSensitivity::low) << evenly({0, 40, 10, 40, 10, 40, 10, 40, 10}, 0.1)
        << QList<int>{};
    QTest::newRow("high needs three reversals of 20")
        << int(ShakeSensitivity::high) << evenly({0, 20, 0, 20, 0, 20}, 0.1) << QList<int>{4};
    QTest::newRow("the first direction may be leftwards")
        << medium << evenly({0, -40, 0, -40, 0, -40}, 0.1) << QList<int>{5};
}

void TestShakeDetector::streams()
{
    QFETCH(int, sensitivity);
    QFETCH(QList<Sample>, samples);
    QFETCH(QList<int>, expected);
    ShakeDetector detector(ShakeSensitivity::fromRawValue(sensitivity)->config());
    QCOMPARE(triggers(detector, samples), expected);
    QCOMPARE(detector.hasTriggered, !expected.isEmpty());
}

void TestShakeDetector::latchedDetectorChangesNothing()
{
    ShakeDetector detector;
    QCOMPARE(triggers(detector, evenly({0, 40, 0, 40, 0, 40}, 0.1)), QList<int>{5});
    const ShakeDetector latched = detector;
    for (const Sample &s : evenly({0, 40, 0, 40, 0, 40, 0, 40, 5000}, 0.05))
        QVERIFY(!detector.addSample(s.x, 1 + s.time));
    QVERIFY(detector == latched);
}

void TestShakeDetector::brokenSamplesAreIgnored()
{
    ShakeDetector detector;
    detector.addSample(100, 0);
    const ShakeDetector before = detector;
    QVERIFY(!detector.addSample(std::numeric_limits<double>::quiet_NaN(), 0.1));
    QVERIFY(!detector.addSample(std::numeric_limits<double>::infinity(), 0.2));
    QVERIFY(!detector.addSample(140, std::numeric_limits<double>::quiet_NaN()));
    QVERIFY(detector == before);
}

void TestShakeDetector::currentReadsTheStoredChoice_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("registered");
    QTest::addColumn<int>("expected");
    QTest::newRow("nothing stored, nothing registered") << QVariant() << false << 1;
    QTest::newRow("0") << QVariant(0) << true << 0;
    QTest::newRow("2") << QVariant(2) << true << 2;
    QTest::newRow("below the presets") << QVariant(-1) << true << 1;
    QTest::newRow("above the presets") << QVariant(3) << true << 1;
    QTest::newRow("text") << QVariant(QStringLiteral("high")) << true << 1;
    QTest::newRow("text of a number") << QVariant(QStringLiteral("2")) << true << 2;
}

void TestShakeDetector::currentReadsTheStoredChoice()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, registered);
    QFETCH(int, expected);
    QTemporaryDir folder;
    Defaults defaults(folder.filePath("Vyo.conf"));
    if (registered)
        defaults.registerDefaults();
    if (stored.isValid())
        defaults.setValue(DefaultsKey::shakeSensitivity, stored);
    QCOMPARE(ShakeSensitivity::current(defaults).rawValue(), expected);
}

QTEST_GUILESS_MAIN(TestShakeDetector)
#include "tst_shakedetector.moc"
