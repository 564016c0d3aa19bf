// The share sheet on the test display, against a real share center that talks to a real share
// service on 127.0.0.1 (in-process) with fake peer connections, and the shelf view's share
// button.

#include "core/Defaults.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakePeerConnection.h"
#include "share/ShareCenter.h"
#include "share/ShareSession.h"
#include "shelf/Shelf.h"
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
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QToolButton>

using namespace vyo;
using namespace vyo::test;
using namespace std::chrono_literals;

class TestShareView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void preparingErrorAndRetry();
    void sharedView();
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
    // The first device row, when it shows.
    QString deviceLine() const;
    // A browser joins the share and says it is ready; the fake connection made for it.
    FakePeerConnection *joinDevice(TestSocket &guest, const QString &userAgent);

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

QString TestShareView::deviceLine() const
{
    const QWidget *row = child<QWidget>("deviceRow");
    return row && row->isVisible() ? labelText("deviceName") + " · " + labelText("deviceRoute")
                                   : QString();
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

void TestShareView::preparingErrorAndRetry()
{
    // A service that takes the request and never answers: the share is in preparation until the
    // list times out, which reads as no network.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    Defaults::shared().setValue(DefaultsKey::shareServiceURL,
                                QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort()));
    m_center->setIceFetchTimeout(500ms);
    showView();
    QTRY_VERIFY(silent.hasPendingConnections());
    QCOMPARE(m_view->mode(), ShareView::Mode::preparing);
    QCOMPARE(labelText("preparingLabel"), "공유 준비 중…");
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::error);
    QCOMPARE(labelText("errorLabel"), ShareCenter::offlineMessage);

    // "돌아가기" forgets the error and goes back to the items.
    QSignalSpy items(m_view.get(), &ShareView::showItemsRequested);
    QTest::mouseClick(child<QPushButton>("backButton"), Qt::LeftButton);
    QCOMPARE(items.size(), 1);
    QVERIFY(!m_center->lastError());

    // Return retries ("다시 시도"): the error is cleared (the preparing view) and, once the
    // service answers, the share is made.
    m_view->retry();
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::error);
    Defaults::shared().setValue(DefaultsKey::shareServiceURL, serviceBase(*m_service).toString());
    QTest::keyClick(m_view.get(), Qt::Key_Return);
    QCOMPARE(m_view->mode(), ShareView::Mode::preparing);
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::shared);
}

void TestShareView::sharedView()
{
    showView();
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::shared);
    QCOMPARE(child<QLineEdit>("addressField")->text(), session()->url().toString());
    m_shelf->add({test::text("셋째")});
    QCOMPARE(child<QPushButton>("showItemsButton")->text(), "항목 3개 보기");
    QTRY_VERIFY(session()->isOnline());
    // The note follows the setting while it is shown; less than five minutes is five.
    Defaults::shared().setValue(DefaultsKey::shareExpiryMinutes, 4);
    QVERIFY2(labelText("noteLabel").endsWith("5분 동안 쓰지 않으면 닫혀요."),
             qPrintable(labelText("noteLabel")));

    // The QR code, read back from a grab by zbarimg, is the address.
    QTemporaryDir dir;
    QVERIFY(m_view->grab().save(dir.filePath("qr.png")));
    QProcess zbar;
    zbar.start("zbarimg", {"--quiet", "--raw", dir.filePath("qr.png")});
    QVERIFY(zbar.waitForFinished(30000));
    QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(),
             session()->url().toString());

    // The copy confirmation lasts from the first press: a second one a little later changes
    // nothing about when it ends.
    auto *copy = child<QPushButton>("copyButton");
    QTest::mouseClick(copy, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), session()->url().toString());
    QCOMPARE(copy->text(), "복사됨");
    QTRY_VERIFY_WITH_TIMEOUT(m_view->copyTimer()->remainingTime() < 1400, 1000);
    QTest::mouseClick(copy, Qt::LeftButton);
    QVERIFY(m_view->copyTimer()->remainingTime() < 1400);
    m_view->copyTimer()->start(0); // its end, brought forward
    QTRY_COMPARE(copy->text(), "복사");

    // A device comes, connects through a relay and goes.
    TestSocket phone(serviceOrigin(*m_service));
    QPointer<FakePeerConnection> connection = joinDevice(phone, "Mozilla/5.0 (iPhone)");
    QVERIFY(connection);
    QTRY_COMPARE(deviceLine(), "iPhone · 연결 중…");
    QCOMPARE(labelText("activityLabel"), "iPhone 연결됨");
    connection->setState(PeerConnection::State::connected);
    QVERIFY(
        connection->completeStatistics(FakePeerConnection::selectedPairReport("relay", "host")));
    QCOMPARE(deviceLine(), "iPhone · 중계로 연결됨");
    phone.close();
    QTRY_VERIFY(deviceLine().isEmpty());
    QVERIFY(shows("noDeviceLabel") && !shows("activityLabel"));
}

void TestShareView::shelfViewToggle()
{
    ShelfView view(m_shelf.get(), nullptr);
    view.setShareCenter(*m_center);
    view.show();
    auto *button = view.findChild<QToolButton *>(QStringLiteral("shareButton"));

    // The button opens the sheet at its size and starts the share; pressed again, back to the
    // items while the share goes on.
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(view.size(), ShelfView::shareSize);
    QTRY_COMPARE(view.shareView()->mode(), ShareView::Mode::shared);
    QCOMPARE(button->toolTip(), QStringLiteral("공유 중 · 눌러서 QR 보기"));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(view.size(), ShelfView::collapsedSize);

    // A share request (the tray menu, the share menu) opens the sheet, a second one keeps it;
    // "공유 중지" stops the share and closes the sheet.
    m_shelf->setShareRequest(QUuid::createUuid());
    m_shelf->setShareRequest(QUuid::createUuid());
    QVERIFY(view.isShowingShare());
    QTRY_COMPARE(view.shareView()->mode(), ShareView::Mode::shared);
    QTest::mouseClick(view.shareView()->findChild<QPushButton *>("stopButton"), Qt::LeftButton);
    QVERIFY(!view.isShowingShare());
    QVERIFY(!m_center->isSharing(m_shelf->id()));
    QCOMPARE(button->toolTip(), QStringLiteral("휴대폰·PC로 보내기"));
}

QTEST_MAIN(TestShareView)
#include "tst_shareview.moc"
