vyo_add_test(tst_panelplacement SOURCES tst_panelplacement.cpp LIBS vyo_shelfwindow)
vyo_add_test(tst_shelfview SOURCES tst_shelfview.cpp LIBS vyo_shelfmanager)

# A small separate X client for real drags in and out of a shelf.
add_executable(vyo-test-dndpeer dndpeer.cpp)
target_link_libraries(vyo-test-dndpeer PRIVATE Qt6::Widgets)
vyo_add_test(tst_shelfpanel SOURCES tst_shelfpanel.cpp LIBS vyo_shelfmanager GUI)
target_compile_definitions(tst_shelfpanel PRIVATE
    VYO_DNDPEER="$<TARGET_FILE:vyo-test-dndpeer>"
    VYO_ARTIFACTS="${PROJECT_BINARY_DIR}/test-artifacts")
add_dependencies(tst_shelfpanel vyo-test-dndpeer)
