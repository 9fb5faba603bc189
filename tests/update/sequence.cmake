# The update sequence against fake port, timer and view.
orv_add_test(update_sequence_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/update_sequence_test.cpp
             LIBS orv_update orv_protocol orv_common)
target_include_directories(update_sequence_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/protocol)
