// Start-up, single instance, URL forwarding, the welcome once and quit-save with the real
// application binary; and one copy per user even where no lock can be made.

#include "app/SingleInstance.h"
#include "shelf/ShelfPersistence.h"

#include "ChildProcess.h"
#include "TestSupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using namespace vyo;

namespace {

// One running copy of the application with its output collected.
class App : public test::ChildProcess
{
public:
    explicit App(const QProcessEnvironment &environment, const QStringList &arguments = {})
        : ChildProcess(QStringLiteral(VYO_BINARY), arguments, environment)
    {}
};

const QString launched = QStringLiteral("최근 닫은 셸프 0개 복원");

} // namespace

class TestAppProcess : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void secondCopyForwardsUrlsAndLeavesStateAlone();
    void crashedCopyAndCorruptStateNeverStopLaunchAndQuitSavesAtOnce();
    void xdgOpenReachesRunningCopy();
    void folderWithoutLocksStillRuns();

private:
    QString statePath() const { return m_root->filePath("data/Vyo/shelves.json"); }
    QString file(const QString &name) const { return m_root->filePath("home/" + name); }

    std::unique_ptr<QTemporaryDir> m_root;
    QProcessEnvironment m_environment;
};

void TestAppProcess::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    m_environment = test::applicationEnvironment(m_root->path(), "offscreen");
    QVERIFY(!m_environment.isEmpty());
    QVERIFY(test::writeFile(file("보고서.pdf"), "pdf"));
}

void TestAppProcess::cleanup()
{
    m_root.reset();
}

void TestAppProcess::secondCopyForwardsUrlsAndLeavesStateAlone()
{
    App first(m_environment);
    QVERIFY2(first.waitForOutput(launched), qPrintable(first.output()));

    App second(m_environment, {"vyoshelf://add?path=~/%EB%B3%B4%EA%B3%A0%EC%84%9C.pdf",
                               "vyoshelf://nonsense", "VYOSHELF://NEW"});
    QVERIFY(second.waitForExit());
    QCOMPARE(second.exitCode(), 0);
    QVERIFY2(first.waitForOutput("셸프 열림 (열린 셸프 2개)"), qPrintable(first.output()));

    // Once the debounced save has landed, a copy with nothing to forward must not touch the file.
    // The first copy is held stopped meanwhile, so that no later save of its own can either.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(statePath()), 5000);
    first.signal(SIGSTOP);
    QFile state(statePath());
    QVERIFY(state.open(QIODevice::ReadOnly));
    const QByteArray before = state.readAll();
    const QDateTime modified = QFileInfo(statePath()).lastModified();

    App third(m_environment);
    QVERIFY(third.waitForExit());
    QCOMPARE(third.exitCode(), 0);
    QVERIFY2(third.output().contains(
                 QString("이미 실행 중인 Vyo(pid %1)가 있어 종료합니다").arg(first.pid())),
             qPrintable(third.output()));
    QCOMPARE(QFileInfo(statePath()).lastModified(), modified);
    state.seek(0);
    QCOMPARE(state.readAll(), before);
    first.signal(SIGCONT);
    // The running copy shows its settings instead.
    QVERIFY2(first.waitForOutput("설정 창 보여 줌"), qPrintable(first.output()));

    const auto saved = ShelfPersistence(statePath()).load();
    QCOMPARE(saved.open.size(), 1); // the empty "new" shelf is not stored
    QCOMPARE(saved.open.first().items.first().url, QUrl::fromLocalFile(file("보고서.pdf")));
}

void TestAppProcess::crashedCopyAndCorruptStateNeverStopLaunchAndQuitSavesAtOnce()
{
    // A broken state file, and a copy killed after reading it leaving its lock behind.
    QVERIFY(test::writeFile(statePath(), "{\"open\": [ {\"broken\""));
    {
        App crashed(m_environment);
        QVERIFY(crashed.waitForOutput("셸프 저장 파일을 읽지 못함, 빈 상태로 시작: "));
        QVERIFY(crashed.waitForOutput(launched));
        QVERIFY(crashed.waitForOutput("환영 창 보여 줌"));
        crashed.signal(SIGKILL);
        QVERIFY(crashed.waitForExit());
    }
    QVERIFY(QFileInfo::exists(m_root->filePath("runtime/vyo.lock")));
    App next(m_environment);
    QVERIFY2(next.waitForOutput(launched), qPrintable(next.output()));
    App sender(m_environment, {"vyoshelf://add?path=" + file("보고서.pdf")});
    QVERIFY(sender.waitForExit());
    QVERIFY(next.waitForOutput("셸프 열림 (열린 셸프 1개)"));
    // The broken file was set aside; the debounced save is half a second away, so only the quit
    // can write the change now.
    QVERIFY(!QFileInfo::exists(statePath()));
    next.signal(SIGTERM);
    QVERIFY(next.waitForExit());
    QVERIFY2(next.exitStatus() == QProcess::NormalExit && next.exitCode() == 0,
             qPrintable(next.output()));
    const auto saved = ShelfPersistence(statePath()).load();
    QCOMPARE(saved.open.size(), 1);
    QCOMPARE(saved.open.first().title, "보고서.pdf");
    // The welcome shows once per user.
    QVERIFY2(!next.output().contains("환영 창"), qPrintable(next.output()));
}

void TestAppProcess::xdgOpenReachesRunningCopy()
{
    const QString xdgOpen = QStandardPaths::findExecutable("xdg-open");
    if (xdgOpen.isEmpty())
        QSKIP("xdg-open is not installed");
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("xdg-open hands addresses to applications only in a graphical session");
    App app(m_environment);
    QVERIFY(app.waitForOutput(launched));
    // Start-up registered the default handler for the scheme, which xdg-open asks.
    QProcess open;
    QProcessEnvironment environment = m_environment;
    environment.remove("XDG_CURRENT_DESKTOP");
    environment.remove("DESKTOP_SESSION");
    open.setProcessEnvironment(environment);
    open.start(xdgOpen, {"vyoshelf://new"});
    QVERIFY(open.waitForFinished(10000));
    QVERIFY2(app.waitForOutput("셸프 열림 (열린 셸프 1개)"),
             qPrintable(app.output() + QString::fromUtf8(open.readAll())));
}

void TestAppProcess::folderWithoutLocksStillRuns()
{
    // Below a regular file no folder, lock or socket can ever be made.
    QVERIFY(test::writeFile(m_root->filePath("file"), "x"));
    test::LogCapture log;
    SingleInstance instance(m_root->filePath("file/runtime"));
    QVERIFY(instance.claim());
    QVERIFY(log.contains("실행 잠금 파일을 만들 수 없어 다른 Vyo를 확인하지 못함: "));
}

QTEST_GUILESS_MAIN(TestAppProcess)
#include "tst_appprocess.moc"
