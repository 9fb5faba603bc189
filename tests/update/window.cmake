# The update window offscreen, with its dialogs played by the test.
if(TARGET orv_update_window AND TARGET Qt6::Test)
    orv_add_test(orv_update_window_test
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/fm_update_window_test.cpp
                ${CMAKE_SOURCE_DIR}/tests/app/modal_helper.cpp
        LIBS orv_update_window Qt6::Test
        TIMEOUT 120)
    target_include_directories(orv_update_window_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/app)
endif()
