// How a vyoshelf: address reads (what the running copy does with it is tst_appprocess's).

#include "logic/URLCommand.h"

#include "TestSupport.h"

#include <QDir>
#include <QTest>

using namespace vyo;
using Kind = URLCommand::Kind;

class TestURLCommand : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void parse_data();
    void parse();
    void hugeAddressIsRefused();

private:
    QString m_home;
};

void TestURLCommand::initTestCase()
{
    // run-test.sh points HOME at a fresh folder.
    m_home = QDir::homePath();
    QVERIFY(test::writeFile(m_home + "/문서/보고서.pdf", "pdf"));
    QVERIFY(test::writeFile(m_home + "/a b.txt", "a"));
    QVERIFY(QDir().mkpath(m_home + "/폴더"));
    QVERIFY(test::writeFile(m_home + "/내 문서/메모 1.txt", "memo"));
    QVERIFY(test::writeFile(m_home + "/100%.txt", "all"));
}

void TestURLCommand::parse_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("files"); // relative to HOME

    const QStringList none;
    QTest::newRow("new") << "vyoshelf://new" << int(Kind::newShelf) << none;
    QTest::newRow("reopen mixed case") << "VyoShelf://ReOpen" << int(Kind::reopen) << none;
    QTest::newRow("add tilde and missing")
        << "vyoshelf://add?path=~/%EB%AC%B8%EC%84%9C/%EB%B3%B4%EA%B3%A0%EC%84%9C.pdf&path=/no/such"
        << int(Kind::add) << QStringList{"문서/보고서.pdf"};
    QTest::newRow("add keeps order, folders too")
        << "vyoshelf://add?path=~/%ED%8F%B4%EB%8D%94&path=~/a%20b.txt" << int(Kind::add)
        << QStringList{"폴더", "a b.txt"};
    QTest::newRow("add ignores other names")
        << "vyoshelf://add?file=~/a%20b.txt&PATH=~/a%20b.txt&path=" << int(Kind::invalid) << none;
    QTest::newRow("add relative path")
        << "vyoshelf://add?path=a%20b.txt" << int(Kind::invalid) << none;
    QTest::newRow("add climbing path")
        << "vyoshelf://add?path=~/%ED%8F%B4%EB%8D%94/../a%20b.txt" << int(Kind::invalid) << none;
    QTest::newRow("add typed with raw spaces")
        << "vyoshelf://add?path=" + m_home + "/내 문서/메모 1.txt" << int(Kind::add)
        << QStringList{"내 문서/메모 1.txt"};
    QTest::newRow("add typed with tilde, spaces and a lone percent")
        << "vyoshelf://add?path=~/내 문서/메모 1.txt&path=~/100%.txt" << int(Kind::add)
        << QStringList{"내 문서/메모 1.txt", "100%.txt"};
    QTest::newRow("add typed climbing path")
        << "vyoshelf://add?path=~/내 문서/../a b.txt" << int(Kind::invalid) << none;
    QTest::newRow("unknown host") << "vyoshelf://delete" << int(Kind::invalid) << none;
    QTest::newRow("no host") << "vyoshelf:new" << int(Kind::invalid) << none;
    QTest::newRow("other scheme") << "https://new" << int(Kind::invalid) << none;
    QTest::newRow("empty") << "" << int(Kind::invalid) << none;
}

void TestURLCommand::parse()
{
    QFETCH(QString, url);
    QFETCH(int, kind);
    QFETCH(QStringList, files);
    const URLCommand command = URLCommand::parse(url);
    QCOMPARE(int(command.kind), kind);
    QList<QUrl> expected;
    for (const QString &file : files)
        expected.append(QUrl::fromLocalFile(m_home + "/" + file));
    QCOMPARE(command.files, expected);
}

void TestURLCommand::hugeAddressIsRefused()
{
    const QString huge = "vyoshelf://add?" + QString("path=~/a%20b.txt&").repeated(10000);
    QCOMPARE(URLCommand::parse(huge).kind, Kind::invalid);
}

QTEST_MAIN(TestURLCommand)
#include "tst_urlcommand.moc"
