#include "platform/webrtc/WebRtcFactory.h"

#include "platform/webrtc/WebRtcPeerConnection.h"

#include <api/create_peerconnection_factory.h>
#include <api/rtc_event_log/rtc_event_log_factory.h>
#include <api/task_queue/default_task_queue_factory.h>
#include <rtc_base/logging.h>
#include <rtc_base/ssl_adapter.h>

#include <QCoreApplication>
#include <QThread>

#include <mutex>

namespace vyo {

namespace {

WebRtcFactory *instance = nullptr;

} // namespace

WebRtcFactory *WebRtcFactory::shared()
{
    if (instance)
        return instance;
    QCoreApplication *application = QCoreApplication::instance();
    // Deliveries go through the application's event loop, and the application object's end is
    // what takes the factory down.
    if (!application || QThread::currentThread() != application->thread())
        return nullptr;
    auto *made = new WebRtcFactory;
    if (!made->start()) {
        delete made;
        return nullptr;
    }
    instance = made;
    qAddPostRoutine(&WebRtcFactory::takeDown);
    return instance;
}

bool WebRtcFactory::start()
{
    static std::once_flag initialised;
    std::call_once(initialised, [] {
        // WebRTC's own logging is very talkative below errors.
        rtc::LogMessage::LogToDebug(rtc::LS_ERROR);
        rtc::InitializeSSL();
    });

    m_network = rtc::Thread::CreateWithSocketServer();
    m_network->SetName("vyo-rtc-network", nullptr);
    m_worker = rtc::Thread::Create();
    m_worker->SetName("vyo-rtc-worker", nullptr);
    m_signaling = rtc::Thread::Create();
    m_signaling->SetName("vyo-rtc-signaling", nullptr);
    if (!m_network->Start() || !m_worker->Start() || !m_signaling->Start())
        return false;

    // Data channels only: no media engine, audio device or codecs.
    webrtc::PeerConnectionFactoryDependencies dependencies;
    dependencies.network_thread = m_network.get();
    dependencies.worker_thread = m_worker.get();
    dependencies.signaling_thread = m_signaling.get();
    dependencies.task_queue_factory = webrtc::CreateDefaultTaskQueueFactory();
    dependencies.event_log_factory =
        std::make_unique<webrtc::RtcEventLogFactory>(dependencies.task_queue_factory.get());
    m_factory = webrtc::CreateModularPeerConnectionFactory(std::move(dependencies));
    if (!m_factory)
        return false;

    // Loopback interfaces count: sharing with a browser on the same machine, and the tests, run
    // on 127.0.0.1.
    webrtc::PeerConnectionFactoryInterface::Options options;
    options.network_ignore_mask = 0;
    m_factory->SetOptions(options);
    return true;
}

WebRtcFactory::~WebRtcFactory()
{
    // Connections first, then the factory, then the threads: WebRTC crashes in any other order.
    const QList<WebRtcPeerConnection *> open = m_connections;
    for (WebRtcPeerConnection *connection : open)
        connection->close();
    m_factory = nullptr;
    for (const std::unique_ptr<rtc::Thread> *thread : {&m_signaling, &m_worker, &m_network}) {
        if (*thread)
            (*thread)->Stop();
    }
    m_signaling.reset();
    m_worker.reset();
    m_network.reset();
}

void WebRtcFactory::takeDown()
{
    delete std::exchange(instance, nullptr);
}

void WebRtcFactory::addConnection(WebRtcPeerConnection *connection)
{
    m_connections.append(connection);
}

void WebRtcFactory::removeConnection(WebRtcPeerConnection *connection)
{
    m_connections.removeOne(connection);
}

} // namespace vyo
