# Global hot keys: the interface and its X11 key grabs (the fake that tests press by hand is in
# fake/).
target_sources(vyo_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/GlobalHotKeys.h
    ${CMAKE_CURRENT_LIST_DIR}/x11/X11HotKeys.cpp ${CMAKE_CURRENT_LIST_DIR}/x11/X11HotKeys.h
)
find_package(PkgConfig REQUIRED)
pkg_check_modules(VYO_HOTKEYS_X11 REQUIRED IMPORTED_TARGET x11 x11-xcb xcb)
target_link_libraries(vyo_platform PRIVATE PkgConfig::VYO_HOTKEYS_X11)
