# The tray item and its menu.
target_sources(vyo_app PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/RelativeTime.cpp ${CMAKE_CURRENT_LIST_DIR}/RelativeTime.h
    ${CMAKE_CURRENT_LIST_DIR}/StatusItemController.cpp ${CMAKE_CURRENT_LIST_DIR}/StatusItemController.h
)
