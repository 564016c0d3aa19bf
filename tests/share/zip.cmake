# ZIP writer and the Windows ZIP export. The export test needs a session bus (its fake file
# manager), which scripts/with-display.sh provides with the display.
vyo_add_test(tst_zipwriter SOURCES tst_zipwriter.cpp tst_zipsupport.h LIBS vyo_share)
vyo_add_test(tst_zipexport SOURCES tst_zipexport.cpp tst_zipsupport.h LIBS vyo_share GUI)
