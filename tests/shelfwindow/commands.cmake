# Shelf commands and the preview window. The quick-action test files (drawn images, EXIF
# orientation) come from the actions' tests.
vyo_add_test(tst_shelfcommands SOURCES tst_shelfcommands.cpp
    LIBS vyo_shelfwindow vyo_action_test_files)
vyo_add_test(tst_previewwindow SOURCES tst_previewwindow.cpp
    LIBS vyo_shelfwindow vyo_action_test_files GUI)
vyo_add_test(tst_thumbnails SOURCES tst_thumbnails.cpp LIBS vyo_shelfwindow vyo_action_test_files)
