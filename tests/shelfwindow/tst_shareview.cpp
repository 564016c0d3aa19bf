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

    void preparingErrorRetryAndSharing();
    void shelfViewToggle();

private:
    ShareSession *session() const { return m_center->session(m_shelf->id()); }
    template <typename T> T *child(const char *name) const
    {
        return m_view->findChild<T *>(QString::fromLatin1(name));
    }
    QString labelText(const char *name) const { return child<QLabel>(name)->text(); }
    // The first device row, when it shows.
    QString deviceLine() const;

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

QString TestShareView::deviceLine() const
{
    const QWidget *row = child<QWidget>("deviceRow");
    return row && row->isVisible() ? labelText("deviceName") + " · " + labelText("deviceRoute")
                                   : QString();
}

void TestShareView::preparingErrorRetryAndSharing()
{
    // A service that takes the request and never answers: the share is in preparation until the
    // list times out, which reads as no network.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    Defaults::shared().setValue(DefaultsKey::shareServiceURL,
                                QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort()));
    m_center->setIceFetchTimeout(500ms);
    // A share view of the shelf, shown on its own at the sheet's size.
    m_view = std::make_unique<ShareView>(m_shelf.get(), *m_center);
    m_view->resize(ShelfView::shareSize.width(), ShelfView::shareSize.height() - 34);
    m_view->show();
    QTRY_VERIFY(silent.hasPendingConnections());
    QCOMPARE(m_view->mode(), ShareView::Mode::preparing);
    QCOMPARE(labelText("preparingLabel"), "공유 준비 중…");
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::error);
    QCOMPARE(labelText("errorLabel"), ShareCenter::offlineMessage);

    // Return retries ("다시 시도"): the error is cleared (the preparing view) and, once the
    // service answers, the share is made.
    Defaults::shared().setValue(DefaultsKey::shareServiceURL, serviceBase(*m_service).toString());
    QTest::keyClick(m_view.get(), Qt::Key_Return);
    QCOMPARE(m_view->mode(), ShareView::Mode::preparing);
    QTRY_COMPARE(m_view->mode(), ShareView::Mode::shared);
    QCOMPARE(child<QLineEdit>("addressField")->text(), session()->url().toString());
    QTRY_VERIFY(session()->isOnline());

    // The QR code, read back from a grab by zbarimg, is the address.
    QTemporaryDir dir;
    QVERIFY(m_view->grab().save(dir.filePath("qr.png")));
    QProcess zbar;
    zbar.start("zbarimg", {"--quiet", "--raw", dir.filePath("qr.png")});
    QVERIFY(zbar.waitForFinished(30000));
    QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(),
             session()->url().toString());

    // The copy button puts the address on the clipboard.
    QTest::mouseClick(child<QPushButton>("copyButton"), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), session()->url().toString());

    // A device joins, says it is ready, and goes.
    TestSocket phone(serviceOrigin(*m_service));
    const qsizetype before = m_connections.size();
    QVERIFY(!joinGuest(phone, *m_service, session()->roomID()).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(m_connections.size() > before, 10000);
    m_connections.last()->setChannelState(PeerConnection::ChannelState::open);
    m_connections.last()->receiveText(
        TransferProtocol::encode({{"t", "ready"}, {"device", "Mozilla/5.0 (iPhone)"}}));
    QTRY_COMPARE(deviceLine(), "iPhone · 연결 중…");
    phone.close();
    QTRY_VERIFY(deviceLine().isEmpty());
    QVERIFY(child<QWidget>("noDeviceLabel")->isVisible());
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
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(view.size(), ShelfView::collapsedSize);

    // A share request (the tray menu, the share menu) opens the sheet; "공유 중지" stops the
    // share and closes the sheet.
    m_shelf->setShareRequest(QUuid::createUuid());
    QVERIFY(view.isShowingShare());
    QTRY_COMPARE(view.shareView()->mode(), ShareView::Mode::shared);
    QTest::mouseClick(view.shareView()->findChild<QPushButton *>("stopButton"), Qt::LeftButton);
    QVERIFY(!view.isShowingShare());
    QVERIFY(!m_center->isSharing(m_shelf->id()));
}

QTEST_MAIN(TestShareView)
#include "tst_shareview.moc"
