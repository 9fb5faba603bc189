# orv_update_window: the update window, with the Qt glue the other windows share.
add_library(orv_update_window STATIC
    ${CMAKE_CURRENT_LIST_DIR}/fm_update.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fm_update.h
    ${CMAKE_CURRENT_LIST_DIR}/qt_timer.h)
target_include_directories(orv_update_window PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(orv_update_window PUBLIC
    orv_update orv_serial_qt orv_settings orv_widgets Qt6::Widgets)
