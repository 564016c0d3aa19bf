// The toolkit on a Linux desktop: the platform asked for on Wayland sessions, Qt's own dialog
// texts in Korean from the installed translations, and the dialogs shown for real, a person's
// answers typed in.

#include "platform/Toolkit.h"
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

class TestToolkit : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void preferX11Platform_data();
    void preferX11Platform();
    void standardButtonsSpeakKorean();
    void saveDialogShowsTheRequest();
    void alertIsShownWithoutBlocking();

private:
    QTemporaryDir m_dir;
    WidgetDialogs m_dialogs;
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

void TestToolkit::saveDialogShowsTheRequest()
{
    QObject context;
    std::optional<std::optional<QString>> answer;
    const auto record = [&answer](std::optional<QString> path) { answer = path; };
    m_dialogs.askForSavePath(request(m_dir.path()), &context, record);
    QFileDialog *dialog = nullptr;
    QTRY_VERIFY((dialog = visibleTopLevel<QFileDialog>(QStringLiteral("saveDialog"))));
    auto *message = dialog->findChild<QLabel *>(QStringLiteral("saveMessage"));
    QVERIFY(message && message->isVisible());
    QCOMPARE(message->text(),
             QStringLiteral("윈도우에서도 한글 파일 이름이 깨지지 않는 ZIP으로 저장합니다."));
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
    m_dialogs.askForSavePath(request(m_dir.path()), &context, record);
    QTRY_VERIFY((dialog = visibleTopLevel<QFileDialog>(QStringLiteral("saveDialog"))));
    dialog->reject();
    QTRY_VERIFY(answer.has_value());
    QVERIFY(!answer->has_value());
}

void TestToolkit::alertIsShownWithoutBlocking()
{
    m_dialogs.showAlert({QStringLiteral("ZIP을 만들지 못했어요"),
                         QStringLiteral("ZIP은 4GB까지 만들 수 있습니다.")});
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = visibleTopLevel<QMessageBox>(QStringLiteral("alert"))));
    QCOMPARE(box->text(), QStringLiteral("ZIP을 만들지 못했어요"));
    QCOMPARE(box->informativeText(), QStringLiteral("ZIP은 4GB까지 만들 수 있습니다."));
    QPointer<QMessageBox> guard(box);
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    QTRY_VERIFY(!guard);
}

QTEST_MAIN(TestToolkit)
#include "tst_toolkit.moc"
