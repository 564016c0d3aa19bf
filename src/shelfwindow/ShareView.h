#pragma once

// The share sheet of one shelf, shown in the shelf's panel in place of its items. Shown, it asks
// the share center to share the shelf; it then shows what the center knows: while the share is
// being prepared a small busy line, after a failed start the error with a way back and a retry,
// and once the shelf is shared its address as a QR code and as text, whether the share reaches
// the service, the connected devices with their routes, the newest activity line, and the ways
// back to the items or to stop sharing. It follows the center and the share through their
// signals and keeps no sharing state of its own beyond the copy confirmation.

#include "share/PeerSession.h"

#include <QPointer>
#include <QWidget>

#include <chrono>

class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTimer;
class QVBoxLayout;

namespace vyo {

class QRCodeView;
class ShareCenter;
class ShareSession;
class Shelf;

class ShareView : public QWidget
{
    Q_OBJECT
public:
    // What the sheet shows: chosen from the center's shares and its last error.
    enum class Mode { preparing, shared, error };

    ShareView(Shelf *shelf, ShareCenter &center, QWidget *parent = nullptr);

    Mode mode() const { return m_mode; }
    // True from a press of "복사" until the confirmation times out.
    bool didCopy() const { return m_didCopy; }
    // Clears the copy confirmation; it runs once from the first press, later presses do not
    // restart it.
    QTimer *copyTimer() const { return m_copyTimer; }

    static constexpr std::chrono::milliseconds copiedDuration{1500};

    // The words for a device's route.
    static QString routeText(PeerSession::Route route);
    // The note under the camera line, for an idle time in minutes (never below five).
    static QString noteText(int expiryMinutes);

    // "복사": the address goes to the clipboard as plain text.
    void copyAddress();
    // "다시 시도": starts sharing again, which clears the error first.
    void retry();
    // "돌아가기": forgets the error and goes back to the items.
    void goBack();

Q_SIGNALS:
    // "항목 N개 보기" (or "돌아가기"): back to the item list; the share goes on.
    void showItemsRequested();
    // "공유 중지".
    void stopRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QWidget *makePreparingPage();
    QWidget *makeSharedPage();
    QWidget *makeErrorPage();
    // Chooses the page from the center's state and follows the shelf's share.
    void refresh();
    void follow(ShareSession *session);
    void updateAddress();
    void updateConnection();
    void updateNote();
    void updateItemsButton();
    void updateCopyButton();

    QPointer<Shelf> m_shelf;
    QPointer<ShareCenter> m_center;
    QPointer<ShareSession> m_session;
    Mode m_mode = Mode::preparing;
    bool m_didCopy = false;
    QTimer *m_copyTimer = nullptr;

    QStackedWidget *m_pages = nullptr;
    QWidget *m_preparingPage = nullptr;
    QWidget *m_sharedPage = nullptr;
    QWidget *m_errorPage = nullptr;
    QRCodeView *m_qrCode = nullptr;
    QLabel *m_note = nullptr;
    QLineEdit *m_address = nullptr;
    QPushButton *m_copyButton = nullptr;
    QWidget *m_connecting = nullptr;
    QLabel *m_noDevice = nullptr;
    QWidget *m_devices = nullptr;
    QVBoxLayout *m_devicesLayout = nullptr;
    QLabel *m_activity = nullptr;
    QPushButton *m_itemsButton = nullptr;
    QLabel *m_errorText = nullptr;
};

} // namespace vyo
