# Transfer protocol, signing, share helpers and the signaling client. The helpers and the
# signaling client are tested against a real share service on 127.0.0.1 (tests/service).
vyo_add_test(tst_transferprotocol SOURCES tst_transferprotocol.cpp LIBS vyo_share)

vyo_add_test(tst_signing SOURCES tst_signing.cpp HmacReference.h LIBS vyo_share)
target_compile_definitions(tst_signing PRIVATE
    VYO_HMAC_REFERENCE="${CMAKE_CURRENT_SOURCE_DIR}/hmac_reference.py")

vyo_add_test(tst_sharehelpers SOURCES tst_sharehelpers.cpp LIBS vyo_share vyo_service_test_support)

vyo_add_test(tst_signalingclient SOURCES tst_signalingclient.cpp HmacReference.h
    LIBS vyo_share vyo_service_test_support)
target_compile_definitions(tst_signalingclient PRIVATE
    VYO_HMAC_REFERENCE="${CMAKE_CURRENT_SOURCE_DIR}/hmac_reference.py")
