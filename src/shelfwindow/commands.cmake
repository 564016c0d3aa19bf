# Shelf commands: quick-action runs, the shelf's two menus, the share menu and the preview window.
if(NOT TARGET PkgConfig::POPPLER_QT6)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(POPPLER_QT6 REQUIRED IMPORTED_TARGET poppler-qt6)
endif()

target_sources(vyo_shelfwindow PRIVATE
    ShelfCommands.cpp ShelfCommands.h
    ShelfMenus.cpp ShelfMenus.h
    PreviewWindow.cpp PreviewWindow.h
    SharePicker.cpp SharePicker.h
)
target_link_libraries(vyo_shelfwindow
    PUBLIC vyo_actions
    PRIVATE vyo_imagefile PkgConfig::POPPLER_QT6)
