// The shake, folder-watch and sending panes, built on their own and worked by object name: what
// they store, what the running features do with it, the installed applications they offer, and
// the share service check against a real service on 127.0.0.1.

#include "settings/ApplicationChooser.h"
#include "settings/SettingsComponents.h"
#include "settings/ShakePane.h"
#include "settings/SharePane.h"
#include "settings/WatchPane.h"

#include "core/Defaults.h"
#include "logic/ShakeSensitivity.h"
#include "platform/IconTheme.h"
#include "platform/InstalledApplications.h"
#include "platform/fake/FakeDesktop.h"
#include "share/ShareCenter.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"
#include "watch/WatchCenter.h"

#include "AppSupport.h"
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
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vyo;
using test::child;

namespace {

// Desktop entries in a user folder ("home") and a system folder ("system"); the application id
// expected for each, or nothing when it must not be listed.
struct EntryCase
{
    const char *folder;
    const char *file;
    const char *text;
    const char *expectedID;
    const char *expectedName;
};
const EntryCase entryCases[] = {
    {"system", "good.desktop",
     "[Desktop Entry]\nType=Application\nName=Good\nName[ko]=좋은 앱\nIcon=folder\nExec=good\n",
     "good", "좋은 앱"},
    {"system", "org.example.Viewer.desktop",
     "# comment\n[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer\n\n[Desktop Action "
     "New]\nName=New\n",
     "org.example.Viewer", "Viewer"},
    {"system", "Term.desktop",
     "[Desktop Entry]\nType=Application\nName=Term\\sinal\nStartupWMClass=XTerm\n", "xterm",
     "Term inal"},
    {"system", "kde/tool.desktop", "[Desktop Entry]\nType=Application\nName=Tool\n", "kde-tool",
     "Tool"},
    {"system", "noicon.desktop",
     "[Desktop Entry]\nType=Application\nName=No Icon\nIcon=no-such-icon-anywhere\n", "noicon",
     "No Icon"},
    {"system", "hidden.desktop", "[Desktop Entry]\nType=Application\nName=Hidden\nHidden=true\n",
     nullptr, nullptr},
    {"system", "nodisplay.desktop",
     "[Desktop Entry]\nType=Application\nName=NoDisplay\nNoDisplay=true\n", nullptr, nullptr},
    {"system", "link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=https://x\n", nullptr,
     nullptr},
    {"system", "garbage.desktop", "[Desktop Entry]\nType=Application\nName=Garbage\nno equals\n",
     nullptr, nullptr},
    {"system", "nogroup.desktop", "Type=Application\nName=No Group\n", nullptr, nullptr},
    {"system", "othergroup.desktop", "[Other]\nType=Application\nName=Other\n", nullptr, nullptr},
    {"system", "noname.desktop", "[Desktop Entry]\nType=Application\n", nullptr, nullptr},
    {"system", "badutf8.desktop", "[Desktop Entry]\nType=Application\nName=\xff\xfe\n", nullptr,
     nullptr},
    // The user's own entry of the same id hides the system's.
    {"home", "shadowed.desktop", "[Desktop Entry]\nType=Application\nName=Mine\nHidden=true\n",
     nullptr, nullptr},
    {"system", "shadowed.desktop", "[Desktop Entry]\nType=Application\nName=Theirs\n", nullptr,
     nullptr},
};

QString appsFolder(const QTemporaryDir &dir, const char *folder)
{
    return dir.filePath(QString::fromLatin1(folder));
}

QStringList labelsNamed(QWidget *parent, const QString &name)
{
    QStringList texts;
    for (QLabel *label : parent->findChildren<QLabel *>(name))
        texts.append(label->text());
    return texts;
}

void screenshot(QWidget *pane, const QString &name)
{
    QDir().mkpath(VYO_ARTIFACTS);
    pane->resize(530, 500);
    QVERIFY(pane->grab().save(QString(VYO_ARTIFACTS) + "/settings-" + name + ".png"));
}

} // namespace

class TestSettingsPanes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void installedApplications_data();
    void installedApplications();

    void shakeSwitchAndSensitivity_data();
    void shakeSwitchAndSensitivity();
    void excludedApplicationsChosenStoredAndRemoved();

    void foldersChosenAreWatchedAndSettle();
    void suggestionsRowsAndMissingFolder();

    void connectivity_data();
    void connectivity();
    void statusOfAnswers_data();
    void statusOfAnswers();
    void serviceAddress_data();
    void serviceAddress();
    void shareCountAndExpiry();

private:
    QTemporaryDir m_entries;
    std::unique_ptr<FakeDesktop> m_desktop;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Defaults> m_defaults;
};

void TestSettingsPanes::initTestCase()
{
    ensureIconTheme();
    // Icons keep coming from the system's themes once the data folders point at the test's.
    QIcon::setThemeSearchPaths(QIcon::themeSearchPaths());
    for (const EntryCase &entry : entryCases) {
        const QString path = appsFolder(m_entries, entry.folder) + "/applications/" + entry.file;
        QVERIFY(test::writeFile(path, entry.text));
    }
    // The panes ask the session's folders.
    qputenv("XDG_DATA_HOME", appsFolder(m_entries, "home").toLocal8Bit());
    qputenv("XDG_DATA_DIRS", appsFolder(m_entries, "system").toLocal8Bit());
    m_desktop = std::make_unique<FakeDesktop>();
}

void TestSettingsPanes::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_defaults = std::make_unique<Defaults>(m_dir->filePath("Vyo.conf"));
    m_defaults->registerDefaults();
    m_desktop->dialogs().clear();
}

void TestSettingsPanes::cleanup()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        delete window;
    m_defaults.reset();
    m_dir.reset();
}

void TestSettingsPanes::installedApplications_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expectedID");
    QTest::addColumn<QString>("expectedName");
    for (const EntryCase &entry : entryCases) {
        QTest::addRow("%s/%s", entry.folder, entry.file)
            << appsFolder(m_entries, entry.folder) + "/applications/" + entry.file
            << QString::fromUtf8(entry.expectedID) << QString::fromUtf8(entry.expectedName);
    }
}

void TestSettingsPanes::installedApplications()
{
    QFETCH(QString, file);
    QFETCH(QString, expectedID);
    QFETCH(QString, expectedName);
    const QList<InstalledApplication> apps = vyo::installedApplications();
    const auto found =
        std::find_if(apps.begin(), apps.end(), [&](const auto &app) { return app.path == file; });
    if (expectedID.isEmpty()) {
        QVERIFY(found == apps.end());
        return;
    }
    QVERIFY(found != apps.end());
    QCOMPARE(found->applicationID, expectedID);
    QCOMPARE(found->name, expectedName);
    QCOMPARE(installedApplication(expectedID), *found);
    // Every application has an icon to show, its own or the generic one.
    QVERIFY(!applicationIcon(*found).pixmap(24, 24).isNull());
}

void TestSettingsPanes::shakeSwitchAndSensitivity_data()
{
    QTest::addColumn<int>("raw");
    for (const ShakeSensitivity::Value value : ShakeSensitivity::allCases)
        QTest::addRow("%d", int(value)) << int(value);
}

void TestSettingsPanes::shakeSwitchAndSensitivity()
{
    QFETCH(int, raw);
    ShakePane pane(*m_defaults);
    pane.show();
    auto *label = child<SettingLabel>(&pane, "sensitivityLabel");
    QVERIFY(label);
    QCOMPARE(label->detail(), ShakeSensitivity(ShakeSensitivity::medium).description());
    QTest::mouseClick(child<QPushButton>(&pane, QString("sensitivity%1").arg(raw)), Qt::LeftButton);
    QCOMPARE(m_defaults->shakeSensitivity(), raw);
    QCOMPARE(label->detail(), ShakeSensitivity(ShakeSensitivity::Value(raw)).description());

    auto *enabled = child<QAbstractButton>(&pane, "shakeEnabledSwitch");
    QVERIFY(enabled->isChecked());
    enabled->click();
    QCOMPARE(m_defaults->shakeEnabled(), false);
    QVERIFY(!label->isEnabled());
    enabled->click();
    QCOMPARE(m_defaults->shakeEnabled(), true);
    QVERIFY(label->isEnabled());
}

void TestSettingsPanes::excludedApplicationsChosenStoredAndRemoved()
{
    m_defaults->setValue(DefaultsKey::excludedBundleIDs, QStringList{"gone.app"});
    ShakePane pane(*m_defaults);
    pane.show();
    // An application no longer installed shows its identifier.
    QCOMPARE(labelsNamed(&pane, "excludedAppName"), QStringList{"gone.app"});

    // "앱 추가…" offers the installed applications with icons and names; two chosen at once.
    for (int round = 0; round < 2; ++round) {
        QTest::mouseClick(child<QPushButton>(&pane, "addApplicationButton"), Qt::LeftButton);
        ApplicationChooser *chooser = nullptr;
        QTRY_VERIFY((chooser = pane.findChild<ApplicationChooser *>()) && chooser->isVisible());
        auto *list = child<QListWidget>(chooser, "applicationList");
        QStringList names;
        for (int row = 0; row < list->count(); ++row) {
            names.append(list->item(row)->text());
            QVERIFY(!list->item(row)->icon().isNull());
            if (list->item(row)->text() == "좋은 앱" || list->item(row)->text() == "Term inal")
                list->item(row)->setSelected(true);
        }
        QCOMPARE(names, (QStringList{"No Icon", "Term inal", "Tool", "Viewer", "좋은 앱"}));
        QTest::mouseClick(child<QPushButton>(chooser, "chooseApplicationsButton"), Qt::LeftButton);
        QTRY_VERIFY(!pane.findChild<ApplicationChooser *>());
        // The same applications again leave one entry each.
        QCOMPARE(m_defaults->excludedBundleIDs(), (QStringList{"gone.app", "xterm", "good"}));
    }
    QCOMPARE(labelsNamed(&pane, "excludedAppName"),
             (QStringList{"gone.app", "Term inal", "좋은 앱"}));
    screenshot(&pane, "shake");

    // "제거" on each row; the empty list says so.
    for (int i = 0; i < 3; ++i) {
        auto *row = pane.findChild<ExcludedAppRow *>("excludedAppRow");
        QVERIFY(row);
        const QString id = row->bundleID();
        QTest::mouseClick(child<QPushButton>(row, "removeExcludedButton"), Qt::LeftButton);
        QTRY_VERIFY(!m_defaults->excludedBundleIDs().contains(id));
    }
    QTRY_VERIFY(child<QLabel>(&pane, "excludedEmptyLabel"));
    QVERIFY(m_defaults->excludedBundleIDs().isEmpty());
}

void TestSettingsPanes::foldersChosenAreWatchedAndSettle()
{
    ShelfManager manager(ShelfPersistence(m_dir->filePath("shelves.json")),
                         test::FakeShelfWindow::maker());
    WatchCenter center(*m_defaults, manager);
    WatchPane pane(center);
    pane.show();
    QVERIFY(child<QLabel>(&pane, "noFoldersLabel"));

    const QString first = m_dir->filePath("받은 편지");
    const QString second = m_dir->filePath("Scans");
    QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
    QSignalSpy updated(&center.watcher(), &FolderWatcher::updated);
    m_desktop->dialogs().setNextFoldersAnswer({first, second});
    QTest::mouseClick(child<QPushButton>(&pane, "chooseFoldersButton"), Qt::LeftButton);
    QCOMPARE(m_desktop->dialogs().foldersRequests().size(), 1);
    QCOMPARE(m_desktop->dialogs().foldersRequests().first().confirmText, "감시하기");
    QTRY_COMPARE(center.folders().size(), 2);
    QTRY_VERIFY(!updated.isEmpty() &&
                updated.last().first().toStringList() == QStringList({first, second}));
    QCOMPARE(labelsNamed(&pane, "folderName"), (QStringList{"받은 편지", "Scans"}));

    // A file settling in a folder chosen here lands on a shelf named after it.
    QVERIFY(test::writeFile(first + "/새 파일.txt", "hello"));
    QTRY_VERIFY_WITH_TIMEOUT(manager.shelves().size() == 1, 10000);
    QCOMPARE(manager.shelves().first()->name(), "받은 편지");

    // The switch turns watching off at once; the folder stays listed.
    const QList<QWidget *> rows = pane.findChildren<QWidget *>("folderRow");
    QCOMPARE(rows.size(), 2);
    rows.last()->findChild<QAbstractButton *>("folderSwitch")->click();
    QTRY_VERIFY(!center.folders().last().isEnabled);
    QTRY_VERIFY(updated.last().first().toStringList() == QStringList{first});
    QCOMPARE(pane.findChildren<QWidget *>("folderRow").size(), 2);

    // "목록에서 빼기" from the row's context menu.
    auto *row = pane.findChildren<QWidget *>("folderRow").first();
    QCOMPARE(row->contextMenuPolicy(), Qt::ActionsContextMenu);
    auto *remove = row->findChild<QAction *>("removeFolderAction");
    QCOMPARE(remove->text(), "목록에서 빼기");
    remove->trigger();
    QTRY_COMPARE(center.folders().size(), 1);
    QCOMPARE(center.folders().first().path, second);
    QTRY_COMPARE(labelsNamed(&pane, "folderName"), QStringList{"Scans"});
}

void TestSettingsPanes::suggestionsRowsAndMissingFolder()
{
    ShelfManager manager(ShelfPersistence(m_dir->filePath("shelves.json")),
                         test::FakeShelfWindow::maker());
    WatchCenter center(*m_defaults, manager);
    const QString gone = m_dir->filePath("gone");
    QVERIFY(QDir().mkpath(gone));
    center.add(QUrl::fromLocalFile(gone));
    QVERIFY(QDir().rmdir(gone));
    WatchPane pane(center);
    pane.show();
    // A deleted folder stays listed and says it is missing.
    QCOMPARE(labelsNamed(&pane, "folderName"), QStringList{"gone"});
    QVERIFY(labelsNamed(&pane, "folderPath").first().endsWith("폴더를 찾을 수 없어요"));

    const QList<WatchCenter::Suggestion> suggestions = WatchCenter::suggestions();
    QCOMPARE(suggestions.size(), 2);
    for (qsizetype i = 0; i < suggestions.size(); ++i) {
        QVERIFY(QDir().mkpath(suggestions[i].folder.toLocalFile()));
        const QString name = QString("suggestion%1Button").arg(i);
        QCOMPARE(child<QPushButton>(&pane, name)->text(), "추가");
        QTest::mouseClick(child<QPushButton>(&pane, name), Qt::LeftButton);
        QTRY_VERIFY(center.isWatched(suggestions[i].folder));
        QTRY_COMPARE(child<QPushButton>(&pane, name)->text(), "추가됨");
        // Pressing "추가됨" changes nothing.
        QTest::mouseClick(child<QPushButton>(&pane, name), Qt::LeftButton);
        QTest::qWait(0);
        QCOMPARE(center.folders().size(), i + 2);
    }
    QCOMPARE(WatchPane::abbreviatedPath(QDir::homePath() + "/사진"), "~/사진");
    QCOMPARE(WatchPane::abbreviatedPath("/srv/x"), "/srv/x");
    screenshot(&pane, "watch");
}

void TestSettingsPanes::connectivity_data()
{
    QTest::addColumn<QString>("service"); // "", "turn" or an address
    QTest::addColumn<SharePane::ConnectionStatus>("expected");
    QTest::addColumn<QString>("cardTitle");
    const QString caution = "일부 네트워크에서는 연결이 안 될 수 있어요";
    QTest::newRow("embedded") << "" << SharePane::ConnectionStatus::directOnly << caution;
    QTest::newRow("service with relay") << "turn" << SharePane::ConnectionStatus::everywhere << "";
    QTest::newRow("unreachable") << "http://127.0.0.1:1/" << SharePane::ConnectionStatus::offline
                                 << "인터넷에 연결되어 있지 않아요";
}

void TestSettingsPanes::connectivity()
{
    QFETCH(QString, service);
    QFETCH(SharePane::ConnectionStatus, expected);
    QFETCH(QString, cardTitle);
    std::unique_ptr<ShareService> running;
    if (service == "turn") {
        // A real service on 127.0.0.1; how its answers read is the table of statusOfAnswers.
        ServiceConfig config = test::serviceTestConfig();
        config.turnURLs = {"turn:127.0.0.1:3478"};
        config.turnSecret = "secret";
        running = test::startService(config);
        QVERIFY(running);
        service = test::serviceBase(*running).toString();
    }
    if (!service.isEmpty())
        m_defaults->setValue(DefaultsKey::shareServiceURL, service);
    ShareCenter center;
    SharePane pane(*m_defaults, center);
    QSignalSpy statuses(&pane, &SharePane::statusChanged);
    pane.show();
    QTRY_COMPARE_WITH_TIMEOUT(pane.status(), expected, 10000);
    // Without a service address the answer comes at once, with no request made.
    if (service.isEmpty())
        QCOMPARE(statuses.size(), 1);
    auto *card = child<StatusCard>(&pane, "connectionCard");
    QCOMPARE(card->isVisible(), !cardTitle.isEmpty());
    if (!cardTitle.isEmpty())
        QCOMPARE(card->title(), cardTitle);
    if (service.isEmpty())
        screenshot(&pane, "share");
}

void TestSettingsPanes::statusOfAnswers_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<SharePane::ConnectionStatus>("expected");
    using S = SharePane::ConnectionStatus;
    QTest::newRow("stun only") << 200 << QByteArray(R"({"iceServers":[{"urls":"stun:a:3478"}]})")
                               << S::directOnly;
    QTest::newRow("a turn entry") << 200
                                  << QByteArray(
                                         R"({"iceServers":[{"urls":["stun:a","turn:b:3478"]}]})")
                                  << S::everywhere;
    QTest::newRow("turn in a broken body") << 200 << QByteArray("\xff turn: \xfe") << S::everywhere;
    QTest::newRow("turns only") << 200 << QByteArray("turns:b:5349") << S::directOnly;
    QTest::newRow("503") << 503 << QByteArray("turn:") << S::offline;
    QTest::newRow("no answer") << 0 << QByteArray() << S::offline;
}

void TestSettingsPanes::statusOfAnswers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(SharePane::ConnectionStatus, expected);
    QCOMPARE(SharePane::statusOf(status, body), expected);
}

void TestSettingsPanes::serviceAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("empty") << "" << true;
    QTest::newRow("https") << "https://share.example.com" << true;
    QTest::newRow("http, port and path") << " http://127.0.0.1:8080/vyo/ " << true;
    QTest::newRow("ftp") << "ftp://share.example.com" << false;
    QTest::newRow("no scheme") << "share.example.com" << false;
    QTest::newRow("no host") << "https://" << false;
    QTest::newRow("not a URL") << "주소 아님" << false;
    QTest::newRow("user") << "https://me:pw@share.example.com" << false;
    QTest::newRow("query") << "https://share.example.com/?a=1" << false;
    QTest::newRow("fragment") << "https://share.example.com/#x" << false;
    QTest::newRow("script") << "javascript:alert(1)" << false;
}

void TestSettingsPanes::serviceAddress()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QCOMPARE(!SharePane::serviceAddressProblem(text).has_value(), accepted);

    m_defaults->setValue(DefaultsKey::shareServiceURL, "https://before.example.com");
    ShareCenter center;
    SharePane pane(*m_defaults, center);
    pane.show();
    auto *field = child<QLineEdit>(&pane, "serviceAddressField");
    auto *error = child<QLabel>(&pane, "serviceAddressError");
    field->setText(text);
    Q_EMIT field->editingFinished();
    QCOMPARE(error->isVisible(), !accepted);
    const QVariant stored = m_defaults->value(DefaultsKey::shareServiceURL);
    if (!accepted) {
        // Refused: what was stored stays.
        QVERIFY(error->text().contains("http://"));
        QCOMPARE(stored.toString(), "https://before.example.com");
    } else if (text.isEmpty()) {
        QVERIFY(!m_defaults->contains(DefaultsKey::shareServiceURL));
    } else {
        QCOMPARE(stored.toString(), text.trimmed());
    }
}

void TestSettingsPanes::shareCountAndExpiry()
{
    ShareCenter center;
    SharePane pane(*m_defaults, center);
    pane.show();
    QCOMPARE(child<QLabel>(&pane, "shareCount")->text(), "없음");
    auto *expiry = child<QComboBox>(&pane, "expiryPicker");
    QCOMPARE(expiry->currentText(), "30분");
    const QList<std::pair<QString, int>> choices{{"15분", 15}, {"30분", 30}, {"1시간", 60}};
    QCOMPARE(expiry->count(), choices.size());
    for (int i = 0; i < choices.size(); ++i) {
        QCOMPARE(expiry->itemText(i), choices[i].first);
        expiry->setCurrentIndex(i);
        Q_EMIT expiry->activated(i);
        QCOMPARE(m_defaults->shareExpiryMinutes(), choices[i].second);
    }
    QCOMPARE(labelsNamed(&pane, "title").count("한글 파일 이름 그대로"), 1);
    QCOMPARE(labelsNamed(&pane, "detail")
                 .count("이 컴퓨터와 받는 기기가 직접 연결해 암호화된 채로 주고받아요."),
             1);
}

QTEST_MAIN(TestSettingsPanes)
#include "tst_settingspanes.moc"
