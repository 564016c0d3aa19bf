#include "platform/UrlSchemeRegistration.h"

#include <QFile>
#include <QStandardPaths>
#include <QTest>

using namespace vyo;

class TestUrlScheme : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void execQuoting_data();
    void execQuoting();
    void mimeappsUpdate_data();
    void mimeappsUpdate();
    void registrationWritesItsFiles();
    void packagedEntryMatchesRegisteredOne();
};

void TestUrlScheme::execQuoting_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("execLine");
    QTest::newRow("plain") << "/usr/bin/vyo"
                           << "Exec=/usr/bin/vyo %u";
    QTest::newRow("space") << "/opt/my apps/vyo"
                           << "Exec=\"/opt/my apps/vyo\" %u";
    QTest::newRow("percent") << "/opt/100%/vyo"
                             << "Exec=\"/opt/100%%/vyo\" %u";
    QTest::newRow("dollar and quote") << "/o/$x\"y/vyo"
                                      << "Exec=\"/o/\\\\$x\\\\\"y/vyo\" %u";
    QTest::newRow("korean") << "/home/사용자/vyo"
                            << "Exec=/home/사용자/vyo %u";
}

void TestUrlScheme::execQuoting()
{
    QFETCH(QString, executable);
    QFETCH(QString, execLine);
    const QString text = desktopEntryText(executable);
    QVERIFY2(text.split('\n').contains(execLine), qPrintable(text));
    QVERIFY(text.contains("MimeType=x-scheme-handler/vyoshelf;"));
}

void TestUrlScheme::mimeappsUpdate_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    const QString entry = "x-scheme-handler/vyoshelf=app.vyo.Vyo.desktop";
    QTest::newRow("empty") << ""
                           << "[Default Applications]\n" + entry + "\n";
    QTest::newRow("other sections kept")
        << "[Added Associations]\ntext/plain=gedit.desktop;\n"
        << "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n" + entry +
               "\n";
    QTest::newRow("inserted into existing section")
        << "[Default Applications]\ntext/html=firefox.desktop\n[Other]\nx=y\n"
        << "[Default Applications]\n" + entry + "\ntext/html=firefox.desktop\n[Other]\nx=y\n";
    QTest::newRow("old handler replaced")
        << "[Default Applications]\nx-scheme-handler/vyoshelf=old.desktop\n"
        << "[Default Applications]\n" + entry + "\n";
    QTest::newRow("same key in another section untouched")
        << "[Removed Associations]\nx-scheme-handler/vyoshelf=app.vyo.Vyo.desktop;\n"
        << "[Removed Associations]\nx-scheme-handler/vyoshelf=app.vyo.Vyo.desktop;\n\n"
           "[Default Applications]\n" +
               entry + "\n";
}

void TestUrlScheme::mimeappsUpdate()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QCOMPARE(withDefaultApplication(before, "x-scheme-handler/vyoshelf", "app.vyo.Vyo.desktop"),
             after);
}

void TestUrlScheme::registrationWritesItsFiles()
{
    QString error;
    QVERIFY2(registerUrlSchemeHandler("/opt/vyo/bin/vyo", &error), qPrintable(error));
    QFile entry(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                "/applications/app.vyo.Vyo.desktop");
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QVERIFY(entry.readAll().contains("Exec=/opt/vyo/bin/vyo %u"));
    QFile mimeapps(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                   "/mimeapps.list");
    QVERIFY(mimeapps.open(QIODevice::ReadOnly));
    const QByteArray first = mimeapps.readAll();
    QVERIFY(first.contains("x-scheme-handler/vyoshelf=app.vyo.Vyo.desktop"));
    // The entry's icon, byte for byte the packaged one.
    QFile icon(userIconPath());
    QVERIFY2(icon.open(QIODevice::ReadOnly), qPrintable(userIconPath()));
    QFile packagedIcon(VYO_PACKAGED_ICON);
    QVERIFY(packagedIcon.open(QIODevice::ReadOnly));
    QCOMPARE(icon.readAll(), packagedIcon.readAll());
    // A second registration leaves the files as they are.
    QVERIFY(registerUrlSchemeHandler("/opt/vyo/bin/vyo", &error));
    mimeapps.seek(0);
    QCOMPARE(mimeapps.readAll(), first);
}

void TestUrlScheme::packagedEntryMatchesRegisteredOne()
{
    QFile packaged(VYO_PACKAGED_DESKTOP_ENTRY);
    QVERIFY(packaged.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(packaged.readAll()), desktopEntryText("vyo"));
}

QTEST_GUILESS_MAIN(TestUrlScheme)
#include "tst_urlscheme.moc"
