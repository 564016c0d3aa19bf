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
    void firstSampleSetsOriginPeakAndLastX();
    void reversalsAreMeasuredFromThePeak();
    void jumpRestartsTheAttempt();
    void latchedDetectorChangesNothing();
    void brokenSamplesAreIgnored();
    void freshDetectorCarriesTheMediumPreset();
    void presets_data();
    void presets();
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
    QTest::newRow("low needs five reversals of 40")
        << int(ShakeSensitivity::low) << evenly({0, 40, 0, 40, 0, 40, 0, 40}, 0.1) << QList<int>{6};
    QTest::newRow("low ignores 30-point legs")
        << int(ShakeSensitivity::low) << evenly({0, 40, 10, 40, 10, 40, 10, 40, 10}, 0.1)
        << QList<int>{};
    QTest::newRow("high needs three reversals of 20")
        << int(ShakeSensitivity::high) << evenly({0, 20, 0, 20, 0, 20}, 0.1) << QList<int>{4};
    QTest::newRow("medium ignores 20-point legs")
        << medium << evenly({0, 20, 0, 20, 0, 20, 0, 20}, 0.1) << QList<int>{};
    QTest::newRow("the first direction may be leftwards")
        << medium << evenly({0, -40, 0, -40, 0, -40}, 0.1) << QList<int>{5};
    QTest::newRow("a steady drag in one direction never triggers")
        << medium << evenly({0, 20, 40, 60, 80, 100, 120, 140, 160, 180, 200}, 0.016)
        << QList<int>{};
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

void TestShakeDetector::firstSampleSetsOriginPeakAndLastX()
{
    ShakeDetector detector;
    QVERIFY(!detector.addSample(512.5, 3.0));
    QCOMPARE(detector.origin.value_or(-1), 512.5);
    QCOMPARE(detector.peak, 512.5);
    QCOMPARE(detector.lastX.value_or(-1), 512.5);
    QCOMPARE(detector.direction, 0.0);
    QVERIFY(detector.reversalTimes.empty());
}

void TestShakeDetector::reversalsAreMeasuredFromThePeak()
{
    ShakeDetector detector;
    for (const Sample &s : evenly({0, 40, 60}, 0.1))
        detector.addSample(s.x, s.time);
    QCOMPARE(detector.peak, 60.0);
    // 29 points back from the extreme: no reversal, the peak stays at the extreme.
    QVERIFY(!detector.addSample(31, 0.3));
    QCOMPARE(detector.peak, 60.0);
    QCOMPARE(detector.direction, 1.0);
    // 30 points back from the extreme, though only 9 from where the direction was set.
    QVERIFY(!detector.addSample(30, 0.4));
    QCOMPARE(detector.direction, -1.0);
    QCOMPARE(detector.peak, 30.0);
    QVERIFY(detector.reversalTimes == std::vector<double>{0.4});
}

void TestShakeDetector::jumpRestartsTheAttempt()
{
    ShakeDetector detector;
    for (const Sample &s : evenly({0, 40, 0, 40, 0}, 0.1))
        detector.addSample(s.x, s.time);
    QCOMPARE(detector.reversalTimes.size(), std::size_t(3));
    QVERIFY(!detector.addSample(1500, 0.5));
    QCOMPARE(detector.origin.value_or(-1), 1500.0);
    QCOMPARE(detector.peak, 1500.0);
    QCOMPARE(detector.lastX.value_or(-1), 1500.0);
    QCOMPARE(detector.direction, 0.0);
    QVERIFY(detector.reversalTimes.empty());
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

void TestShakeDetector::freshDetectorCarriesTheMediumPreset()
{
    const ShakeDetector detector;
    QCOMPARE(detector.config, ShakeSensitivity(ShakeSensitivity::medium).config());
    QVERIFY(!detector.origin && !detector.lastX && !detector.hasTriggered);
}

void TestShakeDetector::presets_data()
{
    QTest::addColumn<int>("rawValue");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("reversals");
    QTest::addColumn<double>("segment");
    QTest::newRow("low") << 0 << "낮음" << 5 << 40.0;
    QTest::newRow("medium") << 1 << "보통" << 4 << 30.0;
    QTest::newRow("high") << 2 << "높음" << 3 << 20.0;
}

void TestShakeDetector::presets()
{
    QFETCH(int, rawValue);
    QFETCH(QString, title);
    QFETCH(int, reversals);
    QFETCH(double, segment);
    const auto sensitivity = ShakeSensitivity::fromRawValue(rawValue);
    QVERIFY(sensitivity);
    QCOMPARE(sensitivity->rawValue(), rawValue);
    QCOMPARE(sensitivity->title(), title);
    QVERIFY(!sensitivity->description().isEmpty());
    const ShakeDetector::Config config = sensitivity->config();
    QCOMPARE(config.requiredReversals, reversals);
    QCOMPARE(config.minSegmentLength, segment);
    QCOMPARE(config.window, 0.8);
    QCOMPARE(config.maxStepLength, 300.0);
    QCOMPARE(ShakeSensitivity::allCases[std::size_t(rawValue)], sensitivity->value());
    QVERIFY(!ShakeSensitivity::fromRawValue(-1));
    QVERIFY(!ShakeSensitivity::fromRawValue(3));
}

void TestShakeDetector::currentReadsTheStoredChoice_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("registered");
    QTest::addColumn<int>("expected");
    QTest::newRow("nothing stored, nothing registered") << QVariant() << false << 1;
    QTest::newRow("nothing stored") << QVariant() << true << 1;
    QTest::newRow("0") << QVariant(0) << true << 0;
    QTest::newRow("1") << QVariant(1) << true << 1;
    QTest::newRow("2") << QVariant(2) << true << 2;
    QTest::newRow("stray 7") << QVariant(7) << true << 1;
    QTest::newRow("stray -1") << QVariant(-1) << true << 1;
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
