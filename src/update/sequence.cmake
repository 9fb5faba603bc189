# The update sequence: the engine behind "Update OS", "Abort" and "Exit".
target_sources(orv_update PRIVATE ${CMAKE_CURRENT_LIST_DIR}/update_sequence.cpp)
target_link_libraries(orv_update PUBLIC orv_protocol)
