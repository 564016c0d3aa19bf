// The dialogs of a Linux session shown for real (a person's answers typed in), and the fake
// dialogs the other tests answer through.

#include "platform/fake/FakeDialogs.h"
#include "platform/linux/WidgetDialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace vyo;

namespace {

template <typename T> T *visibleTopLevel(const QString &objectName)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *found = qobject_cast<T *>(widget);
        if (found && found->isVisible() && found->objectName() == objectName)
            return found;
    }
    return nullptr;
}

Dialogs::SaveRequest request(const QString &directory)
{
    Dialogs::SaveRequest r;
    r.title = QStringLiteral("윈도우용 ZIP으로 저장");
    r.message = QStringLiteral("윈도우에서도 한글 파일 이름이 깨지지 않는 ZIP으로 저장합니다.");
    r.confirmText = QStringLiteral("저장");
    r.directory = directory;
    r.suggestedName = QStringLiteral("Vyo 파일 2개.zip");
    r.nameFilters = {QStringLiteral("ZIP 압축 파일 (*.zip)")};
    r.defaultSuffix = QStringLiteral("zip");
    return r;
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();

    void fakeAnswersSaveLater();
    void fakeAnswerIsUsedOnce();
    void fakeAnswersNothingOnceTheContextIsGone();
    void saveDialogShowsTheRequest();
    void alertIsShownWithoutBlocking();
    void fakeRecordsAlertsAndBeeps();

private:
    QTemporaryDir m_dir;
    WidgetDialogs m_dialogs;
    FakeDialogs m_fake;
};

void TestDialogs::cleanup()
{
    m_fake.clear();
    for (QWidget *widget : QApplication::topLevelWidgets())
        widget->close();
}

void TestDialogs::fakeAnswersSaveLater()
{
    m_fake.setNextSaveAnswer(QStringLiteral("/tmp/x.zip"));
    QObject context;
    std::optional<std::optional<QString>> answer;
    m_fake.askForSavePath(request(m_dir.path()), &context,
                          [&answer](std::optional<QString> path) { answer = path; });
    QVERIFY2(!answer, "a dialog answers later, never from inside the call");
    QTRY_VERIFY(answer.has_value());
    QCOMPARE(*answer, std::optional<QString>(QStringLiteral("/tmp/x.zip")));
    QCOMPARE(m_fake.saveRequests().size(), 1);
    QCOMPARE(m_fake.saveRequests().first().suggestedName, QStringLiteral("Vyo 파일 2개.zip"));

    // A cancelled dialog answers no path.
    m_fake.setNextSaveAnswer(std::nullopt);
    answer.reset();
    m_fake.askForSavePath(request(m_dir.path()), &context,
                          [&answer](std::optional<QString> path) { answer = path; });
    QTRY_VERIFY(answer.has_value());
    QVERIFY(!answer->has_value());
}

void TestDialogs::fakeAnswerIsUsedOnce()
{
    m_fake.setNextSaveAnswer(QStringLiteral("/tmp/x.zip"));
    QObject context;
    int answers = 0;
    const auto count = [&answers](std::optional<QString>) { ++answers; };
    m_fake.askForSavePath(request(m_dir.path()), &context, count);
    m_fake.askForSavePath(request(m_dir.path()), &context, count);
    QTRY_COMPARE(answers, 1);
    // The second request stays open, as a dialog waiting for the user would.
    QCoreApplication::processEvents();
    QCOMPARE(answers, 1);
    QCOMPARE(m_fake.saveRequests().size(), 2);
    QVERIFY(!visibleTopLevel<QFileDialog>(QStringLiteral("saveDialog")));
}

void TestDialogs::fakeAnswersNothingOnceTheContextIsGone()
{
    m_fake.setNextSaveAnswer(QStringLiteral("/tmp/x.zip"));
    bool called = false;
    {
        QObject context;
        m_fake.askForSavePath(request(m_dir.path()), &context,
                              [&called](std::optional<QString>) { called = true; });
    }
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QVERIFY(!called);
}

void TestDialogs::saveDialogShowsTheRequest()
{
    QObject context;
    std::optional<std::optional<QString>> answer;
    m_dialogs.askForSavePath(request(m_dir.path()), &context,
                             [&answer](std::optional<QString> path) { answer = path; });
    QFileDialog *dialog = nullptr;
    QTRY_VERIFY((dialog = visibleTopLevel<QFileDialog>(QStringLiteral("saveDialog"))));
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(dialog->directory().absolutePath(), QDir(m_dir.path()).absolutePath());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("윈도우용 ZIP으로 저장"));
    auto *message = dialog->findChild<QLabel *>(QStringLiteral("saveMessage"));
    QVERIFY(message);
    QVERIFY(message->isVisible());
    QCOMPARE(message->text(),
             QStringLiteral("윈도우에서도 한글 파일 이름이 깨지지 않는 ZIP으로 저장합니다."));
    auto *buttons = dialog->findChild<QDialogButtonBox *>();
    QVERIFY(buttons);
    QStringList buttonTexts;
    for (QAbstractButton *button : buttons->buttons())
        buttonTexts.append(button->text());
    QVERIFY2(buttonTexts.contains(QStringLiteral("저장")), qPrintable(buttonTexts.join(u", ")));
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QVERIFY(name);
    QCOMPARE(name->text(), QStringLiteral("Vyo 파일 2개.zip"));
    QVERIFY(!answer);

    // The user types a bare name and confirms: the suffix is added.
    name->setText(QStringLiteral("내 압축"));
    QTest::keyClick(name, Qt::Key_Return);
    QTRY_VERIFY(answer.has_value());
    QCOMPARE(*answer, std::optional<QString>(QDir(m_dir.path()).filePath("내 압축.zip")));

    // Asked again and cancelled: no path.
    answer.reset();
    m_dialogs.askForSavePath(request(m_dir.path()), &context,
                             [&answer](std::optional<QString> path) { answer = path; });
    QTRY_VERIFY((dialog = visibleTopLevel<QFileDialog>(QStringLiteral("saveDialog"))));
    dialog->reject();
    QTRY_VERIFY(answer.has_value());
    QVERIFY(!answer->has_value());
}

void TestDialogs::alertIsShownWithoutBlocking()
{
    m_dialogs.showAlert({QStringLiteral("ZIP을 만들지 못했어요"),
                         QStringLiteral("ZIP은 4GB까지 만들 수 있습니다.")});
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = visibleTopLevel<QMessageBox>(QStringLiteral("alert"))));
    QCOMPARE(box->text(), QStringLiteral("ZIP을 만들지 못했어요"));
    QCOMPARE(box->informativeText(), QStringLiteral("ZIP은 4GB까지 만들 수 있습니다."));
    QCOMPARE(box->windowModality(), Qt::ApplicationModal);
    QPointer<QMessageBox> guard(box);
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    QTRY_VERIFY(!guard);
}

void TestDialogs::fakeRecordsAlertsAndBeeps()
{
    m_fake.showAlert({QStringLiteral("a"), QStringLiteral("b")});
    m_fake.beep();
    QCOMPARE(m_fake.alerts().size(), 1);
    QCOMPARE(m_fake.alerts().first().informativeText, QStringLiteral("b"));
    QCOMPARE(m_fake.beeps(), 1);
    QCoreApplication::processEvents();
    QVERIFY(!visibleTopLevel<QMessageBox>(QStringLiteral("alert")));
    m_fake.clear();
    QVERIFY(m_fake.alerts().isEmpty());
    QCOMPARE(m_fake.beeps(), 0);
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
