// The share sheet on the test display, against a real share center that talks to a real share
// service on 127.0.0.1 (in-process) with fake peer connections: the preparing, shared and error
// views, their texts and buttons, the copy confirmation, devices coming, changing route and going,
// the QR code read back by zbarimg from a grab of the view, and the shelf view's share button and
// toggle. Screenshots of the three views go to the test artifacts.

#include "core/Defaults.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakePeerConnection.h"
#include "share/ShareCenter.h"
#include "share/ShareSession.h"
#include "shelf/Shelf.h"
#include "shelfwindow/QRCodeView.h"
#include "shelfwindow/ShareView.h"
#include "shelfwindow/ShelfView.h"

#include "ServiceTestSupport.h"
#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QToolButton>

using namespace vyo;
using namespace vyo::test;
using namespace std::chrono_literals;
using Content = ShelfItem::Content;
using Route = PeerSession::Route;

class TestShareView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void preparingThenShared();
    void qrCodeReadsBackAsTheAddress();
    void noteMinutes();
    void copyConfirmationLastsFromTheFirstPress();
    void devicesFollowTheShare();
    void closedRouteText();
    void errorViewBackAndRetry();
    void shelfViewToggle();

private:
    // A share view of the shelf, shown on its own at the sheet's size.
    ShareView *showView();
    ShareSession *session() const { return m_center->session(m_shelf->id()); }
    template <typename T> T *child(const char *name) const
    {
        return m_view->findChild<T *>(QString::fromLatin1(name));
    }
    QString labelText(const char *name) const { return child<QLabel>(name)->text(); }
    bool shows(const char *name) const { return child<QWidget>(name)->isVisible(); }
    QStringList deviceLines() const;
    // A browser joins the share and says it is ready; the fake connection made for it.
    FakePeerConnection *joinDevice(TestSocket &guest, const QString &userAgent);
    void screenshot(const QString &name);

    std::unique_ptr<ShareService> m_service;
    std::unique_ptr<FakeDesktop> m_desktop;
    std::unique_ptr<ShareCenter> m_center;
    std::unique_ptr<Shelf> m_shelf;
    std::unique_ptr<ShareView> m_view;
    QList<QPointer<FakePeerConnection>> m_connections;
};

void TestShareView::initTestCase()
{
    Defaults::shared().registerDefaults();
    m_service = startService();
    QVERIFY(m_service);
    QDir().mkpath(VYO_ARTIFACTS);
}

void TestShareView::init()
{
    m_desktop = std::make_unique<FakeDesktop>();
    m_center = std::make_unique<ShareCenter>();
    m_connections.clear();
    m_center->setPeerConnectionMaker([this](const QList<IceServer> &servers) {
        auto fake = std::make_unique<FakePeerConnection>(servers);
        m_connections.append(fake.get());
        return std::unique_ptr<PeerConnection>(std::move(fake));
    });
    Defaults::shared().setValue(DefaultsKey::shareServiceURL, serviceBase(*m_service).toString());
    Defaults::shared().remove(DefaultsKey::shareExpiryMinutes);
    m_shelf = std::make_unique<Shelf>();
    m_shelf->add({test::text("메모"), test::text("둘째")});
}

void TestShareView::cleanup()
{
    m_view.reset();
    m_center.reset();
    m_shelf.reset();
    m_desktop.reset();
    QThreadPool::globalInstance()->waitForDone(60000);
}

ShareView *TestShareView::showView()
{
    m_view = std::make_unique<ShareView>(m_shelf.get(), *m_center);
    m_view->resize(ShelfView::shareSize.width(), ShelfView::shareSize.height() - 34);
    m_view->show();
    return m_view.get();
}

QStringList TestShareView::deviceLines() const
{
    QStringList lines;
    for (QWidget *row : m_view->findChildren<QWidget *>(QStringLiteral("deviceRow"))) {
        if (row->isVisible())
            lines << row->findChild<QLabel *>(QStringLiteral("deviceName"))->text() + " · " +
                         row->findChild<QLabel *>(QStringLiteral("deviceRoute"))->text();
    }
    return lines;
}

FakePeerConnection *TestShareView::joinDevice(TestSocket &guest, const QString &userAgent)
{
    const qsizetype before = m_connections.size();
    if (joinGuest(guest, *m_service, session()->roomID()).isEmpty() ||
        !QTest::qWaitFor([&] { return m_connections.size() > before; }, 10000))
        return nullptr;
    FakePeerConnection *fake = m_connections.last();
    fake->setChannelState(PeerConnection::ChannelState::open);
    fake->receiveText(TransferProtocol::encode({{"t", "ready"}, {"device", userAgent}}));
    return fake;
}

void TestShareView::screenshot(const QString &name)
{
    const QPixmap shot = m_view->grab();
    QVERIFY(!shot.isNull());
    QVERIFY(shot.save(QString(VYO_ARTIFACTS) + "/share-" + name + ".png"));
}

void TestShareView::preparingThenShared()
{
    // A service that takes the request and never answers keeps the share in preparation.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    Defaults::shared().setValue(DefaultsKey::shareServiceURL,
                                QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort()));
    showView();
    QTRY_VERIFY(silent.hasPendingConnections());
    QCOMPARE(m_view->mode(), ShareView::Mode::preparing);
    QVERIFY(shows("preparingLabel"));
    QCOMPARE(labelText("preparingLabel"), QStringLiteral("공유 준비 중…"));
    screenshot("preparing");
    m_view.reset();
    m_center.reset();
    m_center = std::make_unique<ShareCenter>();

    // Shown, the view starts the share and turns into the shared view once it exists.
    Defaults::shared().setValue(DefaultsKey::shareServiceURL, serviceBase(*m_service).toString());
    showView();
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::shared);
    QCOMPARE(labelText("cameraLabel"), QStringLiteral("휴대폰 카메라로 찍으세요"));
    QCOMPARE(child<QLineEdit>("addressField")->text(), session()->url().toString());
    QVERIFY(child<QLineEdit>("addressField")->isReadOnly());
    QCOMPARE(child<QPushButton>("copyButton")->text(), QStringLiteral("복사"));
    QCOMPARE(child<QPushButton>("showItemsButton")->text(), QStringLiteral("항목 2개 보기"));
    m_shelf->add({test::text("셋째")});
    QCOMPARE(child<QPushButton>("showItemsButton")->text(), QStringLiteral("항목 3개 보기"));
    QCOMPARE(child<QPushButton>("stopButton")->text(), QStringLiteral("공유 중지"));

    // Offline until the signaling client is connected; then the line for no devices.
    if (!session()->isOnline()) {
        QVERIFY(shows("connectingLine"));
        QCOMPARE(labelText("connectingLabel"), QStringLiteral("서버에 연결하는 중…"));
    }
    QTRY_VERIFY(session()->isOnline());
    QVERIFY(!shows("connectingLine"));
    QVERIFY(shows("noDeviceLabel"));
    QCOMPARE(labelText("noDeviceLabel"),
             QStringLiteral("갤럭시·윈도우 PC도, 다른 네트워크에 있어도 브라우저로 열려요."));
    QVERIFY(!shows("activityLabel"));

    QSignalSpy items(m_view.get(), &ShareView::showItemsRequested);
    QSignalSpy stop(m_view.get(), &ShareView::stopRequested);
    QTest::mouseClick(child<QPushButton>("showItemsButton"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("stopButton"), Qt::LeftButton);
    QCOMPARE(items.size(), 1);
    QCOMPARE(stop.size(), 1);
}

void TestShareView::qrCodeReadsBackAsTheAddress()
{
    showView();
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::shared);
    QTRY_VERIFY(session()->isOnline());
    screenshot("shared");
    auto *code = m_view->findChild<QRCodeView *>(QStringLiteral("qrCode"));
    QCOMPARE(code->size(), QSize(148, 148));
    QCOMPARE(code->accessibleName(), QStringLiteral("공유 주소 QR 코드"));
    QCOMPARE(code->text(), session()->url().toString());

    // Every module is a square of at least two whole pixels, with a white margin around them.
    const QImage raw = QRCodeView::encode(code->text());
    QVERIFY(!raw.isNull());
    QVERIFY(148 / (raw.width() + 2 * QRCodeView::quietModules) >= 2);

    QTemporaryDir dir;
    const QString path = dir.filePath("qr.png");
    QVERIFY(m_view->grab().save(path));
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {"--quiet", "--raw", path});
    QVERIFY(zbar.waitForFinished(30000));
    QCOMPARE(zbar.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(),
             session()->url().toString());
}

void TestShareView::noteMinutes()
{
    showView();
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::shared);
    const auto note = [](int minutes) -> QString {
        return QStringLiteral(
                   "주소를 아는 사람만 열 수 있고, 파일은 서버를 거쳐 저장되지 않아요. ") +
               QString::number(minutes) + QStringLiteral("분 동안 쓰지 않으면 닫혀요.");
    };
    QCOMPARE(labelText("noteLabel"), note(30)); // the default
    // The note follows the setting while it is shown; less than five minutes is five.
    const std::pair<int, int> storedAndShown[] = {{15, 15}, {60, 60}, {5, 5}, {4, 5}, {1, 5}};
    for (const auto &[stored, shown] : storedAndShown) {
        Defaults::shared().setValue(DefaultsKey::shareExpiryMinutes, stored);
        QCOMPARE(labelText("noteLabel"), note(shown));
    }
}

void TestShareView::copyConfirmationLastsFromTheFirstPress()
{
    showView();
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::shared);
    auto *copy = child<QPushButton>("copyButton");
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::mouseClick(copy, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), session()->url().toString());
    QCOMPARE(copy->text(), QStringLiteral("복사됨"));
    QVERIFY(m_view->didCopy());
    QVERIFY(m_view->copyTimer()->isActive());
    QCOMPARE(m_view->copyTimer()->intervalAsDuration(), 1500ms);

    // A second press a little later changes nothing about when the confirmation ends.
    QTRY_VERIFY_WITH_TIMEOUT(m_view->copyTimer()->remainingTime() < 1400, 1000);
    QTest::mouseClick(copy, Qt::LeftButton);
    QVERIFY(m_view->copyTimer()->remainingTime() < 1400);
    QCOMPARE(copy->text(), QStringLiteral("복사됨"));
    QTRY_COMPARE_WITH_TIMEOUT(copy->text(), QStringLiteral("복사"), 2000);
    QVERIFY(!m_view->didCopy());
}

void TestShareView::devicesFollowTheShare()
{
    showView();
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::shared);
    QTRY_VERIFY(session()->isOnline());
    QVERIFY(deviceLines().isEmpty());

    TestSocket phone(serviceOrigin(*m_service));
    QPointer<FakePeerConnection> phoneConnection = joinDevice(phone, "Mozilla/5.0 (iPhone)");
    QVERIFY(phoneConnection);
    QTRY_COMPARE(deviceLines(), QStringList{"iPhone · 연결 중…"});
    QVERIFY(!shows("noDeviceLabel"));
    QVERIFY(shows("activityLabel"));
    QCOMPARE(labelText("activityLabel"), QStringLiteral("iPhone 연결됨"));

    phoneConnection->setState(PeerConnection::State::connected);
    QVERIFY(phoneConnection->completeStatistics({}));
    QCOMPARE(deviceLines(), QStringList{"iPhone · 직접 연결됨"});

    TestSocket pc(serviceOrigin(*m_service));
    QPointer<FakePeerConnection> pcConnection =
        joinDevice(pc, "Mozilla/5.0 (Windows NT 10.0; Win64; x64)");
    QVERIFY(pcConnection);
    pcConnection->setState(PeerConnection::State::connected);
    QVERIFY(
        pcConnection->completeStatistics(FakePeerConnection::selectedPairReport("relay", "host")));
    QTRY_COMPARE(deviceLines().size(), 2);
    QVERIFY(deviceLines().contains("iPhone · 직접 연결됨"));
    QVERIFY(deviceLines().filter(" · 중계로 연결됨").size() == 1);
    // Only the newest activity line shows.
    QCOMPARE(labelText("activityLabel"), session()->activities().first().text);
    QVERIFY(labelText("activityLabel") != QStringLiteral("iPhone 연결됨"));

    // The phone leaves; the other device stays. Once both left, the no-device line returns.
    phone.close();
    QTRY_COMPARE(deviceLines().size(), 1);
    QVERIFY(deviceLines().first().endsWith(" · 중계로 연결됨"));
    pc.close();
    QTRY_VERIFY(deviceLines().isEmpty());
    QVERIFY(shows("noDeviceLabel"));
    QVERIFY(!shows("activityLabel"));
}

void TestShareView::closedRouteText()
{
    // The other routes' texts show in the device lines of devicesFollowTheShare.
    QCOMPARE(ShareView::routeText(Route::closed), QStringLiteral("연결 끊김"));
}

void TestShareView::errorViewBackAndRetry()
{
    // A service that never answers: the list times out, which reads as no network.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    Defaults::shared().setValue(DefaultsKey::shareServiceURL,
                                QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort()));
    m_center->setIceFetchTimeout(200ms);
    showView();
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::error);
    QCOMPARE(labelText("errorLabel"), ShareCenter::offlineMessage);
    QCOMPARE(child<QPushButton>("backButton")->text(), QStringLiteral("돌아가기"));
    auto *retry = child<QPushButton>("retryButton");
    QCOMPARE(retry->text(), QStringLiteral("다시 시도"));
    QVERIFY(retry->isDefault());
    screenshot("error");

    // Return retries: the error is cleared (the preparing view) and comes back after the wait.
    QTest::keyClick(m_view.get(), Qt::Key_Return);
    QCOMPARE(m_view->mode(), ShareView::Mode::preparing);
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::error);

    // "돌아가기" forgets the error and goes back to the items.
    QSignalSpy items(m_view.get(), &ShareView::showItemsRequested);
    QTest::mouseClick(child<QPushButton>("backButton"), Qt::LeftButton);
    QCOMPARE(items.size(), 1);
    QVERIFY(!m_center->lastError());
    QCOMPARE(m_view->mode(), ShareView::Mode::preparing);

    // "다시 시도" once the service answers: the shared view.
    m_view->retry();
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::error);
    Defaults::shared().setValue(DefaultsKey::shareServiceURL, serviceBase(*m_service).toString());
    QTest::mouseClick(retry, Qt::LeftButton);
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::shared);
}

void TestShareView::shelfViewToggle()
{
    ShelfView view(m_shelf.get(), nullptr);
    view.setShareCenter(*m_center);
    view.show();
    auto *button = view.findChild<QToolButton *>(QStringLiteral("shareButton"));
    auto *content = view.findChild<QStackedWidget *>(QStringLiteral("content"));
    QCOMPARE(button->toolTip(), QStringLiteral("휴대폰·PC로 보내기"));
    QCOMPARE(button->accessibleName(), QStringLiteral("휴대폰이나 PC로 보내기"));

    // The button opens the sheet at its size and starts the share.
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(view.isShowingShare());
    QCOMPARE(view.size(), ShelfView::shareSize);
    QCOMPARE(content->currentWidget(), view.shareView());
    QTRY_VERIFY(m_center->isSharing(m_shelf->id()));
    QCOMPARE(button->toolTip(), QStringLiteral("공유 중 · 눌러서 QR 보기"));
    QCOMPARE(button->accessibleName(), QStringLiteral("공유 중, QR 코드 보기"));
    QTRY_COMPARE(view.shareView()->mode(), ShareView::Mode::shared);

    // Pressed again, back to the items; the share goes on.
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!view.isShowingShare());
    QCOMPARE(view.size(), ShelfView::collapsedSize);
    QCOMPARE(content->currentWidget()->objectName(), QStringLiteral("stackView"));
    QVERIFY(m_center->isSharing(m_shelf->id()));

    // A share request (the tray menu, the share menu) opens the sheet; "항목 N개 보기" closes it.
    m_shelf->setShareRequest(QUuid::createUuid());
    QVERIFY(view.isShowingShare());
    m_shelf->setShareRequest(QUuid::createUuid());
    QVERIFY(view.isShowingShare());
    QTRY_COMPARE(view.shareView()->mode(), ShareView::Mode::shared);
    QTest::mouseClick(view.shareView()->findChild<QPushButton *>("showItemsButton"),
                      Qt::LeftButton);
    QVERIFY(!view.isShowingShare());
    QVERIFY(m_center->isSharing(m_shelf->id()));

    // "공유 중지" stops the share and closes the sheet.
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE(view.shareView()->mode(), ShareView::Mode::shared);
    QTest::mouseClick(view.shareView()->findChild<QPushButton *>("stopButton"), Qt::LeftButton);
    QVERIFY(!view.isShowingShare());
    QVERIFY(!m_center->isSharing(m_shelf->id()));
    QCOMPARE(button->toolTip(), QStringLiteral("휴대폰·PC로 보내기"));
}

QTEST_MAIN(TestShareView)
#include "tst_shareview.moc"
