# The system-wide drag watcher behind the shake monitor and the drop zones: the interface and its
# X11 implementation on a connection of its own (the fake one is in fake/).
find_package(PkgConfig REQUIRED)
pkg_check_modules(VYO_DRAGWATCH_XCB REQUIRED IMPORTED_TARGET xcb xcb-xinput xcb-xfixes)
target_sources(vyo_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/DragWatcher.cpp ${CMAKE_CURRENT_LIST_DIR}/DragWatcher.h
    ${CMAKE_CURRENT_LIST_DIR}/x11/X11DragWatcher.cpp ${CMAKE_CURRENT_LIST_DIR}/x11/X11DragWatcher.h
)
target_link_libraries(vyo_platform PRIVATE PkgConfig::VYO_DRAGWATCH_XCB)
