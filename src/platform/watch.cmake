# Folder watching: the event source's interface and its inotify implementation, the plain
# file-system values the watcher's decisions read, and the screenshot folder of the desktop.
target_sources(vyo_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/FileSystemEvent.cpp ${CMAKE_CURRENT_LIST_DIR}/FileSystemEvent.h
    ${CMAKE_CURRENT_LIST_DIR}/FileSystemEvents.h
    ${CMAKE_CURRENT_LIST_DIR}/linux/InotifyFileSystemEvents.cpp
    ${CMAKE_CURRENT_LIST_DIR}/linux/InotifyFileSystemEvents.h
    ${CMAKE_CURRENT_LIST_DIR}/ScreenshotFolder.cpp ${CMAKE_CURRENT_LIST_DIR}/ScreenshotFolder.h
)
