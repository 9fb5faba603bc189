# The OS image file and page frames, and the image fuzz target.
orv_add_test(os_image_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/os_image_test.cpp
             LIBS orv_update orv_cipher orv_common)
orv_platform_sources(os_image_tests unreadable_file)
orv_add_fuzzer(fuzz_image SOURCES ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_image.cpp
               LIBS orv_update orv_cipher orv_common)
