# CLI11 and nlohmann-json: header-only libraries from the system. Each is exposed through a
# folder of its own in the build tree that links to its headers and nothing else, never the
# whole system include folder, so that a cross compiler finds them without the host's headers.
find_path(ORV_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
find_path(ORV_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT ORV_CLI11_INCLUDE OR NOT ORV_JSON_INCLUDE)
    message(FATAL_ERROR "CLI11 or nlohmann-json is missing: run scripts/install-deps")
endif()

# orv_header_lib(TARGET FOLDER INCLUDE_ROOT)
function(orv_header_lib target folder root)
    set(dir ${CMAKE_BINARY_DIR}/header-libs/${target})
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${root}/${folder} ${dir}/${folder} SYMBOLIC)
    add_library(${target} INTERFACE)
    target_include_directories(${target} SYSTEM INTERFACE ${dir})
endfunction()

orv_header_lib(orv_cli11 CLI ${ORV_CLI11_INCLUDE})
orv_header_lib(orv_json nlohmann ${ORV_JSON_INCLUDE})

# What the tools share (tools/common/): their command lines on CLI11, their JSON text.
add_library(orv_tools_common INTERFACE)
target_include_directories(orv_tools_common INTERFACE ${CMAKE_SOURCE_DIR}/tools/common)
target_link_libraries(orv_tools_common INTERFACE orv_cli11 orv_json)
