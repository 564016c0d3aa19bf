# ZIP writer and the Windows ZIP export. The export test runs its fake file manager on a private
# session bus (tests/support/PrivateSessionBus.h).
vyo_add_test(tst_zipwriter SOURCES tst_zipwriter.cpp tst_zipsupport.h LIBS vyo_share)
vyo_add_test(tst_zipexport SOURCES tst_zipexport.cpp tst_zipsupport.h LIBS vyo_share)
