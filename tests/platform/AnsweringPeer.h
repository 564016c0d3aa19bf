#pragma once

// The far side of a data channel for tests and measurements: an answering WebRTC peer made
// directly on WebRTC, with its own threads and factory, in the same process. It accepts the
// channel the offer announces and counts what arrives on it. The header keeps WebRTC out of
// whoever includes it.

#include "platform/PeerConnection.h"

#include <QObject>

#include <memory>
#include <optional>

namespace vyo::test {

class AnsweringPeer : public QObject
{
    Q_OBJECT
public:
    AnsweringPeer();
    ~AnsweringPeer() override;

    // Whether the peer could be made.
    bool isValid() const;

    // Applies the offer and makes, sets and answers the answer's SDP; nothing on failure. Every
    // step is bounded in time.
    std::optional<QString> answer(const QString &offerSdp);
    // Adds a candidate of the offering side (after the offer); false when WebRTC refuses it.
    bool addCandidate(const IceCandidate &candidate);

    bool isChannelOpen() const;
    bool isChannelClosed() const;
    bool send(const PeerConnection::Message &message);

    // The bytes of every message received so far (counted on WebRTC's thread).
    quint64 receivedBytes() const;

    // Sends `total` bytes in binary messages of `messageSize` bytes from WebRTC's own thread, the
    // way a browser does: up to 1 MiB buffered, more once the buffer has drained to 256 KiB.
    void sendStream(quint64 total, int messageSize);

Q_SIGNALS:
    void iceCandidate(const vyo::IceCandidate &candidate);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// What negotiating a connection with an answering peer went through.
struct Negotiation
{
    bool succeeded = false;
    QString failure;
    QString offerSdp;
};

// Negotiates `offering` with `answering` the way a share does, through the main thread: offer,
// local description, the offer to the answering peer, its answer applied as the remote
// description, and candidates both ways (held until both sides have their descriptions).
// Succeeds once the channel is open on both sides.
Negotiation negotiate(PeerConnection &offering, AnsweringPeer &answering, int milliseconds = 20000);

} // namespace vyo::test
