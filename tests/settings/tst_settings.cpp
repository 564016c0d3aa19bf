// The settings window and its panes on the test display, worked by object name: the sidebar,
// the switches against the stored preferences, start at login through the autostart entry (also
// refused and odd entries), the licences sheet, the installed applications the shake pane offers,
// the watched folders, the share service check against a real service on 127.0.0.1.

#include "core/Defaults.h"
#include "logic/ShakeSensitivity.h"
#include "platform/IconTheme.h"
#include "platform/LoginItem.h"
#include "platform/fake/FakeDesktop.h"
#include "settings/AboutPane.h"
#include "settings/ApplicationChooser.h"
#include "settings/GeneralPane.h"
#include "settings/LicensesSheet.h"
#include "settings/SettingsComponents.h"
#include "settings/SettingsWindow.h"
#include "settings/SettingsWindowController.h"
#include "settings/ShakePane.h"
#include "settings/SharePane.h"
#include "settings/WatchPane.h"
#include "share/ShareCenter.h"
#include "shelf/ShelfManager.h"
#include "watch/WatchCenter.h"

#include "FakeShelfWindow.h"
#include "ServiceTestSupport.h"
#include "TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <unistd.h>

using namespace vyo;
namespace {

// The descendant of `parent` with this object name; null, with a warning, when there is none.
template <typename T = QObject> T *child(const QObject *parent, const QString &name)
{
    T *found = parent->findChild<T *>(name);
    if (!found)
        qWarning("no child named %s", qPrintable(name));
    return found;
}

QStringList labelsNamed(QWidget *parent, const QString &name)
{
    QStringList texts;
    for (QLabel *label : parent->findChildren<QLabel *>(name))
        texts.append(label->text());
    return texts;
}

// Desktop entries below a user folder ("home") and a system folder ("system").
const std::pair<const char *, const char *> entries[] = {
    {"system/good.desktop",
     "[Desktop Entry]\nType=Application\nName=Good\nName[ko]=좋은 앱\nIcon=folder\nExec=good\n"},
    {"system/org.example.Viewer.desktop",
     "# comment\n[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer\n\n[Desktop Action "
     "New]\nName=New\n"},
    {"system/Term.desktop",
     "[Desktop Entry]\nType=Application\nName=Term\\sinal\nStartupWMClass=XTerm\n"},
    {"system/kde/tool.desktop", "[Desktop Entry]\nType=Application\nName=Tool\n"},
    {"system/hidden.desktop", "[Desktop Entry]\nType=Application\nName=Hidden\nHidden=true\n"},
    {"system/badutf8.desktop", "[Desktop Entry]\nType=Application\nName=\xff\xfe\n"},
    // The user's own entry of the same id hides the system's.
    {"home/shadowed.desktop", "[Desktop Entry]\nType=Application\nName=Mine\nHidden=true\n"},
    {"system/shadowed.desktop", "[Desktop Entry]\nType=Application\nName=Theirs\n"},
};

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void settingsWindowGeneralAndAboutPanes();
    void oddAutostartEntries_data();
    void oddAutostartEntries();

    void shakePane();
    void watchPane();
    void sharePane();
    void serviceAddress_data();
    void serviceAddress();

private:
    SettingsWindow *showSettings();
    QString entryPath() const { return LoginItem::defaultPath(); }

    QTemporaryDir m_entries;
    std::unique_ptr<FakeDesktop> m_desktop;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Defaults> m_defaults;
};

void TestSettings::initTestCase()
{
    // The tests remove and write the autostart entry and preferences: only in the private
    // folders that scripts/run-test.sh makes.
    if (!qEnvironmentVariableIsSet("VYO_TEST_HARNESS"))
        QFAIL("run through ctest (scripts/run-test.sh), never in the user's own folders");
    ensureIconTheme();
    // Icons keep coming from the system's themes once the data folders point at the test's.
    QIcon::setThemeSearchPaths(QIcon::themeSearchPaths());
    for (const auto &[path, text] : entries) {
        const QString folder = QString(path).section('/', 0, 0);
        const QString file = QString(path).section('/', 1);
        QVERIFY(test::writeFile(m_entries.filePath(folder + "/applications/" + file), text));
    }
    // The panes ask the session's folders.
    qputenv("XDG_DATA_HOME", m_entries.filePath("home").toLocal8Bit());
    qputenv("XDG_DATA_DIRS", m_entries.filePath("system").toLocal8Bit());
    m_desktop = std::make_unique<FakeDesktop>();
    Defaults::shared().registerDefaults();
}

void TestSettings::init()
{
    QDir(QFileInfo(entryPath()).absolutePath()).removeRecursively();
    m_dir = std::make_unique<QTemporaryDir>();
    m_defaults = std::make_unique<Defaults>(m_dir->filePath("Vyo.conf"));
    m_defaults->registerDefaults();
    m_desktop->dialogs().clear();
}

void TestSettings::cleanup()
{
    m_defaults.reset();
    m_dir.reset();
}

SettingsWindow *TestSettings::showSettings()
{
    SettingsWindowController::shared().showSettings();
    SettingsWindow *window = SettingsWindowController::shared().settingsWindow();
    if (window && !QTest::qWaitForWindowExposed(window))
        return nullptr;
    return window;
}

void TestSettings::settingsWindowGeneralAndAboutPanes()
{
    SettingsWindow *window = showSettings();
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), "Vyo 설정");
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

    window->select(SettingsPane::general);
    QWidget *pane = window->paneView(SettingsPane::general);
    Defaults &defaults = Defaults::shared();
    for (const char *key : {DefaultsKey::restoreShelves, DefaultsKey::removeAfterDragOut,
                            DefaultsKey::notchDropEnabled}) {
        auto *control = child<SwitchControl>(pane, key);
        const bool before = defaults.boolValue(key);
        QCOMPARE(control->isChecked(), before);
        QTest::mouseClick(control, Qt::LeftButton);
        QCOMPARE(defaults.boolValue(key), !before);
        // A change from elsewhere shows at once.
        defaults.setValue(key, before);
        QCOMPARE(control->isChecked(), before);
    }

    // Start at login: the entry written and removed (refusals are oddAutostartEntries').
    auto *control = child<SwitchControl>(pane, "launchAtLogin");
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

    // The about pane: version, the web site and the licences sheet.
    window->select(SettingsPane::about);
    auto *about = window->paneView(SettingsPane::about)->findChild<AboutPane *>("aboutPane");
    QVERIFY(about);
    QCOMPARE(child<QLabel>(about, "versionLine")->text(),
             QString("버전 %1 (%2)").arg(VYO_VERSION, VYO_BUILD));
    QList<QUrl> opened;
    about->openURL = [&opened](const QUrl &url) { opened.append(url); };
    QTest::mouseClick(child<QWidget>(about, "webSiteRow"), Qt::LeftButton);
    QCOMPARE(opened, QList<QUrl>{QUrl(VYO_WEBSITE)});

    QTest::mouseClick(child<QWidget>(about, "licensesRow"), Qt::LeftButton);
    LicensesSheet *sheet = about->licensesSheet();
    QVERIFY(sheet && QTest::qWaitForWindowExposed(sheet));
    // Every library Vyo links or ships is named with its licence.
    const QStringList named = {
        "Qt 6",          "LGPL-3.0",    "zlib",        "OpenSSL", "Apache-2.0",
        "tg_owt",        "libsrtp",     "libyuv",      "Abseil",  "Tesseract",
        "kor",           "Leptonica",   "qpdf",        "Poppler", "GPL-2.0-or-later",
        "libheif",       "libqrencode", "LGPL-2.1",    "libxcb",  "libX11",
        "@noble/hashes", "MIT",         "BSD-3-Clause"};
    for (const QString &name : named)
        QVERIFY2(sheet->text().contains(name), qPrintable(name));
    QTest::keyClick(sheet, Qt::Key_Return);
    QTRY_VERIFY(!sheet->isVisible());
}

void TestSettings::oddAutostartEntries_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("unreadable"); // "", "permissions" or "folder"
    QTest::addColumn<bool>("enabled");
    const QByteArray head = "[Desktop Entry]\nType=Application\nExec=vyo\n";
    QTest::newRow("Hidden=true") << head + "Hidden=true\n"
                                 << "" << false;
    QTest::newRow("no read permission") << head << "permissions" << false;
    QTest::newRow("a folder in its place") << QByteArray() << "folder" << false;
}

void TestSettings::oddAutostartEntries()
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
    QVERIFY(
        child<QLabel>(&pane, "launchAtLoginError")->text().startsWith("설정을 바꾸지 못했어요: "));
    QFile::setPermissions(entryPath(), QFile::ReadOwner | QFile::WriteOwner);
    QFile entry(kept);
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QCOMPARE(entry.readAll(), text);
}

void TestSettings::shakePane()
{
    m_defaults->setValue(DefaultsKey::excludedBundleIDs, QStringList{"gone.app"});
    ShakePane pane(*m_defaults);
    pane.show();
    auto *label = child<SettingLabel>(&pane, "sensitivityLabel");
    QVERIFY(label);
    QCOMPARE(label->detail(), ShakeSensitivity(ShakeSensitivity::medium).description());
    for (const ShakeSensitivity::Value value : ShakeSensitivity::allCases) {
        QTest::mouseClick(child<QPushButton>(&pane, QString("sensitivity%1").arg(int(value))),
                          Qt::LeftButton);
        QCOMPARE(m_defaults->shakeSensitivity(), int(value));
        QCOMPARE(label->detail(), ShakeSensitivity(value).description());
    }
    auto *enabled = child<QAbstractButton>(&pane, "shakeEnabledSwitch");
    QVERIFY(enabled->isChecked());
    enabled->click();
    QCOMPARE(m_defaults->shakeEnabled(), false);

    // An application no longer installed shows its identifier.
    QCOMPARE(labelsNamed(&pane, "excludedAppName"), QStringList{"gone.app"});

    // "앱 추가…" offers the installed applications by name (not hidden or undecodable entries,
    // nor one the user's own entry hides), chosen by the ids their entries give.
    QTest::mouseClick(child<QPushButton>(&pane, "addApplicationButton"), Qt::LeftButton);
    ApplicationChooser *chooser = nullptr;
    QTRY_VERIFY((chooser = pane.findChild<ApplicationChooser *>()) && chooser->isVisible());
    auto *list = child<QListWidget>(chooser, "applicationList");
    QStringList names;
    for (int row = 0; row < list->count(); ++row) {
        names.append(list->item(row)->text());
        list->item(row)->setSelected(true);
    }
    QCOMPARE(names, (QStringList{"Term inal", "Tool", "Viewer", "좋은 앱"}));
    QTest::mouseClick(child<QPushButton>(chooser, "chooseApplicationsButton"), Qt::LeftButton);
    QTRY_VERIFY(!pane.findChild<ApplicationChooser *>());
    QCOMPARE(m_defaults->excludedBundleIDs(),
             (QStringList{"gone.app", "xterm", "kde-tool", "org.example.Viewer", "good"}));
    QCOMPARE(labelsNamed(&pane, "excludedAppName"),
             (QStringList{"gone.app", "Term inal", "Tool", "Viewer", "좋은 앱"}));

    // "제거" on a row.
    auto *row = pane.findChild<ExcludedAppRow *>("excludedAppRow");
    QVERIFY(row);
    const QString id = row->bundleID();
    child<QPushButton>(row, "removeExcludedButton")->click();
    QTRY_COMPARE(m_defaults->excludedBundleIDs().size(), 4);
    QVERIFY(!m_defaults->excludedBundleIDs().contains(id));
}

void TestSettings::watchPane()
{
    ShelfManager manager(ShelfPersistence(m_dir->filePath("shelves.json")),
                         test::FakeShelfWindow::maker());
    WatchCenter center(*m_defaults, manager);
    WatchPane pane(center);
    pane.show();
    QVERIFY(child<QLabel>(&pane, "noFoldersLabel"));

    const QString first = m_dir->filePath("받은 편지");
    const QString second = m_dir->filePath("사진");
    QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
    m_desktop->dialogs().setNextFoldersAnswer({first, second});
    QTest::mouseClick(child<QPushButton>(&pane, "chooseFoldersButton"), Qt::LeftButton);
    QTRY_COMPARE(labelsNamed(&pane, "folderName"), (QStringList{"받은 편지", "사진"}));

    // "목록에서 빼기" from the row's context menu.
    auto *row = pane.findChildren<QWidget *>("folderRow").first();
    QCOMPARE(row->contextMenuPolicy(), Qt::ActionsContextMenu);
    row->findChild<QAction *>("removeFolderAction")->trigger();
    QTRY_COMPARE(labelsNamed(&pane, "folderName"), QStringList{"사진"});
    QCOMPARE(center.folders().size(), 1);
}

void TestSettings::sharePane()
{
    using S = SharePane::ConnectionStatus;
    ShareCenter center;
    {
        // Without a service address the answer comes at once.
        SharePane pane(*m_defaults, center);
        pane.show();
        QTRY_COMPARE(pane.status(), S::directOnly);
        auto *card = child<StatusCard>(&pane, "connectionCard");
        QVERIFY(card->isVisible());
        QCOMPARE(card->title(), "일부 네트워크에서는 연결이 안 될 수 있어요");
    }
    // A real service on 127.0.0.1 with a relay; how other answers read: a relay only over TLS is
    // none, a failing service is offline, a broken body is searched anyway.
    QCOMPARE(SharePane::statusOf(200, "turns:b:5349"), S::directOnly);
    QCOMPARE(SharePane::statusOf(503, "turn:"), S::offline);
    QCOMPARE(SharePane::statusOf(200, "\xff turn: \xfe"), S::everywhere);
    ServiceConfig config = test::serviceTestConfig();
    config.turnURLs = {"turn:127.0.0.1:3478"};
    config.turnSecret = "secret";
    const std::unique_ptr<ShareService> running = test::startService(config);
    QVERIFY(running);
    const QString address = test::serviceBase(*running).toString();
    m_defaults->setValue(DefaultsKey::shareServiceURL, address);
    SharePane pane(*m_defaults, center);
    pane.show();
    QTRY_COMPARE_WITH_TIMEOUT(pane.status(), S::everywhere, 10000);
    QVERIFY(!child<StatusCard>(&pane, "connectionCard")->isVisible());
    auto *expiry = child<QComboBox>(&pane, "expiryPicker");
    QCOMPARE(expiry->currentText(), "30분");
    expiry->setCurrentIndex(2);
    Q_EMIT expiry->activated(2);
    QCOMPARE(m_defaults->shareExpiryMinutes(), 60);

    // A refused service address is explained and what was stored stays; an accepted one is
    // stored trimmed, an empty one removed.
    auto *field = child<QLineEdit>(&pane, "serviceAddressField");
    auto *error = child<QLabel>(&pane, "serviceAddressError");
    const auto enter = [field](const QString &text) {
        field->setText(text);
        Q_EMIT field->editingFinished();
    };
    enter("ftp://share.example.com");
    QVERIFY(error->isVisible() && error->text().contains("http://"));
    QCOMPARE(m_defaults->value(DefaultsKey::shareServiceURL).toString(), address);
    enter(" http://127.0.0.1:8080/vyo/ ");
    QVERIFY(!error->isVisible());
    QCOMPARE(m_defaults->value(DefaultsKey::shareServiceURL).toString(),
             "http://127.0.0.1:8080/vyo/");
    enter("");
    QVERIFY(!m_defaults->contains(DefaultsKey::shareServiceURL));
}

void TestSettings::serviceAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("https") << "https://share.example.com" << true;
    QTest::newRow("no host") << "https://" << false;
    QTest::newRow("user") << "https://me:pw@share.example.com" << false;
    QTest::newRow("query") << "https://share.example.com/?a=1" << false;
    QTest::newRow("script") << "javascript:alert(1)" << false;
}

void TestSettings::serviceAddress()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QCOMPARE(!SharePane::serviceAddressProblem(text).has_value(), accepted);
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
