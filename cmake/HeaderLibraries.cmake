# The header-only libraries from Debian: CLI11 for command lines and nlohmann-json for JSON,
# as the targets CLI11::CLI11 and nlohmann_json::nlohmann_json on every platform.
if(NOT CMAKE_CROSSCOMPILING)
    find_package(CLI11 CONFIG REQUIRED)
    find_package(nlohmann_json 3 CONFIG REQUIRED)
    return()
endif()

# The cross compiler sees only these libraries' own folders, never /usr/include as a whole,
# whose C library headers would shadow MinGW's. Each target gets a folder holding a link to its
# headers.
function(orv_host_headers target header)
    find_path(dir ${header} PATHS /usr/include NO_CACHE NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT dir)
        message(FATAL_ERROR "${header} not found: scripts/install-deps installs it")
    endif()
    # CLI/CLI.hpp: the folder CLI, linked from host-headers/CLI/CLI.
    string(REGEX REPLACE "/.*" "" folder ${header})
    set(only ${CMAKE_BINARY_DIR}/host-headers/${folder})
    file(MAKE_DIRECTORY ${only})
    cmake_path(APPEND dir ${folder} OUTPUT_VARIABLE target_folder)
    file(CREATE_LINK ${target_folder} ${only}/${folder} SYMBOLIC)
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    target_include_directories(${target} SYSTEM INTERFACE ${only})
endfunction()

orv_host_headers(CLI11::CLI11 CLI/CLI.hpp)
orv_host_headers(nlohmann_json::nlohmann_json nlohmann/json.hpp)
