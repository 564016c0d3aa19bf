#include "platform/UrlSchemeRegistration.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    void unreadableFilesStayUntouched_data();
    void unreadableFilesStayUntouched();
    void packagedEntryMatchesRegisteredOne();
};

void TestUrlScheme::execQuoting_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("execLine");
    const std::pair<const char *, const char *> rows[] = {
        {"/opt/my apps/vyo", "Exec=\"/opt/my apps/vyo\" %u"},
        {"/opt/100%/vyo", "Exec=\"/opt/100%%/vyo\" %u"},
        {"/o/$x\"y/vyo", "Exec=\"/o/\\\\$x\\\\\"y/vyo\" %u"},
        {"/home/사용자/vyo", "Exec=/home/사용자/vyo %u"},
    };
    for (const auto &[executable, execLine] : rows)
        QTest::newRow(executable) << QString::fromUtf8(executable) << QString::fromUtf8(execLine);
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

void TestUrlScheme::unreadableFilesStayUntouched_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("damage");
    const QString mimeapps =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/mimeapps.list";
    const QString entry = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                          "/applications/app.vyo.Vyo.desktop";
    QTest::newRow("mimeapps.list, a folder") << mimeapps << "a folder";
    QTest::newRow("desktop entry, dangling link") << entry << "dangling link";
    QTest::newRow("mimeapps.list, not UTF-8") << mimeapps << "not UTF-8";
}

void TestUrlScheme::unreadableFilesStayUntouched()
{
    QFETCH(QString, file);
    QFETCH(QString, damage);
    // Other programs' choices, in bytes that are not UTF-8.
    const QByteArray others = "[Default Applications]\ntext/html=b\xe9"
                              "b\xe9.desktop\n";
    QFile::remove(file); // as registration wrote it
    QVERIFY(QDir().mkpath(damage == "a folder" ? file : QFileInfo(file).absolutePath()));
    if (damage == "dangling link")
        QVERIFY(QFile::link(file + ".gone", file));
    if (damage == "not UTF-8")
        QVERIFY(test::writeFile(file, others));
    QString error;
    QVERIFY(!registerUrlSchemeHandler("/opt/vyo/bin/vyo", &error));
    QVERIFY2(error.startsWith(file + ": "), qPrintable(error));
    QCOMPARE(QFileInfo(file).isDir(), damage == "a folder");
    QCOMPARE(QFileInfo(file).symLinkTarget(),
             damage == "dangling link" ? QString(file + ".gone") : QString());
    QFile after(file);
    QCOMPARE(after.open(QIODevice::ReadOnly) ? after.readAll() : QByteArray(),
             damage == "not UTF-8" ? others : QByteArray());
    QFile::remove(file);
    QDir(file).removeRecursively();
}

void TestUrlScheme::packagedEntryMatchesRegisteredOne()
{
    QFile packaged(VYO_PACKAGED_DESKTOP_ENTRY);
    QVERIFY(packaged.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(packaged.readAll()), desktopEntryText("vyo"));
}

QTEST_GUILESS_MAIN(TestUrlScheme)
#include "tst_urlscheme.moc"
