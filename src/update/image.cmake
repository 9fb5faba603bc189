# The OS image file and the page frames.
target_sources(orv_update PRIVATE ${CMAKE_CURRENT_LIST_DIR}/os_image.cpp)
target_link_libraries(orv_update PUBLIC orv_cipher orv_common)
