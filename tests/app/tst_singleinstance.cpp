// One copy per user, even where no lock can be made (forwarding between real copies is
// tst_appprocess's).

#include "app/SingleInstance.h"

#include "TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace vyo;

class TestSingleInstance : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void folderWithoutLocksStillRuns();
};

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
