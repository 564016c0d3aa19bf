// Start-up choices about the toolkit: the platform asked for on Wayland sessions, and Qt's own
// dialog texts in Korean from the installed translations.

#include "platform/Toolkit.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTest>

using namespace vyo;

class TestToolkit : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void preferX11Platform_data();
    void preferX11Platform();
    void standardButtonsSpeakKorean();
};

void TestToolkit::preferX11Platform_data()
{
    // QT_QPA_PLATFORM, XDG_SESSION_TYPE, WAYLAND_DISPLAY and DISPLAY, and the platform chosen.
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("wayland with xwayland")
        << QStringList{"", "wayland", "wayland-0", ":0"} << "xcb;wayland";
    QTest::newRow("wayland socket only") << QStringList{"", "", "wayland-0", ":0"} << "xcb;wayland";
    QTest::newRow("wayland without xwayland") << QStringList{"", "wayland", "wayland-0", ""} << "";
    QTest::newRow("x11 session") << QStringList{"", "x11", "", ":0"} << "";
    QTest::newRow("chosen by the user")
        << QStringList{"wayland", "wayland", "wayland-0", ":0"} << "wayland";
}

void TestToolkit::preferX11Platform()
{
    QFETCH(QStringList, environment);
    QFETCH(QString, chosen);
    const QByteArray names[] = {"QT_QPA_PLATFORM", "XDG_SESSION_TYPE", "WAYLAND_DISPLAY",
                                "DISPLAY"};
    QByteArray saved[4];
    for (int i = 0; i < 4; ++i) {
        saved[i] = qgetenv(names[i].constData());
        qputenv(names[i].constData(), environment[i].toUtf8());
    }
    vyo::preferX11Platform();
    const QByteArray result = qgetenv("QT_QPA_PLATFORM");
    // Once the application object is made, programs started from it inherit only a choice the
    // user made.
    vyo::forgetPlatformChoice();
    const QByteArray inherited = qgetenv("QT_QPA_PLATFORM");
    for (int i = 0; i < 4; ++i)
        qputenv(names[i].constData(), saved[i]);
    QCOMPARE(QString::fromUtf8(result), chosen);
    QCOMPARE(QString::fromUtf8(inherited), environment[0]);
}

void TestToolkit::standardButtonsSpeakKorean()
{
    QVERIFY(installKoreanToolkitTexts());
    QDialogButtonBox korean(QDialogButtonBox::Cancel);
    const QString text = korean.button(QDialogButtonBox::Cancel)->text();
    QVERIFY2(text.contains(QStringLiteral("취소")), qPrintable(text));
}

QTEST_MAIN(TestToolkit)
#include "tst_toolkit.moc"
