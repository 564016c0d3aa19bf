#pragma once

// The sending pane of the settings window: whether the share service can be reached and offers
// relays (a card when it is not, or only directly), how many shelves are shared, after how long
// an idle share closes ("shareExpiryMinutes"), how sending works, and the address of the share
// service ("shareServiceURL"; empty: this computer, on the local network).

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QNetworkReply;

namespace vyo {

class Defaults;
class ShareCenter;
class StatusCard;

class SharePane : public QWidget
{
    Q_OBJECT
public:
    enum class ConnectionStatus { checking, everywhere, directOnly, offline };
    Q_ENUM(ConnectionStatus)

    SharePane(Defaults &defaults, ShareCenter &center, QWidget *parent = nullptr);
    explicit SharePane(QWidget *parent = nullptr);

    ConnectionStatus status() const { return m_status; }

    // The status an answer of the ICE list gives: a 200 answer whose body mentions "turn:"
    // anywhere can relay, any other 200 connects only directly, anything else is offline
    // (`httpStatus` 0: no HTTP answer at all).
    static ConnectionStatus statusOf(int httpStatus, const QByteArray &body);
    // Why a share service address cannot be stored (nothing: it can). An empty address is
    // fine: it means this computer.
    static std::optional<QString> serviceAddressProblem(const QString &text);

Q_SIGNALS:
    void statusChanged(SharePane::ConnectionStatus status);

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Asks the configured service for its ICE list (the embedded service offers no relay: no
    // request is made without a configured address).
    void checkConnectivity();
    void setStatus(ConnectionStatus status);
    void showShareCount();
    void applyServiceAddress();

    Defaults &m_defaults;
    ShareCenter &m_center;
    ConnectionStatus m_status = ConnectionStatus::checking;
    StatusCard *m_card;
    QLabel *m_shareCount;
    QComboBox *m_expiry;
    QLineEdit *m_serviceAddress;
    QLabel *m_serviceAddressError;
    QPointer<QNetworkReply> m_check;
};

} // namespace vyo
