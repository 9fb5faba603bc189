# The update window offscreen, with its dialogs played by the test.
orv_add_test(orv_update_window_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fm_update_window_test.cpp
    LIBS orv_update_window orv_app_testkit
    TIMEOUT 120)
