# The whole update end to end: the program's windows, the real Comm and orv-plcsim on a
# pseudo-terminal. orv_app_testkit comes from tests/app.
orv_add_test(orv_update_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fm_update_e2e_test.cpp
    LIBS orv_app orv_app_testkit
    TIMEOUT 150)
add_dependencies(orv_update_e2e_test orv-plcsim orv-osimage)
