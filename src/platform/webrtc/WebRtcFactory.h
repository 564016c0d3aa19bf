#pragma once

// The process-wide WebRTC peer-connection factory with its network, worker and signaling
// threads: made on first use, taken down when the application object goes. Taking it down
// closes every connection still open, releases the factory and only then stops the threads, in
// the order WebRTC needs; the rest of the program does nothing special for it. Main thread only.

#include <api/peer_connection_interface.h>
#include <rtc_base/thread.h>

#include <QList>

#include <memory>

namespace vyo {

class WebRtcPeerConnection;

class WebRtcFactory
{
public:
    // The factory; null without an application object or when WebRTC refuses to make one.
    static WebRtcFactory *shared();

    webrtc::PeerConnectionFactoryInterface &factory() const { return *m_factory; }

    // Connections that the factory closes when it is taken down before them.
    void addConnection(WebRtcPeerConnection *connection);
    void removeConnection(WebRtcPeerConnection *connection);

private:
    WebRtcFactory() = default;
    ~WebRtcFactory();
    WebRtcFactory(const WebRtcFactory &) = delete;
    WebRtcFactory &operator=(const WebRtcFactory &) = delete;

    bool start();
    static void takeDown();

    std::unique_ptr<rtc::Thread> m_network;
    std::unique_ptr<rtc::Thread> m_worker;
    std::unique_ptr<rtc::Thread> m_signaling;
    rtc::scoped_refptr<webrtc::PeerConnectionFactoryInterface> m_factory;
    QList<WebRtcPeerConnection *> m_connections;
};

} // namespace vyo
