// The settings and welcome windows on the test display: panes and their switches against the
// stored preferences, start at login through the autostart entry (also refused and odd entries),
// the licences sheet, the welcome window's shortcut row, and with the real application the
// welcome once per user and settings shown when Vyo is started again. Screenshots of the general
// and about panes, the licences and the welcome window go to VYO_ARTIFACTS.

#include "core/Defaults.h"
#include "platform/LoginItem.h"
#include "platform/fake/FakeDesktop.h"
#include "settings/AboutPane.h"
#include "settings/GeneralPane.h"
#include "settings/LicensesSheet.h"
#include "settings/SettingsComponents.h"
#include "settings/SettingsWindow.h"
#include "settings/SettingsWindowController.h"
#include "settings/WelcomeView.h"
#include "shortcuts/KeyboardShortcuts.h"
#include "update/Updater.h"

#include "AppSupport.h"
#include "ChildProcess.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <unistd.h>

using namespace vyo;
using test::child;

namespace {

const QString refusedPrefix = QStringLiteral("설정을 바꾸지 못했어요: ");

void saveShot(QWidget *widget, const QString &name)
{
    QDir().mkpath(VYO_ARTIFACTS);
    QVERIFY(widget->grab().save(QString(VYO_ARTIFACTS) + "/settings-" + name + ".png"));
}

QString labelText(const QWidget *parent, const QString &row, const QString &part = "detail")
{
    const QWidget *rowWidget = parent->findChild<QWidget *>(row);
    return rowWidget ? rowWidget->findChild<QLabel *>(part)->text() : QString();
}

} // namespace

class TestSettingsWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void sidebarSelectsPanesAndKeepsThemOnTheNextShow();
    void generalSwitchesWritePreferences_data();
    void generalSwitchesWritePreferences();
    void loginItemOnOffAndRefused_data();
    void loginItemOnOffAndRefused();
    void oddAutostartEntries_data();
    void oddAutostartEntries();
    void aboutPaneLinksAndLicences();
    void aboutPaneFollowsTheUpdater();
    void welcomeKeyboardRowFollowsTheShortcut();
    void welcomeOnceAndStartingAgainShowsSettings();

private:
    SettingsWindow *showSettings();
    QString entryPath() const { return LoginItem::defaultPath(); }

    std::unique_ptr<FakeDesktop> m_desktop;
};

void TestSettingsWindow::initTestCase()
{
    // The tests remove and write the autostart entry and preferences: only in the private
    // folders that scripts/run-test.sh makes.
    if (!qEnvironmentVariableIsSet("VYO_TEST_HARNESS"))
        QFAIL("run through ctest (scripts/run-test.sh), never in the user's own folders");
    m_desktop = std::make_unique<FakeDesktop>();
    Defaults::shared().registerDefaults();
}

void TestSettingsWindow::init()
{
    QDir(QFileInfo(entryPath()).absolutePath()).removeRecursively();
}

SettingsWindow *TestSettingsWindow::showSettings()
{
    SettingsWindowController::shared().showSettings();
    SettingsWindow *window = SettingsWindowController::shared().settingsWindow();
    if (window && !QTest::qWaitForWindowExposed(window))
        return nullptr;
    return window;
}

void TestSettingsWindow::sidebarSelectsPanesAndKeepsThemOnTheNextShow()
{
    SettingsWindow *window = showSettings();
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), "Vyo 설정");
    QCOMPARE(window->size(), QSize(720, 560));
    QCOMPARE(child<QLabel>(window, "versionLabel")->text(), "Vyo " + QString(VYO_VERSION));
    QTRY_COMPARE(QApplication::activeWindow(), window);

    auto *sidebar = child<QListWidget>(window, "sidebar");
    const QStringList titles = {"일반", "흔들기", "폴더 감시", "보내기", "Vyo 정보"};
    QCOMPARE(sidebar->count(), titles.size());
    for (int row = 0; row < titles.size(); ++row) {
        QListWidgetItem *item = sidebar->item(row);
        QCOMPARE(sidebar->itemWidget(item)->findChild<QLabel *>("title")->text(), titles[row]);
        QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {},
                          sidebar->visualItemRect(item).center());
        QCOMPARE(window->selection(), allSettingsPanes()[row]);
        QWidget *view = window->paneView(allSettingsPanes()[row]);
        QVERIFY(view && view->isVisible());
        QCOMPARE(child<QLabel>(view, "paneTitle")->text(), titles[row]);
    }

    // Closing hides; the next show is the same window on the same pane, where it was left.
    window->move(window->pos() + QPoint(30, 20));
    QTRY_COMPARE(Defaults::shared().value(SettingsWindow::positionKey).toPoint(), window->pos());
    window->close();
    QVERIFY(!window->isVisible());
    QCOMPARE(showSettings(), window);
    QCOMPARE(window->selection(), SettingsPane::about);
    QCOMPARE(sidebar->currentRow(), 4);
}

void TestSettingsWindow::generalSwitchesWritePreferences_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("restoreShelves") << DefaultsKey::restoreShelves;
    QTest::newRow("removeAfterDragOut") << DefaultsKey::removeAfterDragOut;
    QTest::newRow("notchDropEnabled") << DefaultsKey::notchDropEnabled;
}

void TestSettingsWindow::generalSwitchesWritePreferences()
{
    QFETCH(QString, key);
    SettingsWindow *window = showSettings();
    window->select(SettingsPane::general);
    QWidget *pane = window->paneView(SettingsPane::general);
    // Linux screens get the virtual notch, so the row says what a drop there does.
    QCOMPARE(labelText(pane, "notchRow"),
             "파일을 화면 위 노치로 끌어다 놓으면 바로 아래에 셸프가 열려요.");
    auto *control = child<SwitchControl>(pane, key);
    Defaults &defaults = Defaults::shared();
    const bool before = defaults.boolValue(key);
    QCOMPARE(control->isChecked(), before);
    QTest::mouseClick(control, Qt::LeftButton);
    QCOMPARE(defaults.boolValue(key), !before);
    // A change from elsewhere shows at once.
    defaults.setValue(key, before);
    QCOMPARE(control->isChecked(), before);
    QVERIFY(child<QWidget>(pane, "recorder_newShelf"));
    QVERIFY(child<QWidget>(pane, "recorder_reopenShelf"));
    if (key == DefaultsKey::notchDropEnabled)
        saveShot(window, "general");
}

void TestSettingsWindow::loginItemOnOffAndRefused_data()
{
    // How the autostart folder is kept from Vyo: its permissions (which root ignores) or a file
    // in its place.
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("read-only folder") << true;
    QTest::newRow("a file where the folder goes") << false;
}

void TestSettingsWindow::loginItemOnOffAndRefused()
{
    QFETCH(bool, readOnly);
    if (readOnly && geteuid() == 0)
        QSKIP("root writes into read-only folders");
    SettingsWindow *window = showSettings();
    window->select(SettingsPane::general);
    QWidget *pane = window->paneView(SettingsPane::general);
    auto *control = child<SwitchControl>(pane, "launchAtLogin");
    auto *error = child<QLabel>(pane, "launchAtLoginError");
    QVERIFY(!control->isChecked());

    QTest::mouseClick(control, Qt::LeftButton);
    QVERIFY(control->isChecked());
    QFile entry(entryPath());
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    QVERIFY2(text.contains("\nExec=" + QCoreApplication::applicationFilePath() + "\n"),
             qPrintable(text));
    QVERIFY(LoginItem().isEnabled());
    QTest::mouseClick(control, Qt::LeftButton);
    QVERIFY(!QFileInfo::exists(entryPath()));
    QVERIFY(error->isHidden());

    // Vyo cannot write the entry: the switch goes back, the reason shows in red.
    const QString folder = QFileInfo(entryPath()).absolutePath();
    QDir(folder).removeRecursively();
    if (readOnly) {
        QVERIFY(QDir().mkpath(folder));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    } else {
        QVERIFY(test::writeFile(folder, "not a folder"));
    }
    QTest::mouseClick(control, Qt::LeftButton);
    QVERIFY(!control->isChecked());
    QVERIFY(error->isVisible());
    QVERIFY2(error->text().startsWith(refusedPrefix), qPrintable(error->text()));
    QCOMPARE(error->palette().color(QPalette::WindowText), tintColor(Tint::red));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!readOnly)
        QVERIFY(QFile::remove(folder));
    // A later success clears the message.
    QTest::mouseClick(control, Qt::LeftButton);
    QVERIFY(control->isChecked());
    QVERIFY(error->isHidden());
    QTest::mouseClick(control, Qt::LeftButton);
}

void TestSettingsWindow::oddAutostartEntries_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("unreadable"); // "", "permissions" or "folder"
    QTest::addColumn<bool>("enabled");
    const QByteArray head = "[Desktop Entry]\nType=Application\nExec=vyo\n";
    QTest::newRow("written by hand") << head << "" << true;
    QTest::newRow("Hidden=true") << head + "Hidden=true\n"
                                 << "" << false;
    QTest::newRow("Hidden=false") << head + "Hidden=false\n"
                                  << "" << true;
    QTest::newRow("GNOME disabled") << head + "X-GNOME-Autostart-enabled = false\n"
                                    << "" << false;
    QTest::newRow("key of another group") << head + "[Desktop Action x]\nHidden=true\n"
                                          << "" << true;
    QTest::newRow("no entry group") << QByteArray("Exec=vyo\n") << "" << false;
    QTest::newRow("no read permission") << head << "permissions" << false;
    QTest::newRow("a folder in its place") << QByteArray() << "folder" << false;
}

void TestSettingsWindow::oddAutostartEntries()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, unreadable);
    QFETCH(bool, enabled);
    if (unreadable == "permissions" && geteuid() == 0)
        QSKIP("root reads files without read permission");
    const QString kept = unreadable == "folder" ? entryPath() + "/kept" : entryPath();
    QVERIFY(test::writeFile(kept, text));
    if (unreadable == "permissions")
        QFile::setPermissions(entryPath(), QFile::WriteOwner);
    GeneralPane pane;
    pane.show();
    auto *control = child<SwitchControl>(&pane, "launchAtLogin");
    QCOMPARE(control->isChecked(), enabled);

    QTest::mouseClick(control, Qt::LeftButton);
    if (unreadable.isEmpty()) {
        QCOMPARE(control->isChecked(), !enabled);
        QCOMPARE(LoginItem().isEnabled(), !enabled);
        return;
    }
    // An entry Vyo cannot read is left as it is, and the user is told.
    QVERIFY(!control->isChecked());
    QVERIFY(child<QLabel>(&pane, "launchAtLoginError")->text().startsWith(refusedPrefix));
    QFile::setPermissions(entryPath(), QFile::ReadOwner | QFile::WriteOwner);
    QFile entry(kept);
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QCOMPARE(entry.readAll(), text);
}

void TestSettingsWindow::aboutPaneLinksAndLicences()
{
    SettingsWindow *window = showSettings();
    window->select(SettingsPane::about);
    auto *pane = qobject_cast<AboutPane *>(
        window->paneView(SettingsPane::about)->findChild<AboutPane *>("aboutPane"));
    QVERIFY(pane);
    QCOMPARE(child<QLabel>(pane, "versionLine")->text(),
             QString("버전 %1 (%2)").arg(VYO_VERSION, VYO_BUILD));
    QVERIFY(!child<SwitchControl>(pane, "automaticUpdates")->isEnabled());
    QVERIFY(!child<QPushButton>(pane, "checkNow")->isEnabled());
    QList<QUrl> opened;
    pane->openURL = [&opened](const QUrl &url) { opened.append(url); };
    QTest::mouseClick(child<QWidget>(pane, "webSiteRow"), Qt::LeftButton);
    QCOMPARE(opened, QList<QUrl>{QUrl(VYO_WEBSITE)});
    saveShot(window, "about");

    QTest::mouseClick(child<QWidget>(pane, "licensesRow"), Qt::LeftButton);
    LicensesSheet *sheet = pane->licensesSheet();
    QVERIFY(sheet && QTest::qWaitForWindowExposed(sheet));
    QCOMPARE(sheet->size(), QSize(480, 560));
    // Every library Vyo links or ships is named with its licence.
    const QStringList named = {
        "Qt 6",          "LGPL-3.0",    "zlib",        "OpenSSL", "Apache-2.0",
        "tg_owt",        "libsrtp",     "libyuv",      "Abseil",  "Tesseract",
        "kor",           "Leptonica",   "qpdf",        "Poppler", "GPL-2.0-or-later",
        "libheif",       "libqrencode", "LGPL-2.1",    "libxcb",  "libX11",
        "@noble/hashes", "MIT",         "BSD-3-Clause"};
    for (const QString &name : named)
        QVERIFY2(sheet->text().contains(name), qPrintable(name));
    saveShot(sheet, "licences");
    QTest::keyClick(sheet, Qt::Key_Return);
    QTRY_VERIFY(!sheet->isVisible());

    QCOMPARE(LicensesSheet(QDir::temp().filePath("missing/Acknowledgements.txt")).text(),
             "라이선스 정보를 찾을 수 없어요.");
}

void TestSettingsWindow::aboutPaneFollowsTheUpdater()
{
    // A feed on loopback that is never asked: the first scheduled check waits a minute.
    Updater::Configuration configuration;
    configuration.feedUrl = QUrl("http://127.0.0.1:9/appcast.xml");
    configuration.publicKey = QByteArray(32, '\0').toBase64();
    configuration.currentVersion = VYO_VERSION;
    Updater updater(configuration, Defaults::shared());
    AboutPane pane(updater);
    auto *automatic = child<SwitchControl>(&pane, "automaticUpdates");
    auto *checkNow = child<QPushButton>(&pane, "checkNow");
    QVERIFY(!automatic->isEnabled() && !checkNow->isEnabled());

    updater.start();
    QVERIFY(automatic->isEnabled() && automatic->isChecked() && checkNow->isEnabled());
    automatic->click();
    QVERIFY(!updater.automaticallyChecksForUpdates());
    QVERIFY(!Defaults::shared().value(DefaultsKey::automaticallyChecksForUpdates).toBool());
}

void TestSettingsWindow::welcomeKeyboardRowFollowsTheShortcut()
{
    auto &shortcuts = KeyboardShortcuts::Registry::shared();
    const auto &newShelf = KeyboardShortcuts::Name::newShelf();
    shortcuts.reset(newShelf);
    SettingsWindowController::shared().showWelcome();
    WelcomeView *welcome = SettingsWindowController::shared().welcomeWindow();
    QVERIFY(welcome && QTest::qWaitForWindowExposed(welcome));
    QCOMPARE(labelText(welcome, "featureRow_keyboard"),
             "Ctrl+Alt+M 키를 누르면 커서 옆에 빈 셸프가 열립니다.");
    QCOMPARE(labelText(welcome, "featureRow_tray"),
             "알림 영역의 Vyo 아이콘에서 셸프와 설정을 열 수 있습니다.");
    const QRect available = welcome->screen()->availableGeometry();
    QVERIFY(qAbs(welcome->frameGeometry().center().x() - available.center().x()) < 20);
    saveShot(welcome, "welcome");

    shortcuts.setShortcut(std::nullopt, newShelf);
    QCOMPARE(labelText(welcome, "featureRow_keyboard"),
             "설정에서 새 셸프 단축키를 지정할 수 있습니다.");
    shortcuts.reset(newShelf);

    QTest::mouseClick(child<QWidget>(welcome, "startButton"), Qt::LeftButton);
    QVERIFY(!welcome->isVisible());
    SettingsWindowController::shared().showWelcome();
    QCOMPARE(SettingsWindowController::shared().welcomeWindow(), welcome);
    welcome->close();
}

void TestSettingsWindow::welcomeOnceAndStartingAgainShowsSettings()
{
    QTemporaryDir root;
    const QProcessEnvironment environment = test::applicationEnvironment(root.path(), "xcb");
    const QString launched = "최근 닫은 셸프 0개 복원";
    {
        test::ChildProcess first(VYO_BINARY, {}, environment);
        QVERIFY2(first.waitForOutput("환영 창 보여 줌"), qPrintable(first.output()));
        // Started again with nothing to open: this copy says so and leaves; the first one shows
        // its settings window.
        test::ChildProcess again(VYO_BINARY, {}, environment);
        QVERIFY(again.waitForExit());
        QVERIFY(again.output().contains(QString("이미 실행 중인 Vyo(pid %1)").arg(first.pid())));
        QVERIFY2(first.waitForOutput("설정 창 보여 줌"), qPrintable(first.output()));
        QTRY_VERIFY_WITH_TIMEOUT(
            !test::xdotoolOutput({"search", "--onlyvisible", "--name", "^Vyo 설정$"}).isEmpty(),
            10000);
    }
    test::ChildProcess second(VYO_BINARY, {}, environment);
    QVERIFY(second.waitForOutput(launched));
    test::ChildProcess again(VYO_BINARY, {}, environment);
    QVERIFY(again.waitForExit());
    QVERIFY(second.waitForOutput("설정 창 보여 줌"));
    QVERIFY2(!second.output().contains("환영 창"), qPrintable(second.output()));
}

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
