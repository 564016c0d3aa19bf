# Global hot keys: the interface, its X11 key grabs and the fake that tests press by hand.
target_sources(vyo_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/GlobalHotKeys.cpp ${CMAKE_CURRENT_LIST_DIR}/GlobalHotKeys.h
    ${CMAKE_CURRENT_LIST_DIR}/x11/X11HotKeys.cpp ${CMAKE_CURRENT_LIST_DIR}/x11/X11HotKeys.h
    ${CMAKE_CURRENT_LIST_DIR}/fake/FakeHotKeys.cpp ${CMAKE_CURRENT_LIST_DIR}/fake/FakeHotKeys.h
)
# Whether the tray host has taken the tray icon in (its position means something only then).
target_sources(vyo_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/TrayEmbedding.h ${CMAKE_CURRENT_LIST_DIR}/x11/X11TrayEmbedding.cpp
)
find_package(PkgConfig REQUIRED)
pkg_check_modules(VYO_HOTKEYS_X11 REQUIRED IMPORTED_TARGET x11 x11-xcb xcb)
target_link_libraries(vyo_platform PRIVATE PkgConfig::VYO_HOTKEYS_X11)
