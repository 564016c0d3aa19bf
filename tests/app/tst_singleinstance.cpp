// One copy per user: the lock and socket in the runtime folder, forwarding to the copy that holds
// them, and a folder where no lock can be made.

#include "app/SingleInstance.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vyo;

class TestSingleInstance : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void laterCopyForwardsToTheFirst();
    void folderWithoutLocksStillRuns();
};

void TestSingleInstance::laterCopyForwardsToTheFirst()
{
    QTemporaryDir dir;
    SingleInstance first(dir.path());
    QVERIFY(first.claim());
    QSignalSpy received(&first, &SingleInstance::messagesReceived);

    SingleInstance second(dir.path());
    QVERIFY(!second.claim());
    QCOMPARE(second.otherProcessId(), QCoreApplication::applicationPid());
    QVERIFY(second.forward({"vyoshelf://new", "vyoshelf://reopen"}));
    QTRY_COMPARE(received.size(), 1);
    QCOMPARE(received.first().first().toStringList(),
             QStringList({"vyoshelf://new", "vyoshelf://reopen"}));
}

void TestSingleInstance::folderWithoutLocksStillRuns()
{
    // Below a regular file no folder, lock or socket can ever be made.
    QTemporaryDir dir;
    QVERIFY(test::writeFile(dir.filePath("file"), "x"));
    test::LogCapture log;
    SingleInstance instance(dir.filePath("file/runtime"));
    QVERIFY(instance.claim());
    QVERIFY(log.contains("실행 잠금 파일을 만들 수 없어 다른 Vyo를 확인하지 못함: "));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
