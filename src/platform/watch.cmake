# Folder watching: the inotify event source and the screenshot folder of the desktop.
target_sources(vyo_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/FileSystemEvents.cpp ${CMAKE_CURRENT_LIST_DIR}/FileSystemEvents.h
    ${CMAKE_CURRENT_LIST_DIR}/ScreenshotFolder.cpp ${CMAKE_CURRENT_LIST_DIR}/ScreenshotFolder.h
)
