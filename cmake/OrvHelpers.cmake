# Helpers shared by every folder's CMakeLists.txt.

set(ORV_TEST_HOME ${CMAKE_BINARY_DIR}/test-home)

# Aggregate targets: the fuzz targets, and the tests that the ThreadSanitizer build runs.
add_custom_target(fuzzers)
add_custom_target(tsan_tests)

# A difference between Windows and POSIX lives in a file pair behind one header,
# NAME_win32.cpp and NAME_posix.cpp; orv_platform_sources(TARGET NAME...) adds this
# platform's side of each, and stops the configuration when that side is missing.
if(WIN32)
    set(ORV_PLATFORM win32)
else()
    set(ORV_PLATFORM posix)
endif()

function(orv_platform_sources target)
    foreach(name IN LISTS ARGN)
        set(file ${CMAKE_CURRENT_SOURCE_DIR}/${name}_${ORV_PLATFORM}.cpp)
        if(NOT EXISTS ${file})
            message(FATAL_ERROR "${target}: ${name} has no ${ORV_PLATFORM} side, ${file}")
        endif()
        target_sources(${target} PRIVATE ${file})
    endforeach()
endfunction()

# Tests of the Windows build run under Wine (CMAKE_CROSSCOMPILING_EMULATOR), all in one Wine
# prefix in the build folder that the test wine_prefix makes once. Wine shows the Linux root
# as drive Z:, so a path the tests hand to a Windows program begins with ${ORV_HOST_ROOT}.
set(ORV_HOST_ROOT "")
set(ORV_TEST_ENV "")
if(WIN32 AND CMAKE_CROSSCOMPILING)
    find_program(ORV_WINE NAMES wine64 wine PATHS /usr/lib/wine REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ORV_WINE})
    set(ORV_WINEPREFIX ${CMAKE_BINARY_DIR}/wine)
    set(ORV_HOST_ROOT "Z:")
    # Linux programs the Windows tests run beside Wine: the pseudo-terminal peer of the serial
    # tests, and the end-to-end test of orv-flash.exe with the PLC simulator. `make test-windows`
    # builds them there first.
    set(ORV_LINUX_BINARY_DIR ${CMAKE_SOURCE_DIR}/build CACHE PATH
        "The Linux build whose programs the Windows tests use")
    # No Mono or Gecko installers and no debug chatter. Console programs need no display.
    set(ORV_TEST_ENV WINEPREFIX=${ORV_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
    add_test(NAME wine_prefix
             COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-prefix ${ORV_WINE} ${ORV_WINEPREFIX})
    set(home ${ORV_TEST_HOME}/wine_prefix)
    file(MAKE_DIRECTORY ${home})
    # Its own HOME, so that the prefix's document folders link into the build folder.
    set_tests_properties(wine_prefix PROPERTIES
        FIXTURES_SETUP wine TIMEOUT 600 ENVIRONMENT "${ORV_TEST_ENV};HOME=${home}")
    # After the last test: waits for Wine's server to end, so no process outlives the run.
    find_program(ORV_WINESERVER NAMES wineserver PATHS /usr/lib/wine REQUIRED)
    add_test(NAME wine_server_exit COMMAND ${ORV_WINESERVER} -w)
    set_tests_properties(wine_server_exit PROPERTIES
        FIXTURES_CLEANUP wine TIMEOUT 60 ENVIRONMENT "${ORV_TEST_ENV}")
endif()

# orv_test_properties(NAME [TIMEOUT s] [LABELS ...] [ENVIRONMENT ...])
# What every test of the project has: a time-out, its labels, its environment, and under
# Wine the prefix.
function(orv_test_properties name)
    cmake_parse_arguments(T "" "TIMEOUT" "LABELS;ENVIRONMENT" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    list(APPEND T_ENVIRONMENT ${ORV_TEST_ENV})
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}" ENVIRONMENT "${T_ENVIRONMENT}")
    if(ORV_WINEPREFIX)
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
    endif()
endfunction()

# orv_add_test(NAME SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [APART FILTER...])
# A GoogleTest executable run by CTest, on Windows under Wine. Tests get their own HOME and
# XDG folders so that they never touch the user's settings or virtual ports, and Qt's
# offscreen platform. APART runs the tests of each GoogleTest filter as a CTest of their own,
# NAME_apart1, NAME_apart2 ..., which can then run beside the rest.
function(orv_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;APART" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    set(runs ${name})
    if(T_APART)
        list(JOIN T_APART ":" all)
        add_test(NAME ${name} COMMAND ${name} --gtest_filter=-${all})
        set(n 0)
        foreach(filter IN LISTS T_APART)
            math(EXPR n "${n} + 1")
            add_test(NAME ${name}_apart${n} COMMAND ${name} --gtest_filter=${filter})
            list(APPEND runs ${name}_apart${n})
        endforeach()
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set(home ${ORV_TEST_HOME}/${name})
    foreach(run IN LISTS runs)
        orv_test_properties(${run} TIMEOUT ${T_TIMEOUT} LABELS ${T_LABELS} ENVIRONMENT
            QT_QPA_PLATFORM=offscreen HOME=${home} XDG_CONFIG_HOME=${home}/config
            XDG_RUNTIME_DIR=${home}/run ORV_BINARY_DIR=${CMAKE_BINARY_DIR}
            ORV_SOURCE_DIR=${CMAKE_SOURCE_DIR})
    endforeach()
    if("tsan" IN_LIST T_LABELS)
        add_dependencies(tsan_tests ${name})
    endif()
    file(MAKE_DIRECTORY ${home}/config ${home}/run)
    file(CHMOD ${home}/run DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endfunction()

# orv_add_bench(NAME SOURCES ... LIBS ...)
# A benchmark program that prints its own figures; `make bench` runs every one.
function(orv_add_bench name)
    cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
    if(ORV_FUZZ)
        return()
    endif()
    add_executable(${name} ${B_SOURCES})
    target_link_libraries(${name} PRIVATE ${B_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

# orv_add_fuzzer(NAME SOURCES ... LIBS ...)
# In a fuzz build: a libFuzzer target in <build>/fuzz/, its seed corpus in
# tests/fuzz/corpus/NAME/. In every other build: a CTest that replays that corpus through the
# same entry point, so the seeds stay checked under gcc and the sanitizers too.
function(orv_add_fuzzer name)
    cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
    set(corpus ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${name})
    if(ORV_FUZZ)
        add_executable(${name} ${F_SOURCES})
        target_link_libraries(${name} PRIVATE ${F_LIBS})
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
        add_dependencies(fuzzers ${name})
    else()
        add_executable(${name}_replay ${F_SOURCES} ${CMAKE_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
        target_link_libraries(${name}_replay PRIVATE ${F_LIBS})
        add_test(NAME ${name}_replay COMMAND ${name}_replay ${ORV_HOST_ROOT}${corpus})
        orv_test_properties(${name}_replay TIMEOUT 120 LABELS fuzz)
    endif()
endfunction()
