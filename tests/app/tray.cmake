# The tray item and its menu.
vyo_add_test(tst_statusitem SOURCES tst_statusitem.cpp LIBS vyo_app)
# In a real tray host (trayer) on the test display, in process and with the application itself.
vyo_add_test(tst_statusitemtray SOURCES tst_statusitemtray.cpp LIBS vyo_app GUI)
target_compile_definitions(tst_statusitemtray PRIVATE VYO_BINARY="$<TARGET_FILE:vyo>")
add_dependencies(tst_statusitemtray vyo)
