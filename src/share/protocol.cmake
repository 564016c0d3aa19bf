# Transfer protocol, signing, signaling client and the share helpers.
find_package(Qt6 REQUIRED COMPONENTS Network WebSockets)
find_package(OpenSSL REQUIRED)

target_sources(vyo_share PRIVATE
    ShareHelpers.cpp ShareHelpers.h
    SignalingClient.cpp SignalingClient.h
    Signing.cpp Signing.h
    TransferProtocol.cpp TransferProtocol.h
)
target_link_libraries(vyo_share PUBLIC Qt6::Network Qt6::WebSockets PRIVATE OpenSSL::Crypto)
