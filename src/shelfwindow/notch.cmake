# The drop zones at the top of the screen and their geometry rule. A drop opens a shelf through
# the shelf manager, which in turn owns the shelves' panels: the two libraries link each other.
target_sources(vyo_shelfwindow PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/NotchDropTarget.cpp ${CMAKE_CURRENT_LIST_DIR}/NotchDropTarget.h
    ${CMAKE_CURRENT_LIST_DIR}/NotchGeometry.cpp ${CMAKE_CURRENT_LIST_DIR}/NotchGeometry.h
)
target_link_libraries(vyo_shelfwindow PUBLIC vyo_shelfmanager)
